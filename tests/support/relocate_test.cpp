// Tests for the relative prefix computation and the path helpers.  Cases
// that only compute on strings run against the usual build-time layout;
// cases that look at files build their own tree in the scratch directory,
// with $PATH and the working directory set by the test.
#include "support/relocate.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testkit.h"

namespace {

const char bin_prefix[] = "/usr/local/bin/";
const char lib_prefix[] = "/usr/local/lib/vek14/vek/";
const char libexec_prefix[] = "/usr/local/libexec/vek14/vek/";

// Takes over a malloc'd result so that a failing check cannot leak it.
std::optional<std::string>
take(char *result)
{
	if (result == nullptr)
		return std::nullopt;
	std::string text(result);
	free(result);
	return text;
}

std::optional<std::string>
no_links(const char *prog, const char *bin, const char *target)
{
	return take(relative_prefix_no_links(prog, bin, target));
}

// relative_prefix, checked against the program located once and taken
// without links, which must give the same.
std::optional<std::string>
with_links(const char *prog, const char *bin, const char *target)
{
	std::optional<std::string> direct =
	    take(relative_prefix(prog, bin, target));
	char *located = program_location(prog);
	EXPECT_EQ(take(relative_prefix_no_links(located, bin, target)), direct)
	    << (prog != nullptr ? prog : "(null)");
	free(located);
	return direct;
}

// ---------------------------------------------------------------------
// The computation on strings alone: every program path holds a '/', so
// $PATH is not consulted, and without link resolution no file is touched.

struct prefix_case {
	const char *prog;
	const char *bin;
	const char *target;
	const char *want; // null: no relocation
};

const prefix_case string_cases[] = {
    // The layout moved as a whole.
    {"/opt/tc/bin/vek-ar", bin_prefix, lib_prefix,
     "/opt/tc/bin/../lib/vek14/vek/"},
    {"/opt/tc/bin/vek-ar", bin_prefix, libexec_prefix,
     "/opt/tc/bin/../libexec/vek14/vek/"},
    // Still in the build-time place.
    {"/usr/local/bin/vek-ar", bin_prefix, lib_prefix, nullptr},
    {"/usr/local/bin/vek-ar", bin_prefix, libexec_prefix, nullptr},
    // Deeper and shallower program directories.
    {"/home/u/tc/x/bin/vek-ar", bin_prefix, lib_prefix,
     "/home/u/tc/x/bin/../lib/vek14/vek/"},
    {"/vek-ar", bin_prefix, lib_prefix, "/../lib/vek14/vek/"},
    // A doubled separator is a different component when taken as given.
    {"/usr//local/bin/vek-ar", bin_prefix, lib_prefix,
     "/usr//local/bin/../lib/vek14/vek/"},
    // Same bin and target: the program's directory itself.
    {"/opt/tc/bin/vek-ar", bin_prefix, bin_prefix, "/opt/tc/bin/"},
    // A target wholly inside the bin prefix's leading part.
    {"/opt/tc/bin/vek-ar", bin_prefix, "/usr/local/", "/opt/tc/bin/../"},
    // Sharing only "/usr/": two levels up from the bin directory.
    {"/opt/tc/bin/vek-ar", bin_prefix, "/usr/share/x/",
     "/opt/tc/bin/../../share/x/"},
    // No shared first component: no way from one to the other.
    {"/opt/tc/bin/vek-ar", bin_prefix, "lib/", nullptr},
    // The target's trailing '/' is carried over, or its absence.
    {"/opt/tc/bin/vek-ar", bin_prefix, "/usr/local/lib/x",
     "/opt/tc/bin/../lib/x"},
    // A bin prefix without '/' at the end never matches a directory...
    {"/usr/local/bin/vek-ar", "/usr/local/bin", lib_prefix,
     "/usr/local/bin/../lib/vek14/vek/"},
    // ...and so also counts its last component as one to climb out of.
    {"/opt/tc/bin/vek-ar", "/usr/local/bin", lib_prefix,
     "/opt/tc/bin/../lib/vek14/vek/"},
    // A relative program path keeps its relative form.
    {"tc/bin/vek-ar", bin_prefix, lib_prefix, "tc/bin/../lib/vek14/vek/"},
    {"./vek-ar", bin_prefix, lib_prefix, "./../lib/vek14/vek/"},
    // Relative prefixes relocate the same way.
    {"/opt/tc/bin/vek-ar", "usr/bin/", "usr/lib/", "/opt/tc/bin/../lib/"},
    // Empty strings split into nothing.
    {"/opt/tc/bin/vek-ar", "", lib_prefix, nullptr},
    {"/opt/tc/bin/vek-ar", bin_prefix, "", nullptr},
    // Null arguments.
    {nullptr, bin_prefix, lib_prefix, nullptr},
    {"/opt/tc/bin/vek-ar", nullptr, lib_prefix, nullptr},
    {"/opt/tc/bin/vek-ar", bin_prefix, nullptr, nullptr},
};

TEST(RelativePrefixStrings, MatchesTable)
{
	for (const prefix_case &c : string_cases) {
		SCOPED_TRACE(std::string("prog=") +
		             (c.prog ? c.prog : "(null)") +
		             " bin=" + (c.bin ? c.bin : "(null)") +
		             " target=" + (c.target ? c.target : "(null)"));
		auto got = no_links(c.prog, c.bin, c.target);
		if (c.want == nullptr)
			EXPECT_EQ(got, std::nullopt);
		else
			EXPECT_EQ(got, std::optional<std::string>(c.want));
	}
}

TEST(RelativePrefixStrings, ArgumentsAreNotChanged)
{
	char prog[] = "/usr//local/bin/vek-ar";
	char bin[] = "/usr/local/bin/";
	char target[] = "/usr/local/lib/x/";
	free(relative_prefix_no_links(prog, bin, target));
	EXPECT_STREQ(prog, "/usr//local/bin/vek-ar");
	EXPECT_STREQ(bin, "/usr/local/bin/");
	EXPECT_STREQ(target, "/usr/local/lib/x/");
}

// ---------------------------------------------------------------------
// Cases that look at files: a tree in the scratch directory, '@' below.
//   opt/tc/bin/vek-ar, usr/local/bin/vek-ar, b/vek-ar, cwd/vek-ar  0755
//   moved/usr/local/bin/vek-ar -> @/opt/tc/bin/vek-ar, the tree moved
//   away and reached through a link left at the build-time place
//   dir/vek-ar/  a directory        noexec/vek-ar  mode 0644
//   empty/       the working directory unless a case says otherwise

class RelativePrefixTree : public ScratchTest {
      protected:
	void SetUp() override
	{
		ScratchTest::SetUp();
		for (const char *dir :
		     {"opt/tc/bin", "usr/local/bin", "b", "cwd"})
			write(std::string(dir) + "/vek-ar", "", 0755);
		make_dir("moved/usr/local/bin");
		ASSERT_EQ(symlink(path("opt/tc/bin/vek-ar").c_str(),
		                  path("moved/usr/local/bin/vek-ar").c_str()),
		          0);
		make_dir("dir/vek-ar");
		write("noexec/vek-ar", "", 0644);
		ASSERT_EQ(chdir(make_dir("empty").c_str()), 0);
	}
};

// Every result climbs to lib/vek14/vek/ from a directory: PLAIN is the one
// relative_prefix_no_links gives, LINKED the one relative_prefix gives, null
// for no relocation; '@' is the tree.
struct tree_case {
	const char *what;
	const char *path; // $PATH; null: unset
	const char *cwd;
	const char *prog, *bin, *target;
	const char *plain, *linked;
};

const tree_case tree_cases[] = {
    {"doubled separator resolved away", nullptr, "empty",
     "@/usr//local/bin/vek-ar", "@/usr/local/bin/",
     "@/usr/local/lib/vek14/vek/", "@/usr//local/bin/", nullptr},
    {"link to the moved program followed", nullptr, "empty",
     "@/moved/usr/local/bin/vek-ar", "@/moved/usr/local/bin/",
     "@/moved/usr/local/lib/vek14/vek/", nullptr, "@/opt/tc/bin/"},
    {"missing program taken as given", nullptr, "empty", "@/nowhere/bin/vek-ar",
     bin_prefix, lib_prefix, "@/nowhere/bin/", "@/nowhere/bin/"},
    {"bare name found in the bin prefix: same place", "@/usr/local/bin",
     "empty", "vek-ar", "@/usr/local/bin/", "@/usr/local/lib/vek14/vek/",
     nullptr, nullptr},
    {"empty program name", "@/opt/tc/bin::", "cwd", "", bin_prefix, lib_prefix,
     nullptr, nullptr},
    // A bare name looked up through $PATH; "A::B/" is A/vek-ar, then
    // ./vek-ar, then B/vek-ar, with no second '/' after B.
    {"found through PATH", "@/opt/tc/bin", "empty", "vek-ar", bin_prefix,
     lib_prefix, "@/opt/tc/bin/", "@/opt/tc/bin/"},
    {"only in the last element", "@/empty::@/b/", "empty", "vek-ar", bin_prefix,
     lib_prefix, "@/b/", "@/b/"},
    {"empty element is the current directory", "@/empty::@/b/", "cwd", "vek-ar",
     bin_prefix, lib_prefix, "./", "@/cwd/"},
    {"first element wins", "@/opt/tc/bin::@/b/", "cwd", "vek-ar", bin_prefix,
     lib_prefix, "@/opt/tc/bin/", "@/opt/tc/bin/"},
    {"nowhere: the bare name stays", "@/empty::@/empty/", "empty", "vek-ar",
     bin_prefix, lib_prefix, "", ""},
    {"empty PATH is the current directory", "", "cwd", "vek-ar", bin_prefix,
     lib_prefix, "./", "@/cwd/"},
    {"executable directory passed over", "@/dir:@/b", "empty", "vek-ar",
     bin_prefix, lib_prefix, "@/b/", "@/b/"},
    {"file without execute bit passed over", "@/noexec:@/b", "empty", "vek-ar",
     bin_prefix, lib_prefix, "@/b/", "@/b/"},
    {"PATH unset: the name as given", nullptr, "empty", "vek-ar", bin_prefix,
     lib_prefix, "", ""},
    // Taken as given, the name has no directory part, but realpath still
    // finds it relative to the working directory.
    {"PATH unset: the current directory is not searched", nullptr, "cwd",
     "vek-ar", bin_prefix, lib_prefix, "", "@/cwd/"},
};

TEST_F(RelativePrefixTree, MatchesTable)
{
	auto want = [this](const char *dir) {
		return dir != nullptr ? std::optional<std::string>(
		                            expand(dir) + "../lib/vek14/vek/")
		                      : std::nullopt;
	};
	for (const tree_case &c : tree_cases) {
		SCOPED_TRACE(c.what);
		scoped_env search("PATH",
		                  c.path ? expand(c.path).c_str() : nullptr);
		ASSERT_EQ(chdir(path(c.cwd).c_str()), 0);
		std::string prog = expand(c.prog), bin = expand(c.bin),
		            target = expand(c.target);
		EXPECT_EQ(no_links(prog.c_str(), bin.c_str(), target.c_str()),
		          want(c.plain));
		EXPECT_EQ(with_links(prog.c_str(), bin.c_str(), target.c_str()),
		          want(c.linked));
	}
}

// The candidate buffer holds the whole $PATH; past the stack's share it
// comes from the heap, which the sanitizer build checks for overruns.
TEST_F(RelativePrefixTree, LongPathStillFindsProgram)
{
	std::string want = path("b/../lib/vek14/vek/");
	scoped_env search("PATH", nullptr);
	// Sizes around the stack limit and well past it.
	for (size_t filler :
	     {3900u, 3990u, 4000u, 4010u, 4020u, 4030u, 8000u, 70000u}) {
		SCOPED_TRACE(filler);
		std::string junk = "/nonexistent/" + std::string(filler, 'x');
		search.set((junk + ":" + path("b")).c_str());
		EXPECT_EQ(no_links("vek-ar", bin_prefix, lib_prefix), want);
		search.set(
		    (path("empty") + ":" + junk + "::" + junk + ":" + path("b"))
		        .c_str());
		EXPECT_EQ(no_links("vek-ar", bin_prefix, lib_prefix), want);
	}
}

TEST_F(RelativePrefixTree, LongFoundElementAroundStackLimit)
{
	std::string want = path("b/../lib/vek14/vek/");
	scoped_env search("PATH", nullptr);
	// The winning element is itself long, "b" reached through runs of
	// "/.", with PATH lengths on both sides of the stack limit.  The
	// candidate stays within PATH_MAX so that access() can look at it.
	for (size_t length = 4001; length < 4085; length += 2) {
		std::string element = root;
		while (element.size() + 2 < length)
			element += "/.";
		element += "/b";
		SCOPED_TRACE(element.size());
		search.set(element.c_str());
		EXPECT_EQ(no_links("vek-ar", bin_prefix, lib_prefix),
		          element + "/../lib/vek14/vek/");
		EXPECT_EQ(with_links("vek-ar", bin_prefix, lib_prefix), want);
	}
}

// ---------------------------------------------------------------------
// Splitting into components.

struct split_case {
	const char *path;
	std::vector<std::string> want;
};

const split_case split_cases[] = {
    {"/usr/local/bin/", {"/", "usr/", "local/", "bin/"}},
    {"//a//b", {"//", "a//", "b"}},
    {"abc", {"abc"}},
    {"/", {"/"}},
    {"///", {"///"}},
    {"a/", {"a/"}},
    {"a/b", {"a/", "b"}},
    {"/usr//local/bin/vek-ar", {"/", "usr//", "local/", "bin/", "vek-ar"}},
    {"./../x", {"./", "../", "x"}},
    {"a b/\t/c", {"a b/", "\t/", "c"}},
};

TEST(SplitPathComponents, MatchesTable)
{
	for (const split_case &c : split_cases) {
		SCOPED_TRACE(c.path);
		int count = -7;
		char **components = split_path_components(c.path, &count);
		ASSERT_NE(components, nullptr);
		std::vector<std::string> got;
		std::string joined;
		for (char **p = components; *p != nullptr; p++) {
			got.push_back(*p);
			joined += *p;
			free(*p);
		}
		free(components);
		EXPECT_EQ(got, c.want);
		EXPECT_EQ(count, static_cast<int>(c.want.size()));
		EXPECT_EQ(joined, c.path);
	}
}

TEST(SplitPathComponents, EmptyGivesNullAndLeavesCount)
{
	int count = 42;
	EXPECT_EQ(split_path_components("", &count), nullptr);
	EXPECT_EQ(count, 42);
	EXPECT_EQ(split_path_components("", nullptr), nullptr);
}

TEST(SplitPathComponents, CountIsOptional)
{
	char **components = split_path_components("/a/b", nullptr);
	ASSERT_NE(components, nullptr);
	EXPECT_STREQ(components[0], "/");
	EXPECT_STREQ(components[1], "a/");
	EXPECT_STREQ(components[2], "b");
	EXPECT_EQ(components[3], nullptr);
	for (char **p = components; *p != nullptr; p++)
		free(*p);
	free(components);
}

TEST(SplitPathComponents, OneComponentWritesOne)
{
	int count = 0;
	char **components = split_path_components("a", &count);
	ASSERT_NE(components, nullptr);
	EXPECT_EQ(count, 1);
	free(components[0]);
	free(components);
}

// ---------------------------------------------------------------------
// Base names.

struct basename_case {
	const char *path;
	size_t want_offset; // where in PATH the base name starts
};

const basename_case basename_cases[] = {
    {"a/b", 2}, {"a/b/", 4}, {"abc", 0},         {"/", 1},  {"", 0},
    {"//x", 2}, {"a\\b", 0}, {"/usr/bin/ar", 9}, {"C:x", 0}};

TEST(PathBasename, MatchesTable)
{
	for (const basename_case &c : basename_cases) {
		SCOPED_TRACE(c.path);
		EXPECT_EQ(path_basename(c.path), c.path + c.want_offset);
	}
}

const basename_case dos_cases[] = {
    {"C:foo", 2},
    {"C:", 2},
    {"z:\\dir\\name", 7},
    {"dir/sub\\name", 8},
    {"1:x", 0}, // a digit is no drive letter
    {":x", 0},
    {"\xe9:x", 0}, // nor is a byte above 127
    {"C:/a/b", 5},
    {"ab:c", 0}, // the drive is only the first two bytes
    {"a/b\\", 4},
    {"", 0},
    {"C", 0},
};

TEST(PathBasenameDos, MatchesTable)
{
	for (const basename_case &c : dos_cases) {
		SCOPED_TRACE(c.path);
		EXPECT_EQ(path_basename_dos(c.path), c.path + c.want_offset);
	}
}

// ---------------------------------------------------------------------
// Canonical copies.

using RealPathDup = RelativePrefixTree;

// Only a path spelled canonically and free of links is its own real path.
TEST_F(RealPathDup, Canonicalizes)
{
	ASSERT_EQ(symlink("opt/tc", path("linked").c_str()), 0);
	const struct {
		std::string given, real;
	} cases[] = {
	    {path("opt/tc/bin/vek-ar"), path("opt/tc/bin/vek-ar")},
	    {path("moved/usr//local/./bin/vek-ar"), path("opt/tc/bin/vek-ar")},
	    {path("linked/bin/vek-ar"), path("opt/tc/bin/vek-ar")},
	    {path("opt/tc/../tc/bin/"), path("opt/tc/bin")},
	    {path("opt/tc/bin/."), path("opt/tc/bin")},
	    {"../opt/tc/bin", path("opt/tc/bin")},
	};
	for (const auto &c : cases) {
		char *got = real_path_dup(c.given.c_str());
		ASSERT_NE(got, nullptr) << c.given;
		EXPECT_EQ(std::string(got), c.real) << c.given;
		free(got);
	}
}

TEST_F(RealPathDup, CopiesPathThatFails)
{
	const std::string missing = path("no/such//file");
	char *got = real_path_dup(missing.c_str());
	ASSERT_NE(got, nullptr);
	EXPECT_NE(got, missing.c_str());
	EXPECT_EQ(std::string(got), missing);
	free(got);

	got = real_path_dup("");
	ASSERT_NE(got, nullptr);
	EXPECT_STREQ(got, "");
	free(got);
}

} // namespace
