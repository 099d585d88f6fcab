/*
 * argv_write and argv_split are one text format seen from two sides: any
 * vector written must split back into itself.  The input's NUL bytes
 * separate the arguments, so every vector of one or more strings, empty
 * ones included, can be reached.  (An empty vector writes nothing, which
 * splits into one empty argument: that is the format's one blind spot and
 * is not tried.)
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "support/argv.h"
#include "support/checked.h"

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	/* One byte more so the last argument is ended like the others. */
	char *buffer = static_cast<char *>(checked_malloc(size + 1));
	memcpy(buffer, data, size);
	buffer[size] = '\0';

	size_t count = 1;
	for (size_t i = 0; i < size; i++)
		if (buffer[i] == '\0')
			count++;
	auto **argv =
	    static_cast<char **>(checked_malloc((count + 1) * sizeof(char *)));
	char *arg = buffer;
	for (size_t i = 0; i < count; i++) {
		argv[i] = arg;
		arg += strlen(arg) + 1;
	}
	argv[count] = nullptr;

	char *text = nullptr;
	size_t text_size = 0;
	FILE *stream = open_memstream(&text, &text_size);
	if (stream == nullptr)
		abort();
	if (argv_write(argv, stream) != 0)
		abort();
	fclose(stream);

	char **back = argv_split(text);
	if (back == nullptr || argv_count(back) != static_cast<int>(count))
		abort();
	for (size_t i = 0; i < count; i++)
		if (strcmp(back[i], argv[i]) != 0)
			abort();

	argv_free(back);
	free(text);
	free(argv);
	free(buffer);
	return 0;
}
