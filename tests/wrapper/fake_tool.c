/*
 * Stand-in for ar, nm and ranlib in the wrapper tests.  Prints each
 * argument on its own line; for an "@file" argument whose file exists it
 * also prints the file between marker lines.  Its environment steers it:
 *   FAKE_TOOL_EXIT=n     exit with status n
 *   FAKE_TOOL_SIGNAL=n   die of signal n (core dumps allowed)
 *   FAKE_TOOL_FDS=1      print "fd N" for every open descriptor but 0, 1, 2
 *   FAKE_TOOL_COPY=path  copy the last @file given to path
 *   FAKE_TOOL_READY=path then write our pid to path: we are running
 *   FAKE_TOOL_WAIT=n     then wait up to n seconds for a signal
 *   FAKE_TOOL_CATCH=path catch HUP, INT, QUIT and TERM; on one, take a
 *                        moment to clean up, write "caught N" to path and
 *                        die of it
 *   FAKE_TOOL_ONCE=1     catch them once: a second one ends us at once
 */
#include <dirent.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

static volatile sig_atomic_t caught;

static void
on_signal(int sig)
{
	caught = sig;
}

/* Written aside and renamed, so a reader never sees half of it. */
__attribute__((format(printf, 2, 3))) static void
write_note(const char *path, const char *format, ...)
{
	char part[4096];
	FILE *f;
	va_list ap;
	snprintf(part, sizeof part, "%s.part", path);
	f = fopen(part, "w");
	if (f == NULL)
		exit(96);
	va_start(ap, format);
	vfprintf(f, format, ap);
	va_end(ap);
	if (fclose(f) != 0 || rename(part, path) != 0)
		exit(96);
}

/* Catch HUP, INT, QUIT and TERM, before we say we are running. */
static void
catch_signals(void)
{
	int sig;
	struct sigaction on;
	memset(&on, 0, sizeof on);
	on.sa_handler = on_signal;
	on.sa_flags = getenv("FAKE_TOOL_ONCE") != NULL ? SA_RESETHAND : 0;
	for (sig = 1; sig < 16; sig++)
		if (sig == SIGHUP || sig == SIGINT || sig == SIGQUIT ||
		    sig == SIGTERM)
			sigaction(sig, &on, NULL);
}

/* Wait up to SECONDS; a caught signal ends us as its default would. */
static void
wait_for_signal(int seconds, const char *catch_note)
{
	int i;
	for (i = 0; i < seconds * 100 && caught == 0; i++)
		usleep(10000);
	if (caught == 0)
		return;
	usleep(300000);
	write_note(catch_note, "caught %d\n", caught);
	signal(caught, SIG_DFL);
	raise(caught);
}

static void
copy_file(const char *from, const char *to)
{
	FILE *in = fopen(from, "rb");
	FILE *out = fopen(to, "wb");
	int c;
	if (in == NULL || out == NULL)
		exit(97);
	while ((c = getc(in)) != EOF)
		putc(c, out);
	fclose(in);
	if (fclose(out) != 0)
		exit(97);
}

static void
print_file(const char *name)
{
	FILE *in = fopen(name, "rb");
	int c;
	if (in == NULL)
		return;
	fputs("--- begin @file\n", stdout);
	while ((c = getc(in)) != EOF)
		putchar(c);
	fputs("--- end @file\n", stdout);
	fclose(in);
}

static void
print_fds(void)
{
	DIR *dir = opendir("/proc/self/fd");
	struct dirent *e;
	if (dir == NULL)
		exit(98);
	while ((e = readdir(dir)) != NULL) {
		int fd = atoi(e->d_name);
		if (e->d_name[0] == '.' || fd <= 2 || fd == dirfd(dir))
			continue;
		printf("fd %d\n", fd);
	}
	closedir(dir);
}

int
main(int argc, char **argv)
{
	const char *copy = getenv("FAKE_TOOL_COPY");
	const char *exit_with = getenv("FAKE_TOOL_EXIT");
	const char *signal_with = getenv("FAKE_TOOL_SIGNAL");
	int i;

	for (i = 0; i < argc; i++) {
		puts(argv[i]);
		if (argv[i][0] == '@') {
			print_file(argv[i] + 1);
			if (copy != NULL)
				copy_file(argv[i] + 1, copy);
		}
	}
	if (getenv("FAKE_TOOL_FDS") != NULL)
		print_fds();
	fflush(stdout);
	if (getenv("FAKE_TOOL_CATCH") != NULL)
		catch_signals();
	if (getenv("FAKE_TOOL_READY") != NULL)
		write_note(getenv("FAKE_TOOL_READY"), "%d\n", (int)getpid());
	if (getenv("FAKE_TOOL_WAIT") != NULL)
		wait_for_signal(atoi(getenv("FAKE_TOOL_WAIT")),
		                getenv("FAKE_TOOL_CATCH"));
	if (signal_with != NULL) {
		struct rlimit unlimited = {RLIM_INFINITY, RLIM_INFINITY};
		setrlimit(RLIMIT_CORE, &unlimited);
		signal(atoi(signal_with), SIG_DFL);
		raise(atoi(signal_with));
	}
	return exit_with != NULL ? atoi(exit_with) : 0;
}
