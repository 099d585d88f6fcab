/*
 * The programs' allocator.  A wrapper lives for milliseconds and frees
 * almost nothing, so the C library's malloc, with its set-up, headers and
 * free lists, is replaced by the arena; the C library's own allocations
 * (strdup, realpath, stdio) come here too.  Not built into sanitizer
 * builds, whose runtime has an allocator of its own.
 */
#include <errno.h>
#include <stddef.h>

#include "support/arena.h"

extern "C" {

void *
malloc(size_t size)
{
	return arena_alloc(size);
}

void *
calloc(size_t count, size_t size)
{
	return arena_calloc(count, size);
}

void *
realloc(void *block, size_t size)
{
	return arena_realloc(block, size);
}

void
free(void *block)
{
	arena_free(block);
}

void *
aligned_alloc(size_t alignment, size_t size)
{
	return arena_aligned(alignment, size);
}

void *
memalign(size_t alignment, size_t size)
{
	return arena_aligned(alignment, size);
}

int
posix_memalign(void **block, size_t alignment, size_t size)
{
	if (alignment < sizeof(void *))
		return EINVAL;
	void *aligned = arena_aligned(alignment, size);
	if (aligned == nullptr)
		return errno;
	*block = aligned;
	return 0;
}
}
