/*
 * Shared pieces of the pipeline tests: descriptor helpers, argument vectors
 * for the helper child, and TMPDIR pointed at a scratch directory.
 */
#ifndef VEK_TESTS_PEX_PEX_TEST_UTIL_H
#define VEK_TESTS_PEX_PEX_TEST_UTIL_H

#include <initializer_list>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "pex/pex.h"
#include "testkit.h"

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

/*
 * That USAGE records the helper's "spin:200" (at least 150 ms of CPU time)
 * with its microseconds in range.
 */
void expect_spun(const struct pex_usage &usage);

/* The helper program with these steps; element 0 is its path. */
Argv helper_argv(std::initializer_list<std::string> steps);

/*
 * Add the helper running STEPS to PIPELINE as pex_add_stage would, with
 * FLAGS, OUTNAME and ERRNAME; the text of the step that failed, or null.
 */
const char *add_helper(struct pex_pipeline *pipeline, int flags,
                       std::initializer_list<std::string> steps,
                       const char *outname = nullptr,
                       const char *errname = nullptr);

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
		tmpdir.emplace("TMPDIR", dir.c_str());
	}
	void TearDown() override
	{
		tmpdir.reset();
		remove_tree(dir);
	}

	std::string dir;
	std::optional<scoped_env> tmpdir;
};

#endif
