/*
 * VEK_TRACE: with the variable set to anything but "", the programs show
 * on standard error where they looked and what they ran, for the user whose
 * build cannot find the plug-in or does not do what it should.
 */
#ifndef VEK_WRAPPER_TRACE_H
#define VEK_WRAPPER_TRACE_H

#include "findfile/prefix_list.h"

/* Whether the trace is wanted; VEK_TRACE is read at the first call. */
bool trace_wanted(void);

/* The install location search_setup worked out, and the prefixes found. */
void trace_location(void);

/*
 * find_in_prefixes_hooked through HOOKS, their TRIED set to show each
 * candidate, then what was found or that nothing was.
 */
char *trace_lookup(const struct prefix_list *list, const char *name, int mode,
                   struct lookup_hooks hooks);

/* Why the candidate just shown was passed over: it is this program (OURS
 * null), or the program of ours named OURS. */
void trace_passed_over(const char *ours);

/*
 * The command line ARGV the tool is started with.  Through a response file
 * RESPONSE_PATH, the file's name and the arguments the tool will read from
 * it, CHILD's from the second on, come first.
 */
void trace_run(char *const *argv, char *const *child,
               const char *response_path);

/* Why the tool could not be started: the error ERR. */
void trace_reason(int err);

#endif
