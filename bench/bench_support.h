// Shared by the benchmarks: a scratch toolchain tree and timed runs.
#ifndef VEK_BENCH_BENCH_SUPPORT_H
#define VEK_BENCH_BENCH_SUPPORT_H

#include <string>
#include <vector>

#include "scratch.h"

struct timed_run {
	double seconds;  // wall time from spawn to reaped
	long max_rss_kb; // peak resident size of the child and what it waited
	                 // for
	int status;      // raw wait status
};

// Run ARGV (argv[0] is searched in PATH) with stdout and stderr to
// /dev/null unless KEEP_OUTPUT, and time it.
timed_run timed(const std::vector<std::string> &argv, bool keep_output = false);

// A fresh toolchain tree under DIR, with the plug-in and TOOL as the
// tree's "ar".
void lay_out_tree(const std::string &dir, const std::string &plugin,
                  const std::string &tool);

// Copy the wrapper VEK_AR into the bin directory of the tree DIR as NAME.
// The wrappers find their tree from their directory, not their name, so
// several builds can share one tree.  Returns the copy's path.
std::string add_wrapper(const std::string &dir, const std::string &vek_ar,
                        const std::string &name);

// The path of TOOL as a wrapper installed in the tree DIR forms it: the
// relocated library directory, then up to the root and into the target's
// bin directory.
std::string tool_path_as_run(const std::string &dir, const char *tool);

std::string find_in_path(const char *name);
double median(std::vector<double> v);

#endif
