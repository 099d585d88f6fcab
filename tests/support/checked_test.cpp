/*
 * Checked allocation and the fatal exit.  Failure is forced with sizes that
 * no allocator can serve, passed through volatile variables so the compiler
 * cannot see them; the report line and the exit status are then checked in
 * death tests, byte for byte.
 */
#include "support/checked.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <initializer_list>
#include <string>

namespace {

// A regular expression that matches LEAD, then TEXT and nothing else.
std::string
exactly(const std::string &text, const std::string &lead = "")
{
	std::string re = "^" + lead;
	for (char c : text) {
		if (strchr("\\.[]()*+?{}|^$", c) != nullptr)
			re += '\\';
		re += c;
	}
	return re + "$";
}

// The sanitizer's allocator, told to return null, says so first.
#if defined(__SANITIZE_ADDRESS__)
const char allocator_note[] = "(==[0-9]+==WARNING: AddressSanitizer failed "
                              "to allocate 0x[0-9a-f]+ bytes\n)?";
#else
const char allocator_note[] = "";
#endif

// What stderr must hold after an allocation really failed.
std::string
after_failed_allocation(const std::string &text)
{
	return exactly(text, allocator_note);
}

std::string
oom_line(const std::string &name, unsigned long size)
{
	std::string prefix = name.empty() ? "" : name + ": ";
	return "\n" + prefix + "out of memory allocating " +
	       std::to_string(size) + " bytes\n";
}

// Sizes the allocators must refuse: beyond any address space.
volatile size_t impossible_size = SIZE_MAX / 2;
volatile size_t calloc_count = size_t{1} << 30;
volatile size_t calloc_size = size_t{1} << 30; /* product 2^60 bytes */

// Kept global so the block stays reachable while the child exits.
void *live_block;

void
say_hook()
{
	fputs("hook\n", stderr);
}

void
say_atexit()
{
	fputs("atexit\n", stderr);
}

TEST(CheckedMalloc, AnySizeGivesWritableBlock)
{
	static const size_t sizes[] = {0, 1, 7, 4096};
	for (size_t size : sizes) {
		SCOPED_TRACE(size);
		auto *p = static_cast<unsigned char *>(checked_malloc(size));
		ASSERT_NE(p, nullptr);
		size_t usable = size == 0 ? 1 : size;
		memset(p, 0xA5, usable);
		EXPECT_EQ(p[usable - 1], 0xA5);
		free(p);
	}
}

struct calloc_case {
	size_t count, size;
};

// checked_calloc for each case; CHECK sees the block and the product of
// count and size, and the block is freed after.
void
each_calloc(std::initializer_list<calloc_case> cases,
            void (*check)(unsigned char *block, size_t bytes))
{
	for (const calloc_case &c : cases) {
		SCOPED_TRACE(testing::Message()
		             << "count " << c.count << " size " << c.size);
		auto *p = static_cast<unsigned char *>(
		    checked_calloc(c.count, c.size));
		ASSERT_NE(p, nullptr);
		check(p, c.count * c.size);
		free(p);
	}
}

TEST(CheckedCalloc, ZeroCountOrSizeGivesOneZeroByte)
{
	each_calloc({{0, 0}, {0, 8}, {8, 0}}, [](unsigned char *p, size_t) {
		EXPECT_EQ(p[0], 0);
		p[0] = 1;
	});
}

TEST(CheckedCalloc, ZeroFillsEveryElement)
{
	auto all_zero = [](unsigned char *p, size_t bytes) {
		size_t nonzero = 0;
		for (size_t i = 0; i < bytes; i++)
			nonzero += p[i] != 0;
		EXPECT_EQ(nonzero, 0u);
	};
	each_calloc({{1, 1}, {3, 5}, {1000, 8}, {1, 65536}}, all_zero);
}

TEST(CheckedRealloc, NullBlockActsAsMalloc)
{
	static const size_t sizes[] = {0, 1, 64};
	for (size_t size : sizes) {
		SCOPED_TRACE(size);
		auto *p = static_cast<char *>(checked_realloc(nullptr, size));
		ASSERT_NE(p, nullptr);
		memset(p, 'x', size == 0 ? 1 : size);
		free(p);
	}
}

TEST(CheckedRealloc, ZeroSizeKeepsOneByteOfTheBlock)
{
	char *p = checked_strdup("abcdef");
	auto *q = static_cast<char *>(checked_realloc(p, 0));
	ASSERT_NE(q, nullptr);
	EXPECT_EQ(q[0], 'a');
	q[0] = 'z';
	free(q);
}

TEST(CheckedRealloc, GrowingAndShrinkingKeepContents)
{
	auto *p = static_cast<unsigned char *>(checked_malloc(16));
	for (int i = 0; i < 16; i++)
		p[i] = static_cast<unsigned char>(i);
	p = static_cast<unsigned char *>(checked_realloc(p, 1 << 20));
	for (int i = 0; i < 16; i++)
		ASSERT_EQ(p[i], i);
	p[(1 << 20) - 1] = 1;
	p = static_cast<unsigned char *>(checked_realloc(p, 4));
	for (int i = 0; i < 4; i++)
		ASSERT_EQ(p[i], i);
	free(p);
}

TEST(CheckedStrdup, CopiesTextIntoOwnBlock)
{
	static const char *const texts[] = {"", "a", "hello, world",
	                                    "with\ttab and\nnewline"};
	for (const char *text : texts) {
		SCOPED_TRACE(text);
		char *copy = checked_strdup(text);
		ASSERT_NE(copy, nullptr);
		EXPECT_NE(copy, text);
		EXPECT_STREQ(copy, text);
		free(copy);
	}
}

TEST(CheckedDeathTest, MallocFailureReportsSizeAndExitsOne)
{
	EXPECT_EXIT(checked_malloc(impossible_size), testing::ExitedWithCode(1),
	            after_failed_allocation(oom_line("", impossible_size)));
}

TEST(CheckedDeathTest, CallocFailureReportsProductOfCountAndSize)
{
	EXPECT_EXIT(
	    checked_calloc(calloc_count, calloc_size),
	    testing::ExitedWithCode(1),
	    after_failed_allocation(oom_line("", calloc_count * calloc_size)));
}

TEST(CheckedDeathTest, ReallocFailureReportsSizeAndExitsOne)
{
	EXPECT_EXIT(checked_realloc(nullptr, impossible_size),
	            testing::ExitedWithCode(1),
	            after_failed_allocation(oom_line("", impossible_size)));
	EXPECT_EXIT(
	    {
		    live_block = checked_malloc(32);
		    live_block = checked_realloc(live_block, impossible_size);
	    },
	    testing::ExitedWithCode(1),
	    after_failed_allocation(oom_line("", impossible_size)));
}

TEST(CheckedDeathTest, ReportSaysBytesForEverySize)
{
	static const size_t sizes[] = {0, 1, 2, 4096};
	for (size_t size : sizes) {
		SCOPED_TRACE(size);
		EXPECT_EXIT(report_out_of_memory(size),
		            testing::ExitedWithCode(1),
		            exactly(oom_line("", size)));
	}
}

TEST(CheckedDeathTest, ReportStartsWithProgramNameWhenSet)
{
	EXPECT_EXIT(
	    {
		    set_oom_program_name("vek-ar");
		    checked_malloc(impossible_size);
	    },
	    testing::ExitedWithCode(1),
	    after_failed_allocation(oom_line("vek-ar", impossible_size)));
}

TEST(CheckedDeathTest, EmptyProgramNameGetsNoColon)
{
	EXPECT_EXIT(
	    {
		    set_oom_program_name("vek-nm");
		    set_oom_program_name("");
		    report_out_of_memory(10);
	    },
	    testing::ExitedWithCode(1),
	    exactly("\nout of memory allocating "
	            "10 bytes\n"));
}

TEST(CheckedDeathTest, ProgramNameIsNotCopied)
{
	static char name[] = "first";
	EXPECT_EXIT(
	    {
		    set_oom_program_name(name);
		    memcpy(name, "later", sizeof name);
		    report_out_of_memory(3);
	    },
	    testing::ExitedWithCode(1), exactly(oom_line("later", 3)));
}

TEST(CheckedDeathTest, ReportRunsHookAfterTheLine)
{
	EXPECT_EXIT(
	    {
		    fatal_exit_hook = say_hook;
		    checked_malloc(impossible_size);
	    },
	    testing::ExitedWithCode(1),
	    after_failed_allocation(oom_line("", impossible_size) + "hook\n"));
}

TEST(FatalExitDeathTest, ExitsWithExactlyTheGivenStatus)
{
	static const int statuses[] = {0, 1, 2, 42, 255};
	for (int status : statuses) {
		SCOPED_TRACE(status);
		EXPECT_EXIT(fatal_exit(status), testing::ExitedWithCode(status),
		            exactly(""));
	}
}

TEST(FatalExitDeathTest, RunsHookThenExitsNormally)
{
	// The atexit handler runs only on a normal exit, and after the hook.
	EXPECT_EXIT(
	    {
		    atexit(say_atexit);
		    fatal_exit_hook = say_hook;
		    fatal_exit(7);
	    },
	    testing::ExitedWithCode(7), exactly("hook\natexit\n"));
}

TEST(FatalExitDeathTest, FlushesBufferedStreams)
{
	EXPECT_EXIT(
	    {
		    static char buf[BUFSIZ];
		    setvbuf(stderr, buf, _IOFBF, sizeof buf);
		    fputs("pending", stderr);
		    fatal_exit(3);
	    },
	    testing::ExitedWithCode(3), exactly("pending"));
}

} // namespace
