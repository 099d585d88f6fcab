/*
 * Checked allocation and the fatal exit.  The checked_* allocators never
 * return null: on failure they print one out-of-memory line and end the
 * process with status 1.  Release their blocks with free().
 */
#ifndef VEK_SUPPORT_CHECKED_H
#define VEK_SUPPORT_CHECKED_H

#include <stddef.h>

#include "support/portability.h"

/* Called by fatal_exit before it exits, when set; null at start.  The
 * programs set it to remove their response file. */
extern void (*fatal_exit_hook)(void);

/* A block of at least SIZE bytes; a size of 0 is served as 1. */
void *checked_malloc(size_t size);

/* COUNT zeroed elements of SIZE; a zero count or size gives one zero byte. */
void *checked_calloc(size_t count, size_t size);

/* BLOCK resized (null acts as malloc); a size of 0 gives a 1-byte block. */
void *checked_realloc(void *block, size_t size);

/* A heap copy of TEXT. */
char *checked_strdup(const char *text);

/* Name printed at the start of the out-of-memory line; not copied.  The
 * programs set none. */
void set_oom_program_name(const char *name);

/* Print the out-of-memory line for SIZE and fatal_exit(1). */
[[noreturn]] void report_out_of_memory(size_t size);

/* Run fatal_exit_hook, if set, then exit(STATUS). */
[[noreturn]] void fatal_exit(int status);

/*
 * The one way a fatal condition ends the process: print FORMAT and its
 * arguments (one line, newline included) on standard error, then
 * fatal_exit(1).
 */
[[noreturn]] void fatal_error(const char *format, ...) VEK_PRINTF(1, 2);

#endif
