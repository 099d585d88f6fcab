/*
 * The relative prefix over arbitrary strings: nothing may crash, overrun or
 * leak, with or without link resolution and with or without a $PATH
 * search.  The input holds up to four NUL-separated strings: program, bin
 * prefix, target prefix and, when present, the value for PATH (otherwise
 * PATH is unset).  Lookups only stat and resolve, so any path is safe.
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "support/checked.h"
#include "support/relocate.h"

/* The strings taken from the input. */
constexpr int PIECE_COUNT = 4;

/*
 * Taken as given, a program path holding '/' is never searched for, so a
 * result must start with its directory: everything before its last
 * component, which is the file name even when it ends in '/'.
 */
static void
check_directory_kept(const char *prog, const char *result)
{
	if (result == nullptr || strchr(prog, '/') == nullptr)
		return;
	size_t dir_len = strlen(prog);
	while (dir_len > 0 && prog[dir_len - 1] == '/')
		dir_len--;
	while (dir_len > 0 && prog[dir_len - 1] != '/')
		dir_len--;
	if (strncmp(result, prog, dir_len) != 0)
		abort();
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	char *buffer = static_cast<char *>(checked_malloc(size + 1));
	memcpy(buffer, data, size);
	buffer[size] = '\0';

	const char *piece[PIECE_COUNT] = {"", "", "", nullptr};
	const char *at = buffer;
	for (int i = 0; i < PIECE_COUNT && at <= buffer + size; i++) {
		piece[i] = at;
		at += strlen(at) + 1;
	}
	if (piece[3] != nullptr)
		setenv("PATH", piece[3], 1);
	else
		unsetenv("PATH");

	char *result = relative_prefix_no_links(piece[0], piece[1], piece[2]);
	check_directory_kept(piece[0], result);
	free(result);
	free(relative_prefix(piece[0], piece[1], piece[2]));
	free(real_path_dup(piece[0]));
	if (path_basename_dos(piece[0]) > piece[0] + strlen(piece[0]))
		abort();

	free(buffer);
	return 0;
}
