/*
 * The tests' shared toolkit: the scratch fixture, scoped environment
 * settings and runs in a child.
 */
#include "testkit.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

void
ScratchTest::SetUp()
{
	root = make_temp_dir(
	    testing::UnitTest::GetInstance()->current_test_suite()->name());
	ASSERT_EQ(chmod(root.c_str(), 0755), 0);
	start_dir_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	ASSERT_GE(start_dir_, 0);
}

void
ScratchTest::TearDown()
{
	if (start_dir_ >= 0) {
		EXPECT_EQ(fchdir(start_dir_), 0);
		close(start_dir_);
	}
	if (!root.empty())
		remove_tree(root);
}

std::string
ScratchTest::path(const std::string &rel) const
{
	return root + "/" + rel;
}

std::string
ScratchTest::expand(const std::string &text) const
{
	std::string out;
	for (char c : text)
		out += c == '@' ? root : std::string(1, c);
	return out;
}

std::string
ScratchTest::make_dir(const std::string &rel, mode_t mode) const
{
	std::string dir = path(rel);
	make_dirs(dir);
	chmod(dir.c_str(), mode);
	return dir;
}

std::string
ScratchTest::write(const std::string &rel, const std::string &text,
                   mode_t mode) const
{
	std::string file = path(rel);
	make_dirs(file.substr(0, file.rfind('/')));
	write_file(file, text);
	chmod(file.c_str(), mode);
	return file;
}

scoped_env::scoped_env(const char *name, const char *value) : name_(name)
{
	const char *old = getenv(name);
	had_ = old != nullptr;
	old_ = had_ ? old : "";
	set(value);
}

scoped_env::~scoped_env()
{
	set(had_ ? old_.c_str() : nullptr);
}

void
scoped_env::set(const char *value)
{
	if (value != nullptr)
		setenv(name_.c_str(), value, 1);
	else
		unsetenv(name_.c_str());
}

child_result
run_in_child(const std::function<void()> &body)
{
	child_result result = {-1, ""};
	int fds[2];
	if (pipe(fds) != 0)
		return result;
	// Buffered output would otherwise be written by both processes.
	fflush(nullptr);
	pid_t pid = fork();
	if (pid == 0) {
		close(fds[0]);
		dup2(fds[1], STDERR_FILENO);
		close(fds[1]);
		// An expected abort should leave no core file behind.
		struct rlimit no_core = {0, 0};
		setrlimit(RLIMIT_CORE, &no_core);
		body();
		_exit(0);
	}
	close(fds[1]);
	char buf[4096];
	for (ssize_t n; pid > 0 && (n = read(fds[0], buf, sizeof buf)) != 0;)
		if (n > 0)
			result.err.append(buf, static_cast<size_t>(n));
		else if (errno != EINTR)
			break;
	close(fds[0]);
	int status;
	while (pid > 0 && waitpid(pid, &status, 0) == -1)
		if (errno != EINTR)
			return result;
	if (pid > 0)
		result.status = status;
	return result;
}

bool
drop_root()
{
	if (geteuid() != 0)
		return true;
	const uid_t nobody = 65534;
	return setgroups(0, nullptr) == 0 &&
	       setresgid(nobody, nobody, nobody) == 0 &&
	       setresuid(nobody, nobody, nobody) == 0;
}
