/*
 * The class table is built by the compiler; these checks pin the entries
 * that the rest of the system depends on, so a wrong edit fails the build.
 */
#include "support/char_class.h"

static_assert(char_class_table[0] == 0x0802, "NUL is control, inline space");
static_assert((char_class_table[static_cast<unsigned char>('\v')] &
               CHAR_SPACE) != 0,
              "VT is space");
static_assert((char_class_table[static_cast<unsigned char>('\f')] &
               CHAR_BLANK) == 0,
              "FF is no blank");
static_assert(char_class_table[static_cast<unsigned char>(' ')] == 0x0851,
              "space");
static_assert(char_class_table[static_cast<unsigned char>('_')] == 0x0230,
              "underscore");
static_assert(char_class_table[static_cast<unsigned char>('7')] == 0x0114,
              "digit");
static_assert(char_class_table[static_cast<unsigned char>('B')] == 0x0390,
              "hex upper");
static_assert(char_class_table[static_cast<unsigned char>('z')] == 0x0218,
              "lower");
static_assert(char_class_table[0xe9] == 0, "no byte above 127 has a class");
static_assert(char_upper_map[static_cast<unsigned char>('q')] == 'Q' &&
                  char_lower_map[static_cast<unsigned char>('Q')] == 'q',
              "case maps");
