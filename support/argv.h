/*
 * Argument vectors: null-terminated heap arrays of heap strings, all from
 * the checked allocators; whoever holds one owns the array and every string
 * and releases them with argv_free.  Also the response-file form, one
 * argument per line, which argv_write writes and argv_split reads back
 * unchanged, and the expansion of "@file" arguments.
 */
#ifndef VEK_SUPPORT_ARGV_H
#define VEK_SUPPORT_ARGV_H

#include <stdio.h>

/*
 * The "@" arguments one argv_expand call may examine before it gives up.
 * Response files may name response files, and one that names itself would
 * otherwise expand for ever; no real command line nests anywhere near this.
 */
constexpr int ATFILE_LIMIT = 2000;

/* A deep copy of ARGV, same order; null for null. */
char **argv_dup(char *const *argv);

/* Free each string, then the array; null does nothing. */
void argv_free(char **argv);

/* Entries before the terminating null; 0 for null. */
int argv_count(char *const *argv);

/*
 * TEXT cut at runs of whitespace into a new vector.  A backslash takes the
 * next byte literally, also inside quotes; '...' and "..." group and glue
 * to what touches them.  An empty or all-whitespace TEXT gives one empty
 * argument; null gives null.
 */
char **argv_split(const char *text);

/*
 * ARGV in response-file form: one argument per line, whitespace, quotes and
 * backslashes escaped with a backslash, an empty argument as "".  Returns 0,
 * or 1 when STREAM is null or a write fails (at once; what was written
 * stays): the published shape, kept although the rest of this library
 * answers yes/no with bool.  STREAM is neither flushed nor closed.
 */
int argv_write(char *const *argv, FILE *stream);

/*
 * Replace each "@file" argument after the first by the arguments read from
 * the file, nested files in turn.  Arguments whose file is missing or
 * unreadable stay as they are.  *ARGVP and its strings are never written to
 * or freed: when at least one file was expanded, *ARGVP and *ARGCP are set
 * to a new vector the caller owns, else both are left alone.  Prints one
 * line and calls fatal_exit(1) for a directory or on the ATFILE_LIMIT-th
 * "@" argument.
 */
void argv_expand(int *argcp, char ***argvp);

#endif
