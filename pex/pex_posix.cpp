/*
 * The POSIX backend of the pipeline: the only code that spawns children,
 * makes pipes, changes descriptor flags and waits.  Children are started
 * with posix_spawn and file actions alone, so nothing of ours runs between
 * the spawn and the child's own program; the backend keeps no state.
 */
#include "pex/pex.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/portability.h"

extern char **environ;

/*
 * The relay, and the child it serves until that child has been waited for.
 * Signals are taken only in the wait, so once the child is reaped none can
 * reach a stranger given its pid.
 */
static const struct pex_relay *relay = nullptr;
static pid_t relay_child = 0;

void
pex_set_relay(const struct pex_relay *to_use)
{
	relay = to_use;
}

/* New files are open to everyone, as far as the umask allows. */
constexpr mode_t NEW_FILE_MODE =
    S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH;

static int
open_for_read(struct pex_pipeline *, const char *name, int)
{
	return open(name, O_RDONLY);
}

static int
open_for_write(struct pex_pipeline *, const char *name, int, int append)
{
	int mode = O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC);
	return open(name, mode, NEW_FILE_MODE);
}

/* Make FD the child's descriptor TARGET, and drop the original. */
static int
move_fd(posix_spawn_file_actions_t *actions, int fd, int target,
        const char **errmsg)
{
	int rc;

	if (fd == target)
		return 0;
	if ((rc = posix_spawn_file_actions_adddup2(actions, fd, target)) != 0) {
		*errmsg = "posix_spawn_file_actions_adddup2";
		return rc;
	}
	if ((rc = posix_spawn_file_actions_addclose(actions, fd)) != 0)
		*errmsg = "posix_spawn_file_actions_addclose";
	return rc;
}

static int
add_file_actions(posix_spawn_file_actions_t *actions, int flags, int in_fd,
                 int out_fd, int err_fd, int child_close_fd,
                 const char **errmsg)
{
	int rc;

	if ((rc = move_fd(actions, in_fd, STDIN_FILENO, errmsg)) != 0 ||
	    (rc = move_fd(actions, out_fd, STDOUT_FILENO, errmsg)) != 0 ||
	    (rc = move_fd(actions, err_fd, STDERR_FILENO, errmsg)) != 0)
		return rc;
	if (child_close_fd >= 0 && (rc = posix_spawn_file_actions_addclose(
	                                actions, child_close_fd)) != 0) {
		*errmsg = "posix_spawn_file_actions_addclose";
		return rc;
	}
	/* After the error redirection, so that merging wins over an error
	 * file. */
	if ((flags & PEX_MERGE_STDERR) &&
	    (rc = posix_spawn_file_actions_adddup2(actions, STDOUT_FILENO,
	                                           STDERR_FILENO)) != 0) {
		*errmsg = "posix_spawn_file_actions_adddup2";
		return rc;
	}
	return 0;
}

/*
 * The child owns its descriptors now; close the parent's copies.  A failed
 * close does not stop the others: the caller will not close them for us,
 * and a descriptor whose close failed is not ours to close again.  The
 * child runs either way, so its pid comes back either way: the caller
 * must still wait for it.
 */
static pid_t
close_parent_copies(pid_t pid, int in_fd, int out_fd, int err_fd,
                    const char **errmsg, int *err)
{
	const int fds[] = {in_fd, out_fd, err_fd};
	const int standard_fds[] = {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO};
	int first_errno = 0;

	for (size_t i = 0; i < sizeof fds / sizeof fds[0]; i++) {
		if (fds[i] != standard_fds[i] && close(fds[i]) != 0 &&
		    first_errno == 0)
			first_errno = errno;
	}
	if (first_errno != 0) {
		*errmsg = "close";
		*err = first_errno;
	}
	return pid;
}

/* The signals we keep blocked for the relay are the child's to receive,
 * and act on as they would have without us. */
static int
unblock_in_child(posix_spawnattr_t *attr, const char **errmsg)
{
	int rc = posix_spawnattr_setsigmask(attr, &relay->child_mask);
	if (rc != 0) {
		*errmsg = "posix_spawnattr_setsigmask";
		return rc;
	}
	rc = posix_spawnattr_setsigdefault(attr, &relay->child_default);
	if (rc != 0) {
		*errmsg = "posix_spawnattr_setsigdefault";
		return rc;
	}
	if ((rc = posix_spawnattr_setflags(
	         attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF)) != 0)
		*errmsg = "posix_spawnattr_setflags";
	return rc;
}

static pid_t
spawn_child(struct pex_pipeline *, int flags, const char *executable,
            char *const *argv, char *const *env, int in_fd, int out_fd,
            int err_fd, int child_close_fd, const char **errmsg, int *err)
{
	posix_spawnattr_t attr;
	posix_spawn_file_actions_t actions;
	pid_t pid = -1;
	int rc;

	*err = 0;
	if ((rc = posix_spawnattr_init(&attr)) != 0) {
		*errmsg = "posix_spawnattr_init";
		*err = rc;
		return -1;
	}
	if ((rc = posix_spawn_file_actions_init(&actions)) != 0) {
		*errmsg = "posix_spawn_file_actions_init";
		goto out_attr;
	}
	if ((rc = add_file_actions(&actions, flags, in_fd, out_fd, err_fd,
	                           child_close_fd, errmsg)) != 0)
		goto out_actions; /* add_file_actions named the call */
	if ((flags & PEX_RELAY_SIGNALS) && relay != nullptr &&
	    (rc = unblock_in_child(&attr, errmsg)) != 0)
		goto out_actions;

	if (env == nullptr)
		env = environ;
	if (flags & PEX_USE_PATH) {
		rc = posix_spawnp(&pid, executable, &actions, &attr, argv, env);
		if (rc != 0)
			*errmsg = "posix_spawnp";
	} else {
		rc = posix_spawn(&pid, executable, &actions, &attr, argv, env);
		if (rc != 0)
			*errmsg = "posix_spawn";
	}
	/* A C library (musl) puts back the mask it found without the numbers
	 * it keeps for itself: block them again at once. */
	if ((flags & PEX_RELAY_SIGNALS) && relay != nullptr)
		VEK_SIGPROCMASK(SIG_BLOCK, &relay->signals, nullptr);

out_actions:
	posix_spawn_file_actions_destroy(&actions);
out_attr:
	posix_spawnattr_destroy(&attr);
	if (rc != 0) {
		*err = rc;
		return -1;
	}
	if ((flags & PEX_RELAY_SIGNALS) && relay != nullptr)
		relay_child = pid;
	return close_parent_copies(pid, in_fd, out_fd, err_fd, errmsg, err);
}

static int
close_fd(struct pex_pipeline *, int fd)
{
	return close(fd);
}

/*
 * Wait for the relay's child, taking the relayed signals as they come and
 * handing them on.  SIGCHLD is blocked like them, so that its coming after
 * a look that found the child running still ends the sleep.
 */
static pid_t
reap_relaying(pid_t pid, int *status, struct rusage *resources)
{
	sigset_t wanted = relay->signals;
	VEK_SIGADDSET(&wanted, SIGCHLD);
	/* The child was started after SIGCHLD was blocked: until it ends,
	 * one comes, so there is no need to look before the first sleep. */
	for (;;) {
		siginfo_t info;
		int sig = VEK_SIGTIMEDWAIT(&wanted, &info, nullptr);
		if (sig == SIGCHLD) {
			pid_t waited = wait4(pid, status, WNOHANG, resources);
			if (waited != 0)
				return waited;
		} else if (sig > 0 && relay->take(&info) != 0) {
			kill(pid, sig);
		}
	}
}

static int
wait_child(struct pex_pipeline *, pid_t pid, int *status,
           struct pex_usage *usage, int kill_first, const char **errmsg,
           int *err)
{
	struct rusage resources;
	struct rusage *wanted = usage != nullptr ? &resources : nullptr;
	bool relaying = pid == relay_child && relay != nullptr;
	pid_t waited;

	if (kill_first)
		kill(pid, SIGTERM);
	/* A signal caught while we sleep here says nothing about the child;
	 * only a real failure of the wait is reported. */
	do {
		waited = relaying ? reap_relaying(pid, status, wanted)
		                  : wait4(pid, status, 0, wanted);
	} while (waited < 0 && errno == EINTR);
	if (relaying)
		relay_child = 0;
	if (waited < 0) {
		*errmsg = "wait";
		*err = errno;
		return -1;
	}
	if (usage != nullptr) {
		usage->cpu_user_s = resources.ru_utime.tv_sec;
		usage->cpu_user_us = resources.ru_utime.tv_usec;
		usage->cpu_system_s = resources.ru_stime.tv_sec;
		usage->cpu_system_us = resources.ru_stime.tv_usec;
	}
	return 0;
}

/*
 * Both ends are close-on-exec, so that only the child a pipe end is handed
 * to (through a dup in its file actions) holds it; every other child,
 * including ones we start for other pipelines, would otherwise keep a
 * stranger's pipe open and hide its end of file.  An end that landed on a
 * standard descriptor (we run with one closed) reaches the child under that
 * number without a dup, so it stays inheritable.
 */
static int
make_pipe(struct pex_pipeline *, int fds[2], int)
{
	if (pipe(fds) != 0)
		return -1;
	for (int i = 0; i < 2; i++) {
		if (fds[i] > STDERR_FILENO &&
		    fcntl(fds[i], F_SETFD, FD_CLOEXEC) != 0) {
			int saved_errno = errno;
			close(fds[0]);
			close(fds[1]);
			errno = saved_errno;
			return -1;
		}
	}
	return 0;
}

static FILE *
reader_from_fd(struct pex_pipeline *, int fd, int)
{
	return fdopen(fd, "r");
}

static FILE *
writer_from_fd(struct pex_pipeline *, int fd, int)
{
	/* Children started later must not hold our write end: the reader
	 * would never see end of file. */
	if (fcntl(fd, F_SETFD, FD_CLOEXEC) != 0)
		return nullptr;
	return fdopen(fd, "w");
}

static void
cleanup_hook(struct pex_pipeline *)
{
}

constexpr pex_ops posix_pex_ops = {
    .open_for_read = open_for_read,
    .open_for_write = open_for_write,
    .spawn_child = spawn_child,
    .close_fd = close_fd,
    .wait_child = wait_child, /* wait4, with the usage when wanted */
    .make_pipe = make_pipe,
    .reader_from_fd = reader_from_fd,
    .writer_from_fd = writer_from_fd,
    .cleanup_hook = cleanup_hook, /* nothing to release */
};
