/*
 * The programs' allocator through the entry points they have (malloc,
 * calloc, realloc, free, aligned_alloc, posix_memalign), driven by the
 * input against a model of the live blocks: each keeps what was written
 * into it (a resized one up to the smaller size), is aligned as asked and
 * shares no byte with another; calloc's are zero; what cannot be served
 * fails as the contract says.  Under AddressSanitizer the marks are
 * checked too: a block is open for exactly its size, a carved one closed
 * right behind it, and closed again once freed or moved.
 *
 * The arena and the entry points are compiled in here, the latter under
 * names of their own: libFuzzer keeps the sanitizer's allocator, and the
 * arena serves this target alone, so that every input starts on an empty
 * arena, as every program does.  An input then does the same run alone as
 * after a million others, and what the arena never gives back does not
 * add up over a run.
 *
 * Input: records of five bytes: the operation; the slot (low four bits)
 * and, for calloc, the count less one (high four); the size's kind (low
 * two bits) and the alignment's index (next three); the size's value, two
 * bytes.
 */
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>

#include <sanitizer/asan_interface.h>

#include "support/arena.cpp"

#define malloc entry_malloc
#define calloc entry_calloc
#define realloc entry_realloc
#define free entry_free
#define aligned_alloc entry_aligned_alloc
#define memalign entry_memalign
#define posix_memalign entry_aligned_into
#include "wrapper/allocator.cpp"
#undef malloc
#undef calloc
#undef realloc
#undef free
#undef aligned_alloc
#undef memalign
#undef posix_memalign

constexpr int SLOTS = 16;
constexpr size_t RECORD = 5;
/* No size from here on can be served, on any machine. */
constexpr size_t IMPOSSIBLE = size_t{1} << 48;
/* Invalid ones among them: zero, not a power of two, above a page. */
static const size_t alignments[8] = {0, 3, 4, 8, 16, 64, 4096, 8192};

struct slot {
	unsigned char *block; /* null while free */
	size_t size;
	unsigned char seed; /* byte I holds seed + I */
	bool carved;        /* from a chunk, not a mapping of its own */
};

static struct slot slots[SLOTS];
static unsigned long long operations;
/* 0 to 255, twice: the 256 bytes of any block's pattern from any seed.
 * Blocks are written and compared through it in runs, not byte by byte:
 * each comparison in a loop of this file is traced for the fuzzer. */
static unsigned char ramp[512];

static void
check(bool ok, const char *what)
{
	if (!ok) {
		fprintf(stderr, "fuzz_arena: %s\n", what);
		abort();
	}
}

static size_t
size_of_kind(unsigned kind, unsigned value)
{
	switch (kind) {
	case 0:
		return value % 64;
	case 1:
		return value % 4096;
	case 2: /* either side of the line between carved and mapped */
		return ARENA_SMALL_MAX - 64 + value % 128;
	default:
		return value % 16 == 0 ? SIZE_MAX - value
		                       : ARENA_SMALL_MAX + size_t{value} * 4;
	}
}

static void
paint(unsigned char *block, size_t size, unsigned char seed)
{
	for (size_t done = 0; done < size; done += 256)
		memcpy(block + done, ramp + seed,
		       size - done < 256 ? size - done : 256);
}

static bool
holds(const unsigned char *block, size_t size, unsigned char seed)
{
	for (size_t done = 0; done < size; done += 256)
		if (memcmp(block + done, ramp + seed,
		           size - done < 256 ? size - done : 256) != 0)
			return false;
	return true;
}

static bool
apart(const unsigned char *block, size_t size, const struct slot *other)
{
	/* A block of size 0 is still a place of its own. */
	size_t mine = size == 0 ? 1 : size;
	size_t theirs = other->size == 0 ? 1 : other->size;
	return block + mine <= other->block || other->block + theirs <= block;
}

static bool
closed(const unsigned char *block, size_t size)
{
	return size == 0 || (__asan_address_is_poisoned(block) &&
	                     __asan_address_is_poisoned(block + size - 1));
}

/* BLOCK, just handed out for SIZE bytes at ALIGNMENT, checked and put in
 * slot AT with a pattern of its own. */
static void
take(int at, void *block, size_t size, size_t alignment, bool carved,
     bool zeroed)
{
	auto *p = static_cast<unsigned char *>(block);
	check(p != nullptr, "no block where one was due");
	check(reinterpret_cast<uintptr_t>(p) % alignment == 0, "misaligned");
	check(__asan_region_is_poisoned(p, size) == nullptr,
	      "block not open throughout");
	check(!carved || __asan_address_is_poisoned(p + size),
	      "carved block open past its end");
	check(!zeroed || size == 0 ||
	          (p[0] == 0 && memcmp(p, p + 1, size - 1) == 0),
	      "calloc's block not zero");
	for (int i = 0; i < SLOTS; i++)
		if (i != at && slots[i].block != nullptr)
			check(apart(p, size, &slots[i]), "blocks overlap");
	auto seed = static_cast<unsigned char>(operations);
	paint(p, size, seed);
	slots[at] = {p, size, seed, carved};
}

/* BLOCK, handed out for SIZE bytes at ALIGNMENT asked, taken into slot
 * AT: aligned at least as any block is, and carved unless mapped. */
static void
take_aligned(int at, void *block, size_t size, size_t alignment)
{
	take(at, block, size, alignment < ARENA_ALIGN ? ARENA_ALIGN : alignment,
	     size <= ARENA_SMALL_MAX && alignment <= ARENA_ALIGN, false);
}

static void
drop(int at)
{
	struct slot *s = &slots[at];
	check(holds(s->block, s->size, s->seed), "contents changed");
	entry_free(s->block);
	check(!s->carved || closed(s->block, s->size), "freed block open");
	s->block = nullptr;
}

static void
refused(const void *block, int error)
{
	check(block == nullptr, "impossible request served");
	check(errno == error, "wrong errno");
}

static void
resize(int at, size_t size)
{
	struct slot old = slots[at];
	errno = 0;
	void *block = entry_realloc(old.block, size);
	if (size >= IMPOSSIBLE) {
		refused(block, ENOMEM);
		check(holds(old.block, old.size, old.seed),
		      "refused realloc changed the block");
		return;
	}
	size_t kept = size < old.size ? size : old.size;
	check(block != nullptr &&
	          holds(static_cast<unsigned char *>(block), kept, old.seed),
	      "realloc lost the contents");
	check(block == old.block || !old.carved || closed(old.block, old.size),
	      "moved block left open");
	/* A mapping stays one, however small it becomes. */
	take(at, block, size, ARENA_ALIGN,
	     old.carved && size <= ARENA_SMALL_MAX, false);
}

static void
step(const uint8_t *record)
{
	unsigned what = record[0] % 6;
	int at = record[1] % SLOTS;
	size_t count = record[1] / SLOTS + 1;
	size_t size = size_of_kind(record[2] % 4, record[3] | record[4] << 8);
	size_t alignment = alignments[record[2] / 4 % 8];
	bool valid = alignment != 0 && (alignment & (alignment - 1)) == 0 &&
	             alignment <= MAP_ALIGN;
	struct slot *s = &slots[at];
	if (s->block != nullptr && what != 2)
		drop(at);
	errno = 0;
	switch (what) {
	case 0: {
		void *block = entry_malloc(size);
		if (size >= IMPOSSIBLE)
			refused(block, ENOMEM);
		else
			take(at, block, size, ARENA_ALIGN,
			     size <= ARENA_SMALL_MAX, false);
		break;
	}
	case 1: {
		size_t total;
		bool fits = !__builtin_mul_overflow(count, size, &total) &&
		            total < IMPOSSIBLE;
		void *block = entry_calloc(count, size);
		if (!fits)
			refused(block, ENOMEM);
		else
			take(at, block, total, ARENA_ALIGN,
			     total <= ARENA_SMALL_MAX, true);
		break;
	}
	case 2:
		if (s->block == nullptr)
			s->size = 0;
		resize(at, size);
		break;
	case 3:
		entry_free(nullptr);
		break;
	case 4: {
		void *block = entry_aligned_alloc(alignment, size);
		if (!valid)
			refused(block, EINVAL);
		else if (size >= IMPOSSIBLE)
			refused(block, ENOMEM);
		else
			take_aligned(at, block, size, alignment);
		break;
	}
	default: {
		void *block = &slots; /* must stay as it is on failure */
		int error = entry_aligned_into(&block, alignment, size);
		if (!valid || alignment < sizeof(void *)) {
			check(error == EINVAL && block == &slots,
			      "bad alignment not refused");
		} else if (size >= IMPOSSIBLE) {
			check(error == ENOMEM && block == &slots,
			      "impossible request not refused");
		} else {
			check(error == 0, "posix_memalign failed");
			take_aligned(at, block, size, alignment);
		}
		break;
	}
	}
}

/* Every mapping given back and the cursor at the start of the first chunk,
 * closed again: the arena as a program finds it. */
static void
start_over(void)
{
	while (large_blocks != nullptr)
		arena_free(large_blocks->user);
	while (chunks != nullptr) {
		struct chunk *c = chunks;
		chunks = c->previous;
		auto size =
		    static_cast<size_t>(c->end - reinterpret_cast<char *>(c));
		VEK_UNPOISON(c, size);
		munmap(c, size);
	}
	cursor = first_chunk;
	limit = first_chunk + sizeof first_chunk;
	last_block = nullptr;
	next_chunk_size = CHUNK_SIZE_MIN;
	VEK_POISON(first_chunk, sizeof first_chunk);
	first_chunk_closed = true;
}

static void
report(void)
{
	fprintf(stderr, "fuzz_arena: %llu operations\n", operations);
}

extern "C" int
LLVMFuzzerInitialize(int *, char ***)
{
	for (size_t i = 0; i < sizeof ramp; i++)
		ramp[i] = static_cast<unsigned char>(i);
	atexit(report);
	return 0;
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	for (size_t at = 0; at + RECORD <= size; at += RECORD) {
		operations++;
		step(data + at);
	}
	for (int i = 0; i < SLOTS; i++)
		if (slots[i].block != nullptr)
			drop(i);
	start_over();
	return 0;
}
