// The programs' allocator, called directly and, as in the programs, as
// this program's malloc: blocks are aligned, apart and kept, resized with
// their contents, and failures come back as null and errno.
#include "support/arena.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <vector>

#include "support/portability.h"

namespace {

struct held {
	unsigned char *block;
	size_t size;
};

void
fill(const held &h, unsigned char seed)
{
	for (size_t i = 0; i < h.size; i++)
		h.block[i] = static_cast<unsigned char>(seed + i);
}

bool
intact(const held &h, unsigned char seed)
{
	for (size_t i = 0; i < h.size; i++)
		if (h.block[i] != static_cast<unsigned char>(seed + i))
			return false;
	return true;
}

// Whether the page holding P is mapped: msync says ENOMEM where it is not.
bool
mapped(const void *p)
{
	auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
	auto *start = reinterpret_cast<void *>(reinterpret_cast<uintptr_t>(p) &
	                                       ~(page - 1));
	return msync(start, 1, MS_ASYNC) == 0;
}

constexpr size_t LARGE = ARENA_SMALL_MAX + 1;

// The large BLOCK is still known as one: it shrinks in place, and its
// mapping goes when it is freed.
void
expect_listed_then_free(void *block)
{
	EXPECT_EQ(arena_realloc(block, 100), block);
	arena_free(block);
	EXPECT_FALSE(mapped(block));
}

TEST(Arena, BlocksAreAlignedApartAndKept)
{
	const size_t sizes[] = {
	    0,       1,  15, 16, 17, 100, ARENA_SMALL_MAX, ARENA_SMALL_MAX + 1,
	    3 << 20, 40, 1};
	std::vector<held> blocks;
	// Enough small ones to need chunks beyond the first.
	for (int round = 0; round < 400; round++)
		for (size_t size : sizes) {
			if (size > ARENA_SMALL_MAX && round > 0)
				continue;
			auto *block =
			    static_cast<unsigned char *>(arena_alloc(size));
			ASSERT_NE(block, nullptr) << size;
			EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
			blocks.push_back({block, size});
			fill(blocks.back(),
			     static_cast<unsigned char>(blocks.size()));
		}
	for (size_t i = 0; i < blocks.size(); i++)
		ASSERT_TRUE(
		    intact(blocks[i], static_cast<unsigned char>(i + 1)))
		    << "block " << i << " of " << blocks[i].size << " bytes";
}

TEST(Arena, ResizingKeepsTheContents)
{
	static const struct {
		const char *what;
		size_t from, to;
		bool latest;  // the block is the latest small one
		int in_place; // 1 stays, 0 moves, -1 either
	} cases[] = {
	    {"latest small grows in place", 24, 200, true, 1},
	    {"older small moves", 24, 200, false, 0},
	    {"small becomes large", 1000, 1 << 20, false, 0},
	    {"large grows", 1 << 20, 8 << 20, false, -1},
	    {"shrinks", 5000, 10, true, 1},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		held h = {static_cast<unsigned char *>(arena_alloc(c.from)),
		          c.from};
		fill(h, 7);
		if (!c.latest)
			arena_alloc(8);
		void *moved = arena_realloc(h.block, c.to);
		ASSERT_NE(moved, nullptr);
		if (c.in_place >= 0) {
			EXPECT_EQ(moved == h.block, c.in_place == 1);
		}
		h.block = static_cast<unsigned char *>(moved);
		h.size = c.from < c.to ? c.from : c.to;
		EXPECT_TRUE(intact(h, 7));
		memset(moved, 1, c.to); // all of it is ours
	}
	EXPECT_NE(arena_realloc(nullptr, 10), nullptr);
}

TEST(Arena, CallocZeroesAndFailuresSayNoMemory)
{
	// The latest block, written and given back, is carved again.
	void *dirty = arena_alloc(64);
	memset(dirty, 0xff, 64);
	arena_free(dirty);
	auto *zeroed = static_cast<unsigned char *>(arena_calloc(4, 16));
	ASSERT_EQ(static_cast<void *>(zeroed), dirty);
	for (int i = 0; i < 64; i++)
		ASSERT_EQ(zeroed[i], 0) << i;

	errno = 0;
	EXPECT_EQ(arena_calloc(SIZE_MAX / 2, 3), nullptr);
	EXPECT_EQ(errno, ENOMEM);
	errno = 0;
	EXPECT_EQ(arena_alloc(SIZE_MAX - 64), nullptr);
	EXPECT_EQ(errno, ENOMEM);
}

TEST(Arena, AlignedBlocks)
{
	for (size_t alignment : {1, 8, 16, 64, 4096}) {
		void *block = arena_aligned(alignment, 100);
		ASSERT_NE(block, nullptr) << alignment;
		EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % alignment, 0u);
		arena_free(block);
	}
	for (size_t alignment : {0, 3, 8192}) {
		errno = 0;
		EXPECT_EQ(arena_aligned(alignment, 100), nullptr) << alignment;
		EXPECT_EQ(errno, EINVAL);
	}
}

TEST(Arena, FreeingALargeBlockUnmapsItAndLeavesTheOthersListed)
{
	// The newest, a middle one and the oldest unlink differently.
	for (int freed = 0; freed < 3; freed++) {
		SCOPED_TRACE(freed);
		void *blocks[3]; // the newest first, as they are listed
		for (int i = 2; i >= 0; i--)
			blocks[i] = arena_alloc(LARGE);
		arena_free(blocks[freed]);
		EXPECT_FALSE(mapped(blocks[freed]));
		for (void *block : blocks)
			if (block != blocks[freed])
				expect_listed_then_free(block);
	}
}

TEST(Arena, CallocZeroesALargeBlockThroughout)
{
	// Small elements, many of them, ending just short of a page; the
	// space written and given back first, so that reused memory would
	// show.
	const size_t count = 4, size = 5 * 1024 - 2;
	void *dirty = arena_alloc(count * size);
	memset(dirty, 0xff, count * size);
	arena_free(dirty);
	auto *block = static_cast<unsigned char *>(arena_calloc(count, size));
	ASSERT_NE(block, nullptr);
	for (size_t i = 0; i < count * size; i++)
		ASSERT_EQ(block[i], 0) << i;
	memset(block, 1, count * size); // all of it is ours
	arena_free(block);
}

TEST(Arena, LatestBlockThatOutgrowsItsChunkMovesWhole)
{
	// Grown in place while its chunk has room, then moved.
	for (int round = 0; round < 1000; round++) {
		held h = {static_cast<unsigned char *>(arena_alloc(100)), 100};
		fill(h, 9);
		void *grown = arena_realloc(h.block, ARENA_SMALL_MAX);
		ASSERT_NE(grown, nullptr);
		if (grown == h.block)
			continue;
		h.block = static_cast<unsigned char *>(grown);
		EXPECT_TRUE(intact(h, 9));
		memset(grown, 1, ARENA_SMALL_MAX); // all of it is ours
		auto *next = static_cast<unsigned char *>(arena_alloc(1));
		EXPECT_TRUE(next < h.block ||
		            next >= h.block + ARENA_SMALL_MAX);
		return;
	}
	FAIL() << "grew in place without end";
}

TEST(Arena, LargeBlockThatCannotGrowStaysAsItWas)
{
	held h = {static_cast<unsigned char *>(arena_alloc(LARGE)), LARGE};
	fill(h, 3);
	errno = 0;
	// More than any address space holds, but not so much that the size
	// cannot be counted.
	EXPECT_EQ(arena_realloc(h.block, SIZE_MAX / 4), nullptr);
	EXPECT_EQ(errno, ENOMEM);
	EXPECT_TRUE(intact(h, 3));
	expect_listed_then_free(h.block);
}

TEST(Arena, PosixMemalignReturnsAnErrorNumberAndTheBlock)
{
	static const struct {
		size_t alignment, size;
		int want;
	} cases[] = {
	    {sizeof(void *), 100, 0},
	    {64, 100, 0},
	    {4096, LARGE, 0},
	    {sizeof(void *) / 2, 100, EINVAL}, // a power of two, too small
	    {24, 100, EINVAL},
	    {16, SIZE_MAX - 64, ENOMEM},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.alignment);
		void *block = nullptr;
		ASSERT_EQ(posix_memalign(&block, c.alignment, c.size), c.want);
		if (c.want != 0) {
			EXPECT_EQ(block, nullptr); // untouched
			continue;
		}
		ASSERT_NE(block, nullptr);
		EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % c.alignment, 0u);
		memset(block, 1, c.size);
		free(block);
	}
}

TEST(Arena, BlocksOfTheCLibraryResizeAndFreeWhole)
{
	// Under the sanitizer these come from its own allocator.
	char *copy = strdup("kept");
	copy = static_cast<char *>(realloc(copy, LARGE));
	ASSERT_NE(copy, nullptr);
	EXPECT_STREQ(copy, "kept");
	free(copy);
	char *resolved = realpath("/", nullptr);
	ASSERT_NE(resolved, nullptr);
	free(resolved);
}

TEST(Arena, OverrunsAreReportedUnderTheSanitizer)
{
	if (!VEK_ASAN)
		GTEST_SKIP() << "built without AddressSanitizer";
	static const struct {
		size_t size, past;
	} cases[] = {{16, 24}, {20000, 100}, {0, 1}};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.size);
		auto *block = static_cast<char *>(arena_alloc(c.size));
		EXPECT_DEATH(memset(block, 1, c.size + c.past),
		             "AddressSanitizer");
	}
}

} // namespace
