/*
 * The trace printer.  Every line of the trace is printed here; the
 * lookups' own trace stays off.  A name or argument holding a control
 * character, or bytes that are not plain UTF-8, is written as the shell's
 * $'...', so that no line can pass for another and nothing reaches the
 * terminal raw.
 */
#include "wrapper/trace.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "support/quote.h"
#include "wrapper/search_setup.h"

bool
trace_wanted(void)
{
	static int wanted = -1;
	if (wanted < 0) {
		const char *value = getenv("VEK_TRACE");
		wanted = value != nullptr && *value != '\0';
	}
	return wanted != 0;
}

static void
trace_line(const char *head, const char *name)
{
	fputs(head, stderr);
	fputs(quote_name(name), stderr);
	fputs("\n", stderr);
}

void
trace_location(void)
{
	/* A $'...' name needs no quotes around it. */
	const char *from = quote_name(locating_name);
	const char *mark = from == locating_name ? "'" : "";
	fprintf(stderr, "Install location worked out from %s%s%s\n", mark, from,
	        mark);
	trace_line("  - library prefix: ", relocated_lib_prefix);
	trace_line("  - libexec prefix: ", relocated_libexec_prefix);
}

static void
trace_tried(const char *candidate)
{
	trace_line("  - tried: ", candidate);
}

char *
trace_lookup(const struct prefix_list *list, const char *name, int mode,
             struct lookup_hooks hooks)
{
	fprintf(stderr, "Looking for '%s'\n", name);
	hooks.tried = trace_tried;
	char *found = find_in_prefixes_hooked(list, name, mode, &hooks);
	if (found != nullptr)
		trace_line("  - found: ", found);
	else if (list->entries == nullptr)
		fputs("  - failed: no entries in prefix list\n  - not found\n",
		      stderr);
	else
		fputs("  - not found\n", stderr);
	return found;
}

void
trace_passed_over(const char *ours)
{
	if (ours == nullptr)
		fputs("  - passed over: it is this program\n", stderr);
	else
		fprintf(stderr, "  - passed over: it is %s, one of ours\n",
		        ours);
}

/* HEAD, then ARGV quoted as a shell reads it back; the first word as a
 * command's when IS_COMMAND. */
static void
trace_words(const char *head, char *const *argv, bool is_command)
{
	fputs(head, stderr);
	for (char *const *arg = argv; *arg != nullptr; arg++) {
		fputs(" ", stderr);
		fputs(is_command && arg == argv ? quote_command(*arg)
		                                : quote_word(*arg),
		      stderr);
	}
	fputs("\n", stderr);
}

void
trace_run(char *const *argv, char *const *child, const char *response_path)
{
	if (response_path != nullptr) {
		trace_line("Response file: ", response_path);
		trace_words("  - holds:", child + 1, false);
	}
	trace_words("Running:", argv, true);
}

void
trace_reason(int err)
{
	fprintf(stderr, "  - reason: %s\n", strerror(err));
}
