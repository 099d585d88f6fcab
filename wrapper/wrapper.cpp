/*
 * Wrapper entry and tool invocation.  The program is called exactly as the
 * tool would be; everything but one "-B" option passes through, and the
 * tool's exit status becomes ours.  Nothing allocated here is freed: the
 * process ends right after.
 */
#include "wrapper/wrapper.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "findfile/prefix_list.h"
#include "pex/pex.h"
#include "support/char_class.h"
#include "support/checked.h"
#include "support/join.h"
#include "support/portability.h"
#include "support/quote.h"
#include "support/relocate.h"
#include "wrapper/interrupt.h"
#include "wrapper/personality.h"
#include "wrapper/response_file.h"
#include "wrapper/search_setup.h"
#include "wrapper/trace.h"

static const char plugin_file_name[] = "libmerx_plugin.so";

/* The same text for every personality. */
static const char USAGE_TEXT[] = "Usage: vek-ar [-B prefix] ar arguments ...\n";

[[noreturn]] static void
usage(void)
{
	fatal_error("%s", USAGE_TEXT);
}

/* Drop entry I of the vector, the terminating null moving down with it. */
static void
remove_arg(int *argc, char **argv, int i)
{
	memmove(&argv[i], &argv[i + 1],
	        static_cast<size_t>(*argc - i) * sizeof argv[0]);
	(*argc)--;
}

/*
 * Take the first "-B" option off the command line and put its value, as a
 * directory, at the front of both lists.  Later ones reach the tool.
 */
static void
take_search_option(int *argc, char **argv)
{
	int i = 1;
	while (i < *argc && !(argv[i][0] == '-' && argv[i][1] == 'B'))
		i++;
	if (i >= *argc)
		return;

	const char *value = argv[i] + 2;
	remove_arg(argc, argv, i);
	if (*value == '\0') {
		if (i >= *argc)
			usage();
		value = argv[i];
		remove_arg(argc, argv, i);
	}
	if (*value != '\0' && value[strlen(value) - 1] != '/')
		value = join_strings(value, "/", nullptr);
	prefix_prepend(&user_prefixes, value);
	prefix_prepend(&tool_prefixes, value);
}

/*
 * A file found under an empty "-B" prefix has a bare name.  Handed on as
 * such, it would be searched for again (the tool in PATH by the spawn, the
 * plug-in in the library path by the tool's loader) and another file of
 * that name could be used than the one found here: name it as a path.
 */
static char *
as_path(char *found)
{
	return strchr(found, '/') != nullptr
	           ? found
	           : join_strings("./", found, nullptr);
}

/* The tool path, "--plugin", the plug-in path, arguments 1 on, a null. */
static char **
child_argv(char *tool, char *plugin, int argc, char **argv)
{
	auto **child = static_cast<char **>(
	    checked_calloc(static_cast<size_t>(argc) + 3, sizeof(char *)));
	child[0] = tool;
	child[1] = const_cast<char *>("--plugin");
	child[2] = plugin;
	for (int i = 1; i < argc; i++)
		child[i + 2] = argv[i];
	return child;
}

/* The search lists, and the trace of where they lead. */
static void
set_up_search(const char *self)
{
	search_setup(self);
	if (trace_wanted())
		trace_location();
}

/* find_in_prefixes through HOOKS, shown when tracing. */
static char *
lookup(const struct prefix_list *list, const char *name, int mode,
       struct lookup_hooks hooks)
{
	return trace_wanted()
	           ? trace_lookup(list, name, mode, hooks)
	           : find_in_prefixes_hooked(list, name, mode, &hooks);
}

/* Which file a path names: its device and inode, if it could be looked at. */
struct file_id {
	bool known;
	dev_t device;
	ino_t inode;
};

static struct file_id
file_id_of(const char *path)
{
	struct stat st;
	if (path == nullptr || stat(path, &st) != 0)
		return {false, 0, 0};
	return {true, st.st_dev, st.st_ino};
}

static bool
is_file(const struct file_id *id, const struct stat *st)
{
	return id->known && st->st_dev == id->device && st->st_ino == id->inode;
}

/*
 * Whether the file ST is this very program: the file that runs, or the
 * program as located from its name.  Neither alone will do: the located
 * one follows VEK_EXEC_PREFIX, which every start of ours inherits, and the
 * running one is known from argument 0 alone where the system does not
 * say, and a caller may lie about that for the first start.  The same
 * name is looked at once.
 */
static bool
this_program(const struct stat *st)
{
	static struct file_id located, running;
	static bool looked = false;
	if (!looked) {
		looked = true;
		located = file_id_of(located_program);
		const char *run = running_program;
		bool same_name =
		    run != nullptr && ((located_program != nullptr &&
		                        strcmp(run, located_program) == 0) ||
		                       (strchr(run, '/') != nullptr &&
		                        strcmp(run, locating_name) == 0));
		if (!same_name)
			running = file_id_of(running_program);
	}
	return is_file(&located, st) || is_file(&running, st);
}

/* Links followed from one name before giving up on it, as the kernel does. */
constexpr int MAX_LINK_HOPS = 40;

/*
 * The name of ours that the link PATH leads to, or null.  The name a path
 * resolves to is decided by the links at its last component alone, so only
 * those are followed, one readlink each, where realpath would look at every
 * directory on the way.  A chain ending in "." or ".." or a '/' leads to a
 * directory, which the lookup has already turned down.
 */
static const char *
our_name_behind(const char *path)
{
	char *target = static_cast<char *>(checked_malloc(PATH_MAX));
	const char *at = path;
	for (int hops = 0;; hops++) {
		ssize_t length = readlink(at, target, PATH_MAX - 1);
		if (length < 0 && errno == EINVAL)
			break;
		if (length < 0 || length >= PATH_MAX - 1 ||
		    hops == MAX_LINK_HOPS)
			return nullptr;
		/* A relative target is read from the link's directory. */
		size_t dir = target[0] == '/' ? 0 : path_basename(at) - at;
		char *next =
		    static_cast<char *>(checked_malloc(dir + length + 1));
		memcpy(next, at, dir);
		memcpy(next + dir, target, length);
		next[dir + length] = '\0';
		at = next;
	}
	const char *base = path_basename(at);
	for (const personality &row : personality_table)
		if (strcmp(base, row.program_name) == 0)
			return row.program_name;
	return nullptr;
}

/*
 * A tool candidate that is one of our own programs: a link named like the
 * tool early in PATH, to make every call go through us, a packager's hard
 * link beside us, another tree's wrapper.  Run, it would find itself again
 * and again, each level waiting on the next.
 */
static bool
one_of_ours(const char *candidate, const struct stat *st, bool is_link)
{
	bool self = this_program(st);
	const char *ours =
	    !self && is_link ? our_name_behind(candidate) : nullptr;
	if ((self || ours != nullptr) && trace_wanted())
		trace_passed_over(ours);
	return self || ours != nullptr;
}

/*
 * Find the plug-in and the tool, or end with the message for the one
 * missing.  The plug-in is looked up first, so a missing plug-in is the one
 * thing reported when both are.
 */
static void
find_plugin_and_tool(const char *self, char **plugin, char **tool)
{
	*plugin = lookup(&tool_prefixes, plugin_file_name, R_OK, {});
	if (*plugin == nullptr) {
		fatal_error("%s: Cannot find plugin '%s'\n", quote_name(self),
		            plugin_file_name);
	}
	const char *tool_name = this_personality.tool_name;
	const struct lookup_hooks not_ours = {nullptr, one_of_ours};
	*tool = lookup(&tool_prefixes, tool_name, X_OK, not_ours);
	if (*tool == nullptr)
		*tool = lookup(&user_prefixes, tool_name, X_OK, not_ours);
	if (*tool == nullptr) {
		fatal_error("%s: Cannot find binary '%s'\n", quote_name(self),
		            tool_name);
	}
	*plugin = as_path(*plugin);
	*tool = as_path(*tool);
}

/*
 * The archiver takes "rcs" as "-rcs"; the others pass argument 1 as is.
 * An empty one (an unset "$ARFLAGS") stays empty for the tool to refuse:
 * a lone "-" sets the archiver spinning.
 */
static void
apply_first_arg_rule(int argc, char **argv)
{
	if (this_personality.rule == first_arg_rule::add_dash && argc > 1 &&
	    argv[1][0] != '-' && argv[1][0] != '\0')
		argv[1] = join_strings("-", argv[1], nullptr);
}

/* What became of one run of the tool. */
struct run_outcome {
	const char *failed; /* the step that kept it from running, or null */
	int err;            /* that step's errno, or 0 */
	int status;         /* the tool's wait status, when it ran */
};

/*
 * Start the tool with ARGV (CHILD's arguments, when through a response
 * file) and wait for it.  A signal taken before it starts, our own broken
 * pipe under the trace among them, keeps the tool from starting: the run
 * is then an empty one (nothing failed, status 0), and the ending sees
 * what we took.  One that comes later reaches the tool.
 */
static struct run_outcome
run_tool(char *const *argv, char *const *child, const char *response_path)
{
	struct run_outcome run = {};
	if (trace_wanted())
		trace_run(argv, child, response_path);
	if (interrupt_first() != 0)
		return run;
	run.failed =
	    pex_run_single(PEX_FINAL_STAGE | PEX_USE_PATH | PEX_RELAY_SIGNALS,
	                   argv[0], argv, this_personality.program_name,
	                   nullptr, nullptr, &run.status, &run.err);
	return run;
}

/* The line said before we end. */
enum class ending_note {
	none,
	not_run,     /* "Error running" */
	tool_killed, /* "terminated with signal" */
};

/* How we end, and what is said first. */
struct ending {
	int exit_code;    /* ours, unless we end by a signal */
	int signal;       /* the signal we end by, or 0 */
	ending_note note; /* told from the run's outcome */
};

/*
 * How RUN ends us.  The tool's exit status becomes ours; a tool that could
 * not be run, or was stopped, gives 1, and one that died of a signal gives
 * 1 and a line.  No line, though, for a signal we caught and passed on, or
 * a broken pipe, which a reader that stopped reading expects: we end by
 * that signal as the tool did.  Having caught anything else, we end by the
 * first signal caught, so the caller sees the job was stopped.
 */
static struct ending
decide_ending(const struct run_outcome *run)
{
	struct ending end = {1, 0, ending_note::none};
	bool passed_on = false; /* the tool died of a signal we relayed */
	if (run->failed != nullptr) {
		end.note = ending_note::not_run;
	} else if (WIFEXITED(run->status)) {
		end.exit_code = WEXITSTATUS(run->status);
	} else if (WIFSIGNALED(run->status)) {
		int sig = WTERMSIG(run->status);
		passed_on = interrupt_caught(sig);
		if (passed_on || sig == SIGPIPE)
			end.signal = sig;
		else
			end.note = ending_note::tool_killed;
	}
	if (!passed_on && interrupt_first() != 0)
		end.signal = interrupt_first();
	return end;
}

/* The line END calls for about RUN of TOOL, if any. */
static void
tell_ending(const struct ending *end, const char *tool,
            const struct run_outcome *run)
{
	switch (end->note) {
	case ending_note::none:
		break;
	case ending_note::not_run:
		fprintf(stderr, "Error running %s: %s\n", quote_name(tool),
		        run->failed);
		if (trace_wanted() && run->err != 0)
			trace_reason(run->err);
		break;
	case ending_note::tool_killed: {
		int sig = WTERMSIG(run->status);
		fprintf(stderr, "%s terminated with signal %d [%s]%s\n",
		        quote_name(tool), sig, strsignal(sig),
		        VEK_WCOREDUMP(run->status) ? ", core dumped" : "");
		break;
	}
	}
}

/* Our exit code, unless END is by a signal: then we die of it here. */
static int
end_as(const struct ending *end)
{
	if (end->signal != 0)
		interrupt_die(end->signal, end->exit_code);
	return end->exit_code;
}

/*
 * Run the tool with CHILD, through a response file when RESPONSE_PATH is
 * set, and return our exit code; or end by the signal that ended the run.
 */
static int
run_and_report(char **child, char *response_path)
{
	struct run_outcome run = {};
	if (response_path == nullptr) {
		run = run_tool(child, child, nullptr);
		/* The kernel took our command line, but not the tool's with
		 * the plug-in and tool paths: hand it over in a file. */
		if (run.failed != nullptr && run.err == E2BIG)
			response_path = response_file_create();
	}
	if (response_path != nullptr) {
		char *response_argv[3];
		response_file_write(child, response_argv);
		run = run_tool(response_argv, child, response_path);
	}
	/* Gone before we look at what we caught, so that a signal during
	 * the removal still counts. */
	response_file_remove();
	struct ending end = decide_ending(&run);
	if (end.note != ending_note::none) {
		/* A reader gone from standard error ends us, as it always
		 * did, now that the file is gone. */
		interrupt_release(SIGPIPE);
		tell_ending(&end, child[0], &run);
	}
	return end_as(&end);
}

int
wrapper_main(int argc, char **argv)
{
	/*
	 * A caller may start us with no arguments at all, not even a
	 * program name, or with an empty one; stand in our own so every
	 * step below has one.
	 */
	char *self_name = const_cast<char *>(this_personality.program_name);
	char *self_only[] = {self_name, nullptr};
	if (argc < 1 || argv[0] == nullptr) {
		argc = 1;
		argv = self_only;
	} else if (argv[0][0] == '\0') {
		argv[0] = self_name;
	}

	set_up_search(argv[0]);
	take_search_option(&argc, argv);
	char *plugin;
	char *tool;
	find_plugin_and_tool(argv[0], &plugin, &tool);

	/* From before our response file exists until the tool has ended. */
	interrupt_catch();
	/* "-B" and the lookups above never see what is inside an @file. */
	char *response_path = response_file_prepare(&argc, &argv);
	apply_first_arg_rule(argc, argv);

	return run_and_report(child_argv(tool, plugin, argc, argv),
	                      response_path);
}
