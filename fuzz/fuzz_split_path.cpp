/*
 * split_path_components: the components, joined in order, give the path
 * back; each is a non-empty stretch of non-separators followed by one whole
 * run of '/', and only the last may lack the run.  The input up to its
 * first NUL is the path.
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "support/checked.h"
#include "support/relocate.h"

static bool
well_formed(const char *component, bool last)
{
	size_t name = strcspn(component, "/");
	size_t run = strspn(component + name, "/");
	if (name + run == 0 || component[name + run] != '\0')
		return false;
	return run > 0 || last;
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	char *path = static_cast<char *>(checked_malloc(size + 1));
	memcpy(path, data, size);
	path[size] = '\0';

	const int untouched = -12345;
	int count = untouched;
	char **components = split_path_components(path, &count);
	if (*path == '\0') {
		if (components != nullptr || count != untouched)
			abort();
		free(path);
		return 0;
	}
	if (components == nullptr)
		abort();

	size_t offset = 0;
	int found = 0;
	for (char **c = components; *c != nullptr; c++, found++) {
		size_t len = strlen(*c);
		if (!well_formed(*c, c[1] == nullptr) ||
		    strncmp(path + offset, *c, len) != 0)
			abort();
		offset += len;
	}
	if (path[offset] != '\0' || found != count)
		abort();

	for (char **c = components; *c != nullptr; c++)
		free(*c);
	free(components);
	free(path);
	return 0;
}
