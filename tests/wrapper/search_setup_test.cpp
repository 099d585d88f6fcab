// Start-up search setup: which directories the two lists get for a given
// program location, VEK_EXEC_PREFIX and PATH.
#include "wrapper/search_setup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "build_config.h"
#include "lists.h"
#include "testkit.h"

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
	const char *moved_to;    // the lists' base; null: the build-time place
	std::vector<std::string> user;
};

const env_case env_cases[] = {
    {"/usr/local/bin/vek-ar", nullptr, nullptr, nullptr, {}},
    {"/opt/t/bin/vek-ar", nullptr, nullptr, "/opt/t/bin/../", {}},
    {"/usr/local/bin/vek-ar", "/opt/t/bin/", nullptr, "/opt/t/bin/../", {}},
    // The value is joined to the name with nothing between.
    {"/opt/t/bin/vek-ar", "/opt/t", nullptr, "/opt/../", {}},
    {"/opt/t/bin/vek-ar", "", nullptr, "../", {}},
    {"/usr/local/bin/vek-ar",
     nullptr,
     "/bin::/usr/bin/",
     nullptr,
     {"/bin/", "./", "/usr/bin/"}},
    {"/usr/local/bin/vek-ar", nullptr, "", nullptr, {"./"}},
};

TEST(SearchSetup, ListsFollowTheProgramsLocation)
{
	for (const env_case &c : env_cases) {
		SCOPED_TRACE(std::string(c.argv0) + " prefix=" +
		             (c.exec_prefix ? c.exec_prefix : "(unset)") +
		             " PATH=" + (c.path ? c.path : "(unset)"));
		scoped_env prefix("VEK_EXEC_PREFIX", c.exec_prefix);
		scoped_env search("PATH", c.path);
		std::string lib = install_lib_prefix,
		            libexec = install_libexec_prefix;
		if (c.moved_to != nullptr) {
			lib = std::string(c.moved_to) + "lib/vek14/vek/";
			libexec =
			    std::string(c.moved_to) + "libexec/vek14/vek/";
		}
		// What the setup computes lives as long as the program does;
		// run after run here, it is left behind by design.
		LEAKS_EXPECTED_BEGIN();
		search_setup(c.argv0);
		LEAKS_EXPECTED_END();
		EXPECT_EQ(list_texts(tool_prefixes),
		          (std::vector<std::string>{tool_dir(lib),
		                                    plugin_dir(libexec)}));
		EXPECT_EQ(list_texts(user_prefixes), c.user);
		free_list(&tool_prefixes);
		free_list(&user_prefixes);
	}
}

} // namespace
