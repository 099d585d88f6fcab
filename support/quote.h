/*
 * Names and words as a shell reads them back, for messages and the trace.
 * A path or argument may hold a newline or an escape sequence: printed raw
 * it could pass for another line, or drive the terminal.
 */
#ifndef VEK_SUPPORT_QUOTE_H
#define VEK_SUPPORT_QUOTE_H

/*
 * NAME itself when every character is one a terminal shows as itself:
 * printable ASCII, and well-formed UTF-8 whatever the locale but for the
 * C1 controls, the bidirectional formatting characters and the line and
 * paragraph separators.  Else NAME as the shell's $'...': such characters
 * kept, \n, \t, \e and the like by name, every other byte as three octal
 * digits, and backslash and quote escaped.  A string made here lives as
 * long as the process and is not to be freed.
 */
const char *quote_name(const char *name);

/*
 * WORD as a shell needs it typed to get it back: as it is when it holds
 * only letters, digits and "@%_-+=:,./" and does not start with '='; else
 * in '...' ('\'' for a quote, '' when empty) when quote_name would keep it
 * as it is; else as quote_name gives it.  Lives as quote_name's result
 * does.
 */
const char *quote_word(const char *word);

/*
 * quote_word for the first word of a command line, where a shell reads
 * NAME=value as an assignment and %job as a job: those are quoted too.
 */
const char *quote_command(const char *word);

#endif
