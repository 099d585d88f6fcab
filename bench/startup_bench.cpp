// Start-up overhead: the wall time each build of vek-ar adds to
// "ar --plugin P t lib.a", against what minimal spawn-and-wait programs add
// (the floors).  With --tool=PROGRAM that program (a no-op, say) stands in
// for ar, so that little but the wrappers' own work is left to time.  Every command runs once per round, in an order that turns
// round by round, so that machine noise falls on all of them alike; each
// overhead is the median of the per-round differences from the direct run.
//   startup_bench PLUGIN ROUNDS [--tool=PROGRAM] NAME=SPAWN_FLOOR... --
//                 NAME=VEK_AR...
// Each vek-ar is named with vek-nm and vek-ranlib beside it, as installed;
// their sizes are reported too.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "bench_support.h"

struct contender {
	std::string name;
	std::string program;
	std::vector<std::string> argv;
	std::vector<double> overhead; // per round, over the direct run
};

static contender
parse_contender(const char *arg)
{
	const char *eq = strchr(arg, '=');
	if (eq == nullptr || eq == arg || eq[1] == '\0') {
		fprintf(stderr, "expected NAME=PROGRAM, got %s\n", arg);
		exit(2);
	}
	return {std::string(arg, eq), eq + 1, {}, {}};
}

// Bytes of the three programs installed beside VEK_AR, or -1.
static long
installed_size(const std::string &vek_ar)
{
	std::string dir = vek_ar.substr(0, vek_ar.rfind('/') + 1);
	long total = 0;
	for (const char *name : {"vek-ar", "vek-nm", "vek-ranlib"}) {
		struct stat st;
		if (stat((dir + name).c_str(), &st) != 0)
			return -1;
		total += st.st_size;
	}
	return total;
}

int
main(int argc, char **argv)
{
	std::vector<contender> floors, wrappers;
	int arg = 3;
	std::string tool;
	if (arg < argc && strncmp(argv[arg], "--tool=", 7) == 0)
		tool = argv[arg++] + 7;
	for (; arg < argc && strcmp(argv[arg], "--") != 0; arg++)
		floors.push_back(parse_contender(argv[arg]));
	for (arg++; arg < argc; arg++)
		wrappers.push_back(parse_contender(argv[arg]));
	if (floors.empty() || wrappers.empty()) {
		fprintf(stderr,
		        "usage: %s PLUGIN ROUNDS [--tool=PROGRAM] "
		        "NAME=SPAWN_FLOOR... -- NAME=VEK_AR...\n",
		        argv[0]);
		return 2;
	}
	int rounds = atoi(argv[2]);
	std::string dir = make_temp_dir("startup");
	std::string ar = find_in_path("ar");
	/*
	 * One tree holds every build of the wrapper, so that all of them hand
	 * ar the same command line.  The direct runs use that very line: ar
	 * works out things from its own path, so another spelling of it
	 * would time ar differently, not the wrapper.
	 */
	lay_out_tree(dir + "/tc", argv[1], tool.empty() ? ar : tool);
	const std::string seen_ar = tool_path_as_run(dir + "/tc", "ar");
	std::string plugin = dir + "/tc/" VEK_REL_BIN_DIR
	                           "/../" VEK_REL_PLUGIN_DIR
	                           "/libmerx_plugin.so";
	std::string lib = dir + "/lib.a";
	write_file(dir + "/member.txt", "member\n");
	if (timed({ar, "rc", lib, dir + "/member.txt"}).status != 0) {
		fprintf(stderr, "cannot make %s\n", lib.c_str());
		return 2;
	}

	const std::vector<std::string> direct = {seen_ar, "--plugin", plugin,
	                                         "t", lib};
	std::vector<contender *> others;
	for (auto &f : floors) {
		f.argv = {f.program};
		f.argv.insert(f.argv.end(), direct.begin(), direct.end());
		others.push_back(&f);
	}
	for (auto &w : wrappers) {
		w.argv = {
		    add_wrapper(dir + "/tc", w.program, "vek-ar-" + w.name),
		    "t", lib};
		others.push_back(&w);
	}
	std::vector<const std::vector<std::string> *> commands = {&direct};
	for (const auto *c : others)
		commands.push_back(&c->argv);
	for (const auto *cmd : commands)
		if (timed(*cmd).status != 0) {
			fprintf(stderr, "%s failed\n", (*cmd)[0].c_str());
			return 2;
		}

	for (int i = 0; i < 20; i++) // warm the caches
		for (const auto *cmd : commands)
			timed(*cmd);

	size_t n = commands.size();
	std::vector<double> t_direct, t(n);
	for (int i = 0; i < rounds; i++) {
		for (size_t k = 0; k < n; k++) {
			size_t which = (i + k) % n;
			t[which] = timed(*commands[which]).seconds;
		}
		t_direct.push_back(t[0]);
		for (size_t k = 1; k < n; k++)
			others[k - 1]->overhead.push_back(t[k] - t[0]);
	}
	remove_tree(dir);

	printf("rounds: %d; %s --plugin P t lib.a: %.1f us (median)\n", rounds,
	       tool.empty() ? "ar" : tool.c_str(), median(t_direct) * 1e6);
	printf("overhead over the direct run (median of per-round "
	       "differences):\n");
	for (const auto &f : floors)
		printf("  spawn floor, %-14s %8.1f us\n", f.name.c_str(),
		       median(f.overhead) * 1e6);
	printf("  %-30s %11s", "vek-ar build", "overhead");
	for (const auto &f : floors)
		printf("  / %-12s", f.name.c_str());
	printf("  %s\n", "3 programs");
	for (const auto &w : wrappers) {
		double overhead = median(w.overhead);
		printf("  %-30s %8.1f us", w.name.c_str(), overhead * 1e6);
		for (const auto &f : floors)
			printf("  %14.3f", overhead / median(f.overhead));
		printf("  %8ld B\n", installed_size(w.program));
	}
	return 0;
}
