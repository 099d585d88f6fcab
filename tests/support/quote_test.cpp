/*
 * Quoting for messages and the trace: what a terminal is shown, and what a
 * shell reads back.  Each row gives a text and what each quoting makes of
 * it.
 */
#include "support/quote.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

namespace {

struct quote_case {
	const char *text;
	const char *name, *word, *command;
};

const quote_case quote_cases[] = {
    {"lib.a", "lib.a", "lib.a", "lib.a"},
    {"", "", "''", "''"},
    {"a b", "a b", "'a b'", "'a b'"},
    {"it's", "it's", "'it'\\''s'", "'it'\\''s'"},
    // Controls, by name where the shell has one, else in octal.
    {"a\nb", "$'a\\nb'", "$'a\\nb'", "$'a\\nb'"},
    {"\a\b\t\v\f\r\x1b[31m", "$'\\a\\b\\t\\v\\f\\r\\e[31m'",
     "$'\\a\\b\\t\\v\\f\\r\\e[31m'", "$'\\a\\b\\t\\v\\f\\r\\e[31m'"},
    {"\x7f\\'", "$'\\177\\\\\\''", "$'\\177\\\\\\''", "$'\\177\\\\\\''"},
    // Three digits always: the digit after them stays a digit.
    {"\x01"
     "1",
     "$'\\0011'", "$'\\0011'", "$'\\0011'"},
    // UTF-8 stays as it is, whatever the locale, inside $'...' too.
    {"caf\xc3\xa9", "caf\xc3\xa9", "'caf\xc3\xa9'", "'caf\xc3\xa9'"},
    {"\xe6\x97\xa5\xe6\x9c\xac\n", "$'\xe6\x97\xa5\xe6\x9c\xac\\n'",
     "$'\xe6\x97\xa5\xe6\x9c\xac\\n'", "$'\xe6\x97\xa5\xe6\x9c\xac\\n'"},
    {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80", "'\xf0\x9f\x98\x80'",
     "'\xf0\x9f\x98\x80'"},
    // C1 controls (U+009B is CSI), the bidirectional controls, the line
    // separator: well formed, but obeyed.
    {"\xc2\x9b"
     "31m",
     "$'\\302\\23331m'", "$'\\302\\23331m'", "$'\\302\\23331m'"},
    {"a\xe2\x80\xae"
     "b\xd8\x9c\xe2\x81\xa6\xe2\x80\x8f\xe2\x80\xa8",
     "$'a\\342\\200\\256b\\330\\234\\342\\201\\246\\342\\200\\217\\342\\200"
     "\\250'",
     nullptr, nullptr},
    // Not UTF-8: a stray continuation, a byte above 0xf4, an overlong
    // form, a surrogate, above U+10FFFF, a sequence cut short.
    {"\x80\xff\xc0\xaf", "$'\\200\\377\\300\\257'", nullptr, nullptr},
    {"\xed\xa0\x80\xf4\x90\x80\x80\xe6\x97",
     "$'\\355\\240\\200\\364\\220\\200\\200\\346\\227'", nullptr, nullptr},
    // First on a command line, an assignment or a job; '=' leading a word
    // asks zsh for a command's path.
    {"x=y/ar", "x=y/ar", "x=y/ar", "'x=y/ar'"},
    {"%1/ar", "%1/ar", "%1/ar", "'%1/ar'"},
    {"./x=y/ar", "./x=y/ar", "./x=y/ar", "./x=y/ar"},
    {"=ar", "=ar", "'=ar'", "'=ar'"},
};

// QUOTED, made from TEXT, as a string; a block made for it is given back,
// which the programs, ending soon, never do.
std::string
taken(const char *quoted, const char *text)
{
	std::string copy = quoted;
	if (quoted != text)
		free(const_cast<char *>(quoted));
	return copy;
}

TEST(Quote, EachQuotingOfATable)
{
	for (const quote_case &c : quote_cases) {
		SCOPED_TRACE(c.text);
		EXPECT_EQ(taken(quote_name(c.text), c.text), c.name);
		// Where the word's quoting is left out, it is the name's.
		const char *word = c.word != nullptr ? c.word : c.name;
		EXPECT_EQ(taken(quote_word(c.text), c.text), word);
		EXPECT_EQ(taken(quote_command(c.text), c.text),
		          c.command != nullptr ? c.command : word);
	}
}

} // namespace
