/*
 * Process pipelines.  A pipeline starts child programs (its stages), feeds
 * the standard output of each into the standard input of the next through
 * a pipe or a temporary file, redirects standard error as asked, and later
 * collects the children's wait statuses and CPU usage.
 *
 * Results, throughout the layer:
 *  - operations that can fail return null on success or a constant text
 *    naming the failed step (never freed), and store the errno value of the
 *    failed call, or 0 when no system call failed, through ERR;
 *  - the status and usage retrievals (and the collection behind them)
 *    return 1 on success and 0 on failure;
 *  - the backend's operations return >= 0, or -1 with errno;
 *  - yes/no arguments and fields are ints, nonzero for yes.
 * These shapes are fixed by the layer's published interface.  The helpers
 * inside pex/, whose shape is ours to choose, take and give yes/no as bool.
 */
#ifndef VEK_PEX_PEX_H
#define VEK_PEX_PEX_H

#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/types.h>

struct pex_pipeline;

/* CPU time of one child. */
struct pex_usage {
	int64_t cpu_user_s;    /* user time, whole seconds */
	int64_t cpu_user_us;   /* user time, microseconds part */
	int64_t cpu_system_s;  /* system time, whole seconds */
	int64_t cpu_system_us; /* system time, microseconds part */
};

/* Pipeline flags, given at creation. */
constexpr int PEX_RECORD_USAGE = 0x1; /* collect a pex_usage per child */
constexpr int PEX_PIPES = 0x2;        /* connect stages by pipes, not files */
constexpr int PEX_KEEP_TEMPS = 0x4;   /* leave temporary files on disk */

/* Stage flags, given to each stage. */
constexpr int PEX_FINAL_STAGE = 0x1;       /* last stage; completes the pipe */
constexpr int PEX_USE_PATH = 0x2;          /* search PATH for the program */
constexpr int PEX_OUTNAME_IS_SUFFIX = 0x4; /* output name follows temp stem */
constexpr int PEX_MERGE_STDERR = 0x8;      /* stderr goes where stdout goes */
constexpr int PEX_BINARY_IN = 0x10;        /* binary input */
constexpr int PEX_BINARY_OUT = 0x20;       /* binary output */
constexpr int PEX_STDERR_TO_PIPE = 0x40;   /* stderr to a pipe we read */
constexpr int PEX_BINARY_ERR = 0x80;       /* binary error output */
constexpr int PEX_APPEND_OUT = 0x100;      /* append to the output file */
constexpr int PEX_APPEND_ERR = 0x200;      /* append to the error file */
constexpr int PEX_RELAY_SIGNALS = 0x400;   /* gets signals, see pex_relay */

/*
 * The process and descriptor work of a pipeline.  Each operation gets the
 * pipeline first; unless said otherwise it returns >= 0, or -1 with errno.
 */
struct pex_ops {
	/* A descriptor reading NAME. */
	int (*open_for_read)(struct pex_pipeline *pipeline, const char *name,
	                     int binary);
	/* A descriptor writing NAME, created if missing, truncated unless
	 * APPEND. */
	int (*open_for_write)(struct pex_pipeline *pipeline, const char *name,
	                      int binary, int append);
	/*
	 * Start EXECUTABLE with IN_FD, OUT_FD and ERR_FD as its standard
	 * streams and CHILD_CLOSE_FD (unless -1) closed.  Once the child has
	 * started, the parent's copies of the three (those that are not 0, 1,
	 * 2) are closed and the process id comes back; *ERRMSG is left alone,
	 * unless a close failed: then it is "close" with errno in *ERR, the
	 * stage has failed, and the child is still the caller's to wait for.
	 * On -1 no child was started, *ERRMSG and *ERR say why, and the three
	 * are left open for the caller.
	 */
	pid_t (*spawn_child)(struct pex_pipeline *pipeline, int flags,
	                     const char *executable, char *const *argv,
	                     char *const *env, int in_fd, int out_fd,
	                     int err_fd, int child_close_fd,
	                     const char **errmsg, int *err);
	/* close(FD). */
	int (*close_fd)(struct pex_pipeline *pipeline, int fd);
	/*
	 * Wait for PID, after sending it SIGTERM when KILL_FIRST; the raw wait
	 * status goes to *STATUS and, when USAGE is not null, its CPU time
	 * there.  Returns 0, or -1 with *ERRMSG and *ERR set.
	 */
	int (*wait_child)(struct pex_pipeline *pipeline, pid_t pid, int *status,
	                  struct pex_usage *usage, int kill_first,
	                  const char **errmsg, int *err);
	/* A pipe: FDS[0] reads, FDS[1] writes. */
	int (*make_pipe)(struct pex_pipeline *pipeline, int fds[2], int binary);
	/* A stream reading FD, or null. */
	FILE *(*reader_from_fd)(struct pex_pipeline *pipeline, int fd,
	                        int binary);
	/* A stream writing FD that later children do not inherit, or null
	 * (FD then stays open). */
	FILE *(*writer_from_fd)(struct pex_pipeline *pipeline, int fd,
	                        int binary);
	/* Called last by pex_destroy; may be null. */
	void (*cleanup_hook)(struct pex_pipeline *pipeline);
};

/* The table of the POSIX backend. */
extern const pex_ops posix_pex_ops;

/*
 * How a child started with PEX_RELAY_SIGNALS shares our signals, without a
 * handler of ours.  The caller keeps SIGNALS and SIGCHLD blocked from
 * before the child starts until it has been waited for, and gives SIGCHLD
 * a handler (which then never runs): a system may drop a blocked signal
 * whose action is to ignore it, as SIGCHLD's is by default.  The child starts
 * with CHILD_MASK as its signal mask, and with the default action for
 * each of CHILD_DEFAULT.  While it is waited for, each of SIGNALS that
 * comes is taken, handed to TAKE and, when TAKE returns nonzero, sent on
 * to the child.  Only the POSIX backend's children are reached.
 */
struct pex_relay {
	sigset_t signals;
	sigset_t child_mask;
	sigset_t child_default;
	int (*take)(const siginfo_t *info);
};

/* The relay for children started from now on (borrowed), or null. */
void pex_set_relay(const struct pex_relay *relay);

/*
 * A new empty pipeline over OPS; never null.  CALLER_NAME and TEMP_STEM (the
 * start of temporary file names, may be null) are borrowed, not copied.
 */
struct pex_pipeline *pex_create_with_ops(int flags, const char *caller_name,
                                         const char *temp_stem,
                                         const struct pex_ops *ops);

/* pex_create_with_ops over posix_pex_ops. */
struct pex_pipeline *pex_create(int flags, const char *caller_name,
                                const char *temp_stem);

/*
 * Start the next stage, EXECUTABLE with ARGV (element 0 included) and ENV
 * (null: ours).  Its output goes to the next stage, or, for the final stage,
 * to OUTNAME or our standard output; its standard error to ERRNAME, a pipe
 * or ours.  All arguments are borrowed.  Null on success, else the failed
 * step's text with *ERR set.
 */
const char *pex_add_stage_env(struct pex_pipeline *pipeline, int flags,
                              const char *executable, char *const *argv,
                              char *const *env, const char *outname,
                              const char *errname, int *err);

/* pex_add_stage_env with our environment. */
const char *pex_add_stage(struct pex_pipeline *pipeline, int flags,
                          const char *executable, char *const *argv,
                          const char *outname, const char *errname, int *err);

/*
 * Wait for every child not yet waited for and copy COUNT raw wait statuses,
 * in the order the children started, into VECTOR; entries past the last
 * child are 0.  Returns 1, or 0 when a wait failed: the published shape,
 * the opposite of argv_write's.
 */
int pex_get_status(struct pex_pipeline *pipeline, int count, int *vector);

/* As pex_get_status for CPU usage; 0 also when the pipeline was not created
 * with PEX_RECORD_USAGE.  The programs do not use it. */
int pex_get_usage(struct pex_pipeline *pipeline, int count,
                  struct pex_usage *vector);

/*
 * Close what the pipeline holds, stop (SIGTERM) and wait for children not
 * yet waited for, remove temporary files unless PEX_KEEP_TEMPS, and free it.
 */
void pex_destroy(struct pex_pipeline *pipeline);

/*
 * Run one program to completion: create, add one stage with FLAGS, wait and
 * destroy.  The raw wait status goes to *STATUS when the child could be
 * started.  With no names and no redirecting flags the child inherits our
 * standard streams untouched.
 */
const char *pex_run_single(int flags, const char *executable, char *const *argv,
                           const char *caller_name, const char *outname,
                           const char *errname, int *status, int *err);

/*
 * Streams onto a pipeline.  The programs use none of the four below.
 */

/*
 * Before the first stage: a stream writing the file the first stage will
 * read, NAME as a stage output name would be taken (FLAGS: suffix and
 * binary bits), or a new temporary file.  The file stays on disk.  The next
 * stage closes the stream.  Null with errno set (EINVAL when too late).
 */
FILE *pex_open_input_file(struct pex_pipeline *pipeline, int flags,
                          const char *name);

/*
 * Before the first stage of a PEX_PIPES pipeline: a stream writing a pipe
 * the first stage reads.  The caller closes it.  Null with errno set.
 */
FILE *pex_open_input_pipe(struct pex_pipeline *pipeline, int binary);

/*
 * After a non-final stage: a stream reading its output, owned by the
 * pipeline.  Over temporary files this waits for all children first.
 * Null when there is nothing to read.
 */
FILE *pex_open_output_reader(struct pex_pipeline *pipeline, int binary);

/* After a PEX_STDERR_TO_PIPE stage: a stream reading its standard error,
 * owned by the pipeline.  Null when there is none. */
FILE *pex_open_error_reader(struct pex_pipeline *pipeline, int binary);

#endif
