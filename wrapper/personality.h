/*
 * The three programs are one source; VEK_PERSONALITY, set per program at
 * build time, picks its row of the table.
 */
#ifndef VEK_WRAPPER_PERSONALITY_H
#define VEK_WRAPPER_PERSONALITY_H

enum class first_arg_rule {
	keep,     /* pass argument 1 on as given */
	add_dash, /* the archiver takes "rcs" as "-rcs" */
};

struct personality {
	const char *tool_name;    /* looked up and run */
	const char *program_name; /* joined to VEK_EXEC_PREFIX */
	first_arg_rule rule;
};

inline constexpr personality personality_table[] = {
    {"ar", "vek-ar", first_arg_rule::add_dash},
    {"ranlib", "vek-ranlib", first_arg_rule::keep},
    {"nm", "vek-nm", first_arg_rule::keep},
};

#ifndef VEK_PERSONALITY
#error "VEK_PERSONALITY must name a row of personality_table"
#endif
static_assert(VEK_PERSONALITY >= 0 &&
                  VEK_PERSONALITY <
                      static_cast<int>(sizeof personality_table /
                                       sizeof personality_table[0]),
              "VEK_PERSONALITY out of range");

inline constexpr const personality &this_personality =
    personality_table[VEK_PERSONALITY];

#endif
