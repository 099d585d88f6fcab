/*
 * Temporary files.  The directory is chosen once per process; each file is
 * created empty, and its name is handed back with its descriptor, or with
 * the file already closed.  Removing the file and freeing the name are the
 * caller's duty.
 */
#ifndef VEK_SUPPORT_TEMP_FILE_H
#define VEK_SUPPORT_TEMP_FILE_H

/* The six bytes of a name that are made unique. */
inline constexpr char TEMP_UNIQUE_PART[] = "XXXXXX";

/*
 * The first usable directory of TMPDIR, TMP and TEMP (null ones are
 * skipped), "/tmp/", "/var/tmp" and "/tmp", as given.  Usable means we may
 * read, write and search it, and nobody but us and root can change where
 * its path leads: from the root, or from the current directory for a
 * relative one, every directory on the way is owned by us or by root and
 * writable by nobody else unless it has the sticky bit, and every symbolic
 * link is owned by us or by root and leads along such a path.  Inside a
 * user namespace the overflow uid counts as root.  When none is usable,
 * "." if the current directory passes the same rule (it is not tested for
 * access), else null.  Caches nothing.
 */
const char *temp_dir_pick(const char *tmpdir, const char *tmp,
                          const char *temp);

/*
 * The temporary directory: temp_dir_pick of $TMPDIR, $TMP and $TEMP with a
 * '/' always appended, "./" when it gave null.  Chosen at the first call
 * and cached for the life of the process.
 */
const char *temp_dir_choose(void);

/*
 * Create a new empty file named DIR PREFIX XXXXXX SUFFIX (prefix "cc" when
 * null, suffix "" when null), mode 0600 whatever the umask, and return its
 * name, which the caller frees.  Never returns null: a file that cannot be
 * created (also when temp_dir_pick found no safe directory, with the reason
 * EPERM), or whose descriptor cannot be closed (it is removed then), prints
 * one line and ends the process through fatal_exit(1).
 */
char *temp_file_make_prefixed(const char *prefix, const char *suffix);

/* temp_file_make_prefixed with the default prefix.  The programs make
 * theirs with temp_file_open. */
char *temp_file_make(const char *suffix);

/*
 * temp_file_make with the new file left open: its descriptor, opened for
 * reading and writing, goes to *FD.  Write through it, never by reopening
 * the name.
 */
char *temp_file_open(const char *suffix, int *fd);

/*
 * A new empty file named STEM with its last six bytes made unique
 * (TEMP_UNIQUE_PART is appended unless STEM ends in it), mode 0600, closed.
 * Its name, which the caller frees, or null with errno: the caller words
 * the failure.
 */
char *temp_file_from_stem(const char *stem);

#endif
