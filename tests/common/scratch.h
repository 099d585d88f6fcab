// Scratch files for the tests and the benchmarks: directories under /tmp
// that are removed with everything in them, whole-file reads and writes.
#ifndef VEK_TESTS_COMMON_SCRATCH_H
#define VEK_TESTS_COMMON_SCRATCH_H

#include <string>
#include <vector>

// A new directory /tmp/vek-TAG-XXXXXX, as its real path.
std::string make_temp_dir(const char *tag);

// Remove PATH and everything below it, following no links.
void remove_tree(const std::string &path);

// Create PATH and its missing parents.
void make_dirs(const std::string &path);

// Replace PATH's contents with TEXT; the process aborts when it cannot.
void write_file(const std::string &path, const std::string &text);

// All of PATH, or "" when it cannot be read.
std::string read_file(const std::string &path);

// Copy FROM to TO and give the copy MODE.
void copy_file(const std::string &from, const std::string &to, int mode);

// Whether PATH names anything, a dangling link included.
bool exists(const std::string &path);

// The canonical form of PATH, or PATH itself when it cannot be resolved.
std::string real_path(const std::string &path);

// The names in directory PATH but "." and "..", in no particular order;
// none when it cannot be read.
std::vector<std::string> list_dir(const std::string &path);

#endif
