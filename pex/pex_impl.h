/*
 * The pipeline record and the helpers shared by the files of pex/.  Nothing
 * outside pex/ includes this header.
 */
#ifndef VEK_PEX_PEX_IMPL_H
#define VEK_PEX_PEX_IMPL_H

#include <stdio.h>
#include <sys/types.h>

#include "pex/pex.h"

struct pex_pipeline {
	int pipeline_flags;      /* PEX_RECORD_USAGE, PEX_PIPES, ... */
	const char *caller_name; /* borrowed; kept for the caller's sake */
	const char *temp_stem;   /* borrowed; may be null */
	int pending_input_fd;    /* next stage's stdin; 0 ours, -1 complete */
	const char *pending_input_path; /* file the next stage reads instead */
	int pending_input_path_owned;   /* we free pending_input_path */
	int error_pipe_read_fd;         /* PEX_STDERR_TO_PIPE read end, or -1 */
	int child_count;
	pid_t *child_pids;              /* in the order of starting */
	int *child_statuses;            /* made by the first collection */
	struct pex_usage *child_usages; /* only under PEX_RECORD_USAGE */
	int collected_count;            /* the first ones are waited for */
	FILE *input_stream;             /* closed by the next stage */
	FILE *output_stream;            /* closed by pex_destroy */
	FILE *error_stream;             /* closed by pex_destroy */
	int cleanup_file_count;
	char **cleanup_files; /* removed and freed by pex_destroy */
	const struct pex_ops *backend;
	void *backend_state; /* the backend's; unused by the POSIX one */
};

/*
 * Wait for every child not yet waited for, SIGTERM first when KILL_FIRST.
 * Returns 1 when all waits succeeded, else 0 with the last failure in
 * *ERRMSG and *ERR: the published shape of pex_get_status.
 */
int pex_collect(struct pex_pipeline *pipeline, int kill_first,
                const char **errmsg, int *err);

/*
 * The file name for output NAME under stage FLAGS: NAME itself, the
 * temporary stem followed by NAME (PEX_OUTNAME_IS_SUFFIX), or a new empty
 * temporary file.  Anything but NAME is the caller's to free.  Null, with
 * errno, only when a file from the stem cannot be made.
 */
const char *pex_temp_name(struct pex_pipeline *pipeline, int flags,
                          const char *name);

/* Free a name the pipeline made; takes the const that names share with
 * borrowed ones. */
void pex_free_name(const char *name);

#endif
