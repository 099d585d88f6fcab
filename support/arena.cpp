/*
 * The programs' allocator.  They run for milliseconds, allocate a few
 * kilobytes (or, for a large @file, one block per argument) and free
 * almost nothing, so a general allocator's set-up, headers and free lists
 * are cost without use.  Small blocks are carved from chunks by moving a
 * cursor; each large block is a mapping of its own, listed so that free
 * can tell it from a small one.
 */
#include "support/arena.h"

#include <errno.h>
#include <stdint.h>
#include <string.h>
#include <sys/mman.h>

#include "support/portability.h"

/* Every block is aligned for any object. */
constexpr size_t ARENA_ALIGN = 16;
/* The chunk in the program's zeroed data: start-up allocates well below
 * it, and touches only the pages it uses. */
constexpr size_t FIRST_CHUNK_SIZE = size_t{64} * 1024;
/* Mapped chunks double from the first to the last size: few mappings for
 * a million small blocks, little waste for a few. */
constexpr size_t CHUNK_SIZE_MIN = size_t{256} * 1024;
constexpr size_t CHUNK_SIZE_MAX = size_t{16} * 1024 * 1024;
/* Every mapping starts on a page boundary, whatever the page size. */
constexpr size_t MAP_ALIGN = 4096;
/* From this size on a mapping may be given huge pages: one page fault
 * in place of hundreds. */
constexpr size_t HUGE_MIN = size_t{2} * 1024 * 1024;

/* The start of each mapped chunk. */
struct chunk {
	struct chunk *previous; /* the chunk mapped before, or null */
	char *end;
};

/* The start of each large block's mapping. */
struct large_block {
	struct large_block *next, *previous;
	char *user; /* what the caller holds */
	size_t mapped;
};

alignas(ARENA_ALIGN) static char first_chunk[FIRST_CHUNK_SIZE];
static char *cursor = first_chunk;
static char *limit = first_chunk + sizeof first_chunk;
/* The latest small block: it may grow in place, or be carved again. */
static char *last_block = nullptr;
static struct chunk *chunks = nullptr; /* the newest first */
static size_t next_chunk_size = CHUNK_SIZE_MIN;
static struct large_block *large_blocks = nullptr;

static size_t
round_up(size_t size, size_t to)
{
	return (size + to - 1) & ~(to - 1);
}

static void *
map(size_t size)
{
	/* An anonymous mapping takes -1 for its descriptor. */
	void *base = mmap(nullptr, size, PROT_READ | PROT_WRITE,
	                  MAP_PRIVATE | MAP_ANONYMOUS,
	                  // cppcheck-suppress invalidFunctionArg
	                  -1, 0);
	if (base == MAP_FAILED)
		return nullptr;
	if (size >= HUGE_MIN)
		VEK_ADVISE_HUGE_PAGES(base, size);
	return base;
}

/* A new chunk with room for SIZE, made the current one. */
static bool
new_chunk(size_t size)
{
	size_t wanted = next_chunk_size;
	while (wanted < size + sizeof(struct chunk))
		wanted *= 2;
	auto *fresh = static_cast<struct chunk *>(map(wanted));
	if (fresh == nullptr)
		return false;
	fresh->previous = chunks;
	fresh->end = reinterpret_cast<char *>(fresh) + wanted;
	chunks = fresh;
	cursor = reinterpret_cast<char *>(fresh) +
	         round_up(sizeof *fresh, ARENA_ALIGN);
	limit = fresh->end;
	if (next_chunk_size < CHUNK_SIZE_MAX)
		next_chunk_size *= 2;
	return true;
}

static void *
small_block(size_t size)
{
	size_t rounded = size == 0 ? ARENA_ALIGN : round_up(size, ARENA_ALIGN);
	if (static_cast<size_t>(limit - cursor) < rounded &&
	    !new_chunk(rounded)) {
		errno = ENOMEM;
		return nullptr;
	}
	last_block = cursor;
	cursor += rounded;
	return last_block;
}

/* BLOCK, MAPPED bytes with the caller's part OFFSET bytes in, made the
 * first of the list; the caller's part. */
static void *
list(struct large_block *block, size_t offset, size_t mapped)
{
	block->user = reinterpret_cast<char *>(block) + offset;
	block->mapped = mapped;
	block->previous = nullptr;
	block->next = large_blocks;
	if (large_blocks != nullptr)
		large_blocks->previous = block;
	large_blocks = block;
	return block->user;
}

/* A mapping of its own for SIZE bytes at ALIGNMENT, listed. */
static void *
large_block(size_t size, size_t alignment)
{
	size_t offset = round_up(sizeof(struct large_block), alignment);
	if (size > SIZE_MAX - offset - MAP_ALIGN) {
		errno = ENOMEM;
		return nullptr;
	}
	size_t mapped = round_up(offset + size, MAP_ALIGN);
	auto *block = static_cast<struct large_block *>(map(mapped));
	if (block == nullptr) {
		errno = ENOMEM;
		return nullptr;
	}
	return list(block, offset, mapped);
}

static struct large_block *
find_large(const void *user)
{
	for (struct large_block *b = large_blocks; b != nullptr; b = b->next)
		if (b->user == user)
			return b;
	return nullptr;
}

static void
unlist(struct large_block *block)
{
	if (block->previous != nullptr)
		block->previous->next = block->next;
	else
		large_blocks = block->next;
	if (block->next != nullptr)
		block->next->previous = block->previous;
}

void *
arena_alloc(size_t size)
{
	return size <= ARENA_SMALL_MAX ? small_block(size)
	                               : large_block(size, ARENA_ALIGN);
}

void *
arena_calloc(size_t count, size_t size)
{
	size_t total;
	if (__builtin_mul_overflow(count, size, &total)) {
		errno = ENOMEM;
		return nullptr;
	}
	void *block = arena_alloc(total);
	/* A fresh mapping is zero; a small block may have been carved before
	 * and given back. */
	if (block != nullptr && total <= ARENA_SMALL_MAX)
		memset(block, 0, total);
	return block;
}

void
arena_free(void *block)
{
	if (block == nullptr)
		return;
	if (block == last_block) {
		cursor = last_block;
		last_block = nullptr;
		return;
	}
	struct large_block *large = find_large(block);
	if (large != nullptr) {
		unlist(large);
		munmap(large, large->mapped);
	}
}

/*
 * How many bytes from the small block P on may be its own: up to the
 * cursor in the current chunk, else up to the end of its chunk.  Its size
 * is not kept; copying a little more than it held does no harm.
 */
static size_t
small_extent(const char *p)
{
	if (p >= first_chunk && p < first_chunk + sizeof first_chunk)
		return static_cast<size_t>(
		    (limit == first_chunk + sizeof first_chunk
		         ? cursor
		         : first_chunk + sizeof first_chunk) -
		    p);
	for (const struct chunk *c = chunks; c != nullptr; c = c->previous)
		if (p > reinterpret_cast<const char *>(c) && p < c->end)
			return static_cast<size_t>(
			    (c == chunks ? cursor : c->end) - p);
	return 0;
}

/* Grow the large BLOCK to hold SIZE bytes, moving it if need be. */
static void *
grow_large(struct large_block *block, size_t size)
{
	size_t offset =
	    static_cast<size_t>(block->user - reinterpret_cast<char *>(block));
	if (size > SIZE_MAX - offset - MAP_ALIGN) {
		errno = ENOMEM;
		return nullptr;
	}
	size_t mapped = round_up(offset + size, MAP_ALIGN);
	unlist(block);
	void *moved = VEK_REMAP(block, block->mapped, mapped);
	/* Always so where a mapping cannot be moved. */
	// cppcheck-suppress knownConditionTrueFalse
	if (moved == nullptr) {
		/* No way to move a mapping: copy it to a new one. */
		moved = map(mapped);
		if (moved != nullptr) {
			memcpy(moved, block, block->mapped);
			munmap(block, block->mapped);
		}
	}
	if (moved == nullptr) {
		list(block, offset, block->mapped);
		errno = ENOMEM;
		return nullptr;
	}
	return list(static_cast<struct large_block *>(moved), offset, mapped);
}

void *
arena_realloc(void *block, size_t size)
{
	if (block == nullptr)
		return arena_alloc(size);
	struct large_block *large = find_large(block);
	if (large != nullptr) {
		if (size <=
		    large->mapped -
		        static_cast<size_t>(large->user -
		                            reinterpret_cast<char *>(large)))
			return block;
		return grow_large(large, size);
	}
	char *p = static_cast<char *>(block);
	if (p == last_block && size <= ARENA_SMALL_MAX &&
	    size <= static_cast<size_t>(limit - p)) {
		cursor =
		    p + (size == 0 ? ARENA_ALIGN : round_up(size, ARENA_ALIGN));
		return block;
	}
	size_t extent = small_extent(p);
	void *moved = arena_alloc(size);
	if (moved != nullptr)
		memmove(moved, p, size < extent ? size : extent);
	return moved;
}

void *
arena_aligned(size_t alignment, size_t size)
{
	if (alignment == 0 || (alignment & (alignment - 1)) != 0 ||
	    alignment > MAP_ALIGN) {
		errno = EINVAL;
		return nullptr;
	}
	if (alignment <= ARENA_ALIGN)
		return arena_alloc(size);
	return large_block(size, alignment);
}
