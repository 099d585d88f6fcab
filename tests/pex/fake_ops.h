/*
 * A recording backend for the pipeline: descriptors are plain numbers from
 * 100 up, children are numbers from 5000 up, and every call is logged.  It
 * keeps the POSIX backend's contract on who closes what, so the tests can
 * check that each descriptor is closed exactly once.
 */
#ifndef VEK_TESTS_PEX_FAKE_OPS_H
#define VEK_TESTS_PEX_FAKE_OPS_H

#include <map>
#include <set>
#include <string>
#include <vector>

#include "pex/pex.h"

struct fake_spawn {
	int flags;
	std::string executable;
	int in_fd, out_fd, err_fd, child_close_fd;
};

struct fake_wait {
	pid_t pid;
	bool kill_first;
	bool with_usage;
};

struct fake_backend {
	/* What happened. */
	std::vector<std::string> log; /* "spawn 5000", "wait 5000", ... */
	std::vector<fake_spawn> spawns;
	std::vector<fake_wait> waits;
	std::map<int, int> close_counts;
	std::set<int> open_fds;        /* made and not yet closed */
	std::set<int> stream_fds;      /* handed over to a stream */
	std::vector<int> binary_flags; /* of each pipe and writer, in order */
	int hook_calls = 0;

	/* What to do. */
	std::map<std::string, int> open_errno; /* fail these, as logged */
	int fail_pipe_number = 0; /* fail the Nth make_pipe, 1-based */
	int pipe_errno = EMFILE;
	const char *spawn_errmsg = nullptr; /* fail spawns with this text */
	int spawn_err = 0;
	bool spawn_close_fails = false; /* started, but a parent close failed */
	int wait_errno = 0;             /* fail every wait */
	std::map<pid_t, int> statuses;  /* status per child, default 0 */
	bool writer_fails = false;

	/* Internal counters. */
	int next_fd = 100;
	pid_t next_pid = 5000;
	int pipes_made = 0;
};

/* The one recorder behind fake_pex_ops; reset it in each test. */
extern fake_backend fake;
void fake_reset();

/* Descriptors closed more than once. */
std::vector<int> fake_closed_twice();

extern const pex_ops fake_pex_ops;

#endif
