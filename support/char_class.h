/*
 * Locale-independent character classes: one table load and one mask test
 * per byte, whatever the locale.  Index every table with the byte taken as
 * unsigned.  Bytes above 127 belong to no class and map to themselves.
 */
#ifndef VEK_SUPPORT_CHAR_CLASS_H
#define VEK_SUPPORT_CHAR_CLASS_H

#include <stdint.h>

constexpr uint16_t CHAR_BLANK = 0x0001;        /* tab, space */
constexpr uint16_t CHAR_CONTROL = 0x0002;      /* 0 to 31, and 127 */
constexpr uint16_t CHAR_DIGIT = 0x0004;        /* 0 to 9 */
constexpr uint16_t CHAR_LOWER = 0x0008;        /* a to z */
constexpr uint16_t CHAR_PRINT = 0x0010;        /* 32 to 126 */
constexpr uint16_t CHAR_PUNCT = 0x0020;        /* printable, not alnum/space */
constexpr uint16_t CHAR_SPACE = 0x0040;        /* 9 to 13, and space */
constexpr uint16_t CHAR_UPPER = 0x0080;        /* A to Z */
constexpr uint16_t CHAR_HEX = 0x0100;          /* 0-9, A-F, a-f */
constexpr uint16_t CHAR_IDENT_START = 0x0200;  /* letters and underscore */
constexpr uint16_t CHAR_LINE_END = 0x0400;     /* line feed, carriage return */
constexpr uint16_t CHAR_INLINE_SPACE = 0x0800; /* NUL, tab, VT, FF, space */
constexpr uint16_t CHAR_LETTER = CHAR_UPPER | CHAR_LOWER;

struct char_tables {
	uint16_t class_bits[256];
	unsigned char upper[256];
	unsigned char lower[256];
};

constexpr char_tables
make_char_tables()
{
	char_tables t{};
	auto mark = [&t](int from, int to, uint16_t bits) {
		for (int c = from; c <= to; c++)
			t.class_bits[c] |= bits;
	};
	mark(0, 31, CHAR_CONTROL);
	mark(127, 127, CHAR_CONTROL);
	mark(9, 9, CHAR_BLANK);
	mark(32, 32, CHAR_BLANK);
	mark('0', '9', CHAR_DIGIT | CHAR_HEX);
	mark('a', 'z', CHAR_LOWER | CHAR_IDENT_START);
	mark('A', 'Z', CHAR_UPPER | CHAR_IDENT_START);
	mark('a', 'f', CHAR_HEX);
	mark('A', 'F', CHAR_HEX);
	mark(32, 126, CHAR_PRINT);
	mark(33, 47, CHAR_PUNCT);
	mark(58, 64, CHAR_PUNCT);
	mark(91, 96, CHAR_PUNCT);
	mark(123, 126, CHAR_PUNCT);
	mark('_', '_', CHAR_IDENT_START);
	mark(9, 13, CHAR_SPACE);
	mark(32, 32, CHAR_SPACE);
	mark('\n', '\n', CHAR_LINE_END);
	mark('\r', '\r', CHAR_LINE_END);
	mark(0, 0, CHAR_INLINE_SPACE);
	mark(9, 9, CHAR_INLINE_SPACE);
	mark(11, 12, CHAR_INLINE_SPACE);
	mark(32, 32, CHAR_INLINE_SPACE);
	for (int c = 0; c < 256; c++) {
		t.upper[c] = static_cast<unsigned char>(
		    c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
		t.lower[c] = static_cast<unsigned char>(
		    c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
	}
	return t;
}

inline constexpr char_tables char_tables_data = make_char_tables();
inline constexpr const uint16_t (&char_class_table)[256] =
    char_tables_data.class_bits;
/* Case maps; the programs use neither. */
inline constexpr const unsigned char (&char_upper_map)[256] =
    char_tables_data.upper;
inline constexpr const unsigned char (&char_lower_map)[256] =
    char_tables_data.lower;

/* True when byte C is whitespace: tab, LF, VT, FF, CR or space. */
inline bool
char_is_space(unsigned char c)
{
	return (char_class_table[c] & CHAR_SPACE) != 0;
}

#endif
