/*
 * argv_expand over response files written from the input, which may name
 * each other, themselves, missing files or directories.  Nothing may
 * crash, overrun or leak, the caller's vector must come back untouched and
 * the count must match the vector handed back.
 *
 * The two fatal errors (a directory, too many "@" arguments) are real
 * outcomes here: fatal_exit_hook jumps back instead of letting the process
 * exit.  argv_expand holds no file and no buffer at either point, and the
 * vector it was working on is in the caller's pointer, so nothing leaks.
 *
 * The files live in a private directory, the working directory while an
 * input runs (and only then: libFuzzer opens its own files relative to the
 * one it was started in), and every '/' in their text becomes '_', so the
 * names they hold can only reach those files, "." and "..", never the rest
 * of the system.
 *
 * Input: the first byte picks one to four files, named "a" to "d"; for all
 * but the last, one further byte gives its length (modulo what is left);
 * the last takes the rest.  The command line is "prog @a x".
 */
#include <fcntl.h>
#include <setjmp.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "support/argv.h"
#include "support/checked.h"

constexpr int MAX_FILES = 4;

/*
 * A file that names itself k times grows the vector by k - 1 arguments on
 * each of up to 2000 rounds, each round moving the whole vector.  Inputs
 * with more '@' bytes than this are passed over: that keeps the vector
 * small and still reaches every path, self-reference and the limit
 * included.
 */
constexpr size_t MAX_AT_SIGNS = 64;

/*
 * Each run frees thousands of blocks (a stream and a text per file read);
 * with the default quarantine the freed memory alone would push a long run
 * past libFuzzer's memory limit.  32 MB still catches a late use.
 */
extern "C" const char *
__asan_default_options(void)
{
	return "quarantine_size_mb=32";
}

static const char *const file_names[MAX_FILES] = {"a", "b", "c", "d"};

static char work_dir[] = "/tmp/fuzz_argv_expand.XXXXXX";

static int work_dir_fd = -1;
static int start_dir_fd = -1;

static jmp_buf fatal_return;
static char **vector_in_use;
static int count_in_use;

static void
jump_back(void)
{
	longjmp(fatal_return, 1);
}

static void
remove_work_dir(void)
{
	for (const char *name : file_names)
		unlinkat(work_dir_fd, name, 0);
	rmdir(work_dir);
}

extern "C" int
LLVMFuzzerInitialize(int *, char ***)
{
	if (mkdtemp(work_dir) == nullptr ||
	    (work_dir_fd = open(work_dir, O_RDONLY | O_DIRECTORY)) < 0 ||
	    (start_dir_fd = open(".", O_RDONLY | O_DIRECTORY)) < 0) {
		perror("fuzz_argv_expand: work directory");
		exit(1);
	}
	atexit(remove_work_dir);
	fatal_exit_hook = jump_back;
	return 0;
}

static void
write_file(const char *name, const uint8_t *data, size_t size)
{
	FILE *file = fopen(name, "w");
	if (file == nullptr)
		abort();
	for (size_t i = 0; i < size; i++)
		putc(data[i] == '/' ? '_' : data[i], file);
	fclose(file);
}

static void
write_files(const uint8_t *data, size_t size)
{
	for (const char *name : file_names)
		unlink(name);
	if (size == 0)
		return;
	int files = 1 + data[0] % MAX_FILES;
	data++;
	size--;
	for (int i = 0; i < files; i++) {
		size_t len = size;
		if (i < files - 1 && size > 0) {
			len =
			    data[0] % size; /* at most what is left after it */
			data++;
			size--;
		}
		write_file(file_names[i], data, len);
		data += len;
		size -= len;
	}
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	size_t at_signs = 0;
	for (size_t i = 0; i < size; i++)
		at_signs += data[i] == '@';
	if (at_signs > MAX_AT_SIGNS)
		return 0;
	if (fchdir(work_dir_fd) != 0)
		abort();
	write_files(data, size);

	static const char *const given[] = {"prog", "@a", "x"};
	constexpr int given_count = sizeof given / sizeof given[0];
	char *strings[given_count];
	char *argv[given_count + 1];
	for (int i = 0; i < given_count; i++)
		argv[i] = strings[i] = checked_strdup(given[i]);
	argv[given_count] = nullptr;

	/* Static, so that both are still valid after the hook jumps back. */
	vector_in_use = argv;
	count_in_use = given_count;
	if (setjmp(fatal_return) == 0) {
		argv_expand(&count_in_use, &vector_in_use);
		if (argv_count(vector_in_use) != count_in_use)
			abort();
	}

	if (fchdir(start_dir_fd) != 0)
		abort();

	for (int i = 0; i < given_count; i++)
		if (argv[i] != strings[i] || strcmp(argv[i], given[i]) != 0)
			abort();
	if (argv[given_count] != nullptr)
		abort();
	if (vector_in_use != argv)
		argv_free(vector_in_use);
	for (char *s : strings)
		free(s);
	return 0;
}
