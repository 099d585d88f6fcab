/*
 * Response-file pass-through.  When the command line held @file arguments
 * that were expanded, the rebuilt command line reaches the tool through a
 * fresh response file of our own, removed again after the run.  A process
 * has at most one.
 */
#ifndef VEK_WRAPPER_RESPONSE_FILE_H
#define VEK_WRAPPER_RESPONSE_FILE_H

/*
 * Expand the @file arguments of *ARGC and *ARGV in place.  When any was
 * expanded, create the response file (response_file_create) and return its
 * path; otherwise return null and leave the vector as it was.
 */
char *response_file_prepare(int *argc, char ***argv);

/*
 * Create the empty response file, keep it open for response_file_write and
 * return its path.  From here on every fatal exit removes it.
 */
char *response_file_create(void);

/*
 * Write CHILD_ARGV from its second entry on into the response file through
 * the descriptor its creation gave, and fill RUN_ARGV with the tool path,
 * "@" and the file's path, and a null.  Any failure removes the file,
 * prints one line naming it and exits with status 1.
 */
void response_file_write(char *const *child_argv, char *run_argv[3]);

/* Remove the response file, if there is one. */
void response_file_remove(void);

#endif
