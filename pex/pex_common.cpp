/*
 * The pipeline itself: stages, their redirections, collecting the children
 * and cleaning up.  Every process, pipe and descriptor operation goes
 * through the pipeline's backend table.  Temporary files are the exception:
 * they are made through the temp-file module and removed with unlink(),
 * since creating and removing a named file needs nothing a backend would
 * change.
 */
#include "pex/pex_impl.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "support/checked.h"
#include "support/join.h"
#include "support/temp_file.h"

struct pex_pipeline *
pex_create_with_ops(int flags, const char *caller_name, const char *temp_stem,
                    const struct pex_ops *ops)
{
	struct pex_pipeline *pipeline = static_cast<struct pex_pipeline *>(
	    checked_malloc(sizeof *pipeline));
	*pipeline = pex_pipeline{
	    .pipeline_flags = flags,
	    .caller_name = caller_name,
	    .temp_stem = temp_stem,
	    .pending_input_fd = STDIN_FILENO,
	    .pending_input_path = nullptr,
	    .pending_input_path_owned = 0,
	    .error_pipe_read_fd = -1,
	    .child_count = 0,
	    .child_pids = nullptr,
	    .child_statuses = nullptr,
	    .child_usages = nullptr,
	    .collected_count = 0,
	    .input_stream = nullptr,
	    .output_stream = nullptr,
	    .error_stream = nullptr,
	    .cleanup_file_count = 0,
	    .cleanup_files = nullptr,
	    .backend = ops,
	    .backend_state = nullptr,
	};
	return pipeline;
}

struct pex_pipeline *
pex_create(int flags, const char *caller_name, const char *temp_stem)
{
	return pex_create_with_ops(flags, caller_name, temp_stem,
	                           &posix_pex_ops);
}

void
pex_free_name(const char *name)
{
	free(const_cast<char *>(name));
}

const char *
pex_temp_name(struct pex_pipeline *pipeline, int flags, const char *name)
{
	const char *stem = pipeline->temp_stem;

	if (name != nullptr && (flags & PEX_OUTNAME_IS_SUFFIX) == 0)
		return name;
	if (name != nullptr)
		return stem != nullptr ? join_strings(stem, name, nullptr)
		                       : temp_file_make(name);
	return stem != nullptr ? temp_file_from_stem(stem)
	                       : temp_file_make(nullptr);
}

/*
 * Close the descriptors a failed stage made or took over; -1 marks one not
 * made yet, and the standard numbers are the parent's own.
 */
static void
release_stage_fds(struct pex_pipeline *pipeline, int in_fd, int out_fd,
                  int err_fd)
{
	if (in_fd != STDIN_FILENO) {
		pipeline->backend->close_fd(pipeline, in_fd);
		/* The pipeline must not keep the number of a closed descriptor:
		 * pex_destroy would close it again. */
		if (pipeline->pending_input_fd == in_fd)
			pipeline->pending_input_fd = -1;
	}
	if (out_fd >= 0 && out_fd != STDOUT_FILENO)
		pipeline->backend->close_fd(pipeline, out_fd);
	if (err_fd >= 0 && err_fd != STDERR_FILENO)
		pipeline->backend->close_fd(pipeline, err_fd);
}

/*
 * Close the stream pex_open_input_file handed out, so that everything
 * written to it is in the file before a child reads it.
 */
static const char *
close_input_stream(struct pex_pipeline *pipeline)
{
	FILE *stream = pipeline->input_stream;

	if (stream == nullptr)
		return nullptr;
	/* fclose releases the stream even when it fails, so forget it first:
	 * a second attempt would close a freed stream. */
	pipeline->input_stream = nullptr;
	if (fclose(stream) != 0)
		return "closing pipeline input file";
	return nullptr;
}

/* The descriptor the stage reads: the previous stage's file or pipe. */
static const char *
take_input(struct pex_pipeline *pipeline, int flags, int *in_fd, int *err)
{
	const char *errmsg;

	if (pipeline->pending_input_path == nullptr) {
		if (pipeline->pending_input_fd < 0) {
			*err = 0;
			return "pipeline already complete";
		}
		*in_fd = pipeline->pending_input_fd;
		return nullptr;
	}

	/* The writer of the file must have finished before we read it. */
	if (!pex_collect(pipeline, 0, &errmsg, err))
		return errmsg;
	*in_fd = pipeline->backend->open_for_read(pipeline,
	                                          pipeline->pending_input_path,
	                                          (flags & PEX_BINARY_IN) != 0);
	if (*in_fd < 0) {
		*err = errno;
		return "open temporary file";
	}
	if (pipeline->pending_input_path_owned) {
		pex_free_name(pipeline->pending_input_path);
		pipeline->pending_input_path_owned = 0;
	}
	pipeline->pending_input_path = nullptr;
	return nullptr;
}

static void
add_cleanup_file(struct pex_pipeline *pipeline, char *name)
{
	int count = pipeline->cleanup_file_count + 1;

	pipeline->cleanup_files = static_cast<char **>(checked_realloc(
	    pipeline->cleanup_files, count * sizeof *pipeline->cleanup_files));
	pipeline->cleanup_files[count - 1] = name;
	pipeline->cleanup_file_count = count;
}

/*
 * Name the temporary file between this stage and the next and make it the
 * next stage's input.  Unless temporaries are kept the cleanup list owns
 * the name, taking a copy of a name that is the caller's.
 */
static const char *
pass_through_file(struct pex_pipeline *pipeline, int flags, const char *outname)
{
	const char *name = pex_temp_name(pipeline, flags, outname);
	bool owned;

	if (name == nullptr)
		return nullptr;
	if (pipeline->pipeline_flags & PEX_KEEP_TEMPS) {
		owned = name != outname;
	} else {
		add_cleanup_file(pipeline, name == outname
		                               ? checked_strdup(name)
		                               : const_cast<char *>(name));
		owned = false;
	}
	pipeline->pending_input_path = name;
	pipeline->pending_input_path_owned = owned;
	return name;
}

/*
 * Open the final stage's output file: OUTNAME, or the temporary stem
 * followed by it.  Returns the descriptor, or -1 with errno.
 */
static int
open_final_output(struct pex_pipeline *pipeline, int flags, const char *outname,
                  bool binary, bool append)
{
	if ((flags & PEX_OUTNAME_IS_SUFFIX) == 0)
		return pipeline->backend->open_for_write(pipeline, outname,
		                                         binary, append);

	/* Without a stem there is nothing to append to: the name is empty and
	 * the open fails rather than writing somewhere unexpected. */
	const char *stem = pipeline->temp_stem;
	char *name = stem != nullptr ? join_strings(stem, outname, nullptr)
	                             : checked_strdup("");
	int fd =
	    pipeline->backend->open_for_write(pipeline, name, binary, append);
	int saved_errno = errno;
	free(name);
	errno = saved_errno;
	return fd;
}

/* The descriptor the stage writes its standard output to. */
static const char *
make_output(struct pex_pipeline *pipeline, int flags, const char *outname,
            int in_fd, int *out_fd, int *err)
{
	bool binary = (flags & PEX_BINARY_OUT) != 0;
	bool append = (flags & PEX_APPEND_OUT) != 0;

	if (flags & PEX_FINAL_STAGE) {
		pipeline->pending_input_fd = -1;
		if (outname == nullptr) {
			*out_fd = STDOUT_FILENO;
			return nullptr;
		}
		*out_fd =
		    open_final_output(pipeline, flags, outname, binary, append);
	} else if (pipeline->pipeline_flags & PEX_PIPES) {
		int fds[2];
		if (pipeline->backend->make_pipe(pipeline, fds, binary) < 0) {
			*err = errno;
			release_stage_fds(pipeline, in_fd, -1, -1);
			return "pipe";
		}
		pipeline->pending_input_fd = fds[0];
		*out_fd = fds[1];
		return nullptr;
	} else {
		const char *name = pass_through_file(pipeline, flags, outname);
		if (name == nullptr) {
			*err = 0;
			release_stage_fds(pipeline, in_fd, -1, -1);
			return "could not create temporary file";
		}
		*out_fd = pipeline->backend->open_for_write(pipeline, name,
		                                            binary, append);
	}

	if (*out_fd < 0) {
		*err = errno;
		release_stage_fds(pipeline, in_fd, -1, -1);
		return "open temporary output file";
	}
	return nullptr;
}

/* The descriptor the stage writes its standard error to. */
static const char *
make_error(struct pex_pipeline *pipeline, int flags, const char *errname,
           int in_fd, int out_fd, int *err_fd, int *err)
{
	const char *errmsg = nullptr;
	bool to_pipe = (flags & PEX_STDERR_TO_PIPE) != 0;
	bool binary = (flags & PEX_BINARY_ERR) != 0;

	*err = 0;
	if (errname != nullptr && to_pipe) {
		errmsg = "both ERRNAME and PEX_STDERR_TO_PIPE specified.";
	} else if (pipeline->error_pipe_read_fd != -1) {
		errmsg = "PEX_STDERR_TO_PIPE used in the middle of pipeline";
	} else if (errname != nullptr) {
		*err_fd = pipeline->backend->open_for_write(
		    pipeline, errname, binary, (flags & PEX_APPEND_ERR) != 0);
		if (*err_fd < 0) {
			*err = errno;
			errmsg = "open error file";
		}
	} else if (to_pipe) {
		int fds[2];
		if (pipeline->backend->make_pipe(pipeline, fds, binary) < 0) {
			*err = errno;
			errmsg = "pipe";
		} else {
			pipeline->error_pipe_read_fd = fds[0];
			*err_fd = fds[1];
		}
	} else {
		*err_fd = STDERR_FILENO;
	}

	if (errmsg != nullptr)
		release_stage_fds(pipeline, in_fd, out_fd, -1);
	return errmsg;
}

static void
record_child(struct pex_pipeline *pipeline, pid_t pid)
{
	int count = pipeline->child_count + 1;

	pipeline->child_pids = static_cast<pid_t *>(checked_realloc(
	    pipeline->child_pids, count * sizeof *pipeline->child_pids));
	pipeline->child_pids[count - 1] = pid;
	pipeline->child_count = count;
}

const char *
pex_add_stage_env(struct pex_pipeline *pipeline, int flags,
                  const char *executable, char *const *argv, char *const *env,
                  const char *outname, const char *errname, int *err)
{
	const char *errmsg;
	int in_fd = -1, out_fd = -1, err_fd = -1;

	if ((errmsg = close_input_stream(pipeline)) != nullptr)
		return errmsg;
	if ((errmsg = take_input(pipeline, flags, &in_fd, err)) != nullptr)
		return errmsg;
	if ((errmsg = make_output(pipeline, flags, outname, in_fd, &out_fd,
	                          err)) != nullptr)
		return errmsg;
	if ((errmsg = make_error(pipeline, flags, errname, in_fd, out_fd,
	                         &err_fd, err)) != nullptr)
		return errmsg;

	/*
	 * Over pipes the child must not hold the read end of its own output:
	 * if the next stage stopped reading, the child would fill the pipe and
	 * block instead of getting SIGPIPE.
	 */
	int child_close_fd = (pipeline->pipeline_flags & PEX_PIPES)
	                         ? pipeline->pending_input_fd
	                         : -1;
	errmsg = nullptr;
	pid_t pid = pipeline->backend->spawn_child(
	    pipeline, flags, executable, argv, env, in_fd, out_fd, err_fd,
	    child_close_fd, &errmsg, err);
	if (pid < 0) {
		release_stage_fds(pipeline, in_fd, out_fd, err_fd);
		return errmsg;
	}
	/*
	 * A started child is recorded even when the stage failed after all
	 * (the parent's copies of its descriptors would not close; the backend
	 * has let go of them): collecting and destroying wait for it.
	 */
	record_child(pipeline, pid);
	return errmsg;
}

const char *
pex_add_stage(struct pex_pipeline *pipeline, int flags, const char *executable,
              char *const *argv, const char *outname, const char *errname,
              int *err)
{
	return pex_add_stage_env(pipeline, flags, executable, argv, nullptr,
	                         outname, errname, err);
}

int
pex_collect(struct pex_pipeline *pipeline, int kill_first, const char **errmsg,
            int *err)
{
	int first = pipeline->collected_count;
	int count = pipeline->child_count;
	bool with_usage = (pipeline->pipeline_flags & PEX_RECORD_USAGE) != 0;
	bool all_waited = true;

	if (first == count)
		return 1;
	pipeline->child_statuses = static_cast<int *>(
	    checked_realloc(pipeline->child_statuses, count * sizeof(int)));
	if (with_usage)
		pipeline->child_usages =
		    static_cast<struct pex_usage *>(checked_realloc(
		        pipeline->child_usages, count * sizeof(pex_usage)));

	for (int i = first; i < count; i++) {
		/* A failed wait leaves its slots as they are; make that 0. */
		pipeline->child_statuses[i] = 0;
		struct pex_usage *usage = nullptr;
		if (with_usage) {
			usage = &pipeline->child_usages[i];
			*usage = pex_usage{};
		}
		if (pipeline->backend->wait_child(
		        pipeline, pipeline->child_pids[i],
		        &pipeline->child_statuses[i], usage, kill_first, errmsg,
		        err) < 0)
			all_waited = false;
	}
	pipeline->collected_count = count;
	return all_waited ? 1 : 0;
}

/* Collect any children still running; whether nothing failed. */
static bool
collect_pending(struct pex_pipeline *pipeline)
{
	const char *errmsg;
	int err;

	if (pipeline->collected_count >= pipeline->child_count)
		return true;
	return pex_collect(pipeline, 0, &errmsg, &err) != 0;
}

int
pex_get_status(struct pex_pipeline *pipeline, int count, int *vector)
{
	if (!collect_pending(pipeline))
		return 0;
	for (int i = 0; i < count; i++)
		vector[i] =
		    i < pipeline->child_count ? pipeline->child_statuses[i] : 0;
	return 1;
}

int
pex_get_usage(struct pex_pipeline *pipeline, int count,
              struct pex_usage *vector)
{
	if (!collect_pending(pipeline))
		return 0;
	if (pipeline->child_usages == nullptr)
		return 0;
	for (int i = 0; i < count; i++)
		vector[i] = i < pipeline->child_count
		                ? pipeline->child_usages[i]
		                : pex_usage{};
	return 1;
}

void
pex_destroy(struct pex_pipeline *pipeline)
{
	const char *errmsg;
	int err;

	if (pipeline->pending_input_fd > 0)
		pipeline->backend->close_fd(pipeline,
		                            pipeline->pending_input_fd);
	if (pipeline->error_pipe_read_fd > 0)
		pipeline->backend->close_fd(pipeline,
		                            pipeline->error_pipe_read_fd);
	/* Closing our read ends first lets a child blocked on writing to us
	 * end before we wait for it. */
	if (pipeline->output_stream != nullptr)
		fclose(pipeline->output_stream);
	if (pipeline->error_stream != nullptr)
		fclose(pipeline->error_stream);

	/*
	 * Nobody asked for the children still running: stop them rather than
	 * leave them unwaited.  Their usage is of no interest any more.
	 */
	if (pipeline->collected_count < pipeline->child_count) {
		pipeline->pipeline_flags &= ~PEX_RECORD_USAGE;
		pex_collect(pipeline, 1, &errmsg, &err);
	}

	if (pipeline->pending_input_path_owned)
		pex_free_name(pipeline->pending_input_path);
	free(pipeline->child_pids);
	free(pipeline->child_statuses);
	free(pipeline->child_usages);
	for (int i = 0; i < pipeline->cleanup_file_count; i++) {
		unlink(pipeline->cleanup_files[i]);
		free(pipeline->cleanup_files[i]);
	}
	free(pipeline->cleanup_files);
	if (pipeline->backend->cleanup_hook != nullptr)
		pipeline->backend->cleanup_hook(pipeline);
	free(pipeline);
}

const char *
pex_run_single(int flags, const char *executable, char *const *argv,
               const char *caller_name, const char *outname,
               const char *errname, int *status, int *err)
{
	struct pex_pipeline *pipeline = pex_create(0, caller_name, nullptr);
	const char *errmsg = pex_add_stage(pipeline, flags, executable, argv,
	                                   outname, errname, err);

	if (errmsg == nullptr && !pex_get_status(pipeline, 1, status)) {
		*err = 0;
		errmsg = "pex_get_status failed";
	}
	pex_destroy(pipeline);
	return errmsg;
}
