// Helpers for the end-to-end tests.
#include "e2e_support.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

int
run_result::exit_code() const
{
	return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

run_result
run_program(const std::string &exe, const std::vector<std::string> &argv,
            const std::map<std::string, std::string> &env,
            const std::string &cwd, const std::function<void()> &before_exec,
            const std::function<void(pid_t)> &while_running)
{
	std::string dir = make_temp_dir("run");
	std::string out_path = dir + "/out", err_path = dir + "/err";
	std::vector<std::string> env_strings;
	for (const auto &[k, v] : env)
		env_strings.push_back(k + "=" + v);
	std::vector<char *> cargv, cenv;
	for (const auto &a : argv)
		cargv.push_back(const_cast<char *>(a.c_str()));
	cargv.push_back(nullptr);
	for (const auto &e : env_strings)
		cenv.push_back(const_cast<char *>(e.c_str()));
	cenv.push_back(nullptr);

	pid_t pid = fork();
	if (pid == 0) {
		int in = open("/dev/null", O_RDONLY);
		int out = open(out_path.c_str(), O_WRONLY | O_CREAT, 0600);
		int err = open(err_path.c_str(), O_WRONLY | O_CREAT, 0600);
		if (in < 0 || out < 0 || err < 0 || chdir(cwd.c_str()) != 0)
			_exit(120);
		dup2(in, 0);
		dup2(out, 1);
		dup2(err, 2);
		for (int fd = 3; fd < 1024; fd++)
			close(fd);
		setpgid(0, 0);
		if (before_exec)
			before_exec();
		execve(exe.c_str(), cargv.data(), cenv.data());
		_exit(121);
	}
	run_result r;
	if (while_running)
		while_running(pid);
	waitpid(pid, &r.status, 0);
	r.out = read_file(out_path);
	r.err = read_file(err_path);
	remove_tree(dir);
	return r;
}

int
run_at_terminal(const std::string &exe, const std::vector<std::string> &argv,
                const std::map<std::string, std::string> &env,
                const std::string &cwd,
                const std::function<void(int)> &at_the_terminal)
{
	int master = posix_openpt(O_RDWR | O_NOCTTY), report[2];
	if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
	    pipe(report) != 0)
		return -1;
	std::string terminal = ptsname(master);
	pid_t leader = fork();
	if (leader == 0) {
		// The session's leader, as a shell is: opening the terminal
		// makes it the session's.
		int tty = setsid() < 0 ? -1 : open(terminal.c_str(), O_RDWR);
		if (tty < 0)
			_exit(120);
		run_result r = run_program(
		    exe, argv, env, cwd,
		    [] {
			    // Not before the job has the terminal.
			    int own = open("/dev/tty", O_RDWR);
			    while (own >= 0 && tcgetpgrp(own) != getpgrp())
				    usleep(1000);
		    },
		    [&](pid_t job) {
			    setpgid(job, job);
			    tcsetpgrp(tty, job);
		    });
		_exit(write(report[1], &r.status, sizeof r.status) ==
		              sizeof r.status
		          ? 0
		          : 121);
	}
	close(report[1]);
	at_the_terminal(master);
	int status = -1;
	if (read(report[0], &status, sizeof status) != sizeof status)
		status = -1;
	waitpid(leader, nullptr, 0);
	close(report[0]);
	close(master);
	return status;
}

std::map<std::string, std::string>
base_env(const std::string &path)
{
	std::map<std::string, std::string> env;
	env["PATH"] = path;
	if (const char *asan = getenv("ASAN_OPTIONS"))
		env["ASAN_OPTIONS"] = std::string(asan) + ":detect_leaks=0";
	if (const char *ubsan = getenv("UBSAN_OPTIONS"))
		env["UBSAN_OPTIONS"] = ubsan;
	return env;
}
