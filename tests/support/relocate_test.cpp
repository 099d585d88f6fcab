// Tests for the relative prefix computation and the path helpers.  Cases
// that only compute on strings run against the usual build-time layout;
// cases that look at files build their own tree under a fresh temporary
// directory, with $PATH and the working directory set by the test.
#include "support/relocate.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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

// $PATH as the test wants it, put back on the way out.
class path_setting {
      public:
	path_setting()
	{
		const char *old = getenv("PATH");
		if (old != nullptr)
			saved = old;
	}
	~path_setting()
	{
		if (saved)
			setenv("PATH", saved->c_str(), 1);
		else
			unsetenv("PATH");
	}
	void set(const std::string &value)
	{
		setenv("PATH", value.c_str(), 1);
	}
	void unset()
	{
		unsetenv("PATH");
	}

      private:
	std::optional<std::string> saved;
};

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
// Cases that look at files: a tree under a fresh temporary directory.

class RelativePrefixTree : public ::testing::Test {
      protected:
	void SetUp() override
	{
		char templ[] = "/tmp/relocate_test.XXXXXX";
		ASSERT_NE(mkdtemp(templ), nullptr);
		// The tree's own path must hold no link for the resolved
		// results to be predictable.
		char *real = realpath(templ, nullptr);
		ASSERT_NE(real, nullptr);
		root = real;
		free(real);
		saved_cwd = open(".", O_RDONLY | O_DIRECTORY);
		ASSERT_GE(saved_cwd, 0);

		make_dir("opt/tc/bin");
		make_file("opt/tc/bin/vek-ar", 0755);
		make_dir("usr/local/bin");
		make_file("usr/local/bin/vek-ar", 0755);
		// A tree moved away from its build-time place and reached
		// through a link left at the old place.
		make_dir("moved/usr/local/bin");
		ASSERT_EQ(symlink(at("opt/tc/bin/vek-ar").c_str(),
		                  at("moved/usr/local/bin/vek-ar").c_str()),
		          0);
		make_dir("a");
		make_dir("b");
		make_dir("cwd");
		make_dir("empty");
		ASSERT_EQ(chdir(at("cwd").c_str()), 0);
	}

	void TearDown() override
	{
		if (saved_cwd >= 0) {
			EXPECT_EQ(fchdir(saved_cwd), 0);
			close(saved_cwd);
		}
		if (!root.empty()) {
			std::error_code error;
			std::filesystem::remove_all(root, error);
			EXPECT_FALSE(error) << error.message();
		}
	}

	std::string at(const std::string &relative) const
	{
		return root + "/" + relative;
	}

	void make_dir(const std::string &relative)
	{
		std::error_code error;
		std::filesystem::create_directories(at(relative), error);
		ASSERT_FALSE(error) << relative << ": " << error.message();
	}

	void make_file(const std::string &relative, mode_t mode)
	{
		int fd = open(at(relative).c_str(), O_WRONLY | O_CREAT | O_EXCL,
		              mode);
		ASSERT_GE(fd, 0) << relative;
		close(fd);
		ASSERT_EQ(chmod(at(relative).c_str(), mode), 0);
	}

	std::string root;
	int saved_cwd = -1;
	path_setting path;
};

TEST_F(RelativePrefixTree, DoubledSeparatorIsResolvedAway)
{
	std::string bin = at("usr/local/bin/");
	std::string target = at("usr/local/lib/vek14/vek/");
	std::string prog = at("usr//local/bin/vek-ar");

	EXPECT_EQ(with_links(prog.c_str(), bin.c_str(), target.c_str()),
	          std::nullopt);
	EXPECT_EQ(no_links(prog.c_str(), bin.c_str(), target.c_str()),
	          at("usr//local/bin/../lib/vek14/vek/"));
}

TEST_F(RelativePrefixTree, LinkToMovedProgramIsFollowed)
{
	std::string bin = at("moved/usr/local/bin/");
	std::string target = at("moved/usr/local/lib/vek14/vek/");
	std::string prog = at("moved/usr/local/bin/vek-ar");

	EXPECT_EQ(with_links(prog.c_str(), bin.c_str(), target.c_str()),
	          at("opt/tc/bin/../lib/vek14/vek/"));
	EXPECT_EQ(no_links(prog.c_str(), bin.c_str(), target.c_str()),
	          std::nullopt);
}

TEST_F(RelativePrefixTree, MissingProgramIsTakenAsGiven)
{
	std::string prog = at("nowhere/bin/vek-ar");
	EXPECT_EQ(with_links(prog.c_str(), bin_prefix, lib_prefix),
	          at("nowhere/bin/../lib/vek14/vek/"));
}

TEST_F(RelativePrefixTree, BareNameFoundThroughPath)
{
	path.set(at("opt/tc/bin"));
	EXPECT_EQ(no_links("vek-ar", bin_prefix, lib_prefix),
	          at("opt/tc/bin/../lib/vek14/vek/"));
	EXPECT_EQ(with_links("vek-ar", bin_prefix, lib_prefix),
	          at("opt/tc/bin/../lib/vek14/vek/"));
}

TEST_F(RelativePrefixTree, BareNameFoundInBinPrefixIsSamePlace)
{
	path.set(at("usr/local/bin"));
	std::string bin = at("usr/local/bin/");
	std::string target = at("usr/local/lib/vek14/vek/");
	EXPECT_EQ(no_links("vek-ar", bin.c_str(), target.c_str()),
	          std::nullopt);
}

// $PATH "A::B/": A/vek-ar, then ./vek-ar, then B/vek-ar, with no second
// '/' after B.
struct search_case {
	const char *name;
	bool in_a, in_cwd, in_b;
	const char *want_dir; // relative to the tree, or "." for "./"
};

const search_case search_cases[] = {
    {"only in the last element", false, false, true, "b/"},
    {"empty element is the current directory", false, true, true, "."},
    {"first element wins", true, true, true, "a/"},
    {"nowhere: the bare name stays", false, false, false, nullptr},
};

TEST_F(RelativePrefixTree, PathElementsTriedInOrder)
{
	path.set(at("a") + "::" + at("b/"));
	for (const search_case &c : search_cases) {
		SCOPED_TRACE(c.name);
		unlink(at("a/vek-ar").c_str());
		unlink(at("cwd/vek-ar").c_str());
		unlink(at("b/vek-ar").c_str());
		if (c.in_a)
			make_file("a/vek-ar", 0755);
		if (c.in_cwd)
			make_file("cwd/vek-ar", 0755);
		if (c.in_b)
			make_file("b/vek-ar", 0755);

		std::string want;
		if (c.want_dir == nullptr)
			want = "../lib/vek14/vek/"; // the name alone, d = 0
		else if (std::string(c.want_dir) == ".")
			want = "./../lib/vek14/vek/";
		else
			want = at(c.want_dir) + "../lib/vek14/vek/";
		EXPECT_EQ(no_links("vek-ar", bin_prefix, lib_prefix), want);
	}
}

TEST_F(RelativePrefixTree, FoundInCurrentDirectoryResolvesToIt)
{
	path.set(at("a") + "::" + at("b/"));
	make_file("cwd/vek-ar", 0755);
	EXPECT_EQ(with_links("vek-ar", bin_prefix, lib_prefix),
	          at("cwd/../lib/vek14/vek/"));
}

TEST_F(RelativePrefixTree, EmptyPathMeansCurrentDirectory)
{
	path.set("");
	make_file("cwd/vek-ar", 0755);
	EXPECT_EQ(no_links("vek-ar", bin_prefix, lib_prefix),
	          "./../lib/vek14/vek/");
}

TEST_F(RelativePrefixTree, ExecutableDirectoryIsPassedOver)
{
	path.set(at("a") + ":" + at("b"));
	make_dir("a/vek-ar");
	make_file("b/vek-ar", 0755);
	EXPECT_EQ(no_links("vek-ar", bin_prefix, lib_prefix),
	          at("b/../lib/vek14/vek/"));
}

TEST_F(RelativePrefixTree, FileWithoutExecuteBitIsPassedOver)
{
	path.set(at("a") + ":" + at("b"));
	make_file("a/vek-ar", 0644);
	make_file("b/vek-ar", 0755);
	EXPECT_EQ(no_links("vek-ar", bin_prefix, lib_prefix),
	          at("b/../lib/vek14/vek/"));
}

TEST_F(RelativePrefixTree, PathUnsetTakesNameAsGiven)
{
	path.unset();
	ASSERT_EQ(chdir(at("empty").c_str()), 0);
	EXPECT_EQ(no_links("vek-ar", bin_prefix, lib_prefix),
	          "../lib/vek14/vek/");
	EXPECT_EQ(with_links("vek-ar", bin_prefix, lib_prefix),
	          "../lib/vek14/vek/");
}

TEST_F(RelativePrefixTree, PathUnsetDoesNotSearchCurrentDirectory)
{
	path.unset();
	make_file("cwd/vek-ar", 0755);
	// Taken as given, the name has no directory part...
	EXPECT_EQ(no_links("vek-ar", bin_prefix, lib_prefix),
	          "../lib/vek14/vek/");
	// ...but realpath still finds it relative to the working directory.
	EXPECT_EQ(with_links("vek-ar", bin_prefix, lib_prefix),
	          at("cwd/../lib/vek14/vek/"));
}

TEST_F(RelativePrefixTree, EmptyProgramNameGivesNull)
{
	path.set(at("opt/tc/bin") + "::");
	EXPECT_EQ(no_links("", bin_prefix, lib_prefix), std::nullopt);
	EXPECT_EQ(with_links("", bin_prefix, lib_prefix), std::nullopt);
}

// The candidate buffer holds the whole $PATH; past the stack's share it
// comes from the heap, which the sanitizer build checks for overruns.
TEST_F(RelativePrefixTree, LongPathStillFindsProgram)
{
	make_file("b/vek-ar", 0755);
	std::string want = at("b/../lib/vek14/vek/");
	// Sizes around the stack limit and well past it.
	for (size_t filler :
	     {3900u, 3990u, 4000u, 4010u, 4020u, 4030u, 8000u, 70000u}) {
		SCOPED_TRACE(filler);
		std::string junk = "/nonexistent/" + std::string(filler, 'x');
		path.set(junk + ":" + at("b"));
		EXPECT_EQ(no_links("vek-ar", bin_prefix, lib_prefix), want);
		path.set(at("a") + ":" + junk + "::" + junk + ":" + at("b"));
		EXPECT_EQ(no_links("vek-ar", bin_prefix, lib_prefix), want);
	}
}

TEST_F(RelativePrefixTree, LongFoundElementAroundStackLimit)
{
	make_file("b/vek-ar", 0755);
	std::string want = at("b/../lib/vek14/vek/");
	// The winning element is itself long, "b" reached through runs of
	// "/.", with PATH lengths on both sides of the stack limit.  The
	// candidate stays within PATH_MAX so that access() can look at it.
	for (size_t length = 4001; length < 4085; length += 2) {
		std::string element = root;
		while (element.size() + 2 < length)
			element += "/.";
		element += "/b";
		SCOPED_TRACE(element.size());
		path.set(element);
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

class RealPathDup : public RelativePrefixTree {};

TEST_F(RealPathDup, Canonicalizes)
{
	char *got = real_path_dup(at("moved/usr//local/./bin/vek-ar").c_str());
	ASSERT_NE(got, nullptr);
	EXPECT_EQ(std::string(got), at("opt/tc/bin/vek-ar"));
	free(got);

	got = real_path_dup("../opt/tc/bin");
	ASSERT_NE(got, nullptr);
	EXPECT_EQ(std::string(got), at("opt/tc/bin"));
	free(got);
}

TEST_F(RealPathDup, CopiesPathThatFails)
{
	const std::string missing = at("no/such//file");
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
