/*
 * Prefix lists and file lookup through them.  The lookups print nothing
 * unless the trace is on; the caller words any failure.
 */
#include "findfile/prefix_list.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/checked.h"
#include "support/relocate.h"

static bool lookup_trace = false;

void
set_lookup_trace(bool on)
{
	lookup_trace = on;
}

void
prefix_add(struct prefix_list *list, const char *prefix, bool at_front)
{
	/* The lookup sizes its buffer from longest_prefix, an int: a prefix
	 * too long to count would make that buffer too short. */
	size_t len = strlen(prefix);
	if (len > static_cast<size_t>(INT_MAX))
		report_out_of_memory(len + 1);
	if (list->longest_prefix < static_cast<int>(len))
		list->longest_prefix = static_cast<int>(len);

	auto *entry = static_cast<struct prefix_entry *>(
	    checked_malloc(sizeof(struct prefix_entry)));
	entry->prefix_text = checked_strdup(prefix);
	if (at_front || list->entries == nullptr) {
		entry->next_entry = list->entries;
		list->entries = entry;
		if (entry->next_entry == nullptr)
			list->last_entry = entry;
		return;
	}
	/* A PATH of many thousand entries must not walk the list for each:
	 * appends go straight to the end, found once for a list filled by
	 * hand. */
	if (list->last_entry == nullptr)
		for (list->last_entry = list->entries;
		     list->last_entry->next_entry != nullptr;
		     list->last_entry = list->last_entry->next_entry)
			;
	entry->next_entry = nullptr;
	list->last_entry->next_entry = entry;
	list->last_entry = entry;
}

void
prefix_append(struct prefix_list *list, const char *prefix)
{
	prefix_add(list, prefix, false);
}

void
prefix_prepend(struct prefix_list *list, const char *prefix)
{
	prefix_add(list, prefix, true);
}

/* Append the prefix in WORK to the list in CONTEXT. */
static bool
append_prefix(char *work, size_t, void *context)
{
	if (lookup_trace)
		fprintf(stderr, "  - add prefix: %s\n", work);
	prefix_append(static_cast<struct prefix_list *>(context), work);
	return false;
}

void
prefixes_from_string(const char *text, struct prefix_list *list)
{
	/* Room for the longest component, a '/' or "./", and the NUL. */
	char *work = static_cast<char *>(checked_malloc(strlen(text) + 3));

	if (lookup_trace)
		fprintf(stderr,
		        "Convert string '%s' into prefixes, separator = '%c'\n",
		        text, PATH_LIST_SEPARATOR);
	path_list_walk(text, work, append_prefix, list);
	free(work);
}

void
prefixes_from_env(const char *name, struct prefix_list *list)
{
	const char *value = getenv(name);
	if (value != nullptr)
		prefixes_from_string(value, list);
}

/*
 * A candidate must exist, not be a directory, and grant MODE.  ST is what
 * it leads to.  With TELL_LINKS, *IS_LINK says whether it is a symbolic
 * link, at the cost of a second look for a link; else it is false.
 */
static bool
acceptable(const char *path, int mode, bool tell_links, struct stat *st,
           bool *is_link)
{
	if ((tell_links ? lstat(path, st) : stat(path, st)) != 0)
		return false;
	*is_link = S_ISLNK(st->st_mode);
	return (!*is_link || stat(path, st) == 0) && !S_ISDIR(st->st_mode) &&
	       access(path, mode) == 0;
}

char *
find_in_prefixes(const struct prefix_list *list, const char *name, int mode)
{
	return find_in_prefixes_hooked(list, name, mode, nullptr);
}

char *
find_in_prefixes_hooked(const struct prefix_list *list, const char *name,
                        int mode, const struct lookup_hooks *hooks)
{
	static const struct lookup_hooks none = {nullptr, nullptr};
	if (hooks == nullptr)
		hooks = &none;
	if (lookup_trace)
		fprintf(stderr, "Looking for '%s'\n", name);

	size_t name_len = strlen(name);
	char *buffer = static_cast<char *>(checked_malloc(
	    static_cast<size_t>(list->longest_prefix) + name_len + 1));

	if (name[0] == '/') {
		/* The caller named the file: trust access() alone. */
		if (hooks->tried != nullptr)
			hooks->tried(name);
		if (access(name, mode) == 0) {
			memcpy(buffer, name, name_len + 1);
			if (lookup_trace)
				fprintf(stderr, "  - found: absolute path\n");
			return buffer;
		}
		if (lookup_trace)
			fprintf(stderr,
			        "  - failed to locate using absolute path\n");
	} else {
		for (const struct prefix_entry *e = list->entries; e != nullptr;
		     e = e->next_entry) {
			size_t len = strlen(e->prefix_text);
			memcpy(buffer, e->prefix_text, len);
			memcpy(buffer + len, name, name_len + 1);
			if (hooks->tried != nullptr)
				hooks->tried(buffer);
			struct stat st;
			bool is_link;
			if (acceptable(buffer, mode,
			               hooks->passed_over != nullptr, &st,
			               &is_link) &&
			    (hooks->passed_over == nullptr ||
			     !hooks->passed_over(buffer, &st, is_link)))
				return buffer;
		}
	}

	if (lookup_trace && list->entries == nullptr)
		fprintf(stderr, "  - failed: no entries in prefix list\n");
	free(buffer);
	return nullptr;
}
