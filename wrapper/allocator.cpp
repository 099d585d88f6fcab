/*
 * The programs' allocator.  A wrapper lives for milliseconds and frees
 * almost nothing, so the C library's malloc, with its set-up, headers and
 * free lists, is replaced by the arena; the C library's own allocations
 * (strdup, realpath, stdio) come here too.
 *
 * Sanitizer builds have it as well, so that what ships is what is
 * checked.  There the runtime keeps an allocator of its own: it serves
 * what is asked before the program starts (while it sets itself up, the
 * arena's instrumented code cannot run), and the C library calls it
 * answers itself; its blocks go back to it.
 */
#include <errno.h>
#include <stddef.h>

#include "support/arena.h"
#include "support/portability.h"

/*
 * Under the sanitizer, whether the arena serves yet: from the program's
 * first constructor on.  Read by functions left uninstrumented, which
 * may run before the runtime has the memory its checks look at.
 */
static bool started = false;

VEK_AT_SANITIZER_START static void
start(void)
{
	started = true;
}

extern "C" {

VEK_NOT_INSTRUMENTED void *
malloc(size_t size)
{
	if (VEK_ASAN && !started)
		return VEK_SANITIZER_MALLOC(size);
	return arena_alloc(size);
}

VEK_NOT_INSTRUMENTED void *
calloc(size_t count, size_t size)
{
	if (VEK_ASAN && !started)
		return VEK_SANITIZER_CALLOC(count, size);
	return arena_calloc(count, size);
}

VEK_NOT_INSTRUMENTED void *
realloc(void *block, size_t size)
{
	if (VEK_ASAN && (!started || VEK_SANITIZER_OWNS(block)))
		return VEK_SANITIZER_REALLOC(block, size);
	return arena_realloc(block, size);
}

VEK_NOT_INSTRUMENTED void
free(void *block)
{
	if (VEK_ASAN && (!started || VEK_SANITIZER_OWNS(block)))
		VEK_SANITIZER_FREE(block);
	else
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
