/*
 * Temporary directory choice and unique file creation.
 */
#include "support/temp_file.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/checked.h"
#include "support/join.h"

static char *cached_temp_dir = nullptr;

static const char default_prefix[] = "cc";
static const char unique_part[] = "XXXXXX";

/*
 * Whether nobody but us and root can take a file of ours in DIR away from
 * us: a name we created could otherwise be swapped for a link to another
 * file, or for a file of someone else's, between our steps.  Its owner may
 * always do that, so it must be us or root; others who may write must be
 * held back by the sticky bit.
 */
static bool
only_ours(const struct stat *dir)
{
	uid_t self = geteuid();
	if (dir->st_uid != self && dir->st_uid != 0)
		return false;
	return (dir->st_mode & (S_IWGRP | S_IWOTH)) == 0 ||
	       (dir->st_mode & S_ISVTX) != 0;
}

/* A candidate must be a directory we may read, write and search, and that
 * nobody else can take our files out of. */
static bool
usable_dir(const char *dir)
{
	struct stat st;
	return dir != nullptr && access(dir, R_OK | W_OK | X_OK) == 0 &&
	       stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && only_ours(&st);
}

const char *
temp_dir_pick(const char *tmpdir, const char *tmp, const char *temp)
{
	const char *const candidates[] = {
	    tmpdir, tmp, temp, "/tmp/", "/var/tmp", "/tmp",
	};
	for (const char *dir : candidates)
		if (usable_dir(dir))
			return dir;
	return ".";
}

const char *
temp_dir_choose(void)
{
	if (cached_temp_dir != nullptr)
		return cached_temp_dir;
	/* The '/' is appended even after one that is there already, so
	 * names stay a plain concatenation of directory and file name. */
	cached_temp_dir = join_strings(
	    temp_dir_pick(getenv("TMPDIR"), getenv("TMP"), getenv("TEMP")), "/",
	    nullptr);
	return cached_temp_dir;
}

/* Create DIR PREFIX XXXXXX SUFFIX exclusively; its name and open FD. */
static char *
create_file(const char *prefix, const char *suffix, int *fd)
{
	const char *dir = temp_dir_choose();
	if (prefix == nullptr)
		prefix = default_prefix;
	if (suffix == nullptr)
		suffix = "";

	char *name = join_strings(dir, prefix, unique_part, suffix, nullptr);
	*fd = mkstemps(name, static_cast<int>(strlen(suffix)));
	if (*fd == -1) {
		fatal_error("Cannot create temporary file in %s: %s\n", dir,
		            strerror(errno));
	}
	return name;
}

char *
temp_file_make_prefixed(const char *prefix, const char *suffix)
{
	int fd;
	char *name = create_file(prefix, suffix, &fd);
	if (close(fd) != 0) {
		/* A file whose close failed may not hold what it should. */
		int close_errno = errno;
		unlink(name);
		fatal_error("Cannot close temporary file %s: %s\n", name,
		            strerror(close_errno));
	}
	return name;
}

char *
temp_file_make(const char *suffix)
{
	return temp_file_make_prefixed(nullptr, suffix);
}

char *
temp_file_open(const char *suffix, int *fd)
{
	return create_file(nullptr, suffix, fd);
}
