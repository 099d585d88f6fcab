/*
 * String joining: the results, the exact number of bytes written into a
 * caller's buffer, and who owns what.  Under the sanitizer build a block
 * freed too early or never freed fails these tests as well.
 */
#include "support/join.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>

#include "support/checked.h"

namespace {

// Up to four strings; the list ends at the first null, as for the joiners.
struct join_case {
	const char *parts[4];
};

const join_case join_cases[] = {
    {{nullptr}},
    {{""}},
    {{"", ""}},
    {{"abc"}},
    {{"a", "b"}},
    {{"ab", "", "cd"}},
    {{"/usr/local/", "lib/", "vek14"}},
    {{"w", "x", "y", "z"}},
    {{"a", nullptr, "after the end"}},
};

std::string
describe(const join_case &c)
{
	std::string text = "list:";
	for (const char *p : c.parts) {
		if (p == nullptr)
			break;
		text += " \"" + std::string(p) + "\"";
	}
	return text;
}

std::string
concatenation(const join_case &c)
{
	std::string text;
	for (const char *p : c.parts) {
		if (p == nullptr)
			break;
		text += p;
	}
	return text;
}

const char guard = 0x5A;

TEST(JoinLength, SumsLengthsUpToTheNull)
{
	for (const join_case &c : join_cases) {
		SCOPED_TRACE(describe(c));
		const char *const *p = c.parts;
		EXPECT_EQ(join_length(p[0], p[1], p[2], p[3], nullptr),
		          concatenation(c).size());
	}
}

// JOIN each case into a guarded buffer: it must return the buffer and write
// the joined strings and one nul, and nothing after them.
void
expect_joined_into_buffer(char *(*join)(char *buf, const char *const *p))
{
	for (const join_case &c : join_cases) {
		SCOPED_TRACE(describe(c));
		std::string want = concatenation(c);
		char buf[64];
		memset(buf, guard, sizeof buf);
		EXPECT_EQ(join(buf, c.parts), buf);
		EXPECT_EQ(std::string(buf, want.size() + 1),
		          std::string(want.c_str(), want.size() + 1));
		EXPECT_EQ(buf[want.size() + 1], guard);
	}
}

TEST(JoinInto, WritesTheStringsAndOneNulOnly)
{
	expect_joined_into_buffer([](char *buf, const char *const *p) {
		return join_into(buf, p[0], p[1], p[2], p[3], nullptr);
	});
}

TEST(JoinInto, EmptyListWritesOnlyTheNul)
{
	char buf[2] = {guard, guard};
	EXPECT_EQ(join_into(buf, static_cast<const char *>(nullptr), nullptr),
	          buf);
	EXPECT_EQ(buf[0], '\0');
	EXPECT_EQ(buf[1], guard);
}

TEST(JoinIntoScratch, WritesIntoTheScratchBufferAndReturnsIt)
{
	expect_joined_into_buffer([](char *buf, const char *const *p) {
		join_scratch_buffer = buf;
		return join_into_scratch(p[0], p[1], p[2], p[3], nullptr);
	});
	join_scratch_buffer = nullptr;
}

TEST(JoinIntoScratch, FitsABufferOfExactlyLengthPlusOne)
{
	// Under the sanitizer build a write past the heap block is caught.
	size_t size = join_length("/usr/", "bin/", "ar", nullptr) + 1;
	char *buf = static_cast<char *>(checked_malloc(size));
	join_scratch_buffer = buf;
	EXPECT_STREQ(join_into_scratch("/usr/", "bin/", "ar", nullptr),
	             "/usr/bin/ar");
	join_scratch_buffer = nullptr;
	free(buf);
}

// join_strings, and rejoin_strings with no old string and with one it frees
// (the sanitizer build reports it as a leak otherwise), each give a fresh
// heap string.
TEST(JoinStrings, ConcatenatesIntoAFreshHeapString)
{
	for (const join_case &c : join_cases) {
		SCOPED_TRACE(describe(c));
		const char *const *p = c.parts;
		char *joined[] = {
		    join_strings(p[0], p[1], p[2], p[3], nullptr),
		    rejoin_strings(nullptr, p[0], p[1], p[2], p[3], nullptr),
		    rejoin_strings(checked_strdup("old"), p[0], p[1], p[2],
		                   p[3], nullptr),
		};
		for (char *s : joined) {
			ASSERT_NE(s, nullptr);
			EXPECT_STREQ(s, concatenation(c).c_str());
			for (const char *part : c.parts)
				EXPECT_NE(s, part);
			free(s);
		}
	}
}

TEST(JoinStrings, EmptyListGivesEmptyHeapString)
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
	char *s = join_strings(nullptr);
#pragma GCC diagnostic pop
	ASSERT_NE(s, nullptr);
	EXPECT_STREQ(s, "");
	free(s);
}

TEST(JoinStrings, SingleStringGivesIndependentCopy)
{
	char original[] = "plugin";
	char *s = join_strings(original, nullptr);
	ASSERT_NE(s, nullptr);
	EXPECT_NE(s, original);
	EXPECT_STREQ(s, "plugin");
	s[0] = 'P';
	EXPECT_STREQ(original, "plugin");
	free(s);
}

TEST(JoinStrings, LongStringsJoinWhole)
{
	std::string a(5000, 'a'), b(3000, 'b');
	char *s = join_strings(a.c_str(), b.c_str(), nullptr);
	EXPECT_EQ(s, a + b);
	free(s);
}

TEST(RejoinStrings, OldStringWithEmptyListGivesEmptyString)
{
	char *old = checked_strdup("old");
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
	char *s = rejoin_strings(old, nullptr);
#pragma GCC diagnostic pop
	ASSERT_NE(s, nullptr);
	EXPECT_STREQ(s, "");
	free(s);
}

TEST(RejoinStrings, OldStringMayAppearInTheList)
{
	char *s = checked_strdup("head");
	s = rejoin_strings(s, s, "-tail", nullptr);
	EXPECT_STREQ(s, "head-tail");
	s = rejoin_strings(s, "pre-", s, nullptr);
	EXPECT_STREQ(s, "pre-head-tail");
	s = rejoin_strings(s, s, "|", s, nullptr);
	EXPECT_STREQ(s, "pre-head-tail|pre-head-tail");
	free(s);
}

TEST(RejoinStrings, RepeatedExtensionKeepsEveryPiece)
{
	char *s = checked_strdup("");
	std::string want;
	for (int i = 0; i < 200; i++) {
		std::string piece = std::to_string(i) + ",";
		s = rejoin_strings(s, s, piece.c_str(), nullptr);
		want += piece;
	}
	EXPECT_EQ(s, want);
	free(s);
}

} // namespace
