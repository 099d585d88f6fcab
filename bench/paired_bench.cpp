// Whole calls side by side: each command runs once per round, in an order
// that turns round by round, so that machine noise falls on all of them
// alike.  The first command is the baseline; for every other one the
// median of its per-round differences from it is printed, and that as a
// share of the baseline's median.
//   paired_bench ROUNDS NAME ARG... [-- NAME ARG...]...
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "bench_support.h"

struct command {
	std::string name;
	std::vector<std::string> argv;
	std::vector<double> seconds, over_base; // per round
};

int
main(int argc, char **argv)
{
	std::vector<command> commands(1);
	for (int i = 2; i < argc; i++) {
		if (strcmp(argv[i], "--") == 0)
			commands.emplace_back();
		else if (commands.back().name.empty())
			commands.back().name = argv[i];
		else
			commands.back().argv.push_back(argv[i]);
	}
	int rounds = argc > 1 ? atoi(argv[1]) : 0;
	if (rounds < 1 || commands.size() < 2 || commands.back().argv.empty()) {
		fprintf(stderr, "usage: %s ROUNDS NAME ARG... -- NAME ARG...\n",
		        argv[0]);
		return 2;
	}
	for (auto &c : commands)
		for (int i = 0; i < 3; i++) // warm the caches, and check
			if (timed(c.argv).status != 0) {
				fprintf(stderr, "%s failed\n", c.name.c_str());
				return 2;
			}
	size_t n = commands.size();
	for (int i = 0; i < rounds; i++) {
		for (size_t k = 0; k < n; k++) {
			command &c = commands[(i + k) % n];
			c.seconds.push_back(timed(c.argv).seconds);
		}
		for (auto &c : commands)
			c.over_base.push_back(c.seconds.back() -
			                      commands[0].seconds.back());
	}
	double base = median(commands[0].seconds);
	printf("  %-34s %10s %12s %8s\n", "command (median of rounds)", "time",
	       "over first", "share");
	for (auto &c : commands) {
		double over = median(c.over_base);
		printf("  %-34s %7.2f ms %+9.2f ms %+7.1f%%\n", c.name.c_str(),
		       median(c.seconds) * 1e3, over * 1e3, over / base * 100);
	}
	return 0;
}
