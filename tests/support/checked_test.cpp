/*
 * Checked allocation and the fatal exit.  Failure is forced with sizes that
 * no allocator can serve, passed through volatile variables so the compiler
 * cannot see them; the report line and the exit status are then checked in
 * a child, byte for byte.
 */
#include "support/checked.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>
#include <string>

#include "testkit.h"

namespace {

// The sanitizer's allocator, told to return null, says so first: drop that
// line.
std::string
without_allocator_note(const std::string &err)
{
	size_t end = err.find('\n');
	if (err.rfind("==", 0) == 0 &&
	    err.find("WARNING: AddressSanitizer failed to allocate") < end)
		return err.substr(end + 1);
	return err;
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

TEST(CheckedFailure, ReportsTheSizeAndExitsOne)
{
	const std::string huge = oom_line("", impossible_size);
	const struct {
		const char *what;
		void (*body)();
		std::string err;
	} cases[] = {
	    {"malloc", [] { checked_malloc(impossible_size); }, huge},
	    {"calloc, with the product of count and size",
	     [] { checked_calloc(calloc_count, calloc_size); },
	     oom_line("", calloc_count * calloc_size)},
	    {"realloc of null",
	     [] { checked_realloc(nullptr, impossible_size); }, huge},
	    {"realloc of a block",
	     [] {
		     live_block = checked_malloc(32);
		     live_block = checked_realloc(live_block, impossible_size);
	     },
	     huge},
	    {"0 bytes", [] { report_out_of_memory(0); }, oom_line("", 0)},
	    {"1 byte", [] { report_out_of_memory(1); }, oom_line("", 1)},
	    {"2 bytes", [] { report_out_of_memory(2); }, oom_line("", 2)},
	    {"4096 bytes", [] { report_out_of_memory(4096); },
	     oom_line("", 4096)},
	    {"program name first",
	     [] {
		     set_oom_program_name("vek-ar");
		     checked_malloc(impossible_size);
	     },
	     oom_line("vek-ar", impossible_size)},
	    {"empty program name, no colon",
	     [] {
		     set_oom_program_name("vek-nm");
		     set_oom_program_name("");
		     report_out_of_memory(10);
	     },
	     "\nout of memory allocating 10 bytes\n"},
	    {"program name not copied",
	     [] {
		     static char name[] = "first";
		     set_oom_program_name(name);
		     memcpy(name, "later", sizeof name);
		     report_out_of_memory(3);
	     },
	     oom_line("later", 3)},
	    {"hook after the line",
	     [] {
		     fatal_exit_hook = say_hook;
		     checked_malloc(impossible_size);
	     },
	     huge + "hook\n"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		child_result r = run_in_child(c.body);
		EXPECT_EQ(r.status, exited(1));
		EXPECT_EQ(without_allocator_note(r.err), c.err);
	}
}

TEST(FatalExit, ExitsWithExactlyTheGivenStatus)
{
	for (int status : {0, 1, 2, 42, 255}) {
		SCOPED_TRACE(status);
		child_result r = run_in_child([status] { fatal_exit(status); });
		EXPECT_EQ(r.status, exited(status));
		EXPECT_EQ(r.err, "");
	}
}

TEST(FatalExit, RunsHookThenExitsNormally)
{
	// The atexit handler runs only on a normal exit, and after the hook.
	child_result r = run_in_child([] {
		atexit(say_atexit);
		fatal_exit_hook = say_hook;
		fatal_exit(7);
	});
	EXPECT_EQ(r.status, exited(7));
	EXPECT_EQ(r.err, "hook\natexit\n");
}

TEST(FatalExit, FlushesBufferedStreams)
{
	child_result r = run_in_child([] {
		static char buf[BUFSIZ];
		setvbuf(stderr, buf, _IOFBF, sizeof buf);
		fputs("pending", stderr);
		fatal_exit(3);
	});
	EXPECT_EQ(r.status, exited(3));
	EXPECT_EQ(r.err, "pending");
}

} // namespace
