// Response files: vek-ar given an @file of many object paths, run through
// "-B" against a tool that does nothing, against the platform ar expanding
// the same file itself ("--version" is the file's first argument, so ar
// stops right after the expansion).  Compares wall time and peak memory.
//   rsp_bench VEK_AR NOOP_TOOL PLUGIN [COUNT] [RUNS]
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bench_support.h"

int
main(int argc, char **argv)
{
	if (argc < 4) {
		fprintf(stderr,
		        "usage: %s VEK_AR NOOP_TOOL PLUGIN [COUNT] [RUNS]\n",
		        argv[0]);
		return 2;
	}
	long count = argc > 4 ? atol(argv[4]) : 1000000;
	int runs = argc > 5 ? atoi(argv[5]) : 5;
	std::string dir = make_temp_dir("rsp");

	// -B names a directory with the plug-in and the no-op tool as "ar".
	std::string b_dir = dir + "/b";
	mkdir(b_dir.c_str(), 0755);
	copy_file(argv[2], b_dir + "/ar", 0755);
	copy_file(argv[3], b_dir + "/libmerx_plugin.so", 0644);

	std::string rsp = dir + "/objects.rsp";
	FILE *f = fopen(rsp.c_str(), "w");
	fputs("--version\n", f);
	for (long i = 0; i < count; i++)
		fprintf(f, "build/objects/dir%03ld/source_file_%07ld.o\n",
		        i % 1000, i);
	fclose(f);
	struct stat st;
	stat(rsp.c_str(), &st);

	// Our response file goes to the scratch directory.
	setenv("TMPDIR", dir.c_str(), 1);
	std::string ar = find_in_path("ar");
	const std::vector<std::string> platform = {ar, "@" + rsp};
	const std::vector<std::string> wrapped = {argv[1], "-B", b_dir,
	                                          "@" + rsp};
	// ar expands the file, then rejects the paths after "--version" and
	// exits with 1: only a crash would spoil the comparison.
	if (timed(wrapped).status != 0 || !WIFEXITED(timed(platform).status)) {
		fprintf(stderr, "a run failed\n");
		remove_tree(dir);
		return 2;
	}

	std::vector<double> t_ar, t_vek;
	long rss_ar = 0, rss_vek = 0;
	for (int i = 0; i < runs; i++) {
		timed_run a = timed(platform);
		timed_run v = timed(wrapped);
		t_ar.push_back(a.seconds);
		t_vek.push_back(v.seconds);
		rss_ar = a.max_rss_kb > rss_ar ? a.max_rss_kb : rss_ar;
		rss_vek = v.max_rss_kb > rss_vek ? v.max_rss_kb : rss_vek;
	}
	remove_tree(dir);

	printf("@file of %ld paths, %.1f MB; %d runs each (median time, "
	       "peak memory)\n",
	       count, st.st_size / 1e6, runs);
	printf("  ar @file (expands, --version)   %8.1f ms %8ld KB\n",
	       median(t_ar) * 1e3, rss_ar);
	printf("  vek-ar -B noop @file            %8.1f ms %8ld KB\n",
	       median(t_vek) * 1e3, rss_vek);
	printf("ratio vek-ar / ar: time %.3f, memory %.3f; vek-ar's peak "
	       "memory / file size %.2f\n",
	       median(t_vek) / median(t_ar),
	       static_cast<double>(rss_vek) / static_cast<double>(rss_ar),
	       rss_vek * 1024.0 / static_cast<double>(st.st_size));
	return 0;
}
