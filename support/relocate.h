/*
 * Where a build-time directory lies once the installed tree has moved, and
 * the small path operations that computation rests on.  Every string
 * returned here comes from malloc and is released with free(); null always
 * means "no answer" (or no memory), never an error to report.  Nothing here
 * prints or ends the process, and no argument is ever modified.
 */
#ifndef VEK_SUPPORT_RELOCATE_H
#define VEK_SUPPORT_RELOCATE_H

#include <stddef.h>

/*
 * Where the program PROGNAME really is: looked up in $PATH when it holds no
 * '/', then with symbolic links resolved (real_path_dup).  A heap string,
 * or null for a null PROGNAME and when memory runs out.
 */
char *program_location(const char *progname);

/*
 * TARGET_PREFIX as reached from the directory the program PROGNAME sits
 * in, taking the same way up and down that leads from BIN_PREFIX to
 * TARGET_PREFIX: "/opt/tc/bin/vek-ar", "/usr/local/bin/",
 * "/usr/local/lib/x/" give "/opt/tc/bin/../lib/x/".  A PROGNAME without '/'
 * is looked up in $PATH; its symbolic links are not resolved.  Null when
 * the program sits in BIN_PREFIX itself, when the prefixes share no first
 * component, for null or empty arguments and when memory runs out.  A
 * caller that needs several prefixes passes program_location's answer, so
 * the links are resolved once.
 */
char *relative_prefix_no_links(const char *progname, const char *bin_prefix,
                               const char *prefix);

/* relative_prefix_no_links(program_location(PROGNAME), ...) in one call.
 * The programs do not use it. */
char *relative_prefix(const char *progname, const char *bin_prefix,
                      const char *prefix);

/*
 * PATH cut after each run of '/', the run kept whole ("//a//b" gives "//",
 * "a//", "b"); joined in order the components give PATH back.  A
 * null-terminated array of strings, each freed and then the array; the
 * number of components goes to *COUNT when COUNT is not null.  Null for an
 * empty PATH or when memory runs out; *COUNT is then left alone.
 */
char **split_path_components(const char *path, int *count);

/* Just past the last '/' of PATH; PATH itself when it holds none. */
const char *path_basename(const char *path);

/* As path_basename, after a drive prefix such as "C:", with '/' and '\\'
 * both taken as separators.  The programs do not use it. */
const char *path_basename_dos(const char *path);

/* Between the directories of $PATH and of other such lists. */
constexpr char PATH_LIST_SEPARATOR = ':';

/*
 * Walk LIST, a ':'-separated list of directories such as $PATH: each
 * element, in order, goes into BUFFER as a prefix ("./" for an empty one, a
 * '/' added when it lacks one) and VISIT gets BUFFER, the prefix's length
 * and CONTEXT; the walk stops at the first VISIT that returns true, and so
 * returns true.  BUFFER holds the longest element plus three bytes, and
 * whatever VISIT appends.
 */
bool path_list_walk(const char *list, char *buffer,
                    bool (*visit)(char *buffer, size_t length, void *context),
                    void *context);

/* A heap copy of realpath(PATH), or of PATH itself when realpath fails;
 * null only when the copy cannot be allocated. */
char *real_path_dup(const char *path);

#endif
