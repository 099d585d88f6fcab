#include "pex_test_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <sstream>

std::set<int>
open_fds()
{
	std::set<int> fds;
	DIR *dir = opendir("/proc/self/fd");
	if (dir == nullptr)
		return fds;
	int own = dirfd(dir);
	for (struct dirent *entry; (entry = readdir(dir)) != nullptr;) {
		if (entry->d_name[0] == '.')
			continue;
		int fd = atoi(entry->d_name);
		if (fd != own)
			fds.insert(fd);
	}
	closedir(dir);
	return fds;
}

std::vector<std::set<int>>
parse_fd_lines(const std::string &text)
{
	std::vector<std::set<int>> lists;
	std::istringstream lines(text);
	for (std::string line; std::getline(lines, line);) {
		if (line.rfind("fds:", 0) != 0)
			continue;
		std::istringstream numbers(line.substr(4));
		std::set<int> fds;
		for (int fd; numbers >> fd;)
			fds.insert(fd);
		lists.push_back(fds);
	}
	return lists;
}

int
pipe_holding(const std::string &text)
{
	int fds[2];
	if (pipe(fds) != 0)
		return -1;
	bool written = write(fds[1], text.data(), text.size()) ==
	               static_cast<ssize_t>(text.size());
	close(fds[1]);
	if (!written) {
		close(fds[0]);
		return -1;
	}
	return fds[0];
}

bool
fd_is_open(int fd)
{
	return fcntl(fd, F_GETFD) != -1;
}

bool
fd_is_cloexec(int fd)
{
	int flags = fcntl(fd, F_GETFD);
	return flags != -1 && (flags & FD_CLOEXEC) != 0;
}

Argv::Argv(std::initializer_list<std::string> args) : strings_(args)
{
	for (std::string &s : strings_)
		pointers_.push_back(s.data());
	pointers_.push_back(nullptr);
}

Argv::Argv(const std::vector<std::string> &args) : strings_(args)
{
	for (std::string &s : strings_)
		pointers_.push_back(s.data());
	pointers_.push_back(nullptr);
}

Argv
helper_argv(std::initializer_list<std::string> steps)
{
	std::vector<std::string> args{PEX_HELPER};
	args.insert(args.end(), steps);
	return Argv(args);
}

const char *
add_helper(struct pex_pipeline *pipeline, int flags,
           std::initializer_list<std::string> steps, const char *outname,
           const char *errname)
{
	Argv argv = helper_argv(steps);
	int err;
	return pex_add_stage(pipeline, flags, PEX_HELPER, argv.get(), outname,
	                     errname, &err);
}

void
expect_spun(const struct pex_usage &usage)
{
	int64_t total_us = (usage.cpu_user_s + usage.cpu_system_s) * 1000000 +
	                   usage.cpu_user_us + usage.cpu_system_us;
	EXPECT_GE(total_us, 150000);
	EXPECT_GE(usage.cpu_user_us, 0);
	EXPECT_LT(usage.cpu_user_us, 1000000);
	EXPECT_GE(usage.cpu_system_us, 0);
	EXPECT_LT(usage.cpu_system_us, 1000000);
}
