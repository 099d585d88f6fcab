/*
 * Relocation of build-time directories.  An installed tree may be moved as a
 * whole; what stays true is the relative way from its bin directory to each
 * of its other directories.  So we find the directory the running program
 * really sits in and walk that same way from there.  Everything here uses
 * malloc rather than the checked allocators: running out of memory only
 * means the caller keeps its built-in directory.
 */
#include "support/relocate.h"

#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/char_class.h"
#include "support/portability.h"

static const char UP_ONE_LEVEL[] = "../";

static size_t
count_separator_runs(const char *path)
{
	size_t runs = 0;
	for (const char *p = path; *p != '\0'; p++)
		if (*p == '/' && (p == path || p[-1] != '/'))
			runs++;
	return runs;
}

/* Each component, then the vector; null does nothing. */
static void
free_components(char **components)
{
	if (components == nullptr)
		return;
	for (char **c = components; *c != nullptr; c++)
		free(*c);
	free(components);
}

char **
split_path_components(const char *path, int *count)
{
	if (path == nullptr || *path == '\0')
		return nullptr;

	/* Each run of '/' closes one component; the text after the last
	 * run may make one more, and the null needs a slot. */
	size_t runs = count_separator_runs(path);
	if (runs > INT_MAX - 2)
		return nullptr; /* the count could not be reported */
	auto **components =
	    static_cast<char **>(malloc((runs + 2) * sizeof(char *)));
	if (components == nullptr)
		return nullptr;

	size_t found = 0;
	for (const char *start = path; *start != '\0';) {
		size_t len = strcspn(start, "/");
		len += strspn(start + len, "/");
		char *piece = static_cast<char *>(malloc(len + 1));
		if (piece == nullptr) {
			components[found] = nullptr;
			free_components(components);
			return nullptr;
		}
		memcpy(piece, start, len);
		piece[len] = '\0';
		components[found++] = piece;
		start += len;
	}
	components[found] = nullptr;
	if (count != nullptr)
		*count = static_cast<int>(found);
	return components;
}

const char *
path_basename(const char *path)
{
	const char *slash = strrchr(path, '/');
	return slash != nullptr ? slash + 1 : path;
}

const char *
path_basename_dos(const char *path)
{
	if ((char_class_table[static_cast<unsigned char>(path[0])] &
	     CHAR_LETTER) != 0 &&
	    path[1] == ':')
		path += 2;
	const char *base = path;
	for (const char *p = path; *p != '\0'; p++)
		if (*p == '/' || *p == '\\')
			base = p + 1;
	return base;
}

/* A malloc copy of TEXT, or null. */
static char *
copy_of(const char *text)
{
	size_t size = strlen(text) + 1;
	char *copy = static_cast<char *>(malloc(size));
	return copy != nullptr ? static_cast<char *>(memcpy(copy, text, size))
	                       : nullptr;
}

/*
 * Whether PATH is spelled as realpath would give it: absolute, with no
 * "." or ".." component, no doubled '/' and no '/' at the end.
 */
static bool
spelled_canonical(const char *path)
{
	if (path[0] != '/')
		return false;
	for (const char *p = path; *p != '\0'; p++) {
		if (*p != '/')
			continue;
		const char *next = p + 1;
		if (*next == '.')
			next += next[1] == '.' ? 2 : 1;
		if (*next == '/' || *next == '\0')
			return false;
	}
	return true;
}

char *
real_path_dup(const char *path)
{
	/* Spelled as realpath would, and free of links, the path is its own
	 * real path: one look instead of a readlink per component. */
	if (spelled_canonical(path) && VEK_FREE_OF_LINKS(path) == 1)
		return copy_of(path);
	/* Sized by the C library: a PATH_MAX buffer of ours would be pages of
	 * stack to touch at every start. */
	char *resolved = realpath(path, nullptr);
	return resolved != nullptr ? resolved : copy_of(path);
}

/* access(X_OK) alone also passes a searchable directory of that name. */
static bool
runnable_file(const char *candidate)
{
	struct stat st;
	return access(candidate, X_OK) == 0 && stat(candidate, &st) == 0 &&
	       S_ISREG(st.st_mode);
}

bool
path_list_walk(const char *list, char *buffer,
               bool (*visit)(char *buffer, size_t length, void *context),
               void *context)
{
	const char separators[] = {PATH_LIST_SEPARATOR, '\0'};
	for (const char *element = list;; element++) {
		size_t element_len = strcspn(element, separators);
		size_t len = element_len;
		if (len == 0) {
			memcpy(buffer, "./", 2);
			len = 2;
		} else {
			memcpy(buffer, element, len);
			if (element[len - 1] != '/')
				buffer[len++] = '/';
		}
		buffer[len] = '\0';
		if (visit(buffer, len, context))
			return true;
		element += element_len;
		if (*element == '\0')
			return false;
	}
}

/* Put the name in CONTEXT after the directory; take the first that runs.
 * The candidate has room for the longest directory and the name. */
static bool
runnable_in(char *candidate, size_t length, void *context)
{
	const char *name = static_cast<const char *>(context);
	memcpy(candidate + length, name, strlen(name) + 1);
	return runnable_file(candidate);
}

static size_t
joined_length(char *const *components, int count)
{
	size_t total = 0;
	for (int i = 0; i < count; i++)
		total += strlen(components[i]);
	return total;
}

static char *
append_components(char *end, char *const *components, int count)
{
	for (int i = 0; i < count; i++) {
		size_t len = strlen(components[i]);
		memcpy(end, components[i], len);
		end += len;
	}
	return end;
}

/* The program's directory, UPS times "../", then the target's own part;
 * measured first so the result is one block of exact size. */
static char *
assemble(char *const *dir, int dir_count, int ups, char *const *down,
         int down_count)
{
	size_t up_len = sizeof UP_ONE_LEVEL - 1;
	size_t len = joined_length(dir, dir_count) +
	             static_cast<size_t>(ups) * up_len +
	             joined_length(down, down_count);
	char *result = static_cast<char *>(malloc(len + 1));
	if (result == nullptr)
		return nullptr;
	char *end = append_components(result, dir, dir_count);
	for (int i = 0; i < ups; i++, end += up_len)
		memcpy(end, UP_ONE_LEVEL, up_len);
	end = append_components(end, down, down_count);
	*end = '\0';
	return result;
}

/* Compared component by component, separators included, so "usr//" is
 * not "usr/"; the program's own file name takes no part. */
static bool
same_directory(char *const *dir, int dir_count, char *const *bin, int bin_count)
{
	if (dir_count != bin_count)
		return false;
	for (int i = 0; i < dir_count; i++)
		if (strcmp(dir[i], bin[i]) != 0)
			return false;
	return true;
}

static int
shared_count(char *const *bin, int bin_count, char *const *tgt, int tgt_count)
{
	int shared = 0;
	while (shared < bin_count && shared < tgt_count &&
	       strcmp(bin[shared], tgt[shared]) == 0)
		shared++;
	return shared;
}

/* The computation once the program's real place PROG_PATH is known. */
static char *
relocate(const char *prog_path, const char *bin_prefix, const char *prefix)
{
	char **prog = nullptr, **bin = nullptr, **tgt = nullptr;
	int prog_count = 0, bin_count = 0, tgt_count = 0, dir_count, shared;
	char *result = nullptr;

	if ((prog = split_path_components(prog_path, &prog_count)) == nullptr)
		goto out;
	if ((bin = split_path_components(bin_prefix, &bin_count)) == nullptr)
		goto out;

	dir_count = prog_count - 1;
	/* Still where it was built for: the built-in directories hold. */
	if (same_directory(prog, dir_count, bin, bin_count))
		goto out;

	if ((tgt = split_path_components(prefix, &tgt_count)) == nullptr)
		goto out;
	/* With nothing in common there is no way from one to the other. */
	if ((shared = shared_count(bin, bin_count, tgt, tgt_count)) == 0)
		goto out;
	result = assemble(prog, dir_count, bin_count - shared, tgt + shared,
	                  tgt_count - shared);
out:
	free_components(tgt);
	free_components(bin);
	free_components(prog);
	return result;
}

/*
 * PROGNAME as it was started: a name without '/' was found through $PATH,
 * so it is the first runnable file of that name there, built in a new
 * *CANDIDATE the caller frees.  PROGNAME itself when it holds a '/', $PATH
 * is unset or nothing there runs; null when memory runs out.
 */
static const char *
as_started(const char *progname, char **candidate)
{
	const char *path_value = getenv("PATH");
	if (path_basename(progname) != progname || path_value == nullptr)
		return progname;

	/* The longest element and its '/', or "./" for an empty one. */
	size_t dir_room = strlen(path_value) + 1;
	size_t size = (dir_room < 2 ? 2 : dir_room) + strlen(progname) + 1;
	*candidate = static_cast<char *>(malloc(size));
	if (*candidate == nullptr)
		return nullptr;
	return path_list_walk(path_value, *candidate, runnable_in,
	                      const_cast<char *>(progname))
	           ? *candidate
	           : progname;
}

/* PROGNAME as started, with its links resolved when RESOLVE_LINKS: a heap
 * string, or null when memory runs out. */
static char *
locate(const char *progname, bool resolve_links)
{
	char *candidate = nullptr;
	const char *started = as_started(progname, &candidate);
	char *located = started == nullptr ? nullptr
	                : resolve_links    ? real_path_dup(started)
	                                   : copy_of(started);
	free(candidate);
	return located;
}

/* Every entry comes here: locate the program, then relocate from there. */
static char *
relative_prefix_impl(const char *progname, const char *bin_prefix,
                     const char *prefix, bool resolve_links)
{
	if (progname == nullptr || bin_prefix == nullptr || prefix == nullptr)
		return nullptr;
	char *located = locate(progname, resolve_links);
	char *result = located != nullptr
	                   ? relocate(located, bin_prefix, prefix)
	                   : nullptr;
	free(located);
	return result;
}

char *
program_location(const char *progname)
{
	return progname != nullptr ? locate(progname, true) : nullptr;
}

char *
relative_prefix(const char *progname, const char *bin_prefix,
                const char *prefix)
{
	return relative_prefix_impl(progname, bin_prefix, prefix, true);
}

char *
relative_prefix_no_links(const char *progname, const char *bin_prefix,
                         const char *prefix)
{
	return relative_prefix_impl(progname, bin_prefix, prefix, false);
}
