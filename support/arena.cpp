/*
 * The programs' allocator.  They run for milliseconds, allocate a few
 * kilobytes (or, for a large @file, one block per argument) and free
 * almost nothing, so a general allocator's set-up, headers and free lists
 * are cost without use.  Small blocks are carved from chunks by moving a
 * cursor; each large block is a mapping of its own, listed so that free
 * can tell it from a small one.
 *
 * Under AddressSanitizer the arena says what is whose: every chunk starts
 * off-limits, each block is opened for exactly the bytes asked, with at
 * least one closed byte behind it, and closed again when freed or moved.
 * The open bytes are then the one record of a block's size.
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
/* Under the sanitizer a small block takes one byte more than asked, kept
 * closed: a write just past the block is caught even where the next
 * block follows at once.  Nothing in other builds. */
constexpr size_t RED_ZONE = VEK_ASAN ? 1 : 0;

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
/* The first chunk is zeroed data, open like all the program's data until
 * the sanitizer is told otherwise, just before its first block. */
static bool first_chunk_closed = false;

static size_t
round_up(size_t size, size_t to)
{
	return (size + to - 1) & ~(to - 1);
}

/* What a small block of SIZE takes from its chunk; one of size 0 takes
 * room of its own too. */
static size_t
carved(size_t size)
{
	return size == 0 ? ARENA_ALIGN : round_up(size + RED_ZONE, ARENA_ALIGN);
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
	VEK_POISON(cursor, static_cast<size_t>(limit - cursor));
	if (next_chunk_size < CHUNK_SIZE_MAX)
		next_chunk_size *= 2;
	return true;
}

static void *
small_block(size_t size)
{
	if (VEK_ASAN && !first_chunk_closed) {
		VEK_POISON(first_chunk, sizeof first_chunk);
		first_chunk_closed = true;
	}
	size_t rounded = carved(size);
	if (static_cast<size_t>(limit - cursor) < rounded &&
	    !new_chunk(rounded)) {
		errno = ENOMEM;
		return nullptr;
	}
	last_block = cursor;
	cursor += rounded;
	VEK_UNPOISON(last_block, size);
	return last_block;
}

/* BLOCK, MAPPED bytes with the caller's part OFFSET bytes in, made the
 * first of the list. */
static void
list(struct large_block *block, size_t offset, size_t mapped)
{
	block->user = reinterpret_cast<char *>(block) + offset;
	block->mapped = mapped;
	block->previous = nullptr;
	block->next = large_blocks;
	if (large_blocks != nullptr)
		large_blocks->previous = block;
	large_blocks = block;
}

/* The bytes of BLOCK's mapping its caller may use. */
static size_t
capacity(const struct large_block *block)
{
	return block->mapped -
	       static_cast<size_t>(block->user -
	                           reinterpret_cast<const char *>(block));
}

/* BLOCK opened for its caller's SIZE bytes; the rest of its mapping but
 * the header closed. */
static void *
open_large(struct large_block *block, size_t size)
{
	VEK_POISON(block + 1, block->mapped - sizeof *block);
	VEK_UNPOISON(block->user, size);
	return block->user;
}

/* BLOCK's mapping given back, its marks cleared first: the addresses may
 * be mapped again by anyone. */
static void
unmap_large(struct large_block *block)
{
	VEK_UNPOISON(block, block->mapped);
	munmap(block, block->mapped);
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
	list(block, offset, mapped);
	return open_large(block, size);
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

/*
 * How many bytes from the small block P on may be its own: up to the
 * cursor in the current chunk, else up to the end of its chunk; none for
 * a block not carved here.
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

/*
 * The size of the small block P as far as it is known: its open bytes
 * under the sanitizer, exactly what was asked; elsewhere its extent, where
 * a copy of a little more than it held does no harm.
 */
static size_t
small_size(const char *p)
{
	return VEK_OPEN_LENGTH(p, small_extent(p));
}

void
arena_free(void *block)
{
	if (block == nullptr)
		return;
	if (block == last_block) {
		VEK_POISON(last_block,
		           static_cast<size_t>(cursor - last_block));
		cursor = last_block;
		last_block = nullptr;
		return;
	}
	struct large_block *large = find_large(block);
	if (large != nullptr) {
		unlist(large);
		unmap_large(large);
	} else if constexpr (VEK_ASAN) {
		/* It stays taken, but closed: a late use is caught. */
		VEK_POISON(block, small_size(static_cast<char *>(block)));
	}
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
	/* What the caller holds, opened again if the block cannot grow. */
	size_t held = VEK_OPEN_LENGTH(block->user, capacity(block));
	unlist(block);
	/* Marks stay with the addresses, not with the pages: cleared before
	 * the mapping moves or is copied whole. */
	VEK_UNPOISON(block, block->mapped);
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
		open_large(block, held);
		errno = ENOMEM;
		return nullptr;
	}
	auto *grown = static_cast<struct large_block *>(moved);
	list(grown, offset, mapped);
	return open_large(grown, size);
}

void *
arena_realloc(void *block, size_t size)
{
	if (block == nullptr)
		return arena_alloc(size);
	struct large_block *large = find_large(block);
	if (large != nullptr) {
		if (size > capacity(large))
			return grow_large(large, size);
		open_large(large, size);
		return block;
	}
	char *p = static_cast<char *>(block);
	if (p == last_block && size <= ARENA_SMALL_MAX &&
	    size + RED_ZONE <= static_cast<size_t>(limit - p)) {
		VEK_POISON(p, static_cast<size_t>(cursor - p));
		cursor = p + carved(size);
		VEK_UNPOISON(p, size);
		return block;
	}
	size_t held = small_size(p);
	void *moved = arena_alloc(size);
	if (moved != nullptr) {
		memmove(moved, p, size < held ? size : held);
		/* The old block stays taken, but closed. */
		VEK_POISON(p, held);
	}
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
