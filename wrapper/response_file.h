/*
 * Response-file pass-through.  When the command line held @file arguments
 * that were expanded, the rebuilt command line reaches the tool through a
 * fresh response file of our own, removed again after the run.
 */
#ifndef VEK_WRAPPER_RESPONSE_FILE_H
#define VEK_WRAPPER_RESPONSE_FILE_H

/*
 * Expand the @file arguments of *ARGC and *ARGV in place.  When any was
 * expanded, create an empty response file and return its path; otherwise
 * return null and leave the vector as it was.
 */
char *response_file_prepare(int *argc, char ***argv);

/*
 * Write CHILD_ARGV from its second entry on into the response file PATH and
 * fill RUN_ARGV with the tool path, "@PATH" and a null.  Any failure removes
 * the file, prints one line naming it and exits with status 1.
 */
void response_file_write(const char *path, char *const *child_argv,
                         char *run_argv[3]);

/* Remove the response file PATH; null does nothing. */
void response_file_remove(const char *path);

#endif
