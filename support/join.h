/*
 * Joining strings end to end.  Every operation takes a list of strings as
 * variable arguments ended by a null pointer; nothing is put between them
 * and the arguments are never changed.
 */
#ifndef VEK_SUPPORT_JOIN_H
#define VEK_SUPPORT_JOIN_H

#include <stddef.h>

#include "support/portability.h"

/*
 * The programs use only join_strings; the others are the library's.
 */

/* Destination of join_into_scratch; the caller points it at a big enough
 * buffer (join_length + 1) before each call.  Null at start. */
extern char *join_scratch_buffer;

/* Sum of the lengths of the strings; 0 for an empty list. */
size_t join_length(const char *first, ...) VEK_SENTINEL;

/* The strings into DEST, then one NUL; returns DEST.  DEST must hold
 * join_length + 1 bytes. */
char *join_into(char *dest, const char *first, ...) VEK_SENTINEL;

/* join_into with join_scratch_buffer as destination. */
char *join_into_scratch(const char *first, ...) VEK_SENTINEL;

/* A new heap string of the strings; never null, even for an empty list. */
char *join_strings(const char *first, ...) VEK_SENTINEL;

/* As join_strings, then frees OLD (which may be one of the strings). */
char *rejoin_strings(char *old, const char *first, ...) VEK_SENTINEL;

#endif
