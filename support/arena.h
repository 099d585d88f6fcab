/*
 * A memory allocator for a short-lived, single-threaded program that
 * frees almost nothing.  Small blocks are carved one after the other from
 * large chunks, with no header; large ones get a mapping of their own.
 * The first chunk is part of the program's zeroed data, so a program that
 * allocates little sets nothing up at all.  Not safe for several threads.
 * Under AddressSanitizer a block is open for exactly the bytes asked, and
 * closed again once freed or moved, even where its space stays taken.
 */
#ifndef VEK_SUPPORT_ARENA_H
#define VEK_SUPPORT_ARENA_H

#include <stddef.h>

/* Blocks up to this size are carved from chunks; larger ones are mapped. */
constexpr size_t ARENA_SMALL_MAX = size_t{16} * 1024;

/*
 * A block of SIZE bytes aligned for any object (16 bytes), or null with
 * errno ENOMEM.  A size of 0 gives a block of its own.
 */
void *arena_alloc(size_t size);

/* COUNT zeroed elements of SIZE, or null with errno ENOMEM (also when the
 * product overflows). */
void *arena_calloc(size_t count, size_t size);

/*
 * BLOCK (from these functions, or null) resized to SIZE, its contents kept
 * up to the smaller size, or null with errno ENOMEM and BLOCK untouched.
 * The latest small block and large blocks grow in place where they can.
 */
void *arena_realloc(void *block, size_t size);

/*
 * Give BLOCK back: a large block's mapping goes at once, and the latest
 * small block can be carved again; any other small block stays taken.
 * Null does nothing.
 */
void arena_free(void *block);

/* A block of SIZE aligned to ALIGNMENT, a power of two up to the page
 * size, or null with errno EINVAL (bad alignment) or ENOMEM. */
void *arena_aligned(size_t alignment, size_t size);

#endif
