/*
 * Names and words as a shell reads them back, for messages and the trace.
 * A path or argument may hold a newline or an escape sequence: printed raw
 * it could pass for another line, or drive the terminal.
 */
#ifndef VEK_SUPPORT_QUOTE_H
#define VEK_SUPPORT_QUOTE_H

/*
 * NAME itself when every byte is printable (32 to 126), else NAME as the
 * shell's $'...': \n, \t, \e and the like by name, any other such byte
 * as three octal digits, and backslash and quote escaped.  A string made
 * here lives as long as the process and is not to be freed.
 */
const char *quote_name(const char *name);

/*
 * WORD as a shell needs it typed to get it back: as it is when it holds
 * only letters, digits and "@%_-+=:,./"; else in '...' ('\'' for a quote,
 * '' when empty); else, when it holds bytes that are not printable, as
 * quote_name gives it.  Lives as quote_name's result does.
 */
const char *quote_word(const char *word);

#endif
