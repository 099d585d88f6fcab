/*
 * The three programs are one source; each is built with the name of the
 * tool it runs, which picks its row of the table.
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

/* The index of the row whose tool is TOOL_NAME, or -1. */
constexpr int
personality_index(const char *tool_name)
{
	int i = 0;
	for (const personality &row : personality_table) {
		const char *a = row.tool_name, *b = tool_name;
		while (*a != '\0' && *a == *b)
			a++, b++;
		if (*a == *b)
			return i;
		i++;
	}
	return -1;
}

/* This program's row, defined where the program's tool is named. */
extern const personality this_personality;

#endif
