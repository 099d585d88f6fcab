/*
 * Temporary directory choice and file creation.  The chosen directory is
 * cached for the life of a process, so every call of the module under test
 * runs in a forked child that reports on its standard error; this process
 * never calls it.  Each test builds its candidate directories under a fresh
 * directory, and sets TMPDIR, TMP and TEMP only in the child.
 */
#include "support/temp_file.h"

#include <gtest/gtest.h>

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/portability.h"
#include "testkit.h"

namespace {

void
say(const std::string &text)
{
	fputs(text.c_str(), stderr);
}

// TMPDIR, TMP and TEMP, each set or, when null, unset for a scope.
struct candidates {
	candidates(const char *tmpdir, const char *tmp, const char *temp)
	    : tmpdir_env("TMPDIR", tmpdir), tmp_env("TMP", tmp),
	      temp_env("TEMP", temp)
	{
	}
	scoped_env tmpdir_env, tmp_env, temp_env;
};

// In a child: cover /tmp and /var/tmp, in a mount namespace of its own,
// with empty read-only file systems, so no fixed candidate is usable.
bool
hide_fixed_candidates()
{
	if (unshare(CLONE_NEWNS) != 0 &&
	    unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
		return false;
	if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
		return false;
	for (const char *dir : {"/tmp", "/var/tmp"}) {
		struct stat st;
		if (stat(dir, &st) != 0)
			continue;
		if (mount("tmpfs", dir, "tmpfs", MS_RDONLY, "size=4k") != 0)
			return false;
	}
	return access("/tmp/", W_OK) != 0;
}

bool
works_in_child(bool (*step)())
{
	return run_in_child([step] {
		       if (!step())
			       _exit(1);
	       }).status == exited(0);
}

int
lowest_free_fd()
{
	int fd = open("/dev/null", O_RDONLY);
	close(fd);
	return fd;
}

// Whether NAME is DIR, PREFIX, six letters or digits, SUFFIX.
std::string
check_name(const std::string &name, const std::string &dir,
           const std::string &prefix, const std::string &suffix)
{
	std::string head = dir + prefix;
	if (name.size() != head.size() + 6 + suffix.size() ||
	    name.compare(0, head.size(), head) != 0 ||
	    name.compare(name.size() - suffix.size(), suffix.size(), suffix) !=
	        0)
		return "'" + name + "' is not '" + head + "' + 6 + '" + suffix +
		       "'";
	for (size_t i = head.size(); i < head.size() + 6; i++)
		if (!isalnum(static_cast<unsigned char>(name[i])))
			return "'" + name + "' has odd unique characters";
	return "";
}

// Whether NAME is an empty regular file only its owner may read and write.
std::string
check_file(const std::string &name)
{
	struct stat st;
	if (stat(name.c_str(), &st) != 0)
		return name + ": " + strerror(errno);
	if (!S_ISREG(st.st_mode) || (st.st_mode & 07777) != 0600)
		return name + " is not a regular file of mode 0600";
	if (st.st_size != 0)
		return name + " is not empty";
	return "";
}

std::vector<std::string>
lines_of(const std::string &text)
{
	std::vector<std::string> lines;
	std::istringstream in(text);
	for (std::string line; std::getline(in, line);)
		lines.push_back(line);
	return lines;
}

/*
 * Candidate directories in the scratch directory, all owned by the user
 * running the tests but theirs/, owned by nobody when we are root.  Making
 * them also shows that /tmp, the first fixed candidate, is usable here:
 *   a/ b/ c/ gone/   mode 01777       nowrite/   mode 0555
 *   file             mode 0777        noread/    mode 0333
 *   shared/          mode 0777        nosearch/  mode 0666
 *   group/           mode 0770        theirs/    mode 01777
 *   shared/mine/     mode 0700        ours -> a, via_shared -> shared/mine
 *   their_link -> a, owned by nobody when we are root; here -> .
 */
class TempFileTest : public ScratchTest {
      protected:
	void SetUp() override
	{
		ScratchTest::SetUp();
		static const struct {
			const char *name;
			mode_t mode;
		} dirs[] = {
		    {"a", 01777},       {"b", 01777},          {"c", 01777},
		    {"gone", 01777},    {"nowrite", 0555},     {"noread", 0333},
		    {"nosearch", 0666}, {"shared", 0777},      {"group", 0770},
		    {"theirs", 01777},  {"shared/mine", 0700},
		};
		for (const auto &d : dirs)
			make_dir(d.name, d.mode);
		const char *const links[][2] = {{"ours", "a"},
		                                {"their_link", "a"},
		                                {"here", "."},
		                                {"via_shared", "shared/mine"}};
		for (const auto &l : links)
			ASSERT_EQ(symlink(l[1], path(l[0]).c_str()), 0);
		if (geteuid() == 0) {
			ASSERT_EQ(chown(path("theirs").c_str(), 65534, 65534) |
			              lchown(path("their_link").c_str(), 65534,
			                     65534),
			          0);
		}
		// Every permission, so that only its type disqualifies it.
		write("file", "", 0777);
	}

	void TearDown() override
	{
		for (const char *d : {"nowrite", "noread", "nosearch"})
			chmod(path(d).c_str(), 0755);
		ScratchTest::TearDown();
	}
};

struct choice_case {
	const char *what;
	const char *tmpdir, *tmp, *temp; /* null: unset; '@': the tree */
	const char *cwd;                 /* null: stay where we are */
	const char *want;
};

// The choice itself needs no child: only dropping root does.
void
expect_choices(const TempFileTest &t, const choice_case *cases, size_t count,
               bool unprivileged)
{
	for (size_t i = 0; i < count; i++) {
		const choice_case &c = cases[i];
		SCOPED_TRACE(c.what);
		auto value = [&t](const char *v) {
			return v != nullptr ? t.expand(v) : std::string();
		};
		std::string tmpdir = value(c.tmpdir), tmp = value(c.tmp),
		            temp = value(c.temp), cwd = value(c.cwd);
		auto pick = [&] {
			return std::string(
			    temp_dir_pick(c.tmpdir ? tmpdir.c_str() : nullptr,
			                  c.tmp ? tmp.c_str() : nullptr,
			                  c.temp ? temp.c_str() : nullptr));
		};
		if (unprivileged) {
			child_result o = run_in_child([&] {
				if (!drop_root())
					_exit(3);
				say(pick());
			});
			EXPECT_EQ(o.status, exited(0));
			EXPECT_EQ(o.err, t.expand(c.want));
			continue;
		}
		int here = open(".", O_RDONLY | O_DIRECTORY);
		ASSERT_GE(here, 0);
		ASSERT_TRUE(c.cwd == nullptr || chdir(cwd.c_str()) == 0);
		EXPECT_EQ(pick(), t.expand(c.want));
		EXPECT_EQ(fchdir(here), 0);
		close(here);
	}
}

TEST_F(TempFileTest, DirectoryIsFirstUsableCandidate)
{
	std::string chained;
	for (int i = 0; i < 36; i++)
		chained += "here/";
	chained += "a";
	// A directory of ours whose name leaves no room for a file's in a
	// path.
	std::string too_long = path("a");
	while (too_long.size() < PATH_MAX - 2) {
		size_t name = PATH_MAX - 3 - too_long.size();
		too_long +=
		    '/' + std::string(std::min<size_t>(name, NAME_MAX), 'x');
	}
	make_dir(too_long.substr(root.size() + 1));
	const choice_case cases[] = {
	    {"TMPDIR first", "@/a", "@/b", "@/c", nullptr, "@/a"},
	    {"TMP when TMPDIR unset", nullptr, "@/b", "@/c", nullptr, "@/b"},
	    {"TEMP when both unset", nullptr, nullptr, "@/c", nullptr, "@/c"},
	    {"regular file skipped", "@/file", "@/b", "@/c", nullptr, "@/b"},
	    {"missing directory skipped", "@/none", "@/file", "@/c", nullptr,
	     "@/c"},
	    {"empty TMPDIR skipped", "", "@/b", nullptr, nullptr, "@/b"},
	    {"empty TMP and TEMP skipped", nullptr, "", "", nullptr, "/tmp/"},
	    {"taken with its slash", "@/a/", nullptr, nullptr, nullptr, "@/a/"},
	    {"candidate taken unchanged", "@/a/../b", nullptr, nullptr, nullptr,
	     "@/a/../b"},
	    {"TMPDIR of /tmp/", "/tmp/", "@/b", nullptr, nullptr, "/tmp/"},
	    {"current directory", ".", "@/b", nullptr, "@/a", "."},
	    {"relative directory", "c", "@/b", nullptr, "@", "c"},
	    {"none set", nullptr, nullptr, nullptr, nullptr, "/tmp/"},
	    {"none usable", "@/file", "@/none", "", nullptr, "/tmp/"},
	    // Others could swap our file for another under its name, or
	    // change where its path leads.
	    {"world-writable without sticky bit skipped", "@/shared", "@/b",
	     nullptr, nullptr, "@/b"},
	    {"group-writable without sticky bit skipped", "@/group", nullptr,
	     nullptr, nullptr, "/tmp/"},
	    {"our own inside a world-writable one skipped", "@/shared/mine",
	     "@/b", nullptr, nullptr, "@/b"},
	    {"our link to a safe directory taken", "@/ours", nullptr, nullptr,
	     nullptr, "@/ours"},
	    {"our link leading through a shared directory skipped",
	     "@/via_shared", "@/b", nullptr, nullptr, "@/b"},
	    {"relative, through our link", "ours/../a", nullptr, nullptr, "@",
	     "ours/../a"},
	    // Each link is walked once, not again for every later one.
	    {"links through links", chained.c_str(), nullptr, nullptr, "@",
	     chained.c_str()},
	    {"too long for a file's name", too_long.c_str(), "@/b", nullptr,
	     nullptr, "@/b"},
	};
	expect_choices(*this, cases, std::size(cases), false);
	// Their owner may remove what is ours even with the sticky bit, or
	// point their link elsewhere.
	bool root = geteuid() == 0;
	const choice_case theirs[] = {
	    {"another user's directory skipped", "@/theirs", "@/c", nullptr,
	     nullptr, root ? "@/c" : "@/theirs"},
	    {"another user's link skipped", "@/their_link", "@/c", nullptr,
	     nullptr, root ? "@/c" : "@/their_link"},
	};
	expect_choices(*this, theirs, std::size(theirs), false);
}

TEST_F(TempFileTest, DirectoryWithoutFullAccessIsSkipped)
{
	if (!works_in_child(drop_root))
		GTEST_SKIP() << "cannot run a child as an unprivileged user";
	// As nobody, theirs/ is ours.
	const char *as_nobody =
	    VEK_LINUX || geteuid() != 0 ? "@/theirs" : "@/b";
	const choice_case cases[] = {
	    {"no write permission", "@/nowrite", "@/b", nullptr, nullptr,
	     "@/b"},
	    {"no read permission", "@/noread", "@/b", nullptr, nullptr, "@/b"},
	    {"no search permission", "@/nosearch", "@/b", nullptr, nullptr,
	     "@/b"},
	    {"all three refused", "@/nowrite", "@/noread", "@/nosearch",
	     nullptr, "/tmp/"},
	    {"full access", "@/a", "@/b", nullptr, nullptr, "@/a"},
	    // Ours as nobody, where it is known that no user namespace
	    // shows another user as nobody; a portable build cannot know.
	    {"our own as nobody", "@/theirs", "@/b", nullptr, nullptr,
	     as_nobody},
	};
	expect_choices(*this, cases, std::size(cases), true);
}

TEST_F(TempFileTest, ChoiceIsMadeOnceAndKept)
{
	std::string gone = path("gone"), other = path("b");
	child_result o = run_in_child([&] {
		candidates env(gone.c_str(), nullptr, nullptr);
		const char *first = temp_dir_choose();
		env.tmpdir_env.set(other.c_str());
		rmdir(gone.c_str());
		const char *second = temp_dir_choose();
		say(std::string(second) + (first == second ? " same" : " new"));
	});
	EXPECT_EQ(o.status, exited(0));
	EXPECT_EQ(o.err, gone + "/ same");
}

TEST_F(TempFileTest, FileNameIsDirectoryPrefixSixCharactersSuffix)
{
	static const struct {
		const char *prefix, *suffix; /* as passed */
		const char *want_prefix, *want_suffix;
		bool default_prefix; /* through temp_file_make */
	} cases[] = {
	    {nullptr, nullptr, "cc", "", false},
	    {nullptr, "", "cc", "", false},
	    {nullptr, ".o", "cc", ".o", false},
	    {nullptr, nullptr, "cc", "", true},
	    {nullptr, "", "cc", "", true},
	    {nullptr, ".rsp", "cc", ".rsp", true},
	    {"", nullptr, "", "", false},
	    {"", ".s", "", ".s", false},
	    {"vek", "", "vek", "", false},
	    {"pre-", ".tmp.c", "pre-", ".tmp.c", false},
	};
	std::string dir = path("a");
	// One child makes every file, each twice, and lists the names; it
	// also says whether any descriptor was left open.
	child_result o = run_in_child([&] {
		candidates env(dir.c_str(), nullptr, nullptr);
		// A umask taking even our own read must not reach the file.
		umask(0777);
		int free_fd = lowest_free_fd();
		for (const auto &c : cases) {
			for (int round = 0; round < 2; round++) {
				char *name = c.default_prefix
				                 ? temp_file_make(c.suffix)
				                 : temp_file_make_prefixed(
				                       c.prefix, c.suffix);
				say(std::string(name) + "\n");
				free(name);
			}
		}
		say(lowest_free_fd() == free_fd ? "closed\n" : "left open\n");
	});
	ASSERT_EQ(o.status, exited(0)) << o.err;
	std::vector<std::string> names = lines_of(o.err);
	ASSERT_EQ(names.size(), 2 * std::size(cases) + 1) << o.err;
	EXPECT_EQ(names.back(), "closed");
	for (size_t i = 0; i < std::size(cases); i++) {
		const auto &c = cases[i];
		SCOPED_TRACE(
		    testing::Message()
		    << "prefix " << (c.prefix ? c.prefix : "(null)")
		    << " suffix " << (c.suffix ? c.suffix : "(null)")
		    << (c.default_prefix ? " via temp_file_make" : ""));
		for (int round = 0; round < 2; round++) {
			const std::string &name = names[2 * i + round];
			EXPECT_EQ(check_name(name, dir + "/", c.want_prefix,
			                     c.want_suffix),
			          "");
			EXPECT_EQ(check_file(name), "");
		}
		EXPECT_NE(names[2 * i], names[2 * i + 1]);
	}
}

TEST_F(TempFileTest, DefaultDirectoryGivesDoubleSlashNames)
{
	struct stat st;
	ASSERT_EQ(stat("/tmp/", &st), 0);
	ASSERT_TRUE(S_ISDIR(st.st_mode) &&
	            access("/tmp/", R_OK | W_OK | X_OK) == 0)
	    << "these tests need a usable /tmp";
	child_result o = run_in_child([] {
		candidates env(nullptr, nullptr, nullptr);
		char *name = temp_file_make(".o");
		say(name);
		free(name);
	});
	ASSERT_EQ(o.status, exited(0));
	EXPECT_EQ(check_name(o.err, "/tmp//", "cc", ".o"), "");
	EXPECT_EQ(check_file(o.err), "");
	unlink(o.err.c_str());
}

TEST_F(TempFileTest, CreationFailureReportsDirectoryAndExits)
{
	// The directory is chosen, then taken away before the file is made.
	std::string gone = path("gone");
	child_result o = run_in_child([&] {
		candidates env(gone.c_str(), nullptr, nullptr);
		temp_dir_choose();
		rmdir(gone.c_str());
		temp_file_make("");
	});
	EXPECT_EQ(o.status, exited(1));
	EXPECT_EQ(o.err, "Cannot create temporary file in " + gone +
	                     "/: " + strerror(ENOENT) + "\n");
}

// With /tmp and /var/tmp unusable, the current directory is taken without
// an access test (creating the file there says what is wrong), but only if
// nobody else can change it.
TEST_F(TempFileTest, LastResortIsTheCurrentDirectoryIfSafe)
{
	if (!works_in_child(hide_fixed_candidates))
		GTEST_SKIP() << "cannot make /tmp and /var/tmp unusable";
	const struct {
		std::string cwd;
		std::string reason; /* empty: the file is made */
	} cases[] = {
	    {path("a"), ""},
	    // The empty read-only /tmp.
	    {"/tmp", strerror(EROFS)},
	    // World-writable with the sticky bit, but another user's.
	    {path("theirs"), geteuid() == 0 ? strerror(EPERM) : ""},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.cwd);
		child_result o = run_in_child([&] {
			// Our directories lie under the /tmp about to be
			// hidden; /tmp itself is wanted as hidden.
			int fd = open(c.cwd.c_str(), O_RDONLY | O_DIRECTORY);
			if (fd < 0 || !hide_fixed_candidates() ||
			    (c.cwd == "/tmp" ? chdir("/tmp") : fchdir(fd)) != 0)
				_exit(2);
			candidates env(path("file").c_str(), nullptr, "");
			say(std::string(temp_dir_choose()) + "\n");
			char *name = temp_file_make(".x");
			say(std::string(name) + "\n");
			free(name);
		});
		std::vector<std::string> lines = lines_of(o.err);
		ASSERT_EQ(lines.size(), 2u) << o.err;
		EXPECT_EQ(lines[0], "./");
		if (!c.reason.empty()) {
			EXPECT_EQ(o.status, exited(1));
			EXPECT_EQ(lines[1],
			          "Cannot create temporary file in ./: " +
			              c.reason);
			continue;
		}
		EXPECT_EQ(o.status, exited(0));
		EXPECT_EQ(check_name(lines[1], "./", "cc", ".x"), "");
		EXPECT_EQ(check_file(c.cwd + "/" + lines[1].substr(2)), "");
	}
}

// In a user namespace the host's root, and every other unmapped user,
// shows up as the overflow uid: the system's own directories, however
// spelled, are taken as root's; another user's directory is not, nor
// root's elsewhere (/dev/shm), even when we run unmapped ourselves, and
// even where no uid map can be read to tell that we are in one.  Another
// user's directory needs root to make; the rest runs as anyone.
TEST_F(TempFileTest, UserNamespaceTakesOnlyTheSystemsDirectoriesAsRoots)
{
	// Right under /tmp, so that only / and /tmp lie on its way.
	std::string third = make_temp_dir("third");
	bool made = geteuid() == 0 && chmod(third.c_str(), 01777) == 0 &&
	            chown(third.c_str(), 12345, 12345) == 0;
	const struct {
		std::string dir, want;
	} cases[] = {
	    {"/var/tmp", "/var/tmp"},
	    {"//tmp", "//tmp"},
	    {"/var//tmp/", "/var//tmp/"},
	    {"/dev/shm", "/tmp/"},
	    {made ? third : "/tmp", made ? "/tmp/" : "/tmp"},
	};
	enum { UNMAPPED, MAPPED, NO_PROC, RUNS };
	child_result runs[RUNS];
	for (int run = 0; run < RUNS; run++) {
		runs[run] = run_in_child([&] {
			// Dropping root leaves /proc/self root's until we
			// say so.
			if (!drop_root() || prctl(PR_SET_DUMPABLE, 1) != 0 ||
			    unshare(CLONE_NEWUSER) != 0)
				_exit(77);
			std::string map =
			    "0 " + std::to_string(geteuid()) + " 1";
			int fd = open("/proc/self/uid_map", O_WRONLY);
			if (run == MAPPED &&
			    (fd < 0 || ::write(fd, map.data(), map.size()) < 0))
				_exit(77);
			close(fd);
			// A sandbox without /proc: an empty directory on it.
			if (run == NO_PROC &&
			    (unshare(CLONE_NEWNS) != 0 ||
			     mount(third.c_str(), "/proc", nullptr, MS_BIND,
			           nullptr) != 0))
				_exit(77);
			struct stat st;
			if (stat("/tmp", &st) != 0 || st.st_uid != 65534)
				_exit(78);
			for (const auto &c : cases) {
				const char *dir = temp_dir_pick(
				    c.dir.c_str(), nullptr, nullptr);
				say(std::string(dir != nullptr ? dir
				                               : "(none)") +
				    "\n");
			}
		});
	}
	remove_tree(third);
	std::string want;
	for (const auto &c : cases)
		want += c.want + "\n";
	for (const child_result &o : runs) {
		SCOPED_TRACE(&o - runs);
		if (o.status == exited(77) || o.status == exited(78))
			GTEST_SKIP()
			    << (o.status == exited(78)
			            ? "/tmp is not the host root's here"
			            : "no user namespace for an "
			              "unprivileged user");
		EXPECT_EQ(o.status, exited(0));
		EXPECT_EQ(o.err, want);
	}
}

} // namespace
