/*
 * Quoting for the shell.  What is written is measured first and built in
 * one block, like every string of ours.
 */
#include "support/quote.h"

#include <string.h>

#include "support/char_class.h"
#include "support/checked.h"

static bool
printable(const char *text)
{
	for (; *text != '\0'; text++)
		if ((char_class_table[static_cast<unsigned char>(*text)] &
		     CHAR_PRINT) == 0)
			return false;
	return true;
}

/* Bytes a shell takes as part of a word, needing no quotes. */
static bool
shell_plain(const char *word)
{
	if (*word == '\0')
		return false;
	for (; *word != '\0'; word++)
		if ((char_class_table[static_cast<unsigned char>(*word)] &
		     (CHAR_LETTER | CHAR_DIGIT)) == 0 &&
		    strchr("@%_-+=:,./", *word) == nullptr)
			return false;
	return true;
}

static const char NAMED_BYTES[] = "\a\b\t\n\v\f\r\x1b\\'";
static const char NAMED_LETTERS[] = "abtnvfre\\'";

/* What byte C becomes inside $'...'; its length, written to OUT if set. */
static size_t
escaped(unsigned char c, char *out)
{
	const char *named = c != '\0' ? strchr(NAMED_BYTES, c) : nullptr;
	if (named != nullptr) {
		if (out != nullptr) {
			out[0] = '\\';
			out[1] = NAMED_LETTERS[named - NAMED_BYTES];
		}
		return 2;
	}
	if ((char_class_table[c] & CHAR_PRINT) != 0) {
		if (out != nullptr)
			out[0] = static_cast<char>(c);
		return 1;
	}
	if (out != nullptr) {
		out[0] = '\\';
		out[1] = static_cast<char>('0' + (c >> 6));
		out[2] = static_cast<char>('0' + ((c >> 3) & 7));
		out[3] = static_cast<char>('0' + (c & 7));
	}
	return 4;
}

const char *
quote_name(const char *name)
{
	if (printable(name))
		return name;
	size_t len = sizeof "$''";
	for (const char *p = name; *p != '\0'; p++)
		len += escaped(static_cast<unsigned char>(*p), nullptr);
	char *quoted = static_cast<char *>(checked_malloc(len));
	char *out = quoted;
	*out++ = '$';
	*out++ = '\'';
	for (const char *p = name; *p != '\0'; p++)
		out += escaped(static_cast<unsigned char>(*p), out);
	*out++ = '\'';
	*out = '\0';
	return quoted;
}

const char *
quote_word(const char *word)
{
	if (shell_plain(word))
		return word;
	if (!printable(word))
		return quote_name(word);
	/* Each quote closes the quoting, is escaped and opens it again. */
	size_t len = sizeof "''";
	for (const char *p = word; *p != '\0'; p++)
		len += *p == '\'' ? 4 : 1;
	char *quoted = static_cast<char *>(checked_malloc(len));
	char *out = quoted;
	*out++ = '\'';
	for (const char *p = word; *p != '\0'; p++) {
		if (*p == '\'') {
			memcpy(out, "'\\''", 4);
			out += 4;
		} else {
			*out++ = *p;
		}
	}
	*out++ = '\'';
	*out = '\0';
	return quoted;
}
