/*
 * Standard I/O streams onto a pipeline: one the caller writes for the first
 * stage to read (a file or a pipe), and readers of the last stage's output
 * and error.  Pipes and descriptors go through the backend; a named input
 * file is opened with fopen, which needs no backend.
 */
#include "pex/pex_impl.h"

#include <errno.h>
#include <stdio.h>

/* Input must be arranged before the first stage and only once. */
static bool
input_already_arranged(const struct pex_pipeline *pipeline)
{
	return pipeline->child_count != 0 || pipeline->pending_input_fd > 0 ||
	       pipeline->pending_input_path != nullptr;
}

FILE *
pex_open_input_file(struct pex_pipeline *pipeline, int flags, const char *name)
{
	if (input_already_arranged(pipeline)) {
		errno = EINVAL;
		return nullptr;
	}

	const char *path = pex_temp_name(pipeline, flags, name);
	if (path == nullptr)
		return nullptr;
	FILE *stream = fopen(path, (flags & PEX_BINARY_OUT) ? "wb" : "w");
	if (stream == nullptr) {
		int saved_errno = errno;
		if (path != name)
			pex_free_name(path);
		errno = saved_errno;
		return nullptr;
	}

	pipeline->pending_input_path = path;
	pipeline->pending_input_path_owned = path != name;
	pipeline->input_stream = stream;
	return stream;
}

FILE *
pex_open_input_pipe(struct pex_pipeline *pipeline, int binary)
{
	int fds[2];

	if (input_already_arranged(pipeline) ||
	    (pipeline->pipeline_flags & PEX_PIPES) == 0) {
		errno = EINVAL;
		return nullptr;
	}
	if (pipeline->backend->make_pipe(pipeline, fds, binary != 0) < 0)
		return nullptr;

	FILE *stream =
	    pipeline->backend->writer_from_fd(pipeline, fds[1], binary != 0);
	if (stream == nullptr) {
		int saved_errno = errno;
		pipeline->backend->close_fd(pipeline, fds[0]);
		pipeline->backend->close_fd(pipeline, fds[1]);
		errno = saved_errno;
		return nullptr;
	}
	pipeline->pending_input_fd = fds[0];
	return stream;
}

/* The last stage wrote a temporary file: wait for it, then read the file. */
static FILE *
open_output_file(struct pex_pipeline *pipeline, bool binary)
{
	const char *errmsg;
	int err;

	if (!pex_collect(pipeline, 0, &errmsg, &err)) {
		errno = err;
		return nullptr;
	}
	pipeline->output_stream =
	    fopen(pipeline->pending_input_path, binary ? "rb" : "r");
	int saved_errno = errno;
	if (pipeline->pending_input_path_owned) {
		pex_free_name(pipeline->pending_input_path);
		pipeline->pending_input_path_owned = 0;
	}
	pipeline->pending_input_path = nullptr;
	errno = saved_errno;
	return pipeline->output_stream;
}

FILE *
pex_open_output_reader(struct pex_pipeline *pipeline, int binary)
{
	if (pipeline->pending_input_path != nullptr)
		return open_output_file(pipeline, binary);
	if (pipeline->pending_input_fd <= 0)
		return nullptr;
	pipeline->output_stream = pipeline->backend->reader_from_fd(
	    pipeline, pipeline->pending_input_fd, binary != 0);
	/* Without a stream the descriptor stays ours to close. */
	if (pipeline->output_stream != nullptr)
		pipeline->pending_input_fd = -1;
	return pipeline->output_stream;
}

FILE *
pex_open_error_reader(struct pex_pipeline *pipeline, int binary)
{
	if (pipeline->error_pipe_read_fd <= 0)
		return nullptr;
	pipeline->error_stream = pipeline->backend->reader_from_fd(
	    pipeline, pipeline->error_pipe_read_fd, binary != 0);
	if (pipeline->error_stream != nullptr)
		pipeline->error_pipe_read_fd = -1;
	return pipeline->error_stream;
}
