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
#include "support/quote.h"
#include "support/temp_file.h"

/* The file and the descriptor it was created with, until written. */
static char *response_path = nullptr;
static int response_fd = -1;

char *
response_file_prepare(int *argc, char ***argv)
{
	char **given = *argv;
	argv_expand(argc, argv);
	/* argv_expand hands back a new vector exactly when it read a file. */
	if (*argv == given)
		return nullptr;
	return response_file_create();
}

char *
response_file_create(void)
{
	response_path = temp_file_open("", &response_fd);
	/* Running out of memory, or any other fatal end, must not leave it. */
	fatal_exit_hook = response_file_remove;
	return response_path;
}

/* A half-written file helps nobody and takes the space the next run
 * needs: the fatal exit removes it, but the message names it.  WHAT is
 * "open", "write to" or "close". */
[[noreturn]] static void
fail(const char *what)
{
	fatal_error("Cannot %s temporary file %s\n", what,
	            quote_name(response_path));
}

void
response_file_write(char *const *child_argv, char *run_argv[3])
{
	/* Through the descriptor we created the file with: the name may
	 * stand for another file by now. */
	FILE *out = fdopen(response_fd, "w");
	if (out == nullptr)
		fail("open");
	/* The tool path stays on the command line; the rest goes to the file,
	 * which argv_write hands the stream in large pieces.  A write refused
	 * at the end (no room, a file-size limit) shows in the flush. */
	if (argv_write(child_argv + 1, out) != 0 || fflush(out) != 0)
		fail("write to");
	if (fclose(out) == EOF)
		fail("close");
	response_fd = -1;

	run_argv[0] = child_argv[0];
	run_argv[1] = join_strings("@", response_path, nullptr);
	run_argv[2] = nullptr;
}

void
response_file_remove(void)
{
	if (response_path != nullptr)
		unlink(response_path);
	response_path = nullptr;
}
