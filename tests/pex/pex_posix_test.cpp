/*
 * The POSIX backend, one slot at a time, with real files, pipes and
 * children of the helper program.
 */
#include "pex/pex.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "pex_test_util.h"

using PexPosix = ScratchTest;

static const pex_ops &ops = posix_pex_ops;

/* Start the helper with the given descriptors; the test must succeed. */
static pid_t
spawn_helper(Argv &argv, int flags, int in_fd, int out_fd, int err_fd,
             int child_close_fd = -1)
{
	const char *errmsg = nullptr;
	int err = -1;
	pid_t pid = ops.spawn_child(nullptr, flags, PEX_HELPER, argv.get(),
	                            nullptr, in_fd, out_fd, err_fd,
	                            child_close_fd, &errmsg, &err);
	EXPECT_GT(pid, 0) << (errmsg ? errmsg : "") << " " << err;
	EXPECT_EQ(err, 0);
	return pid;
}

static int
wait_for(pid_t pid, struct pex_usage *usage = nullptr, int kill_first = 0)
{
	const char *errmsg = nullptr;
	int err = 0, status = -1;
	EXPECT_EQ(ops.wait_child(nullptr, pid, &status, usage, kill_first,
	                         &errmsg, &err),
	          0)
	    << (errmsg ? errmsg : "") << " " << err;
	return status;
}

TEST_F(PexPosix, TableFillsEverySlot)
{
	EXPECT_NE(ops.open_for_read, nullptr);
	EXPECT_NE(ops.open_for_write, nullptr);
	EXPECT_NE(ops.spawn_child, nullptr);
	EXPECT_NE(ops.close_fd, nullptr);
	EXPECT_NE(ops.wait_child, nullptr);
	EXPECT_NE(ops.make_pipe, nullptr);
	EXPECT_NE(ops.reader_from_fd, nullptr);
	EXPECT_NE(ops.writer_from_fd, nullptr);
	EXPECT_NE(ops.cleanup_hook, nullptr);
}

TEST_F(PexPosix, OpenForWriteTruncatesOrAppends)
{
	struct write_case {
		int append;
		const char *want;
	};
	static const write_case cases[] = {{0, "new"}, {1, "oldnew"}};
	for (const write_case &c : cases) {
		SCOPED_TRACE(c.append);
		std::string name = path("file");
		write_file(name, "old");
		int fd = ops.open_for_write(nullptr, name.c_str(), 0, c.append);
		ASSERT_GE(fd, 0);
		ASSERT_EQ(::write(fd, "new", 3), 3);
		EXPECT_EQ(ops.close_fd(nullptr, fd), 0);
		EXPECT_EQ(read_file(name), c.want);
	}
}

TEST_F(PexPosix, NewFilesAreOpenToAllWithinTheUmask)
{
	struct mode_case {
		mode_t umask_value;
		mode_t want_mode;
	};
	static const mode_case cases[] = {{022, 0644}, {0, 0666}, {077, 0600}};
	for (const mode_case &c : cases) {
		SCOPED_TRACE(c.umask_value);
		std::string name = path("mode" + std::to_string(c.umask_value));
		mode_t old = umask(c.umask_value);
		int fd = ops.open_for_write(nullptr, name.c_str(), 0, 0);
		umask(old);
		ASSERT_GE(fd, 0);
		close(fd);
		struct stat st;
		ASSERT_EQ(stat(name.c_str(), &st), 0);
		EXPECT_EQ(st.st_mode & 0777, c.want_mode);
	}
}

TEST_F(PexPosix, OpenForReadOfMissingFileFails)
{
	errno = 0;
	EXPECT_EQ(ops.open_for_read(nullptr, path("missing").c_str(), 0), -1);
	EXPECT_EQ(errno, ENOENT);
}

TEST_F(PexPosix, SpawnRedirectsAndClosesParentCopies)
{
	int in = pipe_holding("abc");
	ASSERT_GE(in, 0);
	std::string out = path("out"), err_name = path("err");
	int out_fd = ops.open_for_write(nullptr, out.c_str(), 0, 0);
	int err_fd = ops.open_for_write(nullptr, err_name.c_str(), 0, 0);
	Argv argv = helper_argv({"upper", "err:E", "exit:4"});

	pid_t pid = spawn_helper(argv, 0, in, out_fd, err_fd);
	EXPECT_FALSE(fd_is_open(in));
	EXPECT_FALSE(fd_is_open(out_fd));
	EXPECT_FALSE(fd_is_open(err_fd));
	EXPECT_EQ(wait_for(pid), exited(4));
	EXPECT_EQ(read_file(out), "ABC");
	EXPECT_EQ(read_file(err_name), "E");
}

TEST_F(PexPosix, MergedErrorWinsOverErrorFile)
{
	std::string out = path("out"), err_name = path("err");
	int out_fd = ops.open_for_write(nullptr, out.c_str(), 0, 0);
	int err_fd = ops.open_for_write(nullptr, err_name.c_str(), 0, 0);
	Argv argv = helper_argv({"out:A", "err:B", "out:C"});

	pid_t pid = spawn_helper(argv, PEX_MERGE_STDERR, 0, out_fd, err_fd);
	EXPECT_EQ(wait_for(pid), exited(0));
	EXPECT_EQ(read_file(out), "ABC");
	EXPECT_EQ(read_file(err_name), "");
}

/* The descriptor named for closing is gone in the child; another open,
 * inheritable one shows that the listing would have seen it. */
TEST_F(PexPosix, ChildCloseDescriptorIsClosedInTheChild)
{
	int doomed = open("/dev/null", O_RDONLY);
	int kept = open("/dev/null", O_RDONLY);
	ASSERT_GE(doomed, 0);
	ASSERT_GE(kept, 0);
	std::string out = path("out");
	int out_fd = ops.open_for_write(nullptr, out.c_str(), 0, 0);
	Argv argv = helper_argv({"fds"});

	pid_t pid = spawn_helper(argv, 0, 0, out_fd, 2, doomed);
	EXPECT_EQ(wait_for(pid), exited(0));
	EXPECT_TRUE(fd_is_open(doomed)) << "only the child closes it";
	close(doomed);
	close(kept);

	std::vector<std::set<int>> lists = parse_fd_lines(read_file(out));
	ASSERT_EQ(lists.size(), 1u);
	EXPECT_EQ(lists[0].count(doomed), 0u);
	EXPECT_EQ(lists[0].count(kept), 1u);
}

TEST_F(PexPosix, FailedSpawnNamesTheCallAndLeavesDescriptorsOpen)
{
	struct spawn_case {
		int flags;
		const char *want_text;
	};
	static const spawn_case cases[] = {
	    {PEX_USE_PATH, "posix_spawnp"},
	    {0, "posix_spawn"},
	};
	for (const spawn_case &c : cases) {
		SCOPED_TRACE(c.want_text);
		std::string missing = path("missing");
		Argv argv({missing});
		int fds[2];
		ASSERT_EQ(pipe(fds), 0);
		int err_fd =
		    ops.open_for_write(nullptr, path("err").c_str(), 0, 0);
		const char *errmsg = nullptr;
		int err = 0;

		EXPECT_EQ(ops.spawn_child(nullptr, c.flags, missing.c_str(),
		                          argv.get(), nullptr, fds[0], fds[1],
		                          err_fd, -1, &errmsg, &err),
		          -1);
		EXPECT_STREQ(errmsg, c.want_text);
		EXPECT_EQ(err, ENOENT);
		EXPECT_TRUE(fd_is_open(fds[0]));
		EXPECT_TRUE(fd_is_open(fds[1]));
		EXPECT_TRUE(fd_is_open(err_fd));
		close(fds[0]);
		close(fds[1]);
		close(err_fd);
	}
}

TEST_F(PexPosix, EnvironmentVectorIsPassed)
{
	std::string out = path("out");
	int out_fd = ops.open_for_write(nullptr, out.c_str(), 0, 0);
	Argv argv = helper_argv({"env:PEX_SETTING"});
	Argv env({"PEX_SETTING=given"});
	const char *errmsg = nullptr;
	int err;

	pid_t pid = ops.spawn_child(nullptr, 0, PEX_HELPER, argv.get(),
	                            env.get(), 0, out_fd, 2, -1, &errmsg, &err);
	ASSERT_GT(pid, 0);
	EXPECT_EQ(wait_for(pid), exited(0));
	EXPECT_EQ(read_file(out), "given\n");
}

static volatile sig_atomic_t alarms_caught;

static void
count_alarm(int)
{
	alarms_caught = alarms_caught + 1;
}

/*
 * A handler installed without SA_RESTART interrupts the wait over and over
 * while the child sleeps; the wait still ends with the child's status.
 */
TEST_F(PexPosix, WaitSurvivesInterruptingSignals)
{
	struct wait_case {
		const char *what;
		bool with_usage;
	};
	static const wait_case cases[] = {{"waitpid", false}, {"wait4", true}};
	for (const wait_case &c : cases) {
		SCOPED_TRACE(c.what);
		struct sigaction action = {}, old_action;
		action.sa_handler = count_alarm;
		sigemptyset(&action.sa_mask);
		action.sa_flags = 0;
		ASSERT_EQ(sigaction(SIGALRM, &action, &old_action), 0);
		struct itimerval every_10ms = {{0, 10000}, {0, 10000}},
		                 off = {};
		alarms_caught = 0;
		Argv argv = helper_argv({"sleep:300", "exit:6"});

		pid_t pid = spawn_helper(argv, 0, 0, 1, 2);
		ASSERT_EQ(setitimer(ITIMER_REAL, &every_10ms, nullptr), 0);
		struct pex_usage usage;
		int status = wait_for(pid, c.with_usage ? &usage : nullptr);
		setitimer(ITIMER_REAL, &off, nullptr);
		sigaction(SIGALRM, &old_action, nullptr);

		EXPECT_EQ(status, exited(6));
		EXPECT_GT(alarms_caught, 1) << "the wait was interrupted";
	}
}

TEST_F(PexPosix, KillFirstTerminatesTheChild)
{
	Argv argv = helper_argv({"sleep:100000"});
	pid_t pid = spawn_helper(argv, 0, 0, 1, 2);
	time_t start = time(nullptr);

	int status = wait_for(pid, nullptr, 1);
	EXPECT_LT(time(nullptr) - start, 20);
	ASSERT_TRUE(WIFSIGNALED(status));
	EXPECT_EQ(WTERMSIG(status), SIGTERM);
}

TEST_F(PexPosix, RelayedSignalsAreTakenWhileTheChildIsWaitedFor)
{
	static std::vector<int> taken;
	struct pex_relay relay = {};
	sigemptyset(&relay.signals);
	sigaddset(&relay.signals, SIGTERM);
	sigaddset(&relay.signals, SIGUSR1);
	sigset_t blocked = relay.signals;
	sigaddset(&blocked, SIGCHLD);
	ASSERT_EQ(sigprocmask(SIG_BLOCK, &blocked, &relay.child_mask), 0);
	relay.take = [](const siginfo_t *info) {
		taken.push_back(info->si_signo);
		return info->si_signo == SIGTERM ? 1 : 0;
	};
	pex_set_relay(&relay);

	// Sent before the child starts, both wait for the wait; only what
	// take passes on reaches the child, whose mask is ours of before.
	kill(getpid(), SIGUSR1);
	kill(getpid(), SIGTERM);
	Argv argv = helper_argv({"sleep:100000"});
	int status = wait_for(spawn_helper(argv, PEX_RELAY_SIGNALS, 0, 1, 2));
	pex_set_relay(nullptr);
	sigprocmask(SIG_SETMASK, &relay.child_mask, nullptr);
	ASSERT_TRUE(WIFSIGNALED(status));
	EXPECT_EQ(WTERMSIG(status), SIGTERM);
	EXPECT_EQ(taken, (std::vector<int>{SIGUSR1, SIGTERM}));
}

TEST_F(PexPosix, WaitForAStrangerFails)
{
	const char *errmsg = nullptr;
	int err = 0, status;

	EXPECT_EQ(ops.wait_child(nullptr, getppid(), &status, nullptr, 0,
	                         &errmsg, &err),
	          -1);
	EXPECT_STREQ(errmsg, "wait");
	EXPECT_EQ(err, ECHILD);
}

TEST_F(PexPosix, WaitWithUsageSlotReportsCpuTime)
{
	Argv argv = helper_argv({"spin:200"});
	pid_t pid = spawn_helper(argv, 0, 0, 1, 2);
	struct pex_usage usage = {-1, -1, -1, -1};

	EXPECT_EQ(wait_for(pid, &usage), exited(0));
	expect_spun(usage);
}

TEST_F(PexPosix, PipeEndsAreCloseOnExec)
{
	int fds[2];
	ASSERT_EQ(ops.make_pipe(nullptr, fds, 0), 0);
	EXPECT_TRUE(fd_is_cloexec(fds[0]));
	EXPECT_TRUE(fd_is_cloexec(fds[1]));
	ASSERT_EQ(::write(fds[1], "x", 1), 1);
	char c = 0;
	ASSERT_EQ(read(fds[0], &c, 1), 1);
	EXPECT_EQ(c, 'x');
	close(fds[0]);
	close(fds[1]);
}

/* A pipe end on a standard number reaches a child as that stream without
 * a dup, so it must stay inheritable. */
TEST_F(PexPosix, PipeEndOnStandardDescriptorStaysInheritable)
{
	int saved_in = dup(STDIN_FILENO);
	ASSERT_GE(saved_in, 0);
	close(STDIN_FILENO);
	int fds[2];
	int rc = ops.make_pipe(nullptr, fds, 0);
	bool read_end_is_stdin = rc == 0 && fds[0] == STDIN_FILENO;
	bool stdin_inheritable = !fd_is_cloexec(STDIN_FILENO);
	bool write_end_cloexec = rc == 0 && fd_is_cloexec(fds[1]);
	dup2(saved_in, STDIN_FILENO);
	close(saved_in);
	if (rc == 0)
		close(fds[1]);

	ASSERT_EQ(rc, 0);
	EXPECT_TRUE(read_end_is_stdin);
	EXPECT_TRUE(stdin_inheritable);
	EXPECT_TRUE(write_end_cloexec);
}

TEST_F(PexPosix, WriterIsCloseOnExecAndReaderReads)
{
	int fds[2];
	ASSERT_EQ(pipe(fds), 0);
	FILE *writer = ops.writer_from_fd(nullptr, fds[1], 0);
	ASSERT_NE(writer, nullptr);
	EXPECT_TRUE(fd_is_cloexec(fds[1]));
	FILE *reader = ops.reader_from_fd(nullptr, fds[0], 1);
	ASSERT_NE(reader, nullptr);

	fputs("line\n", writer);
	fclose(writer);
	char text[16] = {};
	ASSERT_NE(fgets(text, sizeof text, reader), nullptr);
	EXPECT_STREQ(text, "line\n");
	EXPECT_EQ(fgetc(reader), EOF);
	fclose(reader);
}

TEST_F(PexPosix, WriterOnBadDescriptorFailsWithoutStream)
{
	errno = 0;
	EXPECT_EQ(ops.writer_from_fd(nullptr, 1000, 0), nullptr);
	EXPECT_EQ(errno, EBADF);
}
