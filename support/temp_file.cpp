/*
 * Temporary directory choice and unique file creation.  A response file is
 * created by name here and opened by name by the tool later: between the
 * two nobody but us and root may be able to change where that name leads.
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
#include "support/portability.h"
#include "support/quote.h"

static char *cached_temp_dir = nullptr;
/* Even the current directory, the last resort, was not safe. */
static bool temp_dir_refused = false;

static const char DEFAULT_PREFIX[] = "cc";

/*
 * What one walk may do before it gives up: follow as many links as the
 * kernel follows in resolving one path, and look at so many nodes that
 * links leading through links cannot make it run for ever.
 */
struct walk_budget {
	int links_left;
	int nodes_left;
};
constexpr struct walk_budget WALK_BUDGET = {40, 1024};

/*
 * Inside a user namespace every uid without a mapping shows up as this
 * one: the host's root, and every other host user alike.
 */
constexpr uid_t OVERFLOW_UID = 65534;

/*
 * Whether we know that we run outside any user namespace: there the uid
 * map is the whole range, as one line.  A map that cannot be read (no
 * /proc in a sandbox, a system without one) says nothing, and nothing is
 * concluded from it.  Read afresh each time: it is wanted only for a node
 * owned by the overflow uid, and a process may move into a namespace.
 */
static bool
outside_user_namespace(void)
{
	static const char WHOLE_RANGE[] = "0 0 4294967295";
	char map[64];
	ssize_t got = VEK_READ_UID_MAP(map, sizeof map - 1);
	/* Always so where there is no map to read. */
	// cppcheck-suppress knownConditionTrueFalse
	if (got < 0)
		return false;
	/* The columns are padded with spaces: compare with one space. */
	size_t used = 0;
	for (ssize_t i = 0; i < got; i++) {
		bool space = map[i] == ' ' || map[i] == '\n';
		if (space && (used == 0 || map[used - 1] == ' '))
			continue;
		map[used++] = space ? ' ' : map[i];
	}
	while (used > 0 && map[used - 1] == ' ')
		used--;
	return used == sizeof WHOLE_RANGE - 1 &&
	       memcmp(map, WHOLE_RANGE, used) == 0;
}

/*
 * The directories the system itself provides for temporary files, and
 * those above them: in a user namespace their owner shows up as the
 * overflow uid, and they are still root's.
 */
static bool
system_dir(const char *path)
{
	static const char *const dirs[] = {"/", "/tmp", "/var", "/var/tmp"};
	char plain[sizeof "/var/tmp"];
	size_t used = 0;
	/* Runs of '/' count as one; a '/' at the end as none. */
	for (const char *p = path; *p != '\0'; p++) {
		if (*p == '/' && used > 0 && plain[used - 1] == '/')
			continue;
		if (used == sizeof plain - 1)
			return false;
		plain[used++] = *p;
	}
	if (used > 1 && plain[used - 1] == '/')
		used--;
	plain[used] = '\0';
	for (const char *dir : dirs)
		if (strcmp(plain, dir) == 0)
			return true;
	return false;
}

/*
 * Whether the owner of the node at PATH is us or root.  In a user
 * namespace the overflow uid may be any host user, the one who would
 * change our path among them: unless we know we run outside one, only the
 * system's own directories are taken as root's, and the overflow uid is
 * not taken as us even when we run under it.
 */
static bool
trusted_owner(uid_t uid, const char *path)
{
	if (uid == OVERFLOW_UID && !outside_user_namespace())
		return system_dir(path);
	return uid == geteuid() || uid == 0;
}

/*
 * A directory on the way can be changed by its owner, and by everyone who
 * may write to it, unless the sticky bit keeps them to their own entries.
 */
static bool
trusted_dir(const struct stat *st, const char *path)
{
	return S_ISDIR(st->st_mode) && trusted_owner(st->st_uid, path) &&
	       ((st->st_mode & (S_IWGRP | S_IWOTH)) == 0 ||
	        (st->st_mode & S_ISVTX) != 0);
}

static bool trusted_walk(const char *path, size_t checked,
                         struct walk_budget *budget);

/*
 * The link that ends PATH, LINK_SIZE bytes long, lies in the directory of
 * the first DIR_LEN bytes of PATH, checked already; where it leads must be
 * as safe as the way to it.
 */
static bool
trusted_target(const char *path, size_t dir_len, off_t link_size,
               struct walk_budget *budget)
{
	if (budget->links_left-- == 0 || link_size <= 0)
		return false;
	size_t size = static_cast<size_t>(link_size);
	char *target = static_cast<char *>(checked_malloc(dir_len + size + 1));
	memcpy(target, path, dir_len);
	ssize_t got = readlink(path, target + dir_len, size + 1);
	bool trusted = false;
	/* A link that changed since we looked is no link of ours. */
	if (got == static_cast<ssize_t>(size)) {
		target[dir_len + size] = '\0';
		/* An absolute target starts afresh from the root; a relative
		 * one from the link's directory, not walked again. */
		trusted = target[dir_len] == '/'
		              ? trusted_walk(target + dir_len, 0, budget)
		              : trusted_walk(target, dir_len, budget);
	}
	free(target);
	return trusted;
}

/*
 * Whether nobody but us and root can change where PATH leads: from where
 * it starts (the root, or the current directory we and the tool share)
 * every directory it passes through, and every link with the path it
 * leads to, down to the directory it names.  The first CHECKED bytes of
 * PATH, when not 0, name a directory this walk found safe already.
 */
static bool
trusted_walk(const char *path, size_t checked, struct walk_budget *budget)
{
	struct stat st;
	if (checked == 0) {
		const char *start = *path == '/' ? "/" : ".";
		if (*path == '\0' || lstat(start, &st) != 0 ||
		    !trusted_dir(&st, start))
			return false;
	}
	char *walked = checked_strdup(path);
	bool trusted = true;
	size_t at = checked;
	while (trusted) {
		at += strspn(walked + at, "/");
		if (walked[at] == '\0')
			break;
		size_t end = at + strcspn(walked + at, "/");
		char held = walked[end];
		walked[end] = '\0';
		if (budget->nodes_left-- == 0 || lstat(walked, &st) != 0)
			trusted = false;
		else if (S_ISLNK(st.st_mode))
			trusted =
			    trusted_owner(st.st_uid, walked) &&
			    trusted_target(walked, at, st.st_size, budget);
		else
			trusted = trusted_dir(&st, walked);
		walked[end] = held;
		at = end;
	}
	free(walked);
	return trusted;
}

/* Whether nobody but us and root can change where PATH leads. */
static bool
trusted_path(const char *path)
{
	struct walk_budget budget = WALK_BUDGET;
	return trusted_walk(path, 0, &budget);
}

/* Whether a file of ours named in DIR fits in a path: a directory whose
 * name leaves no room for it is as unusable as one that is missing. */
static bool
room_for_a_name(const char *dir)
{
	/* DIR, '/', the prefix, the unique part and the NUL. */
	size_t name_size = strlen(dir) + 1 + (sizeof DEFAULT_PREFIX - 1) +
	                   (sizeof TEMP_UNIQUE_PART - 1) + 1;
	return name_size <= PATH_MAX;
}

/* A candidate must be a directory we may read, write and search, on a
 * path nobody else can change, with room for a file's name. */
static bool
usable_dir(const char *dir)
{
	return dir != nullptr && room_for_a_name(dir) &&
	       access(dir, R_OK | W_OK | X_OK) == 0 && trusted_path(dir);
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
	/* Taken without the access test, so that creating the file there
	 * reports what is wrong; never without the safety one. */
	return trusted_path(".") ? "." : nullptr;
}

const char *
temp_dir_choose(void)
{
	if (cached_temp_dir != nullptr)
		return cached_temp_dir;
	const char *dir =
	    temp_dir_pick(getenv("TMPDIR"), getenv("TMP"), getenv("TEMP"));
	temp_dir_refused = dir == nullptr;
	/* The '/' is appended even after one that is there already, so
	 * names stay a plain concatenation of directory and file name. */
	cached_temp_dir =
	    join_strings(dir != nullptr ? dir : ".", "/", nullptr);
	return cached_temp_dir;
}

[[noreturn]] static void
cannot_create(const char *dir, int err)
{
	fatal_error("Cannot create temporary file in %s: %s\n", quote_name(dir),
	            strerror(err));
}

/*
 * Make the six bytes before the last SUFFIX_LEN of NAME unique and create
 * the file exclusively, readable and writable by us alone whatever the
 * umask (a umask that takes our own read away would keep the tool from
 * reading it).  Its descriptor, or -1 with errno, and nothing left behind.
 */
static int
create_unique(char *name, size_t suffix_len)
{
	int fd = mkstemps(name, static_cast<int>(suffix_len));
	if (fd < 0)
		return -1;
	if (fchmod(fd, S_IRUSR | S_IWUSR) != 0) {
		int chmod_errno = errno;
		close(fd);
		unlink(name);
		errno = chmod_errno;
		return -1;
	}
	return fd;
}

/* Close the new file FD of NAME; a file whose close failed may not hold
 * what it should, and is removed.  0, or -1 with errno. */
static int
close_new(int fd, const char *name)
{
	if (close(fd) == 0)
		return 0;
	int close_errno = errno;
	unlink(name);
	errno = close_errno;
	return -1;
}

/* Create DIR PREFIX XXXXXX SUFFIX; its name and open FD. */
static char *
create_file(const char *prefix, const char *suffix, int *fd)
{
	const char *dir = temp_dir_choose();
	if (temp_dir_refused)
		cannot_create(dir, EPERM);
	if (prefix == nullptr)
		prefix = DEFAULT_PREFIX;
	if (suffix == nullptr)
		suffix = "";

	char *name =
	    join_strings(dir, prefix, TEMP_UNIQUE_PART, suffix, nullptr);
	*fd = create_unique(name, strlen(suffix));
	if (*fd == -1)
		cannot_create(dir, errno);
	return name;
}

char *
temp_file_make_prefixed(const char *prefix, const char *suffix)
{
	int fd;
	char *name = create_file(prefix, suffix, &fd);
	if (close_new(fd, name) != 0)
		fatal_error("Cannot close temporary file %s: %s\n",
		            quote_name(name), strerror(errno));
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

char *
temp_file_from_stem(const char *stem)
{
	size_t len = strlen(stem), unique_len = sizeof TEMP_UNIQUE_PART - 1;
	bool ends_unique = len >= unique_len && strcmp(stem + len - unique_len,
	                                               TEMP_UNIQUE_PART) == 0;
	char *name = ends_unique
	                 ? checked_strdup(stem)
	                 : join_strings(stem, TEMP_UNIQUE_PART, nullptr);
	int fd = create_unique(name, 0);
	if (fd < 0 || close_new(fd, name) != 0) {
		int saved_errno = errno;
		free(name);
		errno = saved_errno;
		return nullptr;
	}
	return name;
}
