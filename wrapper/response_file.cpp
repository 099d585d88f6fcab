/*
 * Response-file pass-through: expansion and decision, writing, removal.
 */
#include "wrapper/response_file.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "support/argv.h"
#include "support/checked.h"
#include "support/join.h"
#include "support/temp_file.h"

char *
response_file_prepare(int *argc, char ***argv)
{
	char **given = *argv;
	argv_expand(argc, argv);
	/* argv_expand hands back a new vector exactly when it read a file. */
	if (*argv == given)
		return nullptr;
	return temp_file_make("");
}

static const size_t response_buffer_size = 64 * 1024;

/* A half-written file helps nobody and takes the space the next run
 * needs: remove it, but name it in the message.  WHAT is "open", "write
 * to" or "close". */
[[noreturn]] static void
fail(const char *what, const char *path)
{
	unlink(path);
	fatal_error("Cannot %s temporary file %s\n", what, path);
}

void
response_file_write(const char *path, char *const *child_argv,
                    char *run_argv[3])
{
	FILE *out = fopen(path, "w");
	if (out == nullptr)
		fail("open", path);
	/* Archive commands run to megabytes: write them in few large pieces.
	 * The buffer must be ours; given none, stdio keeps its own size. */
	setvbuf(out, static_cast<char *>(checked_malloc(response_buffer_size)),
	        _IOFBF, response_buffer_size);
	/* The tool path stays on the command line; the rest goes to the file.
	 */
	if (argv_write(child_argv + 1, out) != 0)
		fail("write to", path);
	if (fclose(out) == EOF)
		fail("close", path);

	run_argv[0] = child_argv[0];
	run_argv[1] = join_strings("@", path, nullptr);
	run_argv[2] = nullptr;
}

void
response_file_remove(const char *path)
{
	if (path != nullptr)
		unlink(path);
}
