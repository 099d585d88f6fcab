/*
 * The wrapper programs' entry: run the platform tool with "--plugin" and
 * the toolchain's plug-in in front of the caller's arguments.
 */
#ifndef VEK_WRAPPER_WRAPPER_H
#define VEK_WRAPPER_WRAPPER_H

/*
 * Set up the search lists, take one "-B" option off ARGV (edited in place),
 * find the plug-in and the tool, run the tool and return its exit status,
 * or 1 after a message when it could not be run or died of a signal.  User
 * errors print one line and exit with status 1.
 */
int wrapper_main(int argc, char **argv);

#endif
