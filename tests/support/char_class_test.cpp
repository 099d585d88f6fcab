/*
 * The character-class table and the case maps, checked entry by entry
 * against tables built here from the classes' definitions, and against the
 * C library's classification in the "C" locale.
 */
#include "support/char_class.h"

#include <gtest/gtest.h>

#include <ctype.h>
#include <locale.h>
#include <string.h>

namespace {

const char punctuation[] = "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~";

// The distinct entry values, each with the bytes that carry it.
uint16_t
expected_entry(int c)
{
	if (c == 0)
		return 0x0802;
	if (c == '\t')
		return 0x0843;
	if (c == '\n' || c == '\r')
		return 0x0442;
	if (c == '\v' || c == '\f')
		return 0x0842;
	if ((c >= 1 && c <= 8) || (c >= 14 && c <= 31) || c == 127)
		return 0x0002;
	if (c == ' ')
		return 0x0851;
	if (c == '_')
		return 0x0230;
	if (strchr(punctuation, c) != nullptr)
		return 0x0030;
	if (c >= '0' && c <= '9')
		return 0x0114;
	if (c >= 'A' && c <= 'F')
		return 0x0390;
	if (c >= 'G' && c <= 'Z')
		return 0x0290;
	if (c >= 'a' && c <= 'f')
		return 0x0318;
	if (c >= 'g' && c <= 'z')
		return 0x0218;
	return 0;
}

TEST(CharClassTable, EveryEntryHasItsExpectedValue)
{
	static_assert(sizeof char_class_table / sizeof char_class_table[0] ==
	              256);
	ASSERT_EQ(strlen(punctuation), 32u);
	for (int c = 0; c < 256; c++) {
		SCOPED_TRACE(testing::Message() << "byte " << c);
		EXPECT_EQ(char_class_table[c], expected_entry(c));
	}
}

TEST(CharClassTable, BitsHaveTheirPublishedValues)
{
	static const struct {
		uint16_t bit, want;
	} bits[] = {{CHAR_BLANK, 0x0001},    {CHAR_CONTROL, 0x0002},
	            {CHAR_DIGIT, 0x0004},    {CHAR_LOWER, 0x0008},
	            {CHAR_PRINT, 0x0010},    {CHAR_PUNCT, 0x0020},
	            {CHAR_SPACE, 0x0040},    {CHAR_UPPER, 0x0080},
	            {CHAR_HEX, 0x0100},      {CHAR_IDENT_START, 0x0200},
	            {CHAR_LINE_END, 0x0400}, {CHAR_INLINE_SPACE, 0x0800},
	            {CHAR_LETTER, 0x0088}};
	for (const auto &b : bits)
		EXPECT_EQ(b.bit, b.want)
		    << std::hex << "published as 0x" << b.want;
}

// Where the C library has the same class, the "C" locale must agree.
TEST(CharClassTable, AgreesWithTheCLocale)
{
	ASSERT_NE(setlocale(LC_CTYPE, "C"), nullptr);
	static const struct {
		const char *name;
		uint16_t bit;
		int (*in_class)(int);
	} classes[] = {
	    {"blank", CHAR_BLANK, isblank}, {"control", CHAR_CONTROL, iscntrl},
	    {"digit", CHAR_DIGIT, isdigit}, {"lower", CHAR_LOWER, islower},
	    {"print", CHAR_PRINT, isprint}, {"punct", CHAR_PUNCT, ispunct},
	    {"space", CHAR_SPACE, isspace}, {"upper", CHAR_UPPER, isupper},
	    {"hex", CHAR_HEX, isxdigit},    {"letter", CHAR_LETTER, isalpha},
	};
	for (const auto &k : classes) {
		for (int c = 0; c < 256; c++) {
			SCOPED_TRACE(testing::Message()
			             << k.name << " byte " << c);
			EXPECT_EQ((char_class_table[c] & k.bit) != 0,
			          k.in_class(c) != 0);
		}
	}
}

TEST(CharClassTable, LetterMaskSelectsExactlyTheAsciiLetters)
{
	for (int c = 0; c < 256; c++) {
		SCOPED_TRACE(testing::Message() << "byte " << c);
		bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
		EXPECT_EQ((char_class_table[c] & CHAR_LETTER) != 0, letter);
	}
}

TEST(CharClassTable, OddBytesCarryTheirDocumentedClasses)
{
	static const struct {
		int byte;
		uint16_t has, lacks;
	} cases[] = {
	    {0, CHAR_CONTROL | CHAR_INLINE_SPACE, CHAR_SPACE},
	    {'_', CHAR_IDENT_START | CHAR_PUNCT, 0},
	    {'5', CHAR_HEX | CHAR_DIGIT, CHAR_IDENT_START},
	    {'\v', CHAR_SPACE | CHAR_INLINE_SPACE, CHAR_BLANK},
	    {'\f', CHAR_SPACE | CHAR_INLINE_SPACE, CHAR_BLANK},
	    {'\n', CHAR_SPACE | CHAR_LINE_END, CHAR_INLINE_SPACE},
	    {160, 0, 0xffff},
	    {255, 0, 0xffff},
	};
	for (const auto &k : cases) {
		SCOPED_TRACE(testing::Message() << "byte " << k.byte);
		EXPECT_EQ(char_class_table[k.byte] & k.has, k.has);
		EXPECT_EQ(char_class_table[k.byte] & k.lacks, 0);
	}
}

TEST(CharIsSpace, TrueForTheSixWhitespaceBytesOnly)
{
	for (int c = 0; c < 256; c++) {
		SCOPED_TRACE(testing::Message() << "byte " << c);
		bool space = (c >= 9 && c <= 13) || c == ' ';
		EXPECT_EQ(char_is_space(static_cast<unsigned char>(c)), space);
	}
}

TEST(CharCaseMaps, ChangeOnlyAsciiLetters)
{
	for (int c = 0; c < 256; c++) {
		SCOPED_TRACE(testing::Message() << "byte " << c);
		int upper = c >= 'a' && c <= 'z' ? c - 32 : c;
		int lower = c >= 'A' && c <= 'Z' ? c + 32 : c;
		EXPECT_EQ(char_upper_map[c], upper);
		EXPECT_EQ(char_lower_map[c], lower);
	}
}

} // namespace
