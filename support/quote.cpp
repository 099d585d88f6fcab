/*
 * Quoting for the shell.  What is written is measured first and built in
 * one block, like every string of ours.  Text is read as UTF-8 whatever
 * the locale: a well-formed character that a terminal shows as itself is
 * kept as it is; anything a terminal obeys, or that could make a line read
 * in another order or as two, is escaped byte by byte.
 */
#include "support/quote.h"

#include <string.h>

#include "support/char_class.h"
#include "support/checked.h"

static bool
continuation(unsigned char c)
{
	return c >= 0x80 && c <= 0xbf;
}

/*
 * Characters that are well formed but must not reach a terminal raw: the
 * C1 controls, which terminals obey like escape sequences (U+009B is CSI);
 * the bidirectional formatting characters, which make a line read in
 * another order than its bytes; and the line and paragraph separators.
 */
static bool
hidden(unsigned long code)
{
	return (code >= 0x80 && code <= 0x9f) || code == 0x061c ||
	       code == 0x200e || code == 0x200f ||
	       (code >= 0x2028 && code <= 0x202e) ||
	       (code >= 0x2066 && code <= 0x2069);
}

/*
 * How many bytes from TEXT on make one character shown as itself: a
 * printable ASCII byte, or a well-formed UTF-8 sequence (no overlong form,
 * no surrogate, nothing above U+10FFFF, not cut short) that is not hidden.
 * 0 when the byte at TEXT must be escaped.  Never reads past a NUL.
 */
static size_t
shown_length(const unsigned char *text)
{
	unsigned char c = text[0];
	if (c < 0x80)
		return (char_class_table[c] & CHAR_PRINT) != 0 ? 1 : 0;
	size_t length;
	unsigned long code;
	/* The lowest and highest second byte keep out overlong forms,
	 * surrogates and what lies above U+10FFFF. */
	unsigned char low = 0x80, high = 0xbf;
	if (c >= 0xc2 && c <= 0xdf) {
		length = 2;
		code = c & 0x1f;
	} else if (c >= 0xe0 && c <= 0xef) {
		length = 3;
		code = c & 0x0f;
		low = c == 0xe0 ? 0xa0 : low;
		high = c == 0xed ? 0x9f : high;
	} else if (c >= 0xf0 && c <= 0xf4) {
		length = 4;
		code = c & 0x07;
		low = c == 0xf0 ? 0x90 : low;
		high = c == 0xf4 ? 0x8f : high;
	} else {
		return 0;
	}
	if (text[1] < low || text[1] > high)
		return 0;
	for (size_t i = 1; i < length; i++) {
		if (!continuation(text[i]))
			return 0;
		code = code << 6 | (text[i] & 0x3f);
	}
	return hidden(code) ? 0 : length;
}

static bool
all_shown(const char *text)
{
	const auto *p = reinterpret_cast<const unsigned char *>(text);
	while (*p != '\0') {
		size_t length = shown_length(p);
		if (length == 0)
			return false;
		p += length;
	}
	return true;
}

/* Bytes a shell takes as part of a word, needing no quotes; a leading '='
 * asks one shell (zsh) for a command's path. */
static bool
shell_plain(const char *word)
{
	if (*word == '\0' || *word == '=')
		return false;
	for (; *word != '\0'; word++)
		if ((char_class_table[static_cast<unsigned char>(*word)] &
		     (CHAR_LETTER | CHAR_DIGIT)) == 0 &&
		    strchr("@%_-+=:,./", *word) == nullptr)
			return false;
	return true;
}

/*
 * Whether a plain WORD in a command's first place is read as something
 * else: NAME=... assigns to a variable, and %... names a job.
 */
static bool
read_otherwise_first(const char *word)
{
	if (*word == '%')
		return true;
	const char *p = word;
	if ((char_class_table[static_cast<unsigned char>(*p)] &
	     CHAR_IDENT_START) == 0)
		return false;
	while ((char_class_table[static_cast<unsigned char>(*p)] &
	        (CHAR_IDENT_START | CHAR_DIGIT)) != 0)
		p++;
	return *p == '=';
}

static const char NAMED_BYTES[] = "\a\b\t\n\v\f\r\x1b\\'";
static const char NAMED_LETTERS[] = "abtnvfre\\'";

/* What byte C becomes inside $'...'; its length, written to OUT if set.
 * Three octal digits always, so that a digit after them stays a digit. */
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

/* The inside of $'...' for TEXT, written to OUT if set; its length.
 * Characters shown as themselves stay as they are, if not ASCII. */
static size_t
escape_all(const char *text, char *out)
{
	size_t written = 0;
	const auto *p = reinterpret_cast<const unsigned char *>(text);
	while (*p != '\0') {
		size_t length = shown_length(p);
		if (length > 1) {
			if (out != nullptr)
				memcpy(out + written, p, length);
			written += length;
			p += length;
		} else {
			written += escaped(*p++, out != nullptr ? out + written
			                                        : nullptr);
		}
	}
	return written;
}

const char *
quote_name(const char *name)
{
	if (all_shown(name))
		return name;
	size_t inside = escape_all(name, nullptr);
	char *quoted =
	    static_cast<char *>(checked_malloc(inside + sizeof "$''"));
	quoted[0] = '$';
	quoted[1] = '\'';
	escape_all(name, quoted + 2);
	memcpy(quoted + 2 + inside, "'", sizeof "'");
	return quoted;
}

/* WORD in '...', each quote closing the quoting, escaped and opening it
 * again. */
static const char *
single_quoted(const char *word)
{
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

const char *
quote_word(const char *word)
{
	if (shell_plain(word))
		return word;
	return all_shown(word) ? single_quoted(word) : quote_name(word);
}

const char *
quote_command(const char *word)
{
	return shell_plain(word) && read_otherwise_first(word)
	           ? single_quoted(word)
	           : quote_word(word);
}
