// Start-up overhead: the wall time vek-ar adds to "ar --plugin P t lib.a",
// against what a minimal spawn-and-wait program adds (the floor).  Runs
// the three commands in turn, round after round, so that machine noise
// falls on all of them alike, and compares per-round differences.
//   startup_bench VEK_AR SPAWN_FLOOR PLUGIN [ROUNDS]
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "bench_support.h"

int
main(int argc, char **argv)
{
	if (argc < 4) {
		fprintf(stderr,
		        "usage: %s VEK_AR SPAWN_FLOOR PLUGIN [ROUNDS]\n",
		        argv[0]);
		return 2;
	}
	int rounds = argc > 4 ? atoi(argv[4]) : 1000;
	std::string dir = make_temp_dir("startup");
	std::string ar = find_in_path("ar");
	std::string vek_ar = lay_out_tree(dir + "/tc", argv[1], argv[3], ar);
	/*
	 * The direct runs use the very command line the wrapper hands ar: ar
	 * works out things from its own path, so another spelling of it
	 * would time ar differently, not the wrapper.
	 */
	const std::string seen_ar = tool_path_as_run(dir + "/tc", "ar");
	std::string plugin = dir + "/tc/" VEK_REL_BIN_DIR
	                           "/../" VEK_REL_PLUGIN_DIR
	                           "/libmerx_plugin.so";
	std::string lib = dir + "/lib.a";
	std::string member = dir + "/member.txt";
	FILE *f = fopen(member.c_str(), "w");
	fputs("member\n", f);
	fclose(f);
	if (timed({ar, "rc", lib, member}).status != 0) {
		fprintf(stderr, "cannot make %s\n", lib.c_str());
		return 2;
	}

	const std::vector<std::string> direct = {seen_ar, "--plugin", plugin,
	                                         "t", lib};
	std::vector<std::string> spawned = {argv[2]};
	spawned.insert(spawned.end(), direct.begin(), direct.end());
	const std::vector<std::string> wrapped = {vek_ar, "t", lib};
	const std::vector<std::string> *const commands[] = {&direct, &spawned,
	                                                    &wrapped};
	for (const auto *cmd : commands)
		if (timed(*cmd).status != 0) {
			fprintf(stderr, "%s failed\n", (*cmd)[0].c_str());
			return 2;
		}

	for (int i = 0; i < 20; i++) // warm the caches
		for (const auto *cmd : commands)
			timed(*cmd);

	std::vector<double> t_direct, t_floor, t_wrapped, d_floor, d_wrapped;
	/* The order turns round by round, so that no command always runs
	 * right after the same other one. */
	for (int i = 0; i < rounds; i++) {
		double t[3];
		for (int k = 0; k < 3; k++) {
			int which = (i + k) % 3;
			t[which] = timed(*commands[which]).seconds;
		}
		t_direct.push_back(t[0]);
		t_floor.push_back(t[1]);
		t_wrapped.push_back(t[2]);
		d_floor.push_back(t[1] - t[0]);
		d_wrapped.push_back(t[2] - t[0]);
	}
	remove_tree(dir);

	double floor_overhead = median(d_floor);
	double wrapper_overhead = median(d_wrapped);
	printf("rounds: %d (median per call)\n", rounds);
	printf("  ar --plugin P t lib.a     %8.1f us\n",
	       median(t_direct) * 1e6);
	printf("  spawn floor + ar          %8.1f us\n", median(t_floor) * 1e6);
	printf("  vek-ar t lib.a            %8.1f us\n",
	       median(t_wrapped) * 1e6);
	printf("overhead over direct ar:\n");
	printf("  spawn floor               %8.1f us\n", floor_overhead * 1e6);
	printf("  vek-ar                    %8.1f us\n",
	       wrapper_overhead * 1e6);
	printf("ratio vek-ar / floor: %.3f (target <= 1.1)\n",
	       wrapper_overhead / floor_overhead);
	return 0;
}
