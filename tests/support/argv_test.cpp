// Tests for argument vectors: copying, splitting under the quoting rules,
// writing in response-file form, and the expansion of "@file" arguments.
// Response files live in the test's scratch directory.
#include "support/argv.h"

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/checked.h"
#include "support/portability.h"
#include "testkit.h"

namespace {

using strings = std::vector<std::string>;

// A vector as argv_expand's caller holds it: malloc'd array and strings.
char **
make_argv(const strings &args)
{
	auto **argv = static_cast<char **>(
	    checked_malloc((args.size() + 1) * sizeof(char *)));
	for (size_t i = 0; i < args.size(); i++)
		argv[i] = checked_strdup(args[i].c_str());
	argv[args.size()] = nullptr;
	return argv;
}

strings
to_strings(char *const *argv)
{
	strings out;
	for (; *argv != nullptr; argv++)
		out.push_back(*argv);
	return out;
}

// Takes over the vector so a failed check cannot leak it.
strings
take(char **argv)
{
	strings out = to_strings(argv);
	argv_free(argv);
	return out;
}

std::string
printable(const std::string &text)
{
	std::string out;
	for (unsigned char c : text) {
		if (c >= 32 && c < 127 && c != '\\') {
			out += static_cast<char>(c);
		} else {
			char hex[8];
			snprintf(hex, sizeof hex, "\\x%02x", c);
			out += hex;
		}
	}
	return out;
}

std::string
printable(const strings &args)
{
	std::string out = "{";
	for (const std::string &arg : args)
		out += " [" + printable(arg) + "]";
	return out + " }";
}

// argv_write into memory; the result code goes to *RESULT.
std::string
write_to_string(const strings &args, int *result)
{
	char *text = nullptr;
	size_t size = 0;
	FILE *stream = open_memstream(&text, &size);
	EXPECT_NE(stream, nullptr);
	char **argv = make_argv(args);
	*result = argv_write(argv, stream);
	argv_free(argv);
	fclose(stream);
	std::string out(text, size);
	free(text);
	return out;
}

// ---------------------------------------------------------------------
// Copying, counting, releasing.

TEST(ArgvDup, CopiesEveryStringIntoANewVector)
{
	for (const strings &args :
	     {strings{"prog", "", "a b", "\xe9"}, strings{}}) {
		SCOPED_TRACE(printable(args));
		char **argv = make_argv(args);
		char **copy = argv_dup(argv);
		ASSERT_NE(copy, nullptr);
		EXPECT_NE(copy, argv);
		for (size_t i = 0; i < args.size(); i++) {
			EXPECT_NE(copy[i], argv[i]);
			EXPECT_STREQ(copy[i], argv[i]);
		}
		EXPECT_EQ(copy[args.size()], nullptr);
		argv_free(copy);
		argv_free(argv);
	}
}

TEST(ArgvDup, NullGivesNull)
{
	EXPECT_EQ(argv_dup(nullptr), nullptr);
	argv_free(nullptr);
}

TEST(ArgvCount, CountsUpToNull)
{
	char a[] = "a", b[] = "";
	char *three[] = {a, b, a, nullptr};
	char *none[] = {nullptr};
	EXPECT_EQ(argv_count(three), 3);
	EXPECT_EQ(argv_count(none), 0);
	EXPECT_EQ(argv_count(nullptr), 0);
}

// ---------------------------------------------------------------------
// Splitting.

struct split_case {
	const char *text;
	strings want;
};

// Each rule with the cases that show it.
const struct {
	const char *rule;
	std::vector<split_case> cases;
} split_rules[] = {
    {"whitespace separates; runs of it count once; ends are trimmed",
     {{"a b", {"a", "b"}},
      {" a  b ", {"a", "b"}},
      {"a\tb\nc\vd\fe\rf", {"a", "b", "c", "d", "e", "f"}}}},
    {"nothing at all still makes one (empty) argument",
     {{"", {""}}, {" \t\n ", {""}}}},
    {"quotes group, and glue to what touches them",
     {{"'a b'", {"a b"}},
      {"\"a b\"", {"a b"}},
      {"ab\" c\"d", {"ab cd"}},
      {"x'y'\"z\"w", {"xyzw"}}}},
    {"empty quotes are an empty argument",
     {{"''", {""}},
      {"a '' b", {"a", "", "b"}},
      {"a \"\"", {"a", ""}},
      {"  ''  ", {""}}}},
    {"each kind of quote is plain inside the other",
     {{"\"it's\"", {"it's"}}, {"'say \"hi\"'", {"say \"hi\""}}}},
    {"a backslash escapes the next byte everywhere, inside quotes too",
     {{"a\\ b", {"a b"}},
      {"a\\\tb a\\\nb", {"a\tb", "a\nb"}},
      {"'it\\'s'", {"it's"}},
      {"\"a\\\"b\"", {"a\"b"}},
      {"\\\\", {"\\"}},
      {"\\'x", {"'x"}},
      {"\\a", {"a"}}}},
    {"a trailing backslash is dropped; an open quote runs to the end",
     {{"abc\\", {"abc"}},
      {"a \\", {"a", ""}},
      {"\"open a  b", {"open a  b"}},
      {"'open\tc ", {"open\tc "}}}},
    {"bytes above 127 are never whitespace or quotes",
     {{"\xe9\xa0 \x85x", {"\xe9\xa0", "\x85x"}}}},
    {"other control bytes are ordinary", {{"a\x01 b\x1f", {"a\x01", "b\x1f"}}}},
};

TEST(ArgvSplit, MatchesTable)
{
	for (const auto &r : split_rules) {
		for (const split_case &c : r.cases) {
			SCOPED_TRACE(std::string(r.rule) + ": " +
			             printable(c.text));
			char **argv = argv_split(c.text);
			ASSERT_NE(argv, nullptr);
			strings got = take(argv);
			EXPECT_EQ(got, c.want)
			    << printable(got) << " vs " << printable(c.want);
		}
	}
}

TEST(ArgvSplit, NullGivesNull)
{
	EXPECT_EQ(argv_split(nullptr), nullptr);
}

TEST(ArgvSplit, ManyArgumentsGrowTheVector)
{
	for (int n : {7, 8, 9, 15, 16, 17, 1000}) {
		SCOPED_TRACE(n);
		std::string text;
		strings want;
		for (int i = 0; i < n; i++) {
			want.push_back("arg" + std::to_string(i));
			text += want.back() + " ";
		}
		EXPECT_EQ(take(argv_split(text.c_str())), want);
	}
}

// ---------------------------------------------------------------------
// Writing.

struct write_case {
	strings args;
	std::string want;
};

const write_case write_cases[] = {
    {{"a b", "", "a\"b"}, "a\\ b\n\"\"\na\\\"b\n"},
    {{}, ""},
    {{"plain"}, "plain\n"},
    {{"it's"}, "it\\'s\n"},
    {{"\\"}, "\\\\\n"},
    {{"\t\n\v\f\r "}, "\\\t\\\n\\\v\\\f\\\r\\ \n"},
    {{"\xe9x\xff"}, "\xe9x\xff\n"},
    {{"", ""}, "\"\"\n\"\"\n"},
    {{"a\x01"}, "a\x01\n"},
};

TEST(ArgvWrite, WritesExactBytes)
{
	for (const write_case &c : write_cases) {
		SCOPED_TRACE(printable(c.args));
		int result = -1;
		EXPECT_EQ(printable(write_to_string(c.args, &result)),
		          printable(c.want));
		EXPECT_EQ(result, 0);
	}
}

TEST(ArgvWrite, StreamsThatCannotBeWrittenFail)
{
	const struct {
		const char *what, *file, *mode;
		bool unbuffered;
		size_t count;
	} cases[] = {
	    {"no stream", nullptr, nullptr, false, 1},
	    {"read-only stream", "/dev/null", "r", false, 1},
	    {"full device", "/dev/full", "w", true, 2},
	    // Here the failure shows once the buffer is flushed, which a long
	    // vector forces in the middle of the call.
	    {"full device, buffered", "/dev/full", "w", false, 10000},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		FILE *stream = c.file ? fopen(c.file, c.mode) : nullptr;
		if (c.file != nullptr && stream == nullptr)
			continue; /* no /dev/full here */
		if (c.unbuffered)
			setvbuf(stream, nullptr, _IONBF, 0);
		char **argv = make_argv(strings(c.count, "member.o"));
		EXPECT_EQ(argv_write(argv, stream), 1);
		argv_free(argv);
		if (stream != nullptr)
			fclose(stream);
	}
}

// A stream that takes CAPACITY bytes and then fails: whichever write it is
// that fails -- backslash, byte, quote or newline -- the result is 1, and
// what was written before it stays.
TEST(ArgvWrite, AnyFailingWriteFails)
{
	const strings args = {"a b", "", "q\""};
	const std::string full = "a\\ b\n\"\"\nq\\\"\n";
	for (size_t capacity = 1; capacity <= full.size() + 1; capacity++) {
		SCOPED_TRACE(capacity);
		std::vector<char> buffer(capacity, '#');
		FILE *stream = fmemopen(buffer.data(), capacity, "w");
		ASSERT_NE(stream, nullptr);
		ASSERT_EQ(setvbuf(stream, nullptr, _IONBF, 0), 0);
		char **argv = make_argv(args);
		int result = argv_write(argv, stream);
		argv_free(argv);
		fclose(stream);
		EXPECT_EQ(result, capacity < full.size() ? 1 : 0);
		size_t kept = std::min(capacity, full.size());
		EXPECT_EQ(std::string(buffer.data(), kept > 0 ? kept - 1 : 0),
		          full.substr(0, kept > 0 ? kept - 1 : 0));
	}
}

// ---------------------------------------------------------------------
// What argv_write writes, argv_split reads back unchanged.

void
expect_round_trip(const strings &args)
{
	SCOPED_TRACE(printable(args));
	int result = -1;
	std::string text = write_to_string(args, &result);
	ASSERT_EQ(result, 0);
	EXPECT_EQ(take(argv_split(text.c_str())), args);
}

const strings round_trip_cases[] = {
    {"a b", "", "a\"b"},
    {"plain"},
    {""},
    {"", "", ""},
    {" leading", "trailing ", "  "},
    {"tab\there", "new\nline", "cr\rlf\n", "\v\f"},
    {"'single'", "\"double\"", "mixed'\"", "'", "\""},
    {"back\\slash", "\\", "\\\\", "end\\", "\\'", "\\\""},
    {"\xe9t\xe9", "\x80", "\xff\xfe", "\xc2\xa0"},
    {"@file", "-Wl,--foo=bar baz", "a=b", "$HOME", "*?[]"},
    {"\x01\x02\x1b\x7f"},
};

TEST(ArgvRoundTrip, TableCases)
{
	for (const strings &args : round_trip_cases)
		expect_round_trip(args);
}

TEST(ArgvRoundTrip, RandomVectors)
{
	std::mt19937 rng(20240521);
	// Mostly the bytes that need escaping, and some of everything else.
	const std::string special = " \t\n\v\f\r'\"\\";
	for (int round = 0; round < 2000; round++) {
		strings args(1 + rng() % 6);
		for (std::string &arg : args) {
			size_t length = rng() % 12;
			for (size_t i = 0; i < length; i++) {
				if (rng() % 2 == 0)
					arg += special[rng() % special.size()];
				else
					arg +=
					    static_cast<char>(1 + rng() % 255);
			}
		}
		expect_round_trip(args);
		if (HasFailure())
			break;
	}
}

// ---------------------------------------------------------------------
// Expansion of "@file" arguments, run in the scratch directory so that a
// response file is named by "@" and its name there.

class ArgvExpand : public ScratchTest {
      protected:
	void SetUp() override
	{
		ScratchTest::SetUp();
		ASSERT_EQ(chdir(root.c_str()), 0);
	}

	struct outcome {
		strings args;
		int count;
		bool replaced;
	};

	// Runs argv_expand on a vector made from ARGS with count ARGC (the
	// number of ARGS when negative) and checks the contract on the way:
	// the caller's array and strings unchanged, the count matching the
	// new vector, element 0 a copy.
	outcome expand_args(const strings &args, int argc = -1)
	{
		char **argv = make_argv(args);
		std::vector<char *> slots(argv, argv + args.size() + 1);

		int count = argc < 0 ? static_cast<int>(args.size()) : argc;
		char **result = argv;
		argv_expand(&count, &result);

		for (size_t i = 0; i <= args.size(); i++) {
			EXPECT_EQ(argv[i], slots[i]) << "slot " << i;
			if (i < args.size()) {
				EXPECT_EQ(argv[i], args[i]) << "string " << i;
			}
		}
		outcome out = {to_strings(result), count, result != argv};
		if (out.replaced) {
			EXPECT_EQ(argv_count(result), count);
			EXPECT_NE(result[0], argv[0]);
			EXPECT_STREQ(result[0], argv[0]);
			argv_free(result);
		}
		argv_free(argv);
		return out;
	}

	// ARGS come back as they are, in the same vector.
	void expect_stays(const strings &args)
	{
		outcome got = expand_args(args);
		EXPECT_FALSE(got.replaced);
		EXPECT_EQ(got.args, args);
	}

	// Expanding ARGS in a child ends it with status 1 and ERR.
	void expect_fatal(const strings &args, const std::string &err)
	{
		child_result r = run_in_child([&] { expand_args(args); });
		EXPECT_EQ(r.status, exited(1));
		EXPECT_EQ(r.err, err);
	}
};

// Files to write: name and contents.
using file_texts = std::vector<std::pair<std::string, std::string>>;

struct expand_case {
	const char *name;
	file_texts files;
	strings args;
	strings want;
	bool replaced;
};

const expand_case expand_cases[] = {
    {"file in the middle", file_texts{{"f", "a b\n"}},
     strings{"prog", "@f", "c"}, strings{"prog", "a", "b", "c"}, true},
    {"file at the end", file_texts{{"f", "a"}}, strings{"prog", "x", "@f"},
     strings{"prog", "x", "a"}, true},
    {"empty file removes its argument", file_texts{{"f", ""}},
     strings{"prog", "@f", "c"}, strings{"prog", "c"}, true},
    {"whitespace-only file too", file_texts{{"f", " \n\t\r\n"}},
     strings{"prog", "@f", "c"}, strings{"prog", "c"}, true},
    {"only argument expanded to nothing", file_texts{{"f", "\n"}},
     strings{"prog", "@f"}, strings{"prog"}, true},
    {"bare @ stays", file_texts{}, strings{"prog", "@", "c"},
     strings{"prog", "@", "c"}, false},
    {"missing file stays", file_texts{}, strings{"prog", "@none", "c"},
     strings{"prog", "@none", "c"}, false},
    {"missing stays beside an expanded one", file_texts{{"f", "a"}},
     strings{"prog", "@none", "@f", "@"}, strings{"prog", "@none", "a", "@"},
     true},
    {"element 0 is never a response file", file_texts{{"f", "a"}},
     strings{"@f", "x"}, strings{"@f", "x"}, false},
    {"nested files expand in turn", file_texts{{"f", "x @g y"}, {"g", "1 2"}},
     strings{"prog", "@f", "c"}, strings{"prog", "x", "1", "2", "y", "c"},
     true},
    {"deeper nesting", file_texts{{"f", "@g"}, {"g", "@h"}, {"h", "end"}},
     strings{"prog", "@f"}, strings{"prog", "end"}, true},
    {"a file named twice", file_texts{{"f", "a b"}},
     strings{"prog", "@f", "@f"}, strings{"prog", "a", "b", "a", "b"}, true},
    {"a missing file named inside", file_texts{{"f", "@none z"}},
     strings{"prog", "@f"}, strings{"prog", "@none", "z"}, true},
    {"quoting inside a file",
     file_texts{{"f", "'a b' \"c d\" e\\ f\n'it''s'\n\"\"\n"}},
     strings{"prog", "@f"}, strings{"prog", "a b", "c d", "e f", "its", ""},
     true},
    {"text ends at a NUL byte", file_texts{{"f", std::string("a b\0c d", 7)}},
     strings{"prog", "@f", "z"}, strings{"prog", "a", "b", "z"}, true},
    {"NUL first: nothing", file_texts{{"f", std::string("\0a", 2)}},
     strings{"prog", "@f", "z"}, strings{"prog", "z"}, true},
    {"bytes above 127", file_texts{{"f", "\xe9t\xe9 \xff"}},
     strings{"prog", "@f"}, strings{"prog", "\xe9t\xe9", "\xff"}, true},
    {"many arguments",
     file_texts{{"f", "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17"}},
     strings{"prog", "a", "@f", "b"},
     strings{"prog", "a",  "1",  "2",  "3",  "4",  "5",  "6",  "7",  "8",
             "9",    "10", "11", "12", "13", "14", "15", "16", "17", "b"},
     true},
};

TEST_F(ArgvExpand, MatchesTable)
{
	for (const expand_case &c : expand_cases) {
		SCOPED_TRACE(c.name);
		for (const auto &file : c.files)
			write(file.first, file.second);
		outcome got = expand_args(c.args);
		EXPECT_EQ(got.args, c.want)
		    << printable(got.args) << " vs " << printable(c.want);
		EXPECT_EQ(got.count, static_cast<int>(c.want.size()));
		EXPECT_EQ(got.replaced, c.replaced);
		for (const auto &file : c.files)
			unlink(file.first.c_str());
	}
}

TEST_F(ArgvExpand, CountLimitsWhatIsLookedAt)
{
	write("f", "a b");
	const struct {
		strings args;
		int count;
	} cases[] = {{{"prog", "@f"}, 1}, {{"prog", "x", "@f"}, 2}};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.count);
		outcome got = expand_args(c.args, c.count);
		EXPECT_FALSE(got.replaced);
		EXPECT_EQ(got.count, c.count);
		EXPECT_EQ(got.args, c.args);
	}
}

TEST_F(ArgvExpand, WrittenVectorExpandsBack)
{
	const strings args = {"--plugin", "/p/lib x.so", "", "it's", "\\\t\n"};
	FILE *file = fopen("rsp", "w");
	ASSERT_NE(file, nullptr);
	char **argv = make_argv(args);
	EXPECT_EQ(argv_write(argv, file), 0);
	argv_free(argv);
	fclose(file);

	strings want = {"prog"};
	want.insert(want.end(), args.begin(), args.end());
	EXPECT_EQ(expand_args({"prog", "@rsp"}).args, want);
}

// Kilobytes of the field NAME of /proc/self/status.
long
status_kb(const std::string &name)
{
	std::string status = read_file("/proc/self/status");
	size_t at = status.find("\n" + name + ":");
	return at == std::string::npos
	           ? -1
	           : atol(status.c_str() + at + name.size() + 2);
}

// A file of megabytes is read whole, and the pages of its text that the
// split has passed are given back as it goes: every argument comes out
// whole, and the peak stays well below the text and its arguments side by
// side.
TEST_F(ArgvExpand, LargeFileIsReadWholeAndGivenBackAsItIsSplit)
{
	std::string text;
	strings want = {"prog"};
	const std::string filler(90, 'x');
	for (int i = 0; i < 80000; i++) {
		want.push_back("member" + std::to_string(i) + filler + ".o");
		text += want.back() + (i % 7 == 0 ? "\n" : " ");
	}
	want.push_back("last");
	write("f", text);
	outcome got = expand_args({"prog", "@f", "last"});
	EXPECT_TRUE(got.args == want);
	EXPECT_EQ(got.count, 80002);

	// Linux frees the pages at once; elsewhere the system takes them
	// when it wants, and the sanitizer's allocator keeps its own.
	if (!VEK_LINUX || VEK_ASAN)
		return;
	child_result o = run_in_child([] {
		int argc = 2;
		char **argv = make_argv({"prog", "@f"});
		// What the parent left free is given back, so that new
		// blocks are new pages.
		malloc_trim(0);
		long before = status_kb("VmRSS");
		// The peak from here on.
		write_file("/proc/self/clear_refs", "5");
		argv_expand(&argc, &argv);
		fprintf(stderr, "%ld", status_kb("VmHWM") - before);
	});
	EXPECT_LT(atol(o.err.c_str()), 1.8 * text.size() / 1024) << o.err;
}

TEST_F(ArgvExpand, UnreadableFileStays)
{
	if (geteuid() == 0)
		GTEST_SKIP() << "root reads any file";
	write("f", "a b", 0);
	expect_stays({"prog", "@f"});
}

TEST_F(ArgvExpand, SocketStays)
{
	struct sockaddr_un address = {};
	address.sun_family = AF_UNIX;
	strcpy(address.sun_path, "sock");
	int fd = socket(AF_UNIX, SOCK_STREAM, 0);
	ASSERT_GE(fd, 0);
	ASSERT_EQ(bind(fd, reinterpret_cast<struct sockaddr *>(&address),
	               sizeof address),
	          0);
	expect_stays({"prog", "@sock"});
	close(fd);
}

// A device that opens but cannot seek: the size is unknown, so the
// argument is passed on as it is.
TEST_F(ArgvExpand, UnseekableDeviceStays)
{
	int probe = open("/dev/ptmx", O_RDWR | O_NOCTTY);
	if (probe < 0)
		GTEST_SKIP() << "no /dev/ptmx";
	close(probe);
	expect_stays({"prog", "@/dev/ptmx", "x"});
}

// With no writer, opening a FIFO for reading would wait for ever; the
// argument must stay without waiting.
TEST_F(ArgvExpand, FifoWithoutWriterStays)
{
	ASSERT_EQ(mkfifo("fifo", 0600), 0);
	child_result r = run_in_child([this] {
		alarm(10);
		outcome got = expand_args({"prog", "@fifo", "x"});
		bool same = !got.replaced &&
		            got.args == strings({"prog", "@fifo", "x"});
		_exit(same ? 0 : 2);
	});
	EXPECT_EQ(r.status, exited(0));
}

// With a writer, what it wrote is left for whoever reads the FIFO.
TEST_F(ArgvExpand, FifoWithWriterStaysUnread)
{
	ASSERT_EQ(mkfifo("fifo", 0600), 0);
	int fd = open("fifo", O_RDWR | O_NONBLOCK);
	ASSERT_GE(fd, 0);
	ASSERT_EQ(::write(fd, "a b", 3), 3);
	expect_stays({"prog", "@fifo"});
	char buffer[8] = {};
	EXPECT_EQ(read(fd, buffer, sizeof buffer), 3);
	EXPECT_STREQ(buffer, "a b");
	close(fd);
}

TEST_F(ArgvExpand, AnonymousPipeStays)
{
	int fds[2];
	ASSERT_EQ(pipe(fds), 0);
	std::string path = "/dev/fd/" + std::to_string(fds[0]);
	if (!exists(path))
		GTEST_SKIP() << "no /dev/fd";
	ASSERT_EQ(::write(fds[1], "a b", 3), 3);
	expect_stays({"prog", "@" + path});
	close(fds[0]);
	close(fds[1]);
}

// Up to ATFILE_LIMIT - 1 "@" arguments are examined; the next one stops
// the run before its file is looked at.
TEST_F(ArgvExpand, JustBelowLimitExpandsAll)
{
	write("empty", "");
	strings args = {"prog"};
	args.insert(args.end(), ATFILE_LIMIT - 1, "@empty");
	args.push_back("tail");
	outcome got = expand_args(args);
	EXPECT_TRUE(got.replaced);
	EXPECT_EQ(got.args, strings({"prog", "tail"}));
}

TEST_F(ArgvExpand, MissingFilesCountTowardsLimit)
{
	strings args = {"prog"};
	args.insert(args.end(), ATFILE_LIMIT - 1, "@none");
	EXPECT_FALSE(expand_args(args).replaced);
	args.push_back("@");
	expect_fatal(args, "prog: error: too many @-files encountered\n");
}

TEST_F(ArgvExpand, ChainAtLimitStops)
{
	// Files each naming the next: ATFILE_LIMIT - 1 of them expand; one
	// more in the chain is too many.
	for (int i = 0; i < ATFILE_LIMIT; i++)
		write(std::to_string(i), '@' + std::to_string(i + 1));
	write(std::to_string(ATFILE_LIMIT - 1), "end");
	expect_fatal({"prog", "@0"},
	             "prog: error: too many @-files encountered\n");

	write(std::to_string(ATFILE_LIMIT - 2), "end");
	EXPECT_EQ(expand_args({"prog", "@0"}).args, strings({"prog", "end"}));
}

TEST_F(ArgvExpand, BadFilesStopTheRun)
{
	write("self", "x @self");
	write("names_dir", "a @. b");
	const struct {
		strings args;
		const char *err;
	} cases[] = {
	    {{"myprog", "@self"},
	     "myprog: error: too many @-files encountered\n"},
	    {{"prog", "x", "@."},
	     "prog: error: @-file refers to a directory\n"},
	    {{"prog", "@names_dir"},
	     "prog: error: @-file refers to a directory\n"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(printable(c.args));
		expect_fatal(c.args, c.err);
	}
}

void
announce_fatal_exit()
{
	fputs("hook ran\n", stderr);
}

TEST_F(ArgvExpand, ErrorsGoThroughFatalExit)
{
	child_result r = run_in_child([this] {
		fatal_exit_hook = announce_fatal_exit;
		expand_args({"prog", "@."});
	});
	EXPECT_EQ(r.status, exited(1));
	EXPECT_EQ(r.err,
	          "prog: error: @-file refers to a directory\nhook ran\n");
}

} // namespace
