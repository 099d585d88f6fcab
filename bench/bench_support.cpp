// Shared by the benchmarks.
#include "bench_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "build_config.h"

extern char **environ;

static double
now()
{
	struct timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

timed_run
timed(const std::vector<std::string> &argv, bool keep_output)
{
	std::vector<char *> cargv;
	for (const auto &a : argv)
		cargv.push_back(const_cast<char *>(a.c_str()));
	cargv.push_back(nullptr);
	posix_spawn_file_actions_t fa;
	posix_spawn_file_actions_init(&fa);
	if (!keep_output) {
		posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY,
		                                 0);
		posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY,
		                                 0);
	}
	timed_run r{};
	pid_t pid;
	double start = now();
	if (posix_spawnp(&pid, cargv[0], &fa, nullptr, cargv.data(), environ) !=
	    0) {
		perror(cargv[0]);
		exit(2);
	}
	struct rusage ru;
	wait4(pid, &r.status, 0, &ru);
	r.seconds = now() - start;
	r.max_rss_kb = ru.ru_maxrss;
	posix_spawn_file_actions_destroy(&fa);
	return r;
}

void
lay_out_tree(const std::string &dir, const std::string &plugin,
             const std::string &tool)
{
	make_dirs(dir + "/" VEK_REL_BIN_DIR);
	make_dirs(dir + "/" VEK_REL_LIB_DIR);
	make_dirs(dir + "/" VEK_REL_PLUGIN_DIR);
	make_dirs(dir + "/" VEK_REL_TOOL_DIR);
	copy_file(plugin, dir + "/" VEK_REL_PLUGIN_DIR "/libmerx_plugin.so",
	          0644);
	if (symlink(tool.c_str(), (dir + "/" VEK_REL_TOOL_DIR "/ar").c_str()) !=
	    0) {
		perror("symlink");
		exit(2);
	}
}

std::string
add_wrapper(const std::string &dir, const std::string &vek_ar,
            const std::string &name)
{
	std::string path = dir + "/" VEK_REL_BIN_DIR "/" + name;
	copy_file(vek_ar, path, 0755);
	return path;
}

std::string
tool_path_as_run(const std::string &dir, const char *tool)
{
	return dir + "/" VEK_REL_BIN_DIR "/../" VEK_REL_LIB_DIR "/" +
	       tooldir_up_path + target_name + "/bin/" + tool;
}

std::string
find_in_path(const char *name)
{
	std::stringstream path(getenv("PATH") ? getenv("PATH") : "/usr/bin");
	std::string dir;
	while (std::getline(path, dir, ':')) {
		std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
		if (access(candidate.c_str(), X_OK) == 0)
			return candidate;
	}
	fprintf(stderr, "%s not found in PATH\n", name);
	exit(2);
}

double
median(std::vector<double> v)
{
	std::sort(v.begin(), v.end());
	size_t n = v.size();
	return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}
