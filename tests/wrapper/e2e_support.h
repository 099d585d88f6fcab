// The end-to-end runner: a built program started with exactly the
// arguments, environment and directory given, what it prints captured.
// The tests lay out their trees with the toolkit's scratch fixture.
#ifndef VEK_TESTS_WRAPPER_E2E_SUPPORT_H
#define VEK_TESTS_WRAPPER_E2E_SUPPORT_H

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "testkit.h"

struct run_result {
	std::string out;
	std::string err;
	int status = -1;       // raw wait status
	int exit_code() const; // -1 unless it exited
};

// Run EXE with ARGV (argv[0] included) and exactly ENV, in CWD, with
// standard input from /dev/null and only descriptors 0, 1 and 2 open, as
// the leader of a process group of its own.  BEFORE_EXEC runs in the child
// just before the program starts; WHILE_RUNNING in this process with the
// child's pid, before it is waited for.
run_result run_program(const std::string &exe,
                       const std::vector<std::string> &argv,
                       const std::map<std::string, std::string> &env,
                       const std::string &cwd,
                       const std::function<void()> &before_exec = {},
                       const std::function<void(pid_t)> &while_running = {});

// EXE run as run_program runs it (in CWD), but as a shell runs a job at a
// terminal: in the foreground process group of a new session's
// terminal, which is not one of its standard streams.  AT_THE_TERMINAL
// gets the terminal's other side, where what it writes is typed, while
// the job runs.  The job's raw wait status, or -1.
int run_at_terminal(const std::string &exe,
                    const std::vector<std::string> &argv,
                    const std::map<std::string, std::string> &env,
                    const std::string &cwd,
                    const std::function<void(int)> &at_the_terminal);

// The environment every run starts from: a PATH holding nothing of ours and
// the sanitizer settings of the test process, with leak checks off (the
// wrappers free nothing by design).
std::map<std::string, std::string> base_env(const std::string &path);

#endif
