/*
 * Pipeline stages, collection and clean-up: first against the recording
 * backend, where every descriptor and wait can be seen, then end to end
 * with real children of the helper program.
 */
#include "pex/pex.h"

#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fake_ops.h"
#include "pex_test_util.h"

static TmpdirEnvironment *const tmpdir_env = static_cast<TmpdirEnvironment *>(
    ::testing::AddGlobalTestEnvironment(new TmpdirEnvironment));

/* ---- Against the recording backend ---- */

class PexFakeTest : public ::testing::Test {
      protected:
	void SetUp() override
	{
		fake_reset();
	}
	void TearDown() override
	{
		EXPECT_EQ(fake_closed_twice(), std::vector<int>{})
		    << "descriptors closed more than once";
	}
	struct pex_pipeline *create(int flags, const char *stem = nullptr)
	{
		return pex_create_with_ops(flags, "pex-test", stem,
		                           &fake_pex_ops);
	}
	/* Add a stage that must succeed. */
	void add(struct pex_pipeline *pipeline, int flags,
	         const char *outname = nullptr, const char *errname = nullptr)
	{
		int err = -1;
		const char *errmsg =
		    pex_add_stage(pipeline, flags, "prog", argv_.get(), outname,
		                  errname, &err);
		ASSERT_EQ(errmsg, nullptr) << errmsg << " " << err;
	}

	Argv argv_{"prog"};
};

/* Each spawn's standard input, output and error, and what the child
 * closes. */
static std::vector<std::vector<int>>
spawn_fds()
{
	std::vector<std::vector<int>> fds;
	for (const fake_spawn &s : fake.spawns)
		fds.push_back({s.in_fd, s.out_fd, s.err_fd, s.child_close_fd});
	return fds;
}

using PexStatus = PexFakeTest;
using PexStages = PexFakeTest;
using PexDestroy = PexFakeTest;
using PexStageFailure = PexFakeTest;

TEST_F(PexStatus, NoStagesGivesZeroStatusesAndNoUsage)
{
	struct pex_pipeline *pipeline = create(PEX_RECORD_USAGE);
	int statuses[3] = {7, 7, 7};
	struct pex_usage usage[1];

	EXPECT_EQ(pex_get_status(pipeline, 3, statuses), 1);
	EXPECT_EQ(std::vector<int>(statuses, statuses + 3),
	          (std::vector<int>{0, 0, 0}));
	EXPECT_EQ(pex_get_usage(pipeline, 1, usage), 0);
	pex_destroy(pipeline);
	EXPECT_TRUE(fake.waits.empty());
	EXPECT_EQ(fake.hook_calls, 1);
}

TEST_F(PexStatus, CountBeyondChildrenZeroFillsAndSmallerCountCopiesFirst)
{
	struct pex_pipeline *pipeline = create(PEX_PIPES);
	fake.statuses[5000] = exited(3);
	fake.statuses[5001] = exited(4);
	add(pipeline, 0);
	add(pipeline, PEX_FINAL_STAGE);

	int four[4] = {9, 9, 9, 9};
	EXPECT_EQ(pex_get_status(pipeline, 4, four), 1);
	EXPECT_EQ(std::vector<int>(four, four + 4),
	          (std::vector<int>{exited(3), exited(4), 0, 0}));
	int one[2] = {9, 9};
	EXPECT_EQ(pex_get_status(pipeline, 1, one), 1);
	EXPECT_EQ(one[0], exited(3));
	EXPECT_EQ(one[1], 9);
	pex_destroy(pipeline);
	EXPECT_EQ(fake.waits.size(), 2u) << "each child is waited for once";
}

TEST_F(PexStatus, UsageIsRecordedOnlyWhenAsked)
{
	struct usage_case {
		int flags;
		int want_result;
		bool want_usage_slot;
	};
	static const usage_case cases[] = {
	    {PEX_RECORD_USAGE, 1, true},
	    {0, 0, false},
	};
	for (const usage_case &c : cases) {
		SCOPED_TRACE(c.flags);
		fake_reset();
		struct pex_pipeline *pipeline = create(c.flags);
		add(pipeline, PEX_FINAL_STAGE);
		struct pex_usage usage[2];
		usage[1].cpu_user_s = 99;

		EXPECT_EQ(pex_get_usage(pipeline, 2, usage), c.want_result);
		ASSERT_EQ(fake.waits.size(), 1u);
		EXPECT_EQ(fake.waits[0].with_usage, c.want_usage_slot);
		if (c.want_result == 1) {
			EXPECT_EQ(usage[0].cpu_user_s, 5000);
			EXPECT_EQ(usage[0].cpu_user_us, 1);
			EXPECT_EQ(usage[0].cpu_system_s, 2);
			EXPECT_EQ(usage[0].cpu_system_us, 3);
			EXPECT_EQ(usage[1].cpu_user_s, 0) << "zero-filled";
		}
		pex_destroy(pipeline);
	}
}

TEST_F(PexStatus, FailedWaitFailsTheRetrieval)
{
	struct pex_pipeline *pipeline = create(0);
	add(pipeline, PEX_FINAL_STAGE);
	fake.wait_errno = ECHILD;
	int status;

	EXPECT_EQ(pex_get_status(pipeline, 1, &status), 0);
	pex_destroy(pipeline);
}

TEST_F(PexStages, SecondFinalStageFailsAsComplete)
{
	struct pex_pipeline *pipeline = create(PEX_PIPES);
	add(pipeline, PEX_FINAL_STAGE);
	int err = 42;

	EXPECT_STREQ(pex_add_stage(pipeline, PEX_FINAL_STAGE, "prog",
	                           argv_.get(), nullptr, nullptr, &err),
	             "pipeline already complete");
	EXPECT_EQ(err, 0);
	EXPECT_EQ(fake.spawns.size(), 1u);
	pex_destroy(pipeline);
}

TEST_F(PexStages, PipesChainStagesAndEachChildDropsTheNextReadEnd)
{
	struct pex_pipeline *pipeline = create(PEX_PIPES);
	add(pipeline, 0);
	add(pipeline, 0);
	add(pipeline, PEX_FINAL_STAGE);

	/* Pipes are 100/101, then 102/103. */
	EXPECT_EQ(spawn_fds(),
	          (std::vector<std::vector<int>>{
	              {0, 101, 2, 100}, {100, 103, 2, 102}, {102, 1, 2, -1}}));
	pex_destroy(pipeline);
	EXPECT_TRUE(fake.open_fds.empty());
}

TEST_F(PexStages, OneShotShapeUsesOnlyTheStandardDescriptors)
{
	struct pex_pipeline *pipeline = create(0);
	add(pipeline, PEX_FINAL_STAGE | PEX_USE_PATH);

	EXPECT_EQ(spawn_fds(), (std::vector<std::vector<int>>{{0, 1, 2, -1}}));
	pex_destroy(pipeline);
	EXPECT_TRUE(fake.close_counts.empty()) << "nothing is closed";
}

TEST_F(PexStages, TemporaryFileStageWaitsForItsWriter)
{
	struct pex_pipeline *pipeline = create(0);
	fake.statuses[5000] = exited(1);
	fake.statuses[5001] = exited(2);
	add(pipeline, 0);
	ASSERT_EQ(fake.log.size(), 2u);
	std::string between = fake.log[0].substr(strlen("write "));
	EXPECT_TRUE(exists(between)) << between;

	add(pipeline, PEX_FINAL_STAGE);
	EXPECT_EQ(fake.log, (std::vector<std::string>{
	                        "write " + between, "spawn 5000", "wait 5000",
	                        "read " + between, "spawn 5001"}));

	int statuses[2];
	EXPECT_EQ(pex_get_status(pipeline, 2, statuses), 1);
	EXPECT_EQ(fake.log.back(), "wait 5001");
	EXPECT_EQ(statuses[0], exited(1));
	EXPECT_EQ(statuses[1], exited(2));
	pex_destroy(pipeline);
	EXPECT_FALSE(exists(between)) << "removed at destruction";
	EXPECT_TRUE(fake.open_fds.empty());
}

TEST_F(PexStages, OutputAndErrorNamesReachTheBackend)
{
	struct name_case {
		const char *stem;
		int flags;
		const char *outname;
		const char *errname;
		std::vector<std::string> want_log;
	};
	const name_case cases[] = {
	    {nullptr, 0, "out", nullptr, {"write out"}},
	    {nullptr, PEX_APPEND_OUT, "out", nullptr, {"append out"}},
	    {nullptr, 0, nullptr, "err", {"write err"}},
	    {nullptr, PEX_APPEND_ERR, nullptr, "err", {"append err"}},
	    {"/d/stem",
	     PEX_OUTNAME_IS_SUFFIX,
	     ".o",
	     nullptr,
	     {"write /d/stem.o"}},
	    {nullptr, PEX_OUTNAME_IS_SUFFIX, ".o", nullptr, {"write "}},
	    {nullptr,
	     PEX_APPEND_OUT | PEX_APPEND_ERR,
	     "out",
	     "err",
	     {"append out", "append err"}},
	};
	for (const name_case &c : cases) {
		SCOPED_TRACE(c.want_log.front());
		fake_reset();
		struct pex_pipeline *pipeline = create(0, c.stem);
		add(pipeline, PEX_FINAL_STAGE | c.flags, c.outname, c.errname);
		std::vector<std::string> opens(fake.log.begin(),
		                               fake.log.end() - 1);
		EXPECT_EQ(opens, c.want_log);
		pex_destroy(pipeline);
		EXPECT_TRUE(fake.open_fds.empty());
	}
}

TEST_F(PexStages, StderrPipeReadEndIsKeptByThePipeline)
{
	struct pex_pipeline *pipeline = create(0);
	add(pipeline, PEX_FINAL_STAGE | PEX_STDERR_TO_PIPE);

	ASSERT_EQ(fake.spawns.size(), 1u);
	EXPECT_EQ(fake.spawns[0].err_fd, 101);
	EXPECT_TRUE(fake.open_fds.count(100)) << "read end still ours";
	pex_destroy(pipeline);
	EXPECT_TRUE(fake.open_fds.empty());
}

TEST_F(PexDestroy, StopsChildrenNobodyCollected)
{
	struct pex_pipeline *pipeline = create(PEX_PIPES | PEX_RECORD_USAGE);
	add(pipeline, 0);
	add(pipeline, PEX_FINAL_STAGE);
	pex_destroy(pipeline);

	ASSERT_EQ(fake.waits.size(), 2u);
	for (const fake_wait &w : fake.waits) {
		EXPECT_TRUE(w.kill_first) << w.pid;
		EXPECT_FALSE(w.with_usage) << w.pid;
	}
}

TEST_F(PexDestroy, DoesNotWaitAgainForCollectedChildren)
{
	struct pex_pipeline *pipeline = create(PEX_PIPES);
	add(pipeline, PEX_FINAL_STAGE);
	int status;
	ASSERT_EQ(pex_get_status(pipeline, 1, &status), 1);
	pex_destroy(pipeline);

	ASSERT_EQ(fake.waits.size(), 1u);
	EXPECT_FALSE(fake.waits[0].kill_first);
}

/*
 * A stage that read a temporary file has collected the stages before it;
 * the later ones must still be stopped and waited for, not left behind.
 */
TEST_F(PexDestroy, StopsChildrenStartedAfterAnEarlierCollection)
{
	struct pex_pipeline *pipeline = create(PEX_RECORD_USAGE);
	add(pipeline, 0);
	add(pipeline, PEX_FINAL_STAGE);
	pex_destroy(pipeline);

	ASSERT_EQ(fake.waits.size(), 2u);
	EXPECT_EQ(fake.waits[0].pid, 5000);
	EXPECT_FALSE(fake.waits[0].kill_first);
	EXPECT_EQ(fake.waits[1].pid, 5001);
	EXPECT_TRUE(fake.waits[1].kill_first);
	EXPECT_FALSE(fake.waits[1].with_usage);
}

struct stage_spec {
	int flags;
	const char *outname = nullptr;
	const char *errname = nullptr;
};

struct failure_case {
	const char *what;
	int pipeline_flags;
	const char *stem;
	std::vector<stage_spec> stages; /* all but the last succeed */
	void (*arm)();                  /* set up the failure of the last */
	const char *want_text;
	int want_err;
};

/* Never created: destruction removes intermediate names, so keep them
 * out of any real directory. */
static const char mid_name[] = "/nonexistent-pex-dir/mid";

/* The stages of the cases: all but the last succeed. */
static const std::vector<stage_spec> one = {{0}};
static const std::vector<stage_spec> two_pipes = {{0}, {0}};
static const std::vector<stage_spec> then_out = {
    {0}, {PEX_FINAL_STAGE, "out", nullptr}};
static const std::vector<stage_spec> then_files = {
    {0}, {PEX_FINAL_STAGE, "out", "err"}};
static const std::vector<stage_spec> then_err_pipe = {
    {0}, {PEX_FINAL_STAGE | PEX_STDERR_TO_PIPE, "out"}};
static const std::vector<stage_spec> then_err_both = {
    {0}, {PEX_FINAL_STAGE | PEX_STDERR_TO_PIPE, "out", "err"}};
static const std::vector<stage_spec> two_err_pipes = {
    {PEX_STDERR_TO_PIPE}, {PEX_FINAL_STAGE | PEX_STDERR_TO_PIPE}};
static const std::vector<stage_spec> to_mid = {{0, mid_name, nullptr}};
static const std::vector<stage_spec> through_mid = {
    {0, mid_name, nullptr}, {PEX_FINAL_STAGE, "out", "err"}};

static void
arm_nothing()
{
}

static const failure_case failure_cases[] = {
    {"error name and error pipe", PEX_PIPES, nullptr, then_err_both,
     arm_nothing, "both ERRNAME and PEX_STDERR_TO_PIPE specified.", 0},
    {"second error pipe", PEX_PIPES, nullptr, two_err_pipes, arm_nothing,
     "PEX_STDERR_TO_PIPE used in the middle of pipeline", 0},
    {"error file", PEX_PIPES, nullptr, then_files,
     [] { fake.open_errno["write err"] = EACCES; }, "open error file", EACCES},
    {"error pipe", PEX_PIPES, nullptr, then_err_pipe,
     [] { fake.fail_pipe_number = 2; }, "pipe", EMFILE},
    {"output pipe", PEX_PIPES, nullptr, two_pipes,
     [] { fake.fail_pipe_number = 2; }, "pipe", EMFILE},
    {"output file", PEX_PIPES, nullptr, then_out,
     [] { fake.open_errno["write out"] = ENOSPC; },
     "open temporary output file", ENOSPC},
    {"intermediate file", 0, nullptr, to_mid,
     [] { fake.open_errno[std::string("write ") + mid_name] = EROFS; },
     "open temporary output file", EROFS},
    {"reading the intermediate file", 0, nullptr, through_mid,
     [] { fake.open_errno[std::string("read ") + mid_name] = EACCES; },
     "open temporary file", EACCES},
    {"waiting before reading the intermediate file", 0, nullptr, through_mid,
     [] { fake.wait_errno = ECHILD; }, "wait", ECHILD},
    {"temporary name from a stem", 0, "/nonexistent-pex-dir/stemXXXXXX", one,
     arm_nothing, "could not create temporary file", 0},
    {"spawn", PEX_PIPES, nullptr, then_files,
     [] {
	     fake.spawn_errmsg = "posix_spawn";
	     fake.spawn_err = ENOENT;
     },
     "posix_spawn", ENOENT},
    {"parent close after spawn", PEX_PIPES, nullptr, then_files,
     [] { fake.spawn_close_fails = true; }, "close", EIO},
};

/*
 * Every failing stage reports its text and number, and whatever it opened
 * or took over is closed exactly once by the time the pipeline is gone.
 */
TEST_F(PexStageFailure, ReportsStepAndClosesEachDescriptorOnce)
{
	for (const failure_case &c : failure_cases) {
		SCOPED_TRACE(c.what);
		fake_reset();
		struct pex_pipeline *pipeline =
		    create(c.pipeline_flags, c.stem);
		for (size_t i = 0; i + 1 < c.stages.size(); i++)
			add(pipeline, c.stages[i].flags, c.stages[i].outname,
			    c.stages[i].errname);
		c.arm();
		const stage_spec &last = c.stages.back();
		int err = -1;

		EXPECT_STREQ(pex_add_stage(pipeline, last.flags, "prog",
		                           argv_.get(), last.outname,
		                           last.errname, &err),
		             c.want_text);
		EXPECT_EQ(err, c.want_err);
		pex_destroy(pipeline);
		EXPECT_TRUE(fake.open_fds.empty());
		EXPECT_EQ(fake_closed_twice(), std::vector<int>{});
	}
}

/* The input of a stage whose output pipe failed is gone; the pipeline must
 * not hand its number to a later stage or close it a second time. */
TEST_F(PexStageFailure, StageAfterFailedOutputPipeFindsNoInput)
{
	struct pex_pipeline *pipeline = create(PEX_PIPES);
	add(pipeline, 0);
	fake.fail_pipe_number = 2;
	int err;
	ASSERT_STREQ(pex_add_stage(pipeline, 0, "prog", argv_.get(), nullptr,
	                           nullptr, &err),
	             "pipe");

	EXPECT_STREQ(pex_add_stage(pipeline, PEX_FINAL_STAGE, "prog",
	                           argv_.get(), nullptr, nullptr, &err),
	             "pipeline already complete");
	pex_destroy(pipeline);
	EXPECT_EQ(fake.close_counts[100], 1);
}

/* ---- End to end, with real children ---- */

/* Wait for COUNT children; destruction alone would stop them. */
static void
finish(struct pex_pipeline *pipeline, int count)
{
	std::vector<int> statuses(count);
	EXPECT_EQ(pex_get_status(pipeline, count, statuses.data()), 1);
	for (int status : statuses)
		EXPECT_EQ(status, exited(0));
	pex_destroy(pipeline);
}

/*
 * Add the helper running FIRST and writing MIDDLE (null: a temporary file
 * or a pipe), then as the final stage the helper running SECOND and writing
 * OUT; FLAGS go to both.  The text of the step that failed, or null.
 */
static const char *
add_two_stages(struct pex_pipeline *pipeline, int flags, const char *middle,
               const std::string &out, std::initializer_list<std::string> first,
               std::initializer_list<std::string> second)
{
	const char *errmsg = add_helper(pipeline, flags, first, middle);
	return errmsg != nullptr ? errmsg
	                         : add_helper(pipeline, PEX_FINAL_STAGE | flags,
	                                      second, out.c_str());
}

using PexPipeline = ScratchTest;
using PexRunSingle = ScratchTest;

struct two_stage_case {
	const char *what;
	int flags;
	size_t want_files_left; /* besides the final output */
};

TEST_F(PexPipeline, TwoStagesPassBytesAndStatuses)
{
	static const two_stage_case cases[] = {
	    {"pipes", PEX_PIPES, 0},
	    {"temporary files", 0, 0},
	    {"kept temporary files", PEX_KEEP_TEMPS, 1},
	};
	for (const two_stage_case &c : cases) {
		SCOPED_TRACE(c.what);
		std::string sub = path(std::to_string(c.flags));
		ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
		std::string stem = sub + "/pipeXXXXXX";
		std::string out = sub + "/final.out";
		struct pex_pipeline *pipeline =
		    pex_create(c.flags, "pex-test", stem.c_str());

		ASSERT_EQ(add_two_stages(pipeline, 0, nullptr, out,
		                         {"out:hello\n", "exit:3"},
		                         {"upper", "exit:5"}),
		          nullptr);
		int statuses[2];
		ASSERT_EQ(pex_get_status(pipeline, 2, statuses), 1);
		EXPECT_EQ(statuses[0], exited(3));
		EXPECT_EQ(statuses[1], exited(5));
		pex_destroy(pipeline);

		EXPECT_EQ(read_file(out), "HELLO\n");
		EXPECT_EQ(list_dir(sub).size(), 1 + c.want_files_left);
	}
}

TEST_F(PexPipeline, NamedIntermediateFileIsRemovedUnlessKept)
{
	struct keep_case {
		int flags;
		bool want_kept;
	};
	static const keep_case cases[] = {{0, false}, {PEX_KEEP_TEMPS, true}};
	for (const keep_case &c : cases) {
		SCOPED_TRACE(c.flags);
		std::string between = path("between");
		std::string out = path("out");
		std::string name_copy = between;
		struct pex_pipeline *pipeline =
		    pex_create(c.flags, "pex-test", nullptr);

		ASSERT_EQ(add_two_stages(pipeline, 0, between.c_str(), out,
		                         {"out:data"}, {"cat"}),
		          nullptr);
		finish(pipeline, 2);

		EXPECT_EQ(read_file(out), "data");
		EXPECT_EQ(exists(between), c.want_kept);
		EXPECT_EQ(between, name_copy) << "caller's name untouched";
		remove(between.c_str());
	}
}

/* A stem ending in six X's is the template itself; any other gets six
 * more.  The file is found by what is left of the stem. */
TEST_F(PexPipeline, TemporaryStemFormsTheTemplate)
{
	struct stem_case {
		const char *stem;
		size_t want_length;
	};
	static const stem_case cases[] = {
	    {"abcXXXXXX", 9},
	    {"XXXXX", 11},
	    {"ab", 8},
	    {"abXXXXXXz", 15},
	};
	for (const stem_case &c : cases) {
		SCOPED_TRACE(c.stem);
		std::string sub = path(std::string("s") + c.stem);
		ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
		std::string stem = sub + "/" + c.stem;
		std::string out = path("out");
		struct pex_pipeline *pipeline =
		    pex_create(PEX_KEEP_TEMPS, "pex-test", stem.c_str());

		ASSERT_EQ(add_two_stages(pipeline, 0, nullptr, out, {"out:x"},
		                         {"cat"}),
		          nullptr);
		finish(pipeline, 2);

		std::vector<std::string> names = list_dir(sub);
		ASSERT_EQ(names.size(), 1u);
		EXPECT_EQ(names[0].size(), c.want_length) << names[0];
		size_t kept = c.want_length - 6;
		EXPECT_EQ(names[0].substr(0, kept), std::string(c.stem, kept));
		EXPECT_EQ(read_file(sub + "/" + names[0]), "x");
	}
}

TEST_F(PexPipeline, SuffixNamesFollowTheStem)
{
	std::string stem = path("base");
	struct pex_pipeline *pipeline =
	    pex_create(PEX_KEEP_TEMPS, "pex-test", stem.c_str());

	ASSERT_EQ(add_two_stages(pipeline, PEX_OUTNAME_IS_SUFFIX, ".mid",
	                         ".out", {"out:x"}, {"cat"}),
	          nullptr);
	finish(pipeline, 2);

	EXPECT_EQ(read_file(stem + ".mid"), "x");
	EXPECT_EQ(read_file(stem + ".out"), "x");
}

TEST_F(PexPipeline, SuffixWithoutStemUsesTheTemporaryDirectory)
{
	std::vector<std::string> before = list_dir(tmpdir_env->dir);
	struct pex_pipeline *pipeline = pex_create(0, "pex-test", nullptr);
	std::string out = path("out");

	ASSERT_EQ(
	    add_helper(pipeline, PEX_OUTNAME_IS_SUFFIX, {"out:x"}, ".tmp"),
	    nullptr);
	ASSERT_EQ(list_dir(tmpdir_env->dir).size(), before.size() + 1);
	ASSERT_EQ(add_helper(pipeline, PEX_FINAL_STAGE, {"cat"}, out.c_str()),
	          nullptr);
	finish(pipeline, 2);

	EXPECT_EQ(read_file(out), "x");
	EXPECT_EQ(list_dir(tmpdir_env->dir), before) << "removed again";
}

TEST_F(PexPipeline, FinalSuffixWithoutStemCannotBeOpened)
{
	struct pex_pipeline *pipeline = pex_create(0, "pex-test", nullptr);
	Argv argv = helper_argv({});
	int err = 0;

	EXPECT_STREQ(
	    pex_add_stage(pipeline, PEX_FINAL_STAGE | PEX_OUTNAME_IS_SUFFIX,
	                  PEX_HELPER, argv.get(), ".out", nullptr, &err),
	    "open temporary output file");
	EXPECT_EQ(err, ENOENT);
	pex_destroy(pipeline);
}

TEST_F(PexPipeline, OutputAndErrorFilesTruncateAppendOrMerge)
{
	static const struct {
		const char *what;
		int flags;
		const char *want_out;
		const char *want_err;
	} cases[] = {
	    {"truncate", 0, "A", "B"},
	    {"append output", PEX_APPEND_OUT, "oldA", "B"},
	    {"append error", PEX_APPEND_ERR, "A", "oldB"},
	    {"merge", PEX_MERGE_STDERR, "AB", ""},
	    {"merge and append", PEX_MERGE_STDERR | PEX_APPEND_OUT, "oldAB",
	     ""},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		std::string out = path("out"), err_name = path("err");
		write_file(out, "old");
		write_file(err_name, "old");
		Argv argv = helper_argv({"out:A", "err:B"});
		int status = -1, err;

		ASSERT_EQ(pex_run_single(PEX_FINAL_STAGE | c.flags, PEX_HELPER,
		                         argv.get(), "pex-test", out.c_str(),
		                         err_name.c_str(), &status, &err),
		          nullptr);
		EXPECT_EQ(status, exited(0));
		EXPECT_EQ(read_file(out), c.want_out);
		EXPECT_EQ(read_file(err_name), c.want_err);
	}
}

TEST_F(PexPipeline, EnvironmentVectorReplacesOurs)
{
	struct pex_pipeline *pipeline = pex_create(0, "pex-test", nullptr);
	Argv argv = helper_argv({"env:PEX_TEST_SETTING", "env:HOME"});
	Argv env({"PEX_TEST_SETTING=chosen"});
	std::string out = path("out");
	int err;

	ASSERT_EQ(pex_add_stage_env(pipeline, PEX_FINAL_STAGE, PEX_HELPER,
	                            argv.get(), env.get(), out.c_str(), nullptr,
	                            &err),
	          nullptr);
	int status;
	ASSERT_EQ(pex_get_status(pipeline, 1, &status), 1);
	pex_destroy(pipeline);
	EXPECT_EQ(read_file(out), "chosen\n(unset)\n");
}

TEST_F(PexPipeline, UsageRecordsChildCpuTime)
{
	struct pex_pipeline *pipeline =
	    pex_create(PEX_RECORD_USAGE, "pex-test", nullptr);
	ASSERT_EQ(add_helper(pipeline, PEX_FINAL_STAGE, {"spin:200"}), nullptr);
	struct pex_usage usage;
	ASSERT_EQ(pex_get_usage(pipeline, 1, &usage), 1);
	pex_destroy(pipeline);

	expect_spun(usage);
}

/* The POSIX backend with its waits recorded, to see how children ended. */
static std::vector<int> recorded_statuses;

static int
recording_wait(struct pex_pipeline *pipeline, pid_t pid, int *status,
               struct pex_usage *usage, int kill_first, const char **errmsg,
               int *err)
{
	int rc = posix_pex_ops.wait_child(pipeline, pid, status, usage,
	                                  kill_first, errmsg, err);
	recorded_statuses.push_back(*status);
	return rc;
}

TEST_F(PexPipeline, DestroyTerminatesRunningChildPromptly)
{
	pex_ops ops = posix_pex_ops;
	ops.wait_child = recording_wait;
	recorded_statuses.clear();
	struct pex_pipeline *pipeline =
	    pex_create_with_ops(PEX_PIPES, "pex-test", nullptr, &ops);
	ASSERT_EQ(add_helper(pipeline, PEX_FINAL_STAGE, {"sleep:100000"}),
	          nullptr);
	time_t start = time(nullptr);
	pex_destroy(pipeline);

	EXPECT_LT(time(nullptr) - start, 20);
	ASSERT_EQ(recorded_statuses.size(), 1u);
	EXPECT_TRUE(WIFSIGNALED(recorded_statuses[0]));
	EXPECT_EQ(WTERMSIG(recorded_statuses[0]), SIGTERM);
}

TEST_F(PexRunSingle, ReportsExitStatusAndSignal)
{
	struct status_case {
		const char *step;
		bool want_signaled;
		int want_value;
	};
	static const status_case cases[] = {
	    {"exit:0", false, 0},
	    {"exit:7", false, 7},
	    {"signal:9", true, SIGKILL},
	};
	for (const status_case &c : cases) {
		SCOPED_TRACE(c.step);
		Argv argv = helper_argv({c.step});
		int status = -1, err = -1;

		ASSERT_EQ(pex_run_single(PEX_FINAL_STAGE, PEX_HELPER,
		                         argv.get(), "pex-test", nullptr,
		                         nullptr, &status, &err),
		          nullptr);
		EXPECT_EQ(err, 0);
		if (c.want_signaled) {
			ASSERT_TRUE(WIFSIGNALED(status));
			EXPECT_EQ(WTERMSIG(status), c.want_value);
		} else {
			ASSERT_TRUE(WIFEXITED(status));
			EXPECT_EQ(WEXITSTATUS(status), c.want_value);
		}
	}
}

/* PATH is set by the test itself, so the caller's does not matter. */
using PexRunSinglePath = ScratchTest;

TEST_F(PexRunSinglePath, FindsProgramThroughPath)
{
	scoped_env search("PATH", root.c_str());
	ASSERT_EQ(symlink(PEX_HELPER, path("pex-tool").c_str()), 0);
	Argv argv({"pex-tool", "out:found"});
	std::string out = path("out");
	int status = -1, err;

	ASSERT_EQ(pex_run_single(PEX_FINAL_STAGE | PEX_USE_PATH, "pex-tool",
	                         argv.get(), "pex-test", out.c_str(), nullptr,
	                         &status, &err),
	          nullptr);
	EXPECT_EQ(status, exited(0));
	EXPECT_EQ(read_file(out), "found");
}

TEST_F(PexRunSinglePath, MissingProgramReportsSpawnCallAndLeaksNothing)
{
	scoped_env search("PATH", root.c_str());
	struct missing_case {
		int flags;
		std::string program;
		const char *outname;
		const char *want_text;
	};
	std::string out = path("out"), err_name = path("err");
	const missing_case cases[] = {
	    {PEX_FINAL_STAGE | PEX_USE_PATH, "no-such-tool", nullptr,
	     "posix_spawnp"},
	    {PEX_FINAL_STAGE, path("no-such-tool"), nullptr, "posix_spawn"},
	    {PEX_FINAL_STAGE | PEX_USE_PATH, "no-such-tool", out.c_str(),
	     "posix_spawnp"},
	};
	for (const missing_case &c : cases) {
		SCOPED_TRACE(c.want_text);
		Argv argv({c.program});
		std::set<int> before = open_fds();
		int status = 12345, err = 0;

		EXPECT_STREQ(
		    pex_run_single(c.flags, c.program.c_str(), argv.get(),
		                   "pex-test", c.outname,
		                   c.outname ? err_name.c_str() : nullptr,
		                   &status, &err),
		    c.want_text);
		EXPECT_EQ(err, ENOENT);
		EXPECT_EQ(status, 12345) << "status not written";
		EXPECT_EQ(open_fds(), before);
	}
}

/* With SIGCHLD ignored the system reaps the child itself and our wait
 * fails; the one-shot run reports that without the wait's details. */
TEST_F(PexRunSingle, FailedWaitIsReportedAsStatusFailure)
{
	struct sigaction ignore = {}, old;
	ignore.sa_handler = SIG_IGN;
	sigemptyset(&ignore.sa_mask);
	ASSERT_EQ(sigaction(SIGCHLD, &ignore, &old), 0);
	Argv argv = helper_argv({});
	int status, err = -1;

	const char *errmsg =
	    pex_run_single(PEX_FINAL_STAGE, PEX_HELPER, argv.get(), "pex-test",
	                   nullptr, nullptr, &status, &err);
	sigaction(SIGCHLD, &old, nullptr);
	EXPECT_STREQ(errmsg, "pex_get_status failed");
	EXPECT_EQ(err, 0);
}

/* ---- Descriptors the children see ---- */

using PexDescriptors = ScratchTest;

static void
expect_only_inherited(const std::vector<std::set<int>> &lists,
                      const std::set<int> &before, size_t want_lists)
{
	ASSERT_EQ(lists.size(), want_lists);
	for (size_t i = 0; i < lists.size(); i++) {
		SCOPED_TRACE("child " + std::to_string(i));
		for (int fd : lists[i])
			EXPECT_TRUE(fd <= 2 || before.count(fd))
			    << "descriptor " << fd << " leaked into the child";
	}
}

TEST_F(PexDescriptors, StagesSeeOnlyTheirStandardStreams)
{
	struct leak_case {
		const char *what;
		int flags;
	};
	static const leak_case cases[] = {
	    {"pipes", PEX_PIPES},
	    {"temporary files", 0},
	};
	for (const leak_case &c : cases) {
		SCOPED_TRACE(c.what);
		std::set<int> before = open_fds();
		std::string out = path("out");
		std::string stem = path("tmpXXXXXX");
		struct pex_pipeline *pipeline =
		    pex_create(c.flags, "pex-test", stem.c_str());
		ASSERT_EQ(add_helper(pipeline, 0, {"fds"}), nullptr);
		ASSERT_EQ(add_helper(pipeline, 0, {"cat", "fds"}), nullptr);
		ASSERT_EQ(add_helper(pipeline,
		                     PEX_FINAL_STAGE | PEX_STDERR_TO_PIPE,
		                     {"cat", "fds", "err:oops"}, out.c_str()),
		          nullptr);
		FILE *errors = pex_open_error_reader(pipeline, 0);
		ASSERT_NE(errors, nullptr);
		char text[16] = {};
		EXPECT_EQ(fread(text, 1, sizeof text - 1, errors), 4u);
		EXPECT_STREQ(text, "oops");
		int statuses[3];
		ASSERT_EQ(pex_get_status(pipeline, 3, statuses), 1);
		pex_destroy(pipeline);

		expect_only_inherited(parse_fd_lines(read_file(out)), before,
		                      3);
		EXPECT_EQ(open_fds(), before);
	}
}

/* A pipeline that is half built must not lend its descriptors to a child
 * started elsewhere in the program. */
TEST_F(PexDescriptors, UnrelatedChildSeesNoneOfAPipelinesDescriptors)
{
	std::set<int> before = open_fds();
	struct pex_pipeline *pipeline =
	    pex_create(PEX_PIPES, "pex-test", nullptr);
	FILE *input = pex_open_input_pipe(pipeline, 0);
	ASSERT_NE(input, nullptr);
	ASSERT_EQ(add_helper(pipeline, PEX_STDERR_TO_PIPE, {"upper", "err:E"}),
	          nullptr);
	FILE *errors = pex_open_error_reader(pipeline, 0);
	ASSERT_NE(errors, nullptr);
	EXPECT_GT(open_fds().size(), before.size() + 2);

	std::string out = path("fds");
	Argv lister = helper_argv({"fds"});
	int status, err;
	ASSERT_EQ(pex_run_single(PEX_FINAL_STAGE, PEX_HELPER, lister.get(),
	                         "pex-test", out.c_str(), nullptr, &status,
	                         &err),
	          nullptr);
	expect_only_inherited(parse_fd_lines(read_file(out)), before, 1);

	fputs("quiet", input);
	fclose(input);
	FILE *output = pex_open_output_reader(pipeline, 0);
	ASSERT_NE(output, nullptr);
	char text[16] = {};
	EXPECT_EQ(fread(text, 1, sizeof text - 1, output), 5u);
	EXPECT_STREQ(text, "QUIET");
	pex_destroy(pipeline);
	EXPECT_EQ(open_fds(), before);
}
