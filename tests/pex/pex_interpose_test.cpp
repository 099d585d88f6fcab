/*
 * The backend with close() and the file-action calls replaced by counting
 * versions defined here, which the linker prefers to the C library's: the
 * one-shot run must add no file action and close nothing, and a close that
 * fails after a spawn must not lead to any descriptor being closed twice
 * nor to a child nobody waits for.
 */
#include "pex/pex.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>

#include "pex_test_util.h"

static bool recording;
static int file_actions_added;
static std::map<int, int> close_counts;
static std::string failing_close_path; /* this file's close reports EIO */

static std::string
fd_path(int fd)
{
	char link[64], target[PATH_MAX];
	snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
	ssize_t length = readlink(link, target, sizeof target - 1);
	return length < 0 ? "" : std::string(target, length);
}

/* Closes for real, like a close that fails after releasing the number. */
extern "C" int
close(int fd)
{
	bool fail = false;
	if (recording) {
		close_counts[fd]++;
		fail = !failing_close_path.empty() &&
		       fd_path(fd) == failing_close_path;
	}
	long rc = syscall(SYS_close, fd);
	if (fail) {
		errno = EIO;
		return -1;
	}
	return static_cast<int>(rc);
}

template <typename F>
static F
next_definition(const char *name)
{
	return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

extern "C" int
posix_spawn_file_actions_adddup2(posix_spawn_file_actions_t *actions, int fd,
                                 int newfd) noexcept
{
	using adddup2 = int (*)(posix_spawn_file_actions_t *, int, int);
	static adddup2 real =
	    next_definition<adddup2>("posix_spawn_file_actions_adddup2");
	file_actions_added++;
	return real(actions, fd, newfd);
}

extern "C" int
posix_spawn_file_actions_addclose(posix_spawn_file_actions_t *actions,
                                  int fd) noexcept
{
	using addclose = int (*)(posix_spawn_file_actions_t *, int);
	static addclose real =
	    next_definition<addclose>("posix_spawn_file_actions_addclose");
	file_actions_added++;
	return real(actions, fd);
}

class PexInterpose : public ScratchTest {
      protected:
	void SetUp() override
	{
		ScratchTest::SetUp();
		recording = false;
		file_actions_added = 0;
		close_counts.clear();
		failing_close_path.clear();
	}
	void TearDown() override
	{
		recording = false;
		failing_close_path.clear();
		ScratchTest::TearDown();
	}
	/* Descriptors closed during recording more than once. */
	static std::vector<int> closed_twice()
	{
		std::vector<int> fds;
		for (auto [fd, count] : close_counts)
			if (count > 1)
				fds.push_back(fd);
		return fds;
	}
};

/*
 * The wrappers' call: the child gets our standard input, output and error
 * as they are, with no file action and no close in between.
 */
TEST_F(PexInterpose, OneShotRunAddsNoFileActionAndClosesNothing)
{
	std::string in = path("in"), out = path("out"), err_name = path("err");
	write_file(in, "through stdin\n");
	fflush(stdout);
	fflush(stderr);
	int saved[3];
	for (int fd = 0; fd < 3; fd++)
		saved[fd] = dup(fd);
	int in_fd = open(in.c_str(), O_RDONLY);
	int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
	int err_fd = open(err_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
	dup2(in_fd, 0);
	dup2(out_fd, 1);
	dup2(err_fd, 2);
	Argv argv = helper_argv({"cat", "out:O", "err:E"});
	int status = -1, err = -1;

	recording = true;
	const char *errmsg = pex_run_single(PEX_FINAL_STAGE | PEX_USE_PATH,
	                                    PEX_HELPER, argv.get(), "vek-test",
	                                    nullptr, nullptr, &status, &err);
	recording = false;
	for (int fd = 0; fd < 3; fd++) {
		dup2(saved[fd], fd);
		close(saved[fd]);
	}
	close(in_fd);
	close(out_fd);
	close(err_fd);

	EXPECT_EQ(errmsg, nullptr);
	EXPECT_EQ(status, exited(0));
	EXPECT_EQ(file_actions_added, 0);
	EXPECT_TRUE(close_counts.empty());
	EXPECT_EQ(read_file(out), "through stdin\nO");
	EXPECT_EQ(read_file(err_name), "E");
}

TEST_F(PexInterpose, BackendClosesEachParentCopyOnceWhenOneCloseFails)
{
	int in = pipe_holding("abc");
	ASSERT_GE(in, 0);
	std::string out = path("out"), err_name = path("err");
	int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
	int err_fd = open(err_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
	Argv argv = helper_argv({"upper"});
	const char *errmsg = nullptr;
	int err = 0;

	failing_close_path = out;
	recording = true;
	pid_t pid = posix_pex_ops.spawn_child(nullptr, 0, PEX_HELPER,
	                                      argv.get(), nullptr, in, out_fd,
	                                      err_fd, -1, &errmsg, &err);
	recording = false;

	ASSERT_GT(pid, 0) << "the child was started all the same";
	EXPECT_STREQ(errmsg, "close");
	EXPECT_EQ(err, EIO);
	EXPECT_EQ(close_counts,
	          (std::map<int, int>{{in, 1}, {out_fd, 1}, {err_fd, 1}}));
	EXPECT_FALSE(fd_is_open(in));
	EXPECT_FALSE(fd_is_open(err_fd));

	int status;
	ASSERT_EQ(waitpid(pid, &status, 0), pid);
	EXPECT_EQ(status, exited(0));
	EXPECT_EQ(read_file(out), "ABC");
}

/* The failed stage's child is the pipeline's: its status is collected. */
TEST_F(PexInterpose, StageFailingOnCloseKeepsItsChildAndClosesNothingAgain)
{
	std::set<int> before = open_fds();
	std::string out = path("out"), err_name = path("err");
	struct pex_pipeline *pipeline =
	    pex_create(PEX_PIPES, "pex-test", nullptr);
	Argv first = helper_argv({"out:abc"});
	Argv second = helper_argv({"upper", "exit:3"});
	int err = 0;
	ASSERT_EQ(pex_add_stage(pipeline, 0, PEX_HELPER, first.get(), nullptr,
	                        nullptr, &err),
	          nullptr);

	failing_close_path = out;
	recording = true;
	EXPECT_STREQ(pex_add_stage(pipeline, PEX_FINAL_STAGE, PEX_HELPER,
	                           second.get(), out.c_str(), err_name.c_str(),
	                           &err),
	             "close");
	EXPECT_EQ(err, EIO);
	int statuses[2] = {-1, -1};
	EXPECT_EQ(pex_get_status(pipeline, 2, statuses), 1);
	pex_destroy(pipeline);
	recording = false;

	EXPECT_EQ(closed_twice(), std::vector<int>{});
	EXPECT_EQ(close_counts.size(), 3u);
	EXPECT_EQ(statuses[0], exited(0));
	EXPECT_EQ(statuses[1], exited(3));
	EXPECT_EQ(read_file(out), "ABC");
	EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1)
	    << "no child left unwaited";
	EXPECT_EQ(errno, ECHILD);
	EXPECT_EQ(open_fds(), before);
}
