// The built programs run end to end from a scratch tree laid out like an
// installed toolchain, with a fake tool that prints what it was given.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include "build_config.h"
#include "e2e_support.h"
#include "support/portability.h"

namespace {

struct program {
	const char *name;
	const char *built;
	const char *tool;
};

const program programs[] = {
    {"vek-ar", VEK_AR_PROGRAM, "ar"},
    {"vek-nm", VEK_NM_PROGRAM, "nm"},
    {"vek-ranlib", VEK_RANLIB_PROGRAM, "ranlib"},
};

// The program under test: this build's, or the one of that name in
// $VEK_TEST_PROGRAM_DIR (another build's installed bin directory).
std::string
under_test(const program &p)
{
	const char *dir = getenv("VEK_TEST_PROGRAM_DIR");
	return dir != nullptr && *dir != '\0' ? std::string(dir) + "/" + p.name
	                                      : p.built;
}

std::string
lines(const std::vector<std::string> &v)
{
	std::string s;
	for (const auto &l : v)
		s += l + "\n";
	return s;
}

// The parent of process PID, or 0.
pid_t
parent_of(pid_t pid)
{
	std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
	size_t name_end = stat.rfind(')');
	return name_end == std::string::npos
	           ? 0
	           : atoi(stat.c_str() + name_end + 4);
}

class WrapperTree : public ScratchTest {
      protected:
	std::string tree;       // the installed tree, in the scratch directory
	std::string empty_path; // a PATH with nothing in it
	std::string tmp;        // TMPDIR

	void SetUp() override
	{
		ScratchTest::SetUp();
		tree = path("tc");
		empty_path = make_dir("nothing");
		tmp = make_dir("tmp");
		lay_out(tree);
	}

	// bin/ with the three programs, the plug-in, the fake tools, and the
	// versioned library directory the tool directory is reached through.
	void lay_out(const std::string &at)
	{
		make_dirs(at + "/" VEK_REL_BIN_DIR);
		make_dirs(at + "/" VEK_REL_LIB_DIR);
		make_dirs(at + "/" VEK_REL_PLUGIN_DIR);
		make_dirs(at + "/" VEK_REL_TOOL_DIR);
		for (const auto &p : programs) {
			copy_file(under_test(p),
			          at + "/" VEK_REL_BIN_DIR "/" + p.name, 0755);
			copy_file(FAKE_TOOL_PROGRAM,
			          at + "/" VEK_REL_TOOL_DIR "/" + p.tool, 0755);
		}
		copy_file(PLUGIN_FIXTURE, plugin_in(at), 0644);
	}

	static std::string plugin_in(const std::string &at)
	{
		return at + "/" VEK_REL_PLUGIN_DIR "/libmerx_plugin.so";
	}

	// The argument naming the response file REL in the scratch directory.
	std::string at_file(const char *rel) const
	{
		return '@' + path(rel);
	}

	std::string prog(const char *name) const
	{
		return tree + "/" VEK_REL_BIN_DIR "/" + name;
	}

	// The paths as the program forms them from its own location: the
	// ".." steps stay in the string.
	std::string seen_tool(const std::string &at, const char *tool) const
	{
		return at + "/" VEK_REL_BIN_DIR "/../" VEK_REL_LIB_DIR "/" +
		       tooldir_up_path + target_name + "/bin/" + tool;
	}

	std::string seen_plugin(const std::string &at) const
	{
		return at + "/" VEK_REL_BIN_DIR "/../" VEK_REL_PLUGIN_DIR
		            "/libmerx_plugin.so";
	}

	// The environment of every run: nothing on PATH, TMPDIR our tmp/.
	std::map<std::string, std::string> env() const
	{
		auto env = base_env(empty_path);
		env["TMPDIR"] = tmp;
		return env;
	}

	// EXE run with ARGV and env(), EXTRA over it, in CWD (the scratch
	// directory when empty); the rest as for run_program.
	run_result
	run(const std::string &exe, std::vector<std::string> argv,
	    std::map<std::string, std::string> extra = {}, std::string cwd = "",
	    const std::function<void()> &before_exec = {},
	    const std::function<void(pid_t)> &while_running = {}) const
	{
		auto all = env();
		for (const auto &[k, v] : extra)
			all[k] = v;
		return run_program(exe, argv, all, cwd.empty() ? root : cwd,
		                   before_exec, while_running);
	}

	// The tree's program NAME run with ARGS after its own path.
	run_result
	run_tree(const char *name, const std::vector<std::string> &args,
	         const std::map<std::string, std::string> &extra = {},
	         const std::function<void()> &before_exec = {},
	         const std::function<void(pid_t)> &while_running = {}) const
	{
		std::vector<std::string> argv = {prog(name)};
		argv.insert(argv.end(), args.begin(), args.end());
		return run(prog(name), argv, extra, "", before_exec,
		           while_running);
	}
};

TEST_F(WrapperTree, EachProgramRunsItsToolWithThePlugin)
{
	struct {
		const char *program;
		const char *tool;
		std::vector<std::string> args;
		std::vector<std::string> passed;
	} cases[] = {
	    {"vek-ar", "ar", {"rcs", "lib.a", "x.o"}, {"-rcs", "lib.a", "x.o"}},
	    {"vek-ar", "ar", {"-t", "lib.a"}, {"-t", "lib.a"}},
	    {"vek-ar", "ar", {"", "lib.a"}, {"", "lib.a"}},
	    {"vek-ar", "ar", {}, {}},
	    {"vek-nm", "nm", {"x.o"}, {"x.o"}},
	    {"vek-nm", "nm", {"-g", "x.o"}, {"-g", "x.o"}},
	    {"vek-ranlib", "ranlib", {"lib.a"}, {"lib.a"}},
	    {"vek-ranlib", "ranlib", {}, {}},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(std::string(c.program) + " " + lines(c.args));
		run_result r = run_tree(c.program, c.args);
		std::vector<std::string> want = {seen_tool(tree, c.tool),
		                                 "--plugin", seen_plugin(tree)};
		want.insert(want.end(), c.passed.begin(), c.passed.end());
		EXPECT_EQ(r.out, lines(want));
		EXPECT_EQ(r.err, "");
		EXPECT_EQ(r.exit_code(), 0);
	}
}

TEST_F(WrapperTree, SearchOptionIsTakenOffInBothForms)
{
	std::string dir = make_dir("other");
	copy_file(FAKE_TOOL_PROGRAM, dir + "/ar", 0755);
	copy_file(PLUGIN_FIXTURE, dir + "/libmerx_plugin.so", 0644);
	const std::vector<std::vector<std::string>> forms = {
	    {"-B", dir, "rcs", "lib.a"},
	    {"-B", dir + "/", "rcs", "lib.a"},
	    {"-B" + dir, "rcs", "lib.a"},
	    {"rcs", "-B" + dir, "lib.a"},
	};
	for (const auto &args : forms) {
		SCOPED_TRACE(lines(args));
		run_result r = run_tree("vek-ar", args);
		EXPECT_EQ(r.out,
		          lines({dir + "/ar", "--plugin",
		                 dir + "/libmerx_plugin.so", "-rcs", "lib.a"}));
		EXPECT_EQ(r.exit_code(), 0);
	}
}

TEST_F(WrapperTree, OnlyTheFirstSearchOptionIsTaken)
{
	std::string x = make_dir("x");
	copy_file(PLUGIN_FIXTURE, x + "/libmerx_plugin.so", 0644);
	run_result r = run_tree("vek-ar", {"-B" + x, "-By", "t"});
	EXPECT_EQ(r.out, lines({seen_tool(tree, "ar"), "--plugin",
	                        x + "/libmerx_plugin.so", "-By", "t"}));
}

TEST_F(WrapperTree, EmptySearchValueLooksInTheCurrentDirectory)
{
	std::string cwd = make_dir("cwd");
	copy_file(FAKE_TOOL_PROGRAM, cwd + "/nm", 0755);
	copy_file(PLUGIN_FIXTURE, cwd + "/libmerx_plugin.so", 0644);
	// A PATH tool of the same name must not be run instead of ./nm.
	write("decoy/nm", "#!/bin/sh\necho decoy\n", 0755);
	run_result r = run(prog("vek-nm"), {prog("vek-nm"), "-B", "", "x.o"},
	                   {{"PATH", path("decoy")}}, cwd);
	EXPECT_EQ(r.out,
	          lines({"./nm", "--plugin", "./libmerx_plugin.so", "x.o"}));
	EXPECT_EQ(r.exit_code(), 0);
}

TEST_F(WrapperTree, TrailingSearchOptionPrintsUsage)
{
	for (const auto &p : programs) {
		SCOPED_TRACE(p.name);
		run_result r = run_tree(p.name, {"t", "-B"});
		EXPECT_EQ(r.err,
		          "Usage: vek-ar [-B prefix] ar arguments ...\n");
		EXPECT_EQ(r.out, "");
		EXPECT_EQ(r.exit_code(), 1);
	}
}

TEST_F(WrapperTree, FindsItsTreeWhenMovedOrLinked)
{
	const std::string moved = path("moved"), colon = path("co:lon/tc"),
	                  bin = "/" VEK_REL_BIN_DIR "/vek-ar";
	ASSERT_EQ(rename(tree.c_str(), moved.c_str()), 0);
	make_dir("links");
	ASSERT_EQ(symlink((moved + bin).c_str(), path("links/vek-ar").c_str()),
	          0);
	ASSERT_EQ(symlink(moved.c_str(), path("alias").c_str()), 0);
	lay_out(colon);
	const struct {
		const char *how;
		std::string program, tree;
	} cases[] = {
	    {"moved", moved + bin, moved},
	    // Through links, the tree is the one they lead to.
	    {"a link to the program", path("links/vek-ar"), moved},
	    {"a link to the tree", path("alias") + bin, moved},
	    // Its directories are not search paths, to be cut at the ':'.
	    {"under a path with ':'", colon + bin, colon},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.how);
		run_result r = run(c.program, {c.program, "t"});
		EXPECT_EQ(r.out, lines({seen_tool(c.tree, "ar"), "--plugin",
		                        seen_plugin(c.tree), "-t"}));
		EXPECT_EQ(r.err, "");
	}
}

// Links named like the tool that lead back to us (a directory early in
// PATH that makes every ar call go through the wrapper, a packager's hard
// link beside it, another tree's reached through a chain of links) are
// passed over, and so is the file that runs, wherever VEK_EXEC_PREFIX,
// which every start inherits, says the program lies.  A copy named like
// the tool is not known for one of ours: it runs once, adding its own
// plug-in, and passes itself over.  A regression would start us again and
// again: the runs are held to a few processes of an unprivileged user, in
// a process group that is killed afterwards.
TEST_F(WrapperTree, LinksToUsNamedLikeTheToolArePassedOver)
{
	const std::string other = path("other"), tools = path("tools"),
	                  links = path("links"), theirs = path("links2"),
	                  bin = tree + "/" VEK_REL_BIN_DIR,
	                  other_bin = other + "/" VEK_REL_BIN_DIR;
	lay_out(other);
	for (const std::string &at : {tree, other})
		unlink(seen_tool(at, "ar").c_str());
	for (const std::string &dir : {tools, links, theirs})
		make_dirs(dir);
	copy_file(FAKE_TOOL_PROGRAM, tools + "/ar", 0755);
	copy_file(under_test(programs[0]), other_bin + "/ar", 0755);
	ASSERT_EQ(symlink(prog("vek-ar").c_str(), (links + "/ar").c_str()) |
	              symlink((other + "/" VEK_REL_BIN_DIR "/vek-ar").c_str(),
	                      (theirs + "/via").c_str()) |
	              symlink("../links2/via", (theirs + "/ar").c_str()) |
	              link(prog("vek-ar").c_str(), (bin + "/ar").c_str()),
	          0);
	const std::string self = "  - passed over: it is this program\n";
	const struct {
		const char *how;
		std::string path, passed_over; /* tried, then why */
		int starts;           /* of ours that ran the tool; 0: none */
		std::string prefixed; /* VEK_EXEC_PREFIX, "" for unset */
	} cases[] = {
	    {"a link first in PATH", links + ":" + tools,
	     "  - tried: " + links + "/ar\n" + self, 1, ""},
	    {"a hard link beside us", bin + ":" + tools,
	     "  - tried: " + bin + "/ar\n" + self, 1, ""},
	    {"two trees' links", links + ":" + theirs + ":" + tools,
	     "  - tried: " + theirs + "/ar\n" +
	         "  - passed over: it is vek-ar, one of ours\n",
	     1, ""},
	    {"only ourselves", links + ":" + bin,
	     "  - tried: " + bin + "/ar\n" + self, 0, ""},
	    {"a copy beside us, placed by VEK_EXEC_PREFIX",
	     other_bin + ":" + tools,
	     "  - tried: " + other_bin + "/ar\n" + self, 2, other_bin + "/"},
	    {"a hard link beside us, VEK_EXEC_PREFIX elsewhere",
	     bin + ":" + tools, "  - tried: " + bin + "/ar\n" + self, 1,
	     other_bin + "/"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.how);
		std::map<std::string, std::string> extra = {{"PATH", c.path},
		                                            {"VEK_TRACE", "1"}};
		if (!c.prefixed.empty())
			extra["VEK_EXEC_PREFIX"] = c.prefixed;
		pid_t group = 0;
		run_result r = run_tree(
		    "vek-ar", {"t"}, extra,
		    [] {
			    struct rlimit few = {8, 8};
			    if (!drop_root() ||
			        setrlimit(RLIMIT_NPROC, &few) != 0)
				    _exit(120);
			    alarm(20);
		    },
		    [&](pid_t pid) { group = pid; });
		kill(-group, SIGKILL);
		EXPECT_NE(r.err.find(c.passed_over), std::string::npos)
		    << r.err;
		if (c.starts > 0) {
			std::vector<std::string> want = {tools + "/ar"};
			for (int i = 0; i < c.starts; i++) {
				want.push_back("--plugin");
				want.push_back(seen_plugin(
				    c.prefixed.empty() ? tree : other));
			}
			want.push_back("-t");
			EXPECT_EQ(r.out, lines(want));
			EXPECT_EQ(r.exit_code(), 0);
		} else {
			EXPECT_EQ(r.out, "");
			EXPECT_EQ(r.err.substr(
			              r.err.rfind('\n', r.err.size() - 2) + 1),
			          prog("vek-ar") +
			              ": Cannot find binary 'ar'\n");
			EXPECT_EQ(r.exit_code(), 1);
		}
	}
}

TEST_F(WrapperTree, BareNameIsLocatedThroughPath)
{
	std::string bin = tree + "/" VEK_REL_BIN_DIR;
	// An empty program name stands for our own name.
	for (const char *self : {"vek-nm", ""}) {
		SCOPED_TRACE(self);
		run_result r = run(prog("vek-nm"), {self, "x.o"},
		                   {{"PATH", empty_path + ":" + bin}});
		EXPECT_EQ(r.out, lines({seen_tool(tree, "nm"), "--plugin",
		                        seen_plugin(tree), "x.o"}));
	}
	run_result r = run(prog("vek-nm"), {""});
	EXPECT_EQ(r.err, "vek-nm: Cannot find plugin 'libmerx_plugin.so'\n");
}

TEST_F(WrapperTree, ExecPrefixOverridesTheProgramsOwnPlace)
{
	std::string loose = make_dir("loose");
	copy_file(under_test(programs[0]), loose + "/vek-ar", 0755);
	std::string bin = tree + "/" VEK_REL_BIN_DIR;
	run_result r = run(loose + "/vek-ar", {loose + "/vek-ar", "t"},
	                   {{"VEK_EXEC_PREFIX", bin + "/"}});
	EXPECT_EQ(r.out, lines({seen_tool(tree, "ar"), "--plugin",
	                        seen_plugin(tree), "-t"}));

	// Without it the loose copy finds no plug-in of its own.
	r = run(loose + "/vek-ar", {loose + "/vek-ar", "t"});
	EXPECT_EQ(r.err, loose + "/vek-ar: Cannot find plugin "
	                         "'libmerx_plugin.so'\n");
}

TEST_F(WrapperTree, ToolFoundOnlyThroughPathIsUsed)
{
	std::string tools = make_dir("tools");
	copy_file(FAKE_TOOL_PROGRAM, tools + "/ar", 0755);
	unlink(seen_tool(tree, "ar").c_str());
	run_result r = run_tree("vek-ar", {"t"}, {{"PATH", tools}});
	EXPECT_EQ(r.out,
	          lines({tools + "/ar", "--plugin", seen_plugin(tree), "-t"}));
	EXPECT_EQ(r.exit_code(), 0);
}

TEST_F(WrapperTree, MissingPluginOrToolIsReportedAndFatal)
{
	unlink(seen_tool(tree, "ar").c_str());
	run_result r = run_tree("vek-ar", {"t"});
	EXPECT_EQ(r.err, prog("vek-ar") + ": Cannot find binary 'ar'\n");
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.exit_code(), 1);

	// With both missing only the plug-in is reported.
	unlink(plugin_in(tree).c_str());
	r = run_tree("vek-ar", {"t"});
	EXPECT_EQ(r.err, prog("vek-ar") +
	                     ": Cannot find plugin 'libmerx_plugin.so'\n");
	EXPECT_EQ(r.exit_code(), 1);
	// A name that could pass for another line is quoted.
	r = run(prog("vek-ar"), {"vek\nRunning: ar"});
	EXPECT_EQ(r.err, "$'vek\\nRunning: ar': Cannot find plugin "
	                 "'libmerx_plugin.so'\n");
}

TEST_F(WrapperTree, ToolExitStatusIsPassedThrough)
{
	for (const char *status : {"0", "1", "3", "255"}) {
		SCOPED_TRACE(status);
		run_result r =
		    run_tree("vek-nm", {}, {{"FAKE_TOOL_EXIT", status}});
		EXPECT_EQ(r.exit_code(), atoi(status));
		EXPECT_EQ(r.err, "");
	}
	// A parent that ignores SIGCHLD hands that on; the tool is still
	// ours to wait for.
	for (const char *status : {"0", "3"}) {
		SCOPED_TRACE(std::string("SIGCHLD ignored, ") + status);
		run_result r =
		    run_tree("vek-nm", {}, {{"FAKE_TOOL_EXIT", status}},
		             [] { signal(SIGCHLD, SIG_IGN); });
		EXPECT_EQ(r.exit_code(), atoi(status));
		EXPECT_EQ(r.err, "");
	}
}

TEST_F(WrapperTree, ToolKilledBySignalIsReported)
{
	std::string tool = seen_tool(tree, "ranlib");
	run_result r = run_tree("vek-ranlib", {}, {{"FAKE_TOOL_SIGNAL", "9"}});
	EXPECT_EQ(r.err,
	          tool + " terminated with signal 9 [" + strsignal(9) + "]\n");
	EXPECT_EQ(r.exit_code(), 1);

	// Whether a core is written is the system's choice; the message must
	// agree with what the system reports for the same tool.
	run_result direct = run(tool, {tool}, {{"FAKE_TOOL_SIGNAL", "3"}});
	ASSERT_TRUE(WIFSIGNALED(direct.status));
	r = run_tree("vek-ranlib", {}, {{"FAKE_TOOL_SIGNAL", "3"}});
	EXPECT_EQ(r.err,
	          tool + " terminated with signal 3 [" + strsignal(3) + "]" +
	              (WCOREDUMP(direct.status) ? ", core dumped" : "") + "\n");
	EXPECT_EQ(r.exit_code(), 1);

	// A reader that went away ends us silently, as it ends the tool.
	r = run_tree("vek-ranlib", {}, {{"FAKE_TOOL_SIGNAL", "13"}});
	EXPECT_TRUE(WIFSIGNALED(r.status) && WTERMSIG(r.status) == SIGPIPE)
	    << r.status;
	EXPECT_EQ(r.err, "");
}

TEST_F(WrapperTree, ToolThatCannotStartIsReported)
{
	std::string tool = seen_tool(tree, "ar");
	write_file(tool, std::string("\x7f"
	                             "ELF not really",
	                             15));
	chmod(tool.c_str(), 0755);
	run_result r = run_tree("vek-ar", {"t"});
	EXPECT_EQ(r.err, "Error running " + tool + ": posix_spawnp\n");
	EXPECT_EQ(r.exit_code(), 1);

	// The trace adds why.
	r = run_tree("vek-ar", {"t"}, {{"VEK_TRACE", "1"}});
	std::string tail = "Error running " + tool + ": posix_spawnp\n" +
	                   "  - reason: " + strerror(ENOEXEC) + "\n";
	ASSERT_GE(r.err.size(), tail.size());
	EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
}

// VEK_TRACE shows where the program looked and what it ran.
TEST_F(WrapperTree, TraceShowsWhereItLookedAndWhatItRan)
{
	std::string versioned = std::string(target_name) + "/" + version_string;
	std::string tool_dir = seen_tool(tree, "");
	std::string plugin_dir = seen_plugin(tree);
	plugin_dir.resize(plugin_dir.size() - strlen("libmerx_plugin.so"));
	std::string lib = tool_dir.substr(
	    0, tool_dir.size() - versioned.size() - strlen(tooldir_up_path) -
	           strlen(target_name) - strlen("//bin/"));
	std::string libexec =
	    plugin_dir.substr(0, plugin_dir.size() - versioned.size() - 1);
	std::string start = "Install location worked out from '" +
	                    prog("vek-nm") + "'\n" +
	                    "  - library prefix: " + lib + "\n" +
	                    "  - libexec prefix: " + libexec + "\n" +
	                    "Looking for 'libmerx_plugin.so'\n" +
	                    "  - tried: " + tool_dir + "libmerx_plugin.so\n" +
	                    "  - tried: " + plugin_dir + "libmerx_plugin.so\n";

	// Each Running: line is one line, read back by a shell as it was.
	run_result r = run_tree(
	    "vek-nm", {"x.o", "a b", "", "it's", "a\nb", "\x1b[31m", "\xff'\\"},
	    {{"VEK_TRACE", "1"}});
	EXPECT_EQ(r.err, start + "  - found: " + seen_plugin(tree) + "\n" +
	                     "Looking for 'nm'\n" +
	                     "  - tried: " + seen_tool(tree, "nm") + "\n" +
	                     "  - found: " + seen_tool(tree, "nm") + "\n" +
	                     "Running: " + seen_tool(tree, "nm") +
	                     " --plugin " + seen_plugin(tree) +
	                     " x.o 'a b' '' 'it'\\''s' $'a\\nb' $'\\e[31m' "
	                     "$'\\377\\'\\\\'\n");
	EXPECT_EQ(r.exit_code(), 0);

	// A tool found under a relative prefix that a shell would read as
	// an assignment, were it not quoted.
	std::string odd = make_dir("x=y");
	copy_file(FAKE_TOOL_PROGRAM, odd + "/nm", 0755);
	copy_file(PLUGIN_FIXTURE, odd + "/libmerx_plugin.so", 0644);
	r = run_tree("vek-nm", {"-Bx=y", "x.o"}, {{"VEK_TRACE", "1"}});
	std::string running =
	    "Running: 'x=y/nm' --plugin x=y/libmerx_plugin.so x.o\n";
	EXPECT_EQ(r.err.substr(r.err.rfind("Running:")), running);

	unlink(plugin_in(tree).c_str());
	r = run_tree("vek-nm", {"x.o"}, {{"VEK_TRACE", "1"}});
	EXPECT_EQ(r.err, start + "  - not found\n" + prog("vek-nm") +
	                     ": Cannot find plugin 'libmerx_plugin.so'\n");
}

TEST_F(WrapperTree, ToolInheritsNoDescriptorOfOurs)
{
	for (const auto &p : programs) {
		SCOPED_TRACE(p.name);
		run_result r = run_tree(p.name, {}, {{"FAKE_TOOL_FDS", "1"}});
		EXPECT_EQ(r.out.find("fd "), std::string::npos) << r.out;
	}
}

} // namespace

namespace {

// Response files: the tool gets "@" and the name of a file of ours, which
// holds the rebuilt command line from "--plugin" on and is gone afterwards.
class ResponseFile : public WrapperTree {
      protected:
	// What the fake tool prints when the response file holds the plug-in
	// and then ARGS, one a line.
	std::string through_file(const char *tool,
	                         const std::string &args) const
	{
		return seen_tool(tree, tool) + "\n@" + tmp +
		       "/ccXXXXXX\n--- begin @file\n--plugin\n" +
		       seen_plugin(tree) + "\n" + args + "--- end @file\n";
	}

	// TEXT with the unique part of every response file name in tmp/ put
	// back to the template.
	std::string masked(std::string text) const
	{
		std::string mark = tmp + "/cc";
		for (size_t at = text.find(mark);
		     at != std::string::npos &&
		     at + mark.size() + 6 <= text.size();
		     at = text.find(mark, at + 1))
			text.replace(at + mark.size(), 6, "XXXXXX");
		return text;
	}

	bool tmp_is_empty() const
	{
		return list_dir(tmp).empty();
	}

	// R wrote OUT (names of response files masked) and ERR, ended with
	// CODE, and left no file behind.
	void expect_run(const run_result &r, const std::string &out,
	                const std::string &err, int code) const
	{
		EXPECT_EQ(masked(r.out), out);
		EXPECT_EQ(r.err, err);
		EXPECT_EQ(r.exit_code(), code);
		EXPECT_TRUE(tmp_is_empty());
	}

	// vek-ar run on a response file with EXTRA, and BETWEEN given its pid
	// while it waits after making the file and before starting the tool:
	// the file holds more than a pipe does, and the trace that shows it
	// goes into a FIFO not read until BETWEEN has run.  The result's err
	// is that trace.
	run_result run_held(std::map<std::string, std::string> extra,
	                    const std::function<void(pid_t)> &between)
	{
		write("args", "t " + std::string(256 * 1024, 'x'));
		std::string fifo = path("trace"), trace;
		EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
		int reader =
		    open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
		extra["VEK_TRACE"] = "1";
		auto drain = [&] {
			char buf[65536];
			for (ssize_t n;
			     (n = read(reader, buf, sizeof buf)) > 0;)
				trace.append(buf, static_cast<size_t>(n));
		};
		run_result r = run_tree(
		    "vek-ar", {at_file("args")}, extra,
		    [&] {
			    int fd = open(fifo.c_str(), O_RDWR);
			    if (fd < 0 || dup2(fd, STDERR_FILENO) < 0)
				    _exit(120);
		    },
		    [&](pid_t pid) {
			    for (int i = 0; i < 6000 && tmp_is_empty(); i++)
				    usleep(1000);
			    between(pid);
			    // Until it has ended, left for the caller to reap.
			    siginfo_t info = {};
			    while (waitid(P_PID, pid, &info,
			                  WEXITED | WNOHANG | WNOWAIT) == 0 &&
			           info.si_pid == 0) {
				    drain();
				    usleep(1000);
			    }
			    drain();
		    });
		close(reader);
		unlink(fifo.c_str());
		r.err = trace;
		return r;
	}
};

// Each argument of the file reaches the tool escaped on a line of its own.
TEST_F(ResponseFile, CarriesTheRebuiltCommandLine)
{
	write("inner", "lib.a 'y z.o'");
	const struct {
		const char *program;
		std::string file;                    // the @file's text
		std::vector<std::string> args_after; // given after it
		const char *written;                 // after the plug-in
	} cases[] = {
	    {"vek-ar", "rcs lib.a 'x .o'", {}, "-rcs\nlib.a\nx\\ .o\n"},
	    // The first-argument rule sees the expanded argument.
	    {"vek-ar", "t lib.a", {"x.o"}, "-t\nlib.a\nx.o\n"},
	    // Nested files expand in turn.
	    {"vek-ar", "rc " + at_file("inner"), {}, "-rc\nlib.a\ny\\ z.o\n"},
	    {"vek-nm", "'a b' c\\\"d", {}, "a\\ b\nc\\\"d\n"},
	    {"vek-nm", "x\ty\n", {"z"}, "x\ny\nz\n"},
	    // A file of whitespace only takes its argument away.
	    {"vek-nm", " \n\t ", {"lib.a"}, "lib.a\n"},
	    {"vek-nm", "", {"t"}, "t\n"},
	    {"vek-nm", "'' e", {}, "\"\"\ne\n"},
	    {"vek-nm", "tab\\\there", {}, "tab\\\there\n"},
	    {"vek-nm", "\xc3\xa9t\xc3\xa9 x", {}, "\xc3\xa9t\xc3\xa9\nx\n"},
	    // "-B" inside a file reaches the tool.
	    {"vek-nm", "-B/opt/x t", {}, "-B/opt/x\nt\n"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.program + (" " + c.file));
		write("args", c.file);
		std::vector<std::string> args = {at_file("args")};
		args.insert(args.end(), c.args_after.begin(),
		            c.args_after.end());
		expect_run(run_tree(c.program, args),
		           through_file(c.program + strlen("vek-"), c.written),
		           "", 0);
	}
}

// The trace shows what the file holds, quoted as on the command line.
TEST_F(ResponseFile, TraceShowsWhatItHolds)
{
	write("args", "rcs lib.a 'x .o'");
	run_result r =
	    run_tree("vek-ar", {at_file("args")}, {{"VEK_TRACE", "1"}});
	std::string file = tmp + "/ccXXXXXX";
	std::string tail = "Response file: " + file + "\n  - holds: --plugin " +
	                   seen_plugin(tree) + " -rcs lib.a 'x .o'\nRunning: " +
	                   seen_tool(tree, "ar") + " @" + file + "\n";
	std::string err = masked(r.err);
	ASSERT_GE(err.size(), tail.size()) << r.err;
	EXPECT_EQ(err.substr(err.size() - tail.size()), tail);
}

TEST_F(ResponseFile, UnreadableAtArgumentsPassAsTheyAre)
{
	run_result r = run_tree("vek-ar", {at_file("missing"), "@", "lib.a"});
	EXPECT_EQ(r.out,
	          lines({seen_tool(tree, "ar"), "--plugin", seen_plugin(tree),
	                 "-@" + path("missing"), "@", "lib.a"}));
	EXPECT_TRUE(tmp_is_empty());
}

TEST_F(ResponseFile, IsRemovedWhateverBecomesOfTheTool)
{
	write("args", "t lib.a");
	const std::map<std::string, std::string> outcomes[] = {
	    {{"FAKE_TOOL_EXIT", "3"}},
	    {{"FAKE_TOOL_SIGNAL", "9"}},
	};
	for (const auto &extra : outcomes) {
		run_result r = run_tree("vek-ar", {at_file("args")}, extra);
		EXPECT_EQ(r.exit_code(), extra.count("FAKE_TOOL_EXIT") ? 3 : 1);
		EXPECT_TRUE(tmp_is_empty());
	}
	// Our own trace into a pipe nobody reads ends us as before the tool
	// started, the file gone all the same.
	run_result r =
	    run_tree("vek-ar", {at_file("args")}, {{"VEK_TRACE", "1"}}, [] {
		    int fds[2];
		    if (pipe(fds) != 0)
			    _exit(120);
		    close(fds[0]);
		    dup2(fds[1], STDERR_FILENO);
	    });
	EXPECT_TRUE(WIFSIGNALED(r.status) && WTERMSIG(r.status) == SIGPIPE);
	EXPECT_EQ(r.out, "");
	EXPECT_TRUE(tmp_is_empty());
	// A tool that cannot be started.
	write_file(seen_tool(tree, "ar"), "\x7f"
	                                  "ELF?");
	chmod(seen_tool(tree, "ar").c_str(), 0755);
	r = run_tree("vek-ar", {at_file("args")});
	EXPECT_EQ(r.err, "Error running " + seen_tool(tree, "ar") +
	                     ": posix_spawnp\n");
	EXPECT_TRUE(tmp_is_empty());
}

TEST_F(ResponseFile, BadAtFilesEndTheRunWithAMessage)
{
	make_dir("dir");
	write("self", "x @" + path("self"));
	const struct {
		const char *file, *error;
	} cases[] = {
	    {"dir", "@-file refers to a directory"},
	    {"self", "too many @-files encountered"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.file);
		expect_run(run_tree("vek-ar", {"t", at_file(c.file)}), "",
		           prog("vek-ar") + ": error: " + c.error + "\n", 1);
	}
}

TEST_F(ResponseFile, ToolInheritsNoDescriptorOfOurs)
{
	write("args", "t");
	run_result r =
	    run_tree("vek-ar", {at_file("args")}, {{"FAKE_TOOL_FDS", "1"}});
	EXPECT_NE(r.out.find("--- end @file\n"), std::string::npos);
	EXPECT_EQ(r.out.find("fd "), std::string::npos) << r.out;
}

// Build tools cancel jobs with signals: the tool gets the signal, the
// wrapper waits for it, removes its response file and ends by the same
// signal, without a message.
TEST_F(ResponseFile, SignalsReachTheToolAndEndTheWrapperAfterIt)
{
	write("args", "t lib.a");
	struct {
		int sig;
		bool to_group;     // Ctrl-C, a build tool cancelling its jobs
		bool tool_catches; // and takes its time to clean up
		bool by_timer;     // an alarm set before we were started
	} cases[] = {
	    {SIGINT, true, true, false},
	    {SIGTERM, false, false, false}, // timeout, a CI runner's kill
	    {SIGHUP, false, false, false},
	    {SIGTERM, false, true, false},
	    {SIGALRM, false, false, true},
	    {SIGUSR1, false, false, false},
	    {SIGXCPU, false, false, false},
	    // Faults of ours end us where they happen; sent by another
	    // process (kill -SEGV, timeout -s BUS) they are passed on.
	    {SIGSEGV, false, false, false},
	    {SIGBUS, false, false, false},
	    {SIGRTMIN + 1, false, false, false},
	    {SIGRTMAX, false, false, false},
	    // The kernel's first real-time number, which the C library keeps
	    // for its threads and will not block for us.
	    {__SIGRTMIN, false, false, false},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(strsignal(c.sig));
		// User-mode emulators keep the low real-time signals for
		// themselves and renumber the rest, and say so on standard
		// error when the program they run dies of a fault signal.
		if ((c.sig >= __SIGRTMIN || c.sig == SIGSEGV ||
		     c.sig == SIGBUS) &&
		    getenv("VEK_TEST_EMULATED") != nullptr)
			continue;
		std::string ready = path("ready"), note = path("caught");
		unlink(ready.c_str());
		unlink(note.c_str());
		std::map<std::string, std::string> extra = {
		    {"FAKE_TOOL_READY", ready}, {"FAKE_TOOL_WAIT", "60"}};
		if (c.tool_catches)
			extra["FAKE_TOOL_CATCH"] = note;
		pid_t tool = 0;
		auto set_timer = [&] {
			struct itimerval once = {{0, 0}, {0, 100000}};
			if (c.by_timer)
				setitimer(ITIMER_REAL, &once, nullptr);
		};
		run_result r = run_tree(
		    "vek-ar", {at_file("args")}, extra, set_timer,
		    [&](pid_t pid) {
			    for (int i = 0; i < 6000 && !exists(ready); i++)
				    usleep(10000);
			    tool = atoi(read_file(ready).c_str());
			    if (!c.by_timer)
				    kill(c.to_group ? -pid : pid, c.sig);
		    });
		EXPECT_TRUE(WIFSIGNALED(r.status) &&
		            WTERMSIG(r.status) == c.sig)
		    << r.status;
		EXPECT_EQ(r.err, "");
		ASSERT_GT(tool, 0);
		// Built on portable calls alone, the wrapper blocks what the C
		// library lets it: glibc keeps this number, and it ends the
		// wrapper at once as it ends the plain tool.  The tool runs on,
		// its file with it.
		sigset_t probe;
		sigemptyset(&probe);
		if (!VEK_LINUX && sigaddset(&probe, c.sig) != 0) {
			EXPECT_EQ(kill(tool, SIGKILL), 0);
			for (const std::string &name : list_dir(tmp))
				unlink((tmp + "/" + name).c_str());
			continue;
		}
		EXPECT_TRUE(tmp_is_empty());
		// The tool was waited for: gone, after its own clean-up.
		EXPECT_NE(kill(tool, 0), 0);
		if (c.tool_catches) {
			EXPECT_EQ(read_file(note),
			          "caught " + std::to_string(c.sig) + "\n");
		}
	}
}

// At a terminal, Ctrl-C reaches every process of the foreground job, the
// tool among them: not again from the wrapper, whose second one could end
// a tool inside its handler for the first.  The tool cleans up as it does
// when run by hand, and the wrapper ends by the signal after it.  The
// wrapper is held back, as on a loaded machine, until the tool has taken
// the key's signal.
TEST_F(ResponseFile, CtrlCAtATerminalReachesTheToolOnce)
{
	if (access("/dev/ptmx", R_OK | W_OK) != 0)
		GTEST_SKIP() << "no pseudo-terminals here";
	write("args", "t lib.a");
	std::string ready = path("ready"), note = path("caught");
	auto all = env();
	all.insert({{"FAKE_TOOL_READY", ready},
	            {"FAKE_TOOL_WAIT", "60"},
	            {"FAKE_TOOL_CATCH", note},
	            {"FAKE_TOOL_ONCE", "1"}});
	for (const std::string &exe : {seen_tool(tree, "ar"), prog("vek-ar")}) {
		SCOPED_TRACE(exe);
		unlink(ready.c_str());
		unlink(note.c_str());
		bool wrapped = exe != seen_tool(tree, "ar");
		int status = run_at_terminal(
		    exe, {exe, at_file("args")}, all, root, [&](int terminal) {
			    for (int i = 0; i < 6000 && !exists(ready); i++)
				    usleep(1000);
			    pid_t tool = atoi(read_file(ready).c_str());
			    pid_t wrapper = wrapped ? parent_of(tool) : 0;
			    if (wrapper > 0)
				    kill(wrapper, SIGSTOP);
			    EXPECT_EQ(::write(terminal, "\x03", 1), 1);
			    usleep(100000);
			    if (wrapper > 0)
				    kill(wrapper, SIGCONT);
		    });
		EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT)
		    << status;
		EXPECT_EQ(read_file(note), "caught 2\n");
	}
	EXPECT_TRUE(tmp_is_empty());
}

// Signals whose default action ends nobody (ignore, stop or continue):
// the tool's status is ours when they come before it starts or while it
// runs.
TEST_F(ResponseFile, SignalsThatEndNobodyLeaveTheToolsStatus)
{
	std::vector<int> harmless = {SIGCHLD, SIGURG, SIGWINCH, SIGCONT};
	for (int sig = 1; sig < VEK_NSIG; sig++)
		if (vek_ignored_by_default(sig))
			harmless.push_back(sig);
	auto send = [&](pid_t pid) {
		for (int sig : harmless)
			kill(pid, sig);
	};
	std::string ready = path("ready"), status;
	run_result before = run_held({{"FAKE_TOOL_EXIT", "3"}}, send);
	run_result during =
	    run_tree("vek-ar", {at_file("args")},
	             {{"FAKE_TOOL_EXIT", "3"},
	              {"FAKE_TOOL_READY", ready},
	              {"FAKE_TOOL_WAIT", "1"}},
	             {}, [&](pid_t pid) {
		             for (int i = 0; i < 6000 && !exists(ready); i++)
			             usleep(1000);
		             send(pid);
		             status = read_file("/proc/" + std::to_string(pid) +
		                                "/status");
	             });
	for (const run_result &r : {before, during}) {
		EXPECT_EQ(r.exit_code(), 3) << r.status;
		EXPECT_EQ(r.out.rfind(seen_tool(tree, "ar") + "\n", 0), 0u);
	}
	EXPECT_TRUE(tmp_is_empty());
	// SIGCHLD, which the wrapper waits for, is caught: where its action
	// is to ignore it, even by default, FreeBSD drops it though blocked.
	size_t caught = status.find("SigCgt:");
	ASSERT_NE(caught, std::string::npos);
	EXPECT_NE(strtoull(status.c_str() + caught + 7, nullptr, 16) &
	              (1ULL << (SIGCHLD - 1)),
	          0u);
}

// Signals taken once the response file is made and before the tool
// starts: no tool starts, the file goes, and we end by the first taken
// (of several pending, the lowest number comes first).
TEST_F(ResponseFile, SignalsBeforeTheToolStartsEndUsWithoutIt)
{
	const std::vector<int> cases[] = {
	    {SIGTERM},
	    {SIGTERM, SIGUSR2},
	};
	// A tool that cannot start tells of any try to start it.
	write_file(seen_tool(tree, "ar"), "\x7f"
	                                  "ELF?");
	for (const auto &sent : cases) {
		SCOPED_TRACE(sent.size());
		run_result r = run_held({}, [&](pid_t pid) {
			for (int sig : sent)
				kill(pid, sig);
		});
		EXPECT_TRUE(WIFSIGNALED(r.status) &&
		            WTERMSIG(r.status) == sent.back())
		    << r.status;
		EXPECT_EQ(r.err.find("Error running"), std::string::npos);
		EXPECT_TRUE(tmp_is_empty());
	}
}

// A command line the kernel takes for the wrapper but not for the tool,
// which is longer by the plug-in and its own path, reaches the tool
// through a response file.
TEST_F(ResponseFile, CommandLineTooLongForTheToolGoesThroughAFile)
{
	// One argument of the longest length the kernel takes; the
	// archiver's "-" makes it one byte too long.
	std::string longest(131071, 'x');
	run_result r = run_tree("vek-ar", {longest, "lib.a"});
	EXPECT_EQ(masked(r.out),
	          through_file("ar", "-" + longest + "\nlib.a\n"));
	EXPECT_EQ(r.exit_code(), 0);
	EXPECT_TRUE(tmp_is_empty());

	// Under "ulimit -s 1024" all arguments and the environment share a
	// quarter of the stack limit: fill it but for a few bytes.
	const size_t space = 1024 * 1024 / 4, slack = 64;
	size_t used = prog("vek-nm").size() + 1 + 2 * sizeof(char *);
	for (const auto &[k, v] : env())
		used += k.size() + v.size() + 2 + sizeof(char *);
	std::vector<std::string> args;
	std::string written;
	while (used + slack < space) {
		size_t n = std::min<size_t>(4000, space - slack - used);
		args.push_back(std::string(n - 1 - sizeof(char *), 'y'));
		used += n;
		written += args.back() + "\n";
	}
	r = run_tree("vek-nm", args, {}, [] {
		struct rlimit stack = {1024 * 1024, RLIM_INFINITY};
		setrlimit(RLIMIT_STACK, &stack);
	});
	EXPECT_EQ(masked(r.out), through_file("nm", written));
	EXPECT_EQ(r.exit_code(), 0);
	EXPECT_TRUE(tmp_is_empty());
}

// Temporary files on a file system without room, or past a file-size
// limit: one line naming what failed, exit status 1, nothing left behind.
// The file systems need a mount namespace.
TEST_F(ResponseFile, NoRoomForItIsReportedAndLeavesNothing)
{
	std::string big;
	while (big.size() < 100 * 1024)
		big += "member-" + std::to_string(big.size()) + ".o ";
	write("args", big);
	struct {
		const char *mount_options; // null: no file system of its own
		rlim_t file_size_limit;
		std::string err_start;
	} cases[] = {
	    {"size=4k", RLIM_INFINITY,
	     "Cannot write to temporary file " + tmp + "/cc"},
	    {"size=4k,nr_inodes=1", RLIM_INFINITY,
	     "Cannot create temporary file in " + tmp +
	         "/: " + strerror(ENOSPC) + "\n"},
	    {nullptr, 8 * 1024,
	     "Cannot write to temporary file " + tmp + "/cc"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.mount_options ? c.mount_options : "ulimit -f");
		// The program runs in a shell that lists the tiny TMPDIR
		// afterwards, from inside the namespace the mount lives in.
		run_result r =
		    run("/bin/sh",
		        {"sh", "-c",
		         "\"$@\"; s=$?; /bin/ls -A \"$TMPDIR\"; exit $s", "sh",
		         prog("vek-ar"), at_file("args")},
		        {}, "", [&] {
			        struct rlimit fsize = {c.file_size_limit,
			                               c.file_size_limit};
			        if (setrlimit(RLIMIT_FSIZE, &fsize) != 0)
				        _exit(78);
			        if (c.mount_options == nullptr)
				        return;
			        if (unshare(CLONE_NEWNS) != 0 ||
			            mount("none", "/", nullptr,
			                  MS_REC | MS_PRIVATE, nullptr) != 0 ||
			            mount("tmpfs", tmp.c_str(), "tmpfs", 0,
			                  c.mount_options) != 0)
				        _exit(77);
		        });
		if (r.exit_code() == 77)
			GTEST_SKIP() << "cannot mount a tmpfs here";
		EXPECT_EQ(r.err.rfind(c.err_start, 0), 0u) << r.err;
		EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1)
		    << r.err;
		EXPECT_EQ(r.out, "");
		EXPECT_EQ(r.exit_code(), 1);
	}
}

// Another user who can change where TMPDIR leads could swap our response
// file for one of theirs between its creation and the tool's reading it,
// and so choose the tool's arguments.  Each shape of attack goes on, as
// nobody, while the wrapper runs again and again: the tool reads exactly
// our arguments, from a file in /tmp, which is gone afterwards.
TEST_F(ResponseFile, TemporaryPathGivesNoWayIn)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root to run a second, unprivileged user";
	const std::string shared = path("shared"), mine = shared + "/mine",
	                  safe = path("safe"), theirs = path("theirs"),
	                  link = path("link");
	make_dir("shared", 0777);
	make_dir("shared/mine", 0700);
	make_dir("safe");
	make_dir("theirs");
	ASSERT_EQ(chown(theirs.c_str(), 65534, 65534) |
	              symlink(safe.c_str(), link.c_str()) |
	              lchown(link.c_str(), 65534, 65534),
	          0);
	write("args", "t lib.a");

	// Each file of ours in FROM gets a forged twin in theirs/; the
	// attacker's own links are made aside and renamed into place.
	auto forge = [&](const std::string &from) {
		for (const std::string &name : list_dir(from))
			if (name.rfind("cc", 0) == 0 &&
			    !exists(theirs + "/" + name))
				write_file(theirs + "/" + name, "-x\nforged\n");
	};
	auto point = [&](const std::string &at, const std::string &to) {
		if (symlink(to.c_str(), (theirs + "/new").c_str()) == 0)
			rename((theirs + "/new").c_str(), at.c_str());
	};
	const struct {
		const char *shape;
		std::string tmpdir;
		std::function<void()> attack;
	} cases[] = {
	    {"a shared directory", shared,
	     [&] {
		     forge(shared);
		     for (const std::string &name : list_dir(shared))
			     if (name.rfind("cc", 0) == 0)
				     point(shared + "/" + name,
				           theirs + "/" + name);
	     }},
	    {"their link, flipped", link,
	     [&] {
		     forge(safe);
		     point(link, theirs);
		     point(link, safe);
	     }},
	    {"a writable ancestor", mine,
	     [&] {
		     rename(mine.c_str(), (shared + "/aside").c_str());
		     point(mine, theirs);
		     forge(theirs);
		     rename((shared + "/aside").c_str(), mine.c_str());
	     }},
	};
	tmp = "/tmp/"; // where the file must go instead
	const std::string want = through_file("ar", "-t\nlib.a\n");
	for (const auto &c : cases) {
		SCOPED_TRACE(c.shape);
		pid_t attacker = fork();
		ASSERT_GE(attacker, 0);
		if (attacker == 0) {
			if (!drop_root())
				_exit(1);
			for (;;)
				c.attack();
		}
		for (int i = 0; i < 5; i++) {
			run_result r = run_tree("vek-ar", {at_file("args")},
			                        {{"TMPDIR", c.tmpdir}});
			size_t at = r.out.find('@');
			std::string used =
			    r.out.substr(at + 1, r.out.find('\n', at) - at - 1);
			if (masked(r.out) != want || r.exit_code() != 0 ||
			    exists(used)) {
				ADD_FAILURE() << r.out << r.err;
				break;
			}
		}
		kill(attacker, SIGKILL);
		waitpid(attacker, nullptr, 0);
	}
}

} // namespace
