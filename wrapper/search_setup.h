/*
 * Start-up search setup: where the programs are really installed, and the
 * two lists the plug-in and the tool are looked up through.
 */
#ifndef VEK_WRAPPER_SEARCH_SETUP_H
#define VEK_WRAPPER_SEARCH_SETUP_H

#include "findfile/prefix_list.h"

/* Install-relative directories: the target tool directory, then the
 * versioned plug-in directory.  The only list searched for the plug-in. */
extern struct prefix_list tool_prefixes;

/* The directories of PATH, searched for the tool after tool_prefixes. */
extern struct prefix_list user_prefixes;

/* What the install location was worked out from, where that program
 * really is (null when unknown), and the library and libexec prefixes
 * found there; set by search_setup. */
extern const char *locating_name;
extern const char *located_program;
/* The file that runs: as the system names it where it does, else as
 * argument 0 names it when that holds a '/'; null when neither says. */
extern const char *running_program;
extern const char *relocated_lib_prefix;
extern const char *relocated_libexec_prefix;

/*
 * Fill both lists.  The install location follows ARGV0, or the value of
 * VEK_EXEC_PREFIX joined with the program name when that is set; when the
 * program has not moved, the build-time directories stand.  The two
 * install-relative directories are added whole, even when they hold ':'.
 */
void search_setup(const char *argv0);

#endif
