/*
 * Wrapper entry and tool invocation.  The program is called exactly as the
 * tool would be; everything but one "-B" option passes through, and the
 * tool's exit status becomes ours.  Nothing allocated here is freed: the
 * process ends right after.
 */
#include "wrapper/wrapper.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "findfile/prefix_list.h"
#include "pex/pex.h"
#include "support/checked.h"
#include "support/join.h"
#include "support/portability.h"
#include "wrapper/personality.h"
#include "wrapper/response_file.h"
#include "wrapper/search_setup.h"

static const char plugin_file_name[] = "libmerx_plugin.so";

/* The same text for every personality. */
static const char usage_text[] = "Usage: vek-ar [-B prefix] ar arguments ...\n";

[[noreturn]] static void
usage(void)
{
	fwrite(usage_text, 1, sizeof usage_text - 1, stderr);
	exit(1);
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

/* The tool's wait status as our exit code. */
static int
exit_code(const char *tool, int status)
{
	if (status == 0)
		return 0;
	if (WIFEXITED(status))
		return WEXITSTATUS(status);
	if (WIFSIGNALED(status)) {
		int sig = WTERMSIG(status);
		fprintf(stderr, "%s terminated with signal %d [%s]%s\n", tool,
		        sig, strsignal(sig),
		        VEK_WCOREDUMP(status) ? ", core dumped" : "");
	}
	return 1;
}

int
wrapper_main(int argc, char **argv)
{
	/*
	 * A caller may start us with no arguments at all, not even a
	 * program name; stand in our own so every step below has one.
	 */
	char *self_only[] = {const_cast<char *>(this_personality.program_name),
	                     nullptr};
	if (argc < 1 || argv[0] == nullptr) {
		argc = 1;
		argv = self_only;
	}

	search_setup(argv[0]);
	take_search_option(&argc, argv);

	/* Looked up first, so a missing plug-in is the one thing reported. */
	char *plugin = find_in_prefixes(&tool_prefixes, plugin_file_name, R_OK);
	if (plugin == nullptr) {
		fprintf(stderr, "%s: Cannot find plugin '%s'\n", argv[0],
		        plugin_file_name);
		exit(1);
	}
	const char *tool_name = this_personality.tool_name;
	char *tool = find_in_prefixes(&tool_prefixes, tool_name, X_OK);
	if (tool == nullptr)
		tool = find_in_prefixes(&user_prefixes, tool_name, X_OK);
	if (tool == nullptr) {
		fprintf(stderr, "%s: Cannot find binary '%s'\n", argv[0],
		        tool_name);
		exit(1);
	}

	plugin = as_path(plugin);
	tool = as_path(tool);

	/* "-B" and the lookups above never see what is inside an @file. */
	char *response_path = response_file_prepare(&argc, &argv);

	if (this_personality.rule == first_arg_rule::add_dash && argc > 1 &&
	    argv[1][0] != '-')
		argv[1] = join_strings("-", argv[1], nullptr);

	const char *caller_name = join_strings("vek-", tool, nullptr);
	char **child = child_argv(tool, plugin, argc, argv);
	char *response_argv[3];
	char *const *run_argv = child;
	if (response_path != nullptr) {
		response_file_write(response_path, child, response_argv);
		run_argv = response_argv;
	}

	int status = 0;
	int err = 0;
	const char *failed =
	    pex_run_single(PEX_FINAL_STAGE | PEX_USE_PATH, tool, run_argv,
	                   caller_name, nullptr, nullptr, &status, &err);
	int code;
	if (failed != nullptr) {
		fprintf(stderr, "Error running %s: %s\n", tool, failed);
		code = 1;
	} else {
		code = exit_code(tool, status);
	}

	response_file_remove(response_path);
	return code;
}
