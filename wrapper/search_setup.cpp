/*
 * Start-up search setup.  A toolchain tree may be copied elsewhere or
 * reached through a symbolic link; the build-time install directories are
 * moved along with the program so that it still finds its own plug-in and
 * its own target tools.
 */
#include "wrapper/search_setup.h"

#include <stdlib.h>

#include "build_config.h"
#include "support/join.h"
#include "support/relocate.h"
#include "wrapper/personality.h"

struct prefix_list tool_prefixes;
struct prefix_list user_prefixes;
const char *locating_name;
const char *relocated_lib_prefix;
const char *relocated_libexec_prefix;

/* PREFIX as found for this run from the program's real place LOCATED, or
 * the build-time one when the program has not moved or the move cannot be
 * worked out. */
static const char *
relocated(const char *located, const char *prefix)
{
	const char *moved =
	    relative_prefix_no_links(located, install_bin_prefix, prefix);
	return moved != nullptr ? moved : prefix;
}

void
search_setup(const char *argv0)
{
	locating_name = argv0;
	/* Set even to "", the variable wins; nothing is put between. */
	const char *exec_prefix = getenv("VEK_EXEC_PREFIX");
	if (exec_prefix != nullptr)
		locating_name = join_strings(
		    exec_prefix, this_personality.program_name, nullptr);

	/* Found once for both prefixes: resolving the links of the path
	 * is most of the work. */
	const char *located = program_location(locating_name);
	const char *lib_prefix = relocated_lib_prefix =
	    relocated(located, install_lib_prefix);
	const char *libexec_prefix = relocated_libexec_prefix =
	    relocated(located, install_libexec_prefix);

	/* The ".." steps stay in the string; the lookup resolves them. */
	char *target_bin_dir =
	    join_strings(lib_prefix, target_name, "/", version_string, "/",
	                 tooldir_up_path, target_name, "/", "bin", nullptr);
	prefixes_from_string(target_bin_dir, &tool_prefixes);

	char *plugin_dir = join_strings(libexec_prefix, target_name, "/",
	                                version_string, "/", nullptr);
	prefixes_from_string(plugin_dir, &tool_prefixes);

	prefixes_from_env("PATH", &user_prefixes);
}
