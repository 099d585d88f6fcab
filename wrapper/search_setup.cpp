/*
 * Start-up search setup.  A toolchain tree may be copied elsewhere or
 * reached through a symbolic link; the build-time install directories are
 * moved along with the program so that it still finds its own plug-in and
 * its own target tools.
 */
#include "wrapper/search_setup.h"

#include <stdlib.h>
#include <string.h>

#include "build_config.h"
#include "support/join.h"
#include "support/portability.h"
#include "support/relocate.h"
#include "wrapper/personality.h"

struct prefix_list tool_prefixes;
struct prefix_list user_prefixes;
const char *locating_name;
const char *relocated_lib_prefix;
const char *relocated_libexec_prefix;
const char *located_program;
const char *running_program;

void
search_setup(const char *argv0)
{
	locating_name = argv0;
	running_program = VEK_EXEC_NAME();
	/* Always so where the system does not say. */
	// cppcheck-suppress knownConditionTrueFalse
	if (running_program == nullptr && strchr(argv0, '/') != nullptr)
		running_program = argv0;
	/* Set even to "", the variable wins; nothing is put between. */
	const char *exec_prefix = getenv("VEK_EXEC_PREFIX");
	if (exec_prefix != nullptr)
		locating_name = join_strings(
		    exec_prefix, this_personality.program_name, nullptr);

	/* Found once for both prefixes: resolving the links of the path
	 * is most of the work.  Where the program has not moved, or the move
	 * cannot be worked out, the build-time directories stand. */
	const char *located = program_location(locating_name);
	located_program = located;
	const char *lib_prefix = relative_prefix_no_links(
	    located, install_bin_prefix, install_lib_prefix);
	const char *libexec_prefix = relative_prefix_no_links(
	    located, install_bin_prefix, install_libexec_prefix);
	if (lib_prefix == nullptr)
		lib_prefix = install_lib_prefix;
	if (libexec_prefix == nullptr)
		libexec_prefix = install_libexec_prefix;
	relocated_lib_prefix = lib_prefix;
	relocated_libexec_prefix = libexec_prefix;

	/*
	 * The ".." steps stay in the string; the lookup resolves them.  Each
	 * is one directory, added whole: a tree under a path holding ':' must
	 * not be cut into pieces that name other places, relative ones among
	 * them.
	 */
	prefix_append(&tool_prefixes,
	              join_strings(lib_prefix, target_name, "/", version_string,
	                           "/", tooldir_up_path, target_name, "/bin/",
	                           nullptr));
	prefix_append(&tool_prefixes,
	              join_strings(libexec_prefix, target_name, "/",
	                           version_string, "/", nullptr));

	prefixes_from_env("PATH", &user_prefixes);
}
