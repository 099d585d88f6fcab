/*
 * Prefix lists: building them (order, splitting, longest prefix) and
 * looking files up through them in a small tree in the scratch directory,
 * with the trace lines checked byte for byte.
 */
#include "findfile/prefix_list.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "lists.h"
#include "testkit.h"

namespace {

// Up to four strings, ending at the first null.
std::vector<std::string>
strings(const char *const (&texts)[4])
{
	std::vector<std::string> v;
	for (const char *t : texts) {
		if (t == nullptr)
			break;
		v.push_back(t);
	}
	return v;
}

int
max_length(const std::vector<std::string> &texts)
{
	size_t longest = 0;
	for (const std::string &t : texts)
		longest = std::max(longest, t.size());
	return static_cast<int>(longest);
}

const char test_variable[] = "VEK_PREFIX_LIST_TEST_VARIABLE";

class PrefixListTest : public ScratchTest {
      protected:
	void TearDown() override
	{
		set_lookup_trace(false);
		free_list(&list);
		ScratchTest::TearDown();
	}

	prefix_list list{};
	scoped_env variable{test_variable, nullptr};
};

TEST_F(PrefixListTest, NewListIsEmpty)
{
	EXPECT_EQ(list.entries, nullptr);
	EXPECT_EQ(list.longest_prefix, 0);
}

TEST_F(PrefixListTest, AppendGoesLastAndPrependFirst)
{
	static const struct {
		const char *initial[4];
		bool at_front;
		const char *want[4];
	} cases[] = {
	    {{"/a/", "/b/"}, false, {"/a/", "/b/", "/c/"}},
	    {{"/a/", "/b/"}, true, {"/c/", "/a/", "/b/"}},
	    {{}, false, {"/c/"}},
	    {{}, true, {"/c/"}},
	    {{"/c/"}, false, {"/c/", "/c/"}},
	    {{"/c/"}, true, {"/c/", "/c/"}},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(testing::Message()
		             << (c.at_front ? "prepend" : "append") << " to "
		             << testing::PrintToString(strings(c.initial)));
		for (const std::string &p : strings(c.initial))
			prefix_append(&list, p.c_str());
		if (c.at_front)
			prefix_prepend(&list, "/c/");
		else
			prefix_append(&list, "/c/");
		EXPECT_EQ(list_texts(list), strings(c.want));
		free_list(&list);
	}
}

TEST_F(PrefixListTest, AddTakesThePrefixAsGivenAndKeepsACopy)
{
	char text[] = "no-slash";
	prefix_add(&list, text, false);
	text[0] = 'X';
	prefix_add(&list, "", true);
	EXPECT_EQ(list_texts(list), (std::vector<std::string>{"", "no-slash"}));
	EXPECT_NE(list.entries->next_entry->prefix_text, text);
}

TEST_F(PrefixListTest, LongestPrefixIsTheMaximumEverAdded)
{
	static const struct {
		const char *prefix;
		bool at_front;
		int longest;
	} steps[] = {
	    {"/ab/", false, 4},    {"/a/", false, 4},      {"", true, 4},
	    {"/abcdef/", true, 8}, {"/abcdefg", false, 8}, {"x", false, 8},
	};
	for (const auto &s : steps) {
		SCOPED_TRACE(s.prefix);
		prefix_add(&list, s.prefix, s.at_front);
		EXPECT_EQ(list.longest_prefix, s.longest);
	}
}

struct split_case {
	const char *text;
	const char *want[4];
};

const split_case split_cases[] = {
    {"/a:/b/", {"/a/", "/b/"}},
    {"", {"./"}},
    {":", {"./", "./"}},
    {"a::", {"a/", "./", "./"}},
    {":b", {"./", "b/"}},
    {"/", {"/"}},
    {"dir//", {"dir//"}},
    {"/usr/bin:/bin:.", {"/usr/bin/", "/bin/", "./"}},
};

TEST_F(PrefixListTest, StringSplitsAtEveryColon)
{
	for (const split_case &c : split_cases) {
		SCOPED_TRACE(testing::Message() << "'" << c.text << "'");
		prefixes_from_string(c.text, &list);
		EXPECT_EQ(list_texts(list), strings(c.want));
		EXPECT_EQ(list.longest_prefix, max_length(strings(c.want)));
		free_list(&list);
	}
}

TEST_F(PrefixListTest, StringAppendsAfterExistingEntries)
{
	prefix_append(&list, "/first/");
	prefixes_from_string("x:y", &list);
	EXPECT_EQ(list_texts(list),
	          (std::vector<std::string>{"/first/", "x/", "y/"}));
	EXPECT_EQ(list.longest_prefix, 7);
}

TEST_F(PrefixListTest, EnvironmentValueIsSplitLikeAString)
{
	for (const split_case &c : split_cases) {
		SCOPED_TRACE(testing::Message() << "'" << c.text << "'");
		variable.set(c.text);
		prefixes_from_env(test_variable, &list);
		EXPECT_EQ(list_texts(list), strings(c.want));
		free_list(&list);
	}
}

TEST_F(PrefixListTest, UnsetVariableAddsNothing)
{
	prefixes_from_env(test_variable, &list);
	EXPECT_EQ(list.entries, nullptr);
	EXPECT_EQ(list.longest_prefix, 0);
}

TEST_F(PrefixListTest, TraceShowsEachPrefixAddedFromAString)
{
	static const struct {
		const char *text;
		const char *want;
	} cases[] = {
	    {"/a:b:", "Convert string '/a:b:' into prefixes, separator = "
	              "':'\n  - add prefix: /a/\n  - add prefix: b/\n"
	              "  - add prefix: ./\n"},
	    {"", "Convert string '' into prefixes, separator = ':'\n"
	         "  - add prefix: ./\n"},
	};
	for (bool trace : {false, true}) {
		set_lookup_trace(trace);
		for (const auto &c : cases) {
			SCOPED_TRACE(testing::Message()
			             << "trace " << trace << " '" << c.text
			             << "'");
			testing::internal::CaptureStderr();
			prefixes_from_string(c.text, &list);
			EXPECT_EQ(testing::internal::GetCapturedStderr(),
			          trace ? c.want : "");

			variable.set(c.text);
			testing::internal::CaptureStderr();
			prefixes_from_env(test_variable, &list);
			EXPECT_EQ(testing::internal::GetCapturedStderr(),
			          trace ? c.want : "");
		}
	}
	variable.set(nullptr);
	testing::internal::CaptureStderr();
	prefixes_from_env(test_variable, &list);
	EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// A lookup: PREFIXES are separated by spaces, '@' is the tree's root, and
// "(null)" means nothing is found.
struct lookup_case {
	const char *what;
	const char *prefixes;
	const char *name;
	int mode;
	const char *want;
};

/*
 * The lookup tree, in the scratch directory:
 *   exec/tool     mode 0755    second/tool   mode 0755
 *   plain/tool    mode 0644    shadow/tool/  a directory, mode 0755
 */
class FindInPrefixesTest : public PrefixListTest {
      protected:
	void SetUp() override
	{
		PrefixListTest::SetUp();
		write("exec/tool", "", 0755);
		write("second/tool", "", 0755);
		write("plain/tool", "", 0644);
		make_dir("shadow/tool");
	}

	// Looks NAME up and returns what was found, "(null)" for nothing.
	std::string lookup(const std::string &name, int mode)
	{
		char *found = find_in_prefixes(&list, name.c_str(), mode);
		std::string result = found != nullptr ? found : "(null)";
		free(found);
		return result;
	}

	// Append PREFIXES, '@' expanded.
	void fill(const char *prefixes)
	{
		std::istringstream words(expand(prefixes));
		for (std::string p; words >> p;)
			prefix_append(&list, p.c_str());
	}

	void expect_lookup(const lookup_case &c)
	{
		SCOPED_TRACE(c.what);
		fill(c.prefixes);
		EXPECT_EQ(lookup(expand(c.name), c.mode), expand(c.want));
		free_list(&list);
	}
};

TEST_F(FindInPrefixesTest, FirstAcceptableCandidateWins)
{
	static const lookup_case cases[] = {
	    {"list order", "@/exec/ @/second/", "tool", X_OK, "@/exec/tool"},
	    {"missing skipped", "@/none/ @/second/", "tool", X_OK,
	     "@/second/tool"},
	    {"directory skipped", "@/shadow/ @/second/", "tool", X_OK,
	     "@/second/tool"},
	    {"directory never found", "@/shadow/", "tool", R_OK, "(null)"},
	    {"not executable skipped", "@/plain/ @/second/", "tool", X_OK,
	     "@/second/tool"},
	    {"readable for R_OK", "@/plain/ @/second/", "tool", R_OK,
	     "@/plain/tool"},
	    {"existence for F_OK", "@/plain/", "tool", F_OK, "@/plain/tool"},
	    {"nothing acceptable", "@/none/ @/plain/ @/shadow/", "tool", X_OK,
	     "(null)"},
	    {"joined without a slash", "@/exec/to", "ol", X_OK, "@/exec/tool"},
	    {"name with a directory", "@/", "second/tool", X_OK,
	     "@/second/tool"},
	    {"long prefix before a short one",
	     "@/a-very-long-directory-name-that-does-not-exist-anywhere-at-all/"
	     "and-another-level-to-make-it-longer-still/ @/",
	     "exec/tool", X_OK, "@/exec/tool"},
	    {"relative name, empty list", "", "tool", X_OK, "(null)"},
	    // An absolute name is checked alone, on access only.
	    {"executable file", "@/second/", "@/exec/tool", X_OK,
	     "@/exec/tool"},
	    {"empty list", "", "@/exec/tool", X_OK, "@/exec/tool"},
	    {"directory granting the mode", "", "@/shadow/tool", X_OK,
	     "@/shadow/tool"},
	    {"not executable", "@/second/", "@/plain/tool", X_OK, "(null)"},
	    {"missing", "@/second/", "@/none/tool", R_OK, "(null)"},
	    {"list not consulted", "@", "/exec/tool", X_OK, "(null)"},
	};
	ASSERT_NE(access("/exec/tool", F_OK), 0) << "the host has /exec/tool";
	for (const lookup_case &c : cases)
		expect_lookup(c);
}

TEST_F(FindInPrefixesTest, RelativePrefixesFollowTheCurrentDirectory)
{
	ASSERT_EQ(chdir(path("exec").c_str()), 0);
	prefix_append(&list, "");
	EXPECT_EQ(lookup("tool", X_OK), "tool");
	free_list(&list);
	prefixes_from_string("../none:../second", &list);
	EXPECT_EQ(lookup("tool", X_OK), "../second/tool");
}

// Each candidate handed to record_tried, followed by a space; the one
// refuse_one passes over.
std::string tried, refused;

void
record_tried(const char *candidate)
{
	tried = tried + candidate + " ";
}

bool
refuse_one(const char *candidate, const struct stat *st, bool)
{
	return S_ISREG(st->st_mode) && candidate == refused;
}

TEST_F(FindInPrefixesTest, HooksSeeEachCandidateAndMayPassOneOver)
{
	static const struct {
		const char *prefixes;
		const char *name;
		const char *refuse; /* passed over where it would win */
		const char *want;   /* tried, then "= " and what was found */
	} cases[] = {
	    {"@/plain/ @/exec/ @/second/", "tool", "",
	     "@/plain/tool @/exec/tool = @/exec/tool"},
	    {"@/plain/ @/exec/ @/second/", "tool", "@/exec/tool",
	     "@/plain/tool @/exec/tool @/second/tool = @/second/tool"},
	    {"@/exec/", "tool", "@/exec/tool", "@/exec/tool = (null)"},
	    // The caller named it: nothing to pass over.
	    {"@/second/", "@/exec/tool", "@/exec/tool",
	     "@/exec/tool = @/exec/tool"},
	};
	const struct lookup_hooks hooks = {record_tried, refuse_one};
	for (const auto &c : cases) {
		fill(c.prefixes);
		tried.clear();
		refused = expand(c.refuse);
		char *found = find_in_prefixes_hooked(
		    &list, expand(c.name).c_str(), X_OK, &hooks);
		EXPECT_EQ(tried + "= " + (found ? found : "(null)"),
		          expand(c.want))
		    << c.name;
		free(found);
		free_list(&list);
	}
}

TEST_F(FindInPrefixesTest, TraceLinesOnlyWhenTurnedOn)
{
	static const struct {
		const char *what;
		const char *prefixes;
		const char *name;
		const char *want;
	} cases[] = {
	    {"relative, empty list", "", "tool",
	     "Looking for 'tool'\n  - failed: no entries in prefix list\n"},
	    {"relative, found", "@/exec/", "tool", "Looking for 'tool'\n"},
	    {"relative, not found", "@/plain/", "tool", "Looking for 'tool'\n"},
	    {"absolute, found", "", "@/exec/tool",
	     "Looking for '@/exec/tool'\n  - found: absolute path\n"},
	    {"absolute, not found", "@/exec/", "@/plain/tool",
	     "Looking for '@/plain/tool'\n"
	     "  - failed to locate using absolute path\n"},
	    {"absolute, not found, empty list", "", "@/plain/tool",
	     "Looking for '@/plain/tool'\n"
	     "  - failed to locate using absolute path\n"
	     "  - failed: no entries in prefix list\n"},
	};
	for (bool trace : {false, true}) {
		set_lookup_trace(trace);
		for (const auto &c : cases) {
			SCOPED_TRACE(testing::Message()
			             << "trace " << trace << ": " << c.what);
			fill(c.prefixes);
			testing::internal::CaptureStderr();
			lookup(expand(c.name), X_OK);
			EXPECT_EQ(testing::internal::GetCapturedStderr(),
			          trace ? expand(c.want) : "");
			free_list(&list);
		}
	}
}

} // namespace
