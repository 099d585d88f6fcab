// Start-up search setup: which directories the two lists get for a given
// program location, VEK_EXEC_PREFIX and PATH.
#include "wrapper/search_setup.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "build_config.h"
#include "lists.h"
#include "scratch.h"
#include "support/checked.h"
#include "wrapper/response_file.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define LEAKS_EXPECTED_BEGIN() __lsan_disable()
#define LEAKS_EXPECTED_END() __lsan_enable()
#else
#define LEAKS_EXPECTED_BEGIN()
#define LEAKS_EXPECTED_END()
#endif

namespace {

std::string
tool_dir(const std::string &lib)
{
	return lib + target_name + "/" + version_string + "/" +
	       tooldir_up_path + target_name + "/bin/";
}

std::string
plugin_dir(const std::string &libexec)
{
	return libexec + target_name + "/" + version_string + "/";
}

struct env_case {
	const char *argv0;
	const char *exec_prefix; // null: unset
	const char *path;        // null: unset
	std::string lib, libexec;
	std::vector<std::string> user;
};

TEST(SearchSetup, ListsFollowTheProgramsLocation)
{
	const std::string bin_lib = install_lib_prefix;
	const std::string bin_libexec = install_libexec_prefix;
	const env_case cases[] = {
	    {"/usr/local/bin/vek-ar",
	     nullptr,
	     nullptr,
	     bin_lib,
	     bin_libexec,
	     {}},
	    {"/opt/t/bin/vek-ar",
	     nullptr,
	     nullptr,
	     "/opt/t/bin/../lib/vek14/vek/",
	     "/opt/t/bin/../libexec/vek14/vek/",
	     {}},
	    {"/usr/local/bin/vek-ar",
	     "/opt/t/bin/",
	     nullptr,
	     "/opt/t/bin/../lib/vek14/vek/",
	     "/opt/t/bin/../libexec/vek14/vek/",
	     {}},
	    // The value is joined to the name with nothing between.
	    {"/opt/t/bin/vek-ar",
	     "/opt/t",
	     nullptr,
	     "/opt/../lib/vek14/vek/",
	     "/opt/../libexec/vek14/vek/",
	     {}},
	    {"/opt/t/bin/vek-ar",
	     "",
	     nullptr,
	     "../lib/vek14/vek/",
	     "../libexec/vek14/vek/",
	     {}},
	    {"/usr/local/bin/vek-ar",
	     nullptr,
	     "/bin::/usr/bin/",
	     bin_lib,
	     bin_libexec,
	     {"/bin/", "./", "/usr/bin/"}},
	    {"/usr/local/bin/vek-ar",
	     nullptr,
	     "",
	     bin_lib,
	     bin_libexec,
	     {"./"}},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(std::string(c.argv0) + " prefix=" +
		             (c.exec_prefix ? c.exec_prefix : "(unset)") +
		             " PATH=" + (c.path ? c.path : "(unset)"));
		if (c.exec_prefix)
			setenv("VEK_EXEC_PREFIX", c.exec_prefix, 1);
		else
			unsetenv("VEK_EXEC_PREFIX");
		if (c.path)
			setenv("PATH", c.path, 1);
		else
			unsetenv("PATH");
		// What the setup computes lives as long as the program does;
		// run after run here, it is left behind by design.
		LEAKS_EXPECTED_BEGIN();
		search_setup(c.argv0);
		LEAKS_EXPECTED_END();
		EXPECT_EQ(list_texts(tool_prefixes),
		          (std::vector<std::string>{tool_dir(c.lib),
		                                    plugin_dir(c.libexec)}));
		EXPECT_EQ(list_texts(user_prefixes), c.user);
		free_list(&tool_prefixes);
		free_list(&user_prefixes);
	}
	unsetenv("VEK_EXEC_PREFIX");
}

} // namespace

// Running out of memory once the response file exists, or any other fatal
// end, removes it.
TEST(ResponseFileRemoval, FatalExitTakesTheFileAway)
{
	std::string dir = make_temp_dir("rsp");
	std::string name_file = dir + "/name";
	pid_t child = fork();
	ASSERT_GE(child, 0);
	if (child == 0) {
		setenv("TMPDIR", dir.c_str(), 1);
		write_file(name_file, response_file_create());
		report_out_of_memory(1);
	}
	int status = 0;
	ASSERT_EQ(waitpid(child, &status, 0), child);
	EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
	std::string name = read_file(name_file);
	EXPECT_EQ(name.rfind(dir + "/cc", 0), 0u) << name;
	EXPECT_FALSE(exists(name));
	remove_tree(dir);
}
