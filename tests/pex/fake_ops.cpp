#include "fake_ops.h"

#include <errno.h>
#include <stdio.h>

fake_backend fake;

void
fake_reset()
{
	fake = fake_backend{};
}

std::vector<int>
fake_closed_twice()
{
	std::vector<int> fds;
	for (auto [fd, count] : fake.close_counts)
		if (count > 1)
			fds.push_back(fd);
	return fds;
}

static int
new_fd()
{
	int fd = fake.next_fd++;
	fake.open_fds.insert(fd);
	return fd;
}

static void
release(int fd)
{
	fake.close_counts[fd]++;
	fake.open_fds.erase(fd);
}

static int
open_named(const char *name, const char *what)
{
	std::string entry = std::string(what) + " " + name;
	fake.log.push_back(entry);
	auto failing = fake.open_errno.find(entry);
	if (failing != fake.open_errno.end()) {
		errno = failing->second;
		return -1;
	}
	return new_fd();
}

static int
fake_open_for_read(struct pex_pipeline *, const char *name, int)
{
	return open_named(name, "read");
}

static int
fake_open_for_write(struct pex_pipeline *, const char *name, int, int append)
{
	return open_named(name, append ? "append" : "write");
}

static pid_t
fake_spawn_child(struct pex_pipeline *, int flags, const char *executable,
                 char *const *, char *const *, int in_fd, int out_fd,
                 int err_fd, int child_close_fd, const char **errmsg, int *err)
{
	fake.spawns.push_back(
	    {flags, executable, in_fd, out_fd, err_fd, child_close_fd});
	*err = 0;
	if (fake.spawn_errmsg != nullptr) {
		fake.log.push_back("spawn failed");
		*errmsg = fake.spawn_errmsg;
		*err = fake.spawn_err;
		return -1;
	}
	pid_t pid = fake.next_pid++;
	fake.log.push_back("spawn " + std::to_string(pid));
	if (in_fd != 0)
		release(in_fd);
	if (out_fd != 1)
		release(out_fd);
	if (err_fd != 2)
		release(err_fd);
	if (fake.spawn_close_fails) {
		*errmsg = "close";
		*err = EIO;
	}
	return pid;
}

static int
fake_close_fd(struct pex_pipeline *, int fd)
{
	release(fd);
	return 0;
}

static int
fake_wait_child(struct pex_pipeline *, pid_t pid, int *status,
                struct pex_usage *usage, int kill_first, const char **errmsg,
                int *err)
{
	fake.waits.push_back({pid, kill_first != 0, usage != nullptr});
	fake.log.push_back("wait " + std::to_string(pid));
	if (fake.wait_errno != 0) {
		*errmsg = "wait";
		*err = fake.wait_errno;
		return -1;
	}
	*status = fake.statuses[pid];
	if (usage != nullptr)
		*usage = pex_usage{pid, 1, 2, 3};
	return 0;
}

static int
fake_make_pipe(struct pex_pipeline *, int fds[2], int binary)
{
	fake.binary_flags.push_back(binary);
	if (++fake.pipes_made == fake.fail_pipe_number) {
		errno = fake.pipe_errno;
		return -1;
	}
	fds[0] = new_fd();
	fds[1] = new_fd();
	fake.log.push_back("pipe " + std::to_string(fds[0]) + " " +
	                   std::to_string(fds[1]));
	return 0;
}

/* Stand-in streams on /dev/null; the stream now owns the number. */
static FILE *
stream_for(int fd, const char *mode)
{
	FILE *stream = fopen("/dev/null", mode);
	if (stream != nullptr) {
		fake.open_fds.erase(fd);
		fake.stream_fds.insert(fd);
	}
	return stream;
}

static FILE *
fake_reader_from_fd(struct pex_pipeline *, int fd, int)
{
	return stream_for(fd, "r");
}

static FILE *
fake_writer_from_fd(struct pex_pipeline *, int fd, int binary)
{
	fake.binary_flags.push_back(binary);
	if (fake.writer_fails) {
		errno = ENOMEM;
		return nullptr;
	}
	return stream_for(fd, "w");
}

static void
fake_cleanup_hook(struct pex_pipeline *)
{
	fake.hook_calls++;
}

const pex_ops fake_pex_ops = {
    .open_for_read = fake_open_for_read,
    .open_for_write = fake_open_for_write,
    .spawn_child = fake_spawn_child,
    .close_fd = fake_close_fd,
    .wait_child = fake_wait_child,
    .make_pipe = fake_make_pipe,
    .reader_from_fd = fake_reader_from_fd,
    .writer_from_fd = fake_writer_from_fd,
    .cleanup_hook = fake_cleanup_hook,
};
