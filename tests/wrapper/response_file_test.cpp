// The response file, made in this process: once it exists, a fatal end
// takes it away.
#include "wrapper/response_file.h"

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>

#include "support/checked.h"
#include "testkit.h"

namespace {

using ResponseFileRemoval = ScratchTest;

// Running out of memory once the response file exists, or any other fatal
// end, removes it.
TEST_F(ResponseFileRemoval, FatalExitTakesTheFileAway)
{
	child_result r = run_in_child([this] {
		scoped_env tmpdir("TMPDIR", root.c_str());
		fputs(response_file_create(), stderr);
		report_out_of_memory(1);
	});
	std::string name = r.err.substr(0, r.err.find('\n'));
	EXPECT_EQ(r.status, exited(1));
	EXPECT_EQ(r.err, name + "\nout of memory allocating 1 bytes\n");
	EXPECT_EQ(name.rfind(root + "/cc", 0), 0u) << name;
	EXPECT_FALSE(exists(name));
}

} // namespace
