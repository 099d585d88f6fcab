/*
 * A child for the pipeline tests.  Each argument is one step, run in order:
 *   out:TEXT   write TEXT to standard output
 *   err:TEXT   write TEXT to standard error
 *   cat        copy standard input to standard output
 *   upper      the same, with ASCII letters made upper case
 *   fds        write "fds:" and each open descriptor number, then a newline
 *   sleep:MS   sleep MS milliseconds
 *   spin:MS    use MS milliseconds of CPU time
 *   exit:N     exit with status N
 *   signal:N   raise signal N
 *   env:NAME   write the value of NAME, or "(unset)", and a newline
 * With no exit step the status is 0.
 */
#include <ctype.h>
#include <dirent.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static void
copy_input(bool to_upper)
{
	int c;
	while ((c = getchar()) != EOF)
		putchar(to_upper ? toupper(c) : c);
}

/* Lists what the child really holds, not counting the listing itself. */
static void
list_fds(void)
{
	DIR *dir = opendir("/proc/self/fd");
	if (dir == nullptr) {
		perror("opendir");
		exit(125);
	}
	int own = dirfd(dir);
	fputs("fds:", stdout);
	for (struct dirent *entry; (entry = readdir(dir)) != nullptr;) {
		if (entry->d_name[0] == '.')
			continue;
		int fd = atoi(entry->d_name);
		if (fd != own)
			printf(" %d", fd);
	}
	putchar('\n');
	closedir(dir);
}

static double
cpu_seconds(void)
{
	struct timespec now;
	clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
	return now.tv_sec + now.tv_nsec / 1e9;
}

static void
spin(long ms)
{
	double until = cpu_seconds() + ms / 1000.0;
	volatile unsigned long sink = 0;
	while (cpu_seconds() < until)
		for (int i = 0; i < 10000; i++)
			sink = sink + i;
}

static bool
step(const char *arg, const char *name, const char **value)
{
	size_t length = strlen(name);
	if (strncmp(arg, name, length) != 0 || arg[length] != ':')
		return false;
	*value = arg + length + 1;
	return true;
}

int
main(int argc, char **argv)
{
	const char *value;

	for (int i = 1; i < argc; i++) {
		const char *arg = argv[i];
		if (step(arg, "out", &value)) {
			fputs(value, stdout);
		} else if (step(arg, "err", &value)) {
			fflush(stdout);
			fputs(value, stderr);
		} else if (strcmp(arg, "cat") == 0) {
			copy_input(false);
		} else if (strcmp(arg, "upper") == 0) {
			copy_input(true);
		} else if (strcmp(arg, "fds") == 0) {
			fflush(stdout);
			list_fds();
		} else if (step(arg, "sleep", &value)) {
			fflush(stdout);
			usleep(atol(value) * 1000);
		} else if (step(arg, "spin", &value)) {
			spin(atol(value));
		} else if (step(arg, "exit", &value)) {
			fflush(stdout);
			exit(atoi(value));
		} else if (step(arg, "env", &value)) {
			const char *setting = getenv(value);
			printf("%s\n",
			       setting != nullptr ? setting : "(unset)");
		} else if (step(arg, "signal", &value)) {
			fflush(stdout);
			raise(atoi(value));
		} else {
			fprintf(stderr, "pex_helper: unknown step %s\n", arg);
			return 126;
		}
	}
	return 0;
}
