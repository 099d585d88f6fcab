/*
 * Shared pieces of the pipeline tests: a scratch directory per test, file
 * and descriptor helpers, and argument vectors for the helper child.
 */
#ifndef VEK_TESTS_PEX_PEX_TEST_UTIL_H
#define VEK_TESTS_PEX_PEX_TEST_UTIL_H

#include <gtest/gtest.h>

#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "scratch.h"

bool file_exists(const std::string &path);
std::vector<std::string> list_dir(const std::string &path);

/* Descriptors open in this process now. */
std::set<int> open_fds();

/* Each "fds: ..." line the helper printed, as a set. */
std::vector<std::set<int>> parse_fd_lines(const std::string &text);

/* The read end of a pipe holding TEXT, its write end closed; -1 on failure. */
int pipe_holding(const std::string &text);

/* Whether a descriptor is open, and whether it is close-on-exec. */
bool fd_is_open(int fd);
bool fd_is_cloexec(int fd);

/* An argument vector that owns its strings. */
class Argv {
      public:
	Argv(std::initializer_list<std::string> args);
	explicit Argv(const std::vector<std::string> &args);
	char *const *get()
	{
		return pointers_.data();
	}

      private:
	std::vector<std::string> strings_;
	std::vector<char *> pointers_;
};

/* The helper program with these steps; element 0 is its path. */
Argv helper_argv(std::initializer_list<std::string> steps);

/* The raw wait status of a normal exit with CODE. */
constexpr int
exited(int code)
{
	return code << 8;
}

/*
 * Temporary files made without a stem land in the directory chosen at the
 * first use, once per process: a test program that makes them adds this
 * environment, which points TMPDIR at a scratch directory first.
 */
class TmpdirEnvironment : public ::testing::Environment {
      public:
	void SetUp() override
	{
		dir = make_temp_dir("pex-tmp");
		setenv("TMPDIR", dir.c_str(), 1);
	}
	void TearDown() override
	{
		remove_tree(dir);
	}

	std::string dir;
};

/* A test with its own scratch directory. */
class PexTempTest : public ::testing::Test {
      protected:
	void SetUp() override
	{
		dir_ = make_temp_dir("pex");
	}
	void TearDown() override
	{
		remove_tree(dir_);
	}
	std::string path(const std::string &name) const
	{
		return dir_ + "/" + name;
	}

	std::string dir_;
};

#endif
