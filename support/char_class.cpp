/*
 * The class table is built by the compiler; these checks pin the entries
 * that the rest of the system depends on, so a wrong edit fails the build.
 */
#include "support/char_class.h"

static_assert(char_class_table[0] == 0x0802, "NUL is control, inline space");
static_assert((char_class_table['\v'] & CHAR_SPACE) != 0, "VT is space");
static_assert((char_class_table['\f'] & CHAR_BLANK) == 0, "FF is no blank");
static_assert(char_class_table[' '] == 0x0851, "space");
static_assert(char_class_table['_'] == 0x0230, "underscore");
static_assert(char_class_table['7'] == 0x0114, "digit");
static_assert(char_class_table['B'] == 0x0390, "hex upper");
static_assert(char_class_table['z'] == 0x0218, "lower");
static_assert(char_class_table[0xe9] == 0, "no byte above 127 has a class");
static_assert(char_upper_map['q'] == 'Q' && char_lower_map['Q'] == 'q',
              "case maps");
