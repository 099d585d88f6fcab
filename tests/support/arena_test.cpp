// The programs' allocator, called directly (the tests keep the C library's
// malloc): blocks are aligned, apart and kept, resized with their
// contents, and failures come back as null and errno.
#include "support/arena.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <stdint.h>
#include <string.h>

#include <vector>

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

} // namespace
