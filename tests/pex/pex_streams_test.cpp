/*
 * Streams onto a pipeline: feeding the first stage from a file or a pipe,
 * reading the last stage's output and error, and the order those calls
 * must come in.
 */
#include "pex/pex.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>

#include "fake_ops.h"
#include "pex_test_util.h"

static TmpdirEnvironment *const tmpdir_env = static_cast<TmpdirEnvironment *>(
    ::testing::AddGlobalTestEnvironment(new TmpdirEnvironment));

static std::string
read_stream(FILE *stream)
{
	std::string text;
	for (int c; (c = fgetc(stream)) != EOF;)
		text += static_cast<char>(c);
	return text;
}

using PexStreams = ScratchTest;

TEST_F(PexStreams, InputFileTwiceIsRejected)
{
	struct pex_pipeline *pipeline = pex_create(0, "pex-test", nullptr);
	std::string name = path("in");
	ASSERT_NE(pex_open_input_file(pipeline, 0, name.c_str()), nullptr);

	errno = 0;
	EXPECT_EQ(pex_open_input_file(pipeline, 0, name.c_str()), nullptr);
	EXPECT_EQ(errno, EINVAL);
	pex_destroy(pipeline);
}

TEST_F(PexStreams, InputAfterFirstStageIsRejected)
{
	struct pex_pipeline *pipeline =
	    pex_create(PEX_PIPES, "pex-test", nullptr);
	ASSERT_EQ(add_helper(pipeline, 0, {"out:x"}), nullptr);

	errno = 0;
	EXPECT_EQ(pex_open_input_file(pipeline, 0, path("in").c_str()),
	          nullptr);
	EXPECT_EQ(errno, EINVAL);
	errno = 0;
	EXPECT_EQ(pex_open_input_pipe(pipeline, 0), nullptr);
	EXPECT_EQ(errno, EINVAL);
	int status;
	EXPECT_EQ(pex_get_status(pipeline, 1, &status), 1);
	pex_destroy(pipeline);
}

TEST_F(PexStreams, InputPipeNeedsPipesAndFreshInput)
{
	for (bool input_file_first : {false, true}) {
		SCOPED_TRACE(input_file_first ? "after an input file"
		                              : "without PEX_PIPES");
		struct pex_pipeline *pipeline = pex_create(
		    input_file_first ? PEX_PIPES : 0, "pex-test", nullptr);
		if (input_file_first) {
			ASSERT_NE(pex_open_input_file(pipeline, 0,
			                              path("in").c_str()),
			          nullptr);
		}

		errno = 0;
		EXPECT_EQ(pex_open_input_pipe(pipeline, 0), nullptr);
		EXPECT_EQ(errno, EINVAL);
		pex_destroy(pipeline);
	}
}

TEST_F(PexStreams, ReadersWithNothingToReadLeaveErrnoAlone)
{
	struct pex_pipeline *fresh = pex_create(PEX_PIPES, "pex-test", nullptr);
	errno = 1234;
	EXPECT_EQ(pex_open_output_reader(fresh, 0), nullptr);
	EXPECT_EQ(pex_open_error_reader(fresh, 0), nullptr);
	EXPECT_EQ(errno, 1234);
	pex_destroy(fresh);

	struct pex_pipeline *complete =
	    pex_create(PEX_PIPES, "pex-test", nullptr);
	ASSERT_EQ(
	    add_helper(complete, PEX_FINAL_STAGE, {}, path("out").c_str()),
	    nullptr);
	errno = 1234;
	EXPECT_EQ(pex_open_output_reader(complete, 0), nullptr);
	EXPECT_EQ(pex_open_error_reader(complete, 0), nullptr);
	EXPECT_EQ(errno, 1234);
	int status;
	EXPECT_EQ(pex_get_status(complete, 1, &status), 1);
	pex_destroy(complete);
}

enum class input_kind { named_file, suffix_file, temp_file, pipe };

struct round_trip_case {
	const char *what;
	int pipeline_flags;
	input_kind input;
};

/* What the caller writes comes back through one stage, every way in and
 * every way out. */
TEST_F(PexStreams, WrittenInputComesBackThroughAStage)
{
	static const round_trip_case cases[] = {
	    {"named file to pipe", PEX_PIPES, input_kind::named_file},
	    {"suffix file to pipe", PEX_PIPES, input_kind::suffix_file},
	    {"temporary file to pipe", PEX_PIPES, input_kind::temp_file},
	    {"pipe to pipe", PEX_PIPES, input_kind::pipe},
	    {"named file to file", 0, input_kind::named_file},
	    {"temporary file to file", 0, input_kind::temp_file},
	    {"suffix file to kept file", PEX_KEEP_TEMPS,
	     input_kind::suffix_file},
	};
	for (const round_trip_case &c : cases) {
		SCOPED_TRACE(c.what);
		std::string named = path("named.in");
		std::string stem = path("stem");
		struct pex_pipeline *pipeline =
		    pex_create(c.pipeline_flags, "pex-test", stem.c_str());
		FILE *input = nullptr;
		switch (c.input) {
		case input_kind::named_file:
			input = pex_open_input_file(pipeline, 0, named.c_str());
			break;
		case input_kind::suffix_file:
			input = pex_open_input_file(
			    pipeline, PEX_OUTNAME_IS_SUFFIX, ".in");
			break;
		case input_kind::temp_file:
			input = pex_open_input_file(pipeline, PEX_BINARY_OUT,
			                            nullptr);
			break;
		case input_kind::pipe:
			input = pex_open_input_pipe(pipeline, 1);
			break;
		}
		ASSERT_NE(input, nullptr);
		/* A file is closed by the stage, which flushes it first; a
		 * pipe is written once the stage reads it. */
		bool pipe = c.input == input_kind::pipe;
		if (!pipe)
			fputs("round trip\n", input);
		ASSERT_EQ(add_helper(pipeline, 0, {"upper", "exit:2"}),
		          nullptr);
		if (pipe) {
			fputs("round trip\n", input);
			fclose(input);
		}
		FILE *output = pex_open_output_reader(pipeline, 0);
		ASSERT_NE(output, nullptr);
		EXPECT_EQ(read_stream(output), "ROUND TRIP\n");
		EXPECT_EQ(pex_open_output_reader(pipeline, 0), nullptr)
		    << "a second reader has nothing left";
		int status;
		EXPECT_EQ(pex_get_status(pipeline, 1, &status), 1);
		EXPECT_EQ(status, exited(2));
		pex_destroy(pipeline);
	}
}

TEST_F(PexStreams, InputFilesStayOnDisk)
{
	std::vector<std::string> temp_before = list_dir(tmpdir_env->dir);
	struct pex_pipeline *pipeline = pex_create(0, "pex-test", nullptr);
	FILE *input = pex_open_input_file(pipeline, 0, nullptr);
	ASSERT_NE(input, nullptr);
	fputs("kept", input);
	ASSERT_EQ(
	    add_helper(pipeline, PEX_FINAL_STAGE, {"cat"}, path("out").c_str()),
	    nullptr);
	int status;
	EXPECT_EQ(pex_get_status(pipeline, 1, &status), 1);
	pex_destroy(pipeline);

	EXPECT_EQ(read_file(path("out")), "kept");
	std::vector<std::string> temp_after = list_dir(tmpdir_env->dir);
	ASSERT_EQ(temp_after.size(), temp_before.size() + 1);
	for (const std::string &name : temp_after)
		remove((tmpdir_env->dir + "/" + name).c_str());
}

TEST_F(PexStreams, OutputReaderOverFilesWaitsForTheStages)
{
	struct pex_pipeline *pipeline = pex_create(0, "pex-test", nullptr);
	ASSERT_EQ(
	    add_helper(pipeline, 0,
	               {"out:slow ", "sleep:100", "out:output", "exit:4"}),
	    nullptr);

	FILE *output = pex_open_output_reader(pipeline, 1);
	ASSERT_NE(output, nullptr);
	EXPECT_EQ(read_stream(output), "slow output");
	int status;
	EXPECT_EQ(pex_get_status(pipeline, 1, &status), 1);
	EXPECT_EQ(status, exited(4));
	pex_destroy(pipeline);
}

TEST_F(PexStreams, ErrorReaderReadsTheStagesErrorOnce)
{
	struct pex_pipeline *pipeline = pex_create(0, "pex-test", nullptr);
	ASSERT_EQ(add_helper(pipeline, PEX_FINAL_STAGE | PEX_STDERR_TO_PIPE,
	                     {"out:to out", "err:to err"}, path("out").c_str()),
	          nullptr);

	FILE *errors = pex_open_error_reader(pipeline, 0);
	ASSERT_NE(errors, nullptr);
	EXPECT_EQ(pex_open_error_reader(pipeline, 0), nullptr);
	EXPECT_EQ(read_stream(errors), "to err");
	int status;
	EXPECT_EQ(pex_get_status(pipeline, 1, &status), 1);
	pex_destroy(pipeline);
	EXPECT_EQ(read_file(path("out")), "to out");
}

TEST_F(PexStreams, ReadersBelongToThePipeline)
{
	std::set<int> before = open_fds();
	struct pex_pipeline *pipeline =
	    pex_create(PEX_PIPES, "pex-test", nullptr);
	ASSERT_EQ(add_helper(pipeline, PEX_STDERR_TO_PIPE, {"out:x", "err:y"}),
	          nullptr);
	ASSERT_NE(pex_open_output_reader(pipeline, 0), nullptr);
	ASSERT_NE(pex_open_error_reader(pipeline, 0), nullptr);
	int status;
	EXPECT_EQ(pex_get_status(pipeline, 1, &status), 1);
	pex_destroy(pipeline);
	EXPECT_EQ(open_fds(), before);
}

/* A failed output collection is reported through errno. */
TEST_F(PexStreams, OutputReaderReportsAFailedWait)
{
	fake_reset();
	struct pex_pipeline *pipeline =
	    pex_create_with_ops(0, "pex-test", nullptr, &fake_pex_ops);
	Argv argv({"prog"});
	int err;
	ASSERT_EQ(pex_add_stage(pipeline, 0, "prog", argv.get(), nullptr,
	                        nullptr, &err),
	          nullptr);
	fake.wait_errno = ECHILD;

	errno = 0;
	EXPECT_EQ(pex_open_output_reader(pipeline, 0), nullptr);
	EXPECT_EQ(errno, ECHILD);
	pex_destroy(pipeline);
}

TEST_F(PexStreams, InputPipeHandsItsBinaryFlagToTheBackend)
{
	for (int binary : {0, 1}) {
		fake_reset();
		struct pex_pipeline *pipeline = pex_create_with_ops(
		    PEX_PIPES, "pex-test", nullptr, &fake_pex_ops);
		FILE *input = pex_open_input_pipe(pipeline, binary);
		ASSERT_NE(input, nullptr);
		EXPECT_EQ(fake.binary_flags, std::vector<int>(2, binary));
		fclose(input);
		pex_destroy(pipeline);
	}
}

TEST_F(PexStreams, FailedWriterClosesBothPipeEnds)
{
	fake_reset();
	fake.writer_fails = true;
	struct pex_pipeline *pipeline =
	    pex_create_with_ops(PEX_PIPES, "pex-test", nullptr, &fake_pex_ops);

	errno = 0;
	EXPECT_EQ(pex_open_input_pipe(pipeline, 0), nullptr);
	EXPECT_EQ(errno, ENOMEM);
	EXPECT_EQ(fake.close_counts, (std::map<int, int>{{100, 1}, {101, 1}}));
	pex_destroy(pipeline);
	EXPECT_EQ(fake.close_counts, (std::map<int, int>{{100, 1}, {101, 1}}));
}

/*
 * A stream on /dev/full fails when it is flushed at close.  The stage
 * reports it, and the stream is gone all the same: a later stage or the
 * destruction must not close it again.
 */
TEST_F(PexStreams, FailedCloseOfInputFileIsReportedOnce)
{
	fake_reset();
	struct pex_pipeline *pipeline =
	    pex_create_with_ops(0, "pex-test", nullptr, &fake_pex_ops);
	FILE *input = pex_open_input_file(pipeline, 0, "/dev/full");
	ASSERT_NE(input, nullptr);
	fputs("no room", input);
	Argv argv({"prog"});
	int err;

	EXPECT_STREQ(pex_add_stage(pipeline, PEX_FINAL_STAGE, "prog",
	                           argv.get(), nullptr, nullptr, &err),
	             "closing pipeline input file");
	EXPECT_EQ(pex_add_stage(pipeline, PEX_FINAL_STAGE, "prog", argv.get(),
	                        nullptr, nullptr, &err),
	          nullptr);
	EXPECT_EQ(fake.log.front(), "read /dev/full");
	pex_destroy(pipeline);
}
