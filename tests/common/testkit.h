/*
 * What every C++ test shares: a scratch directory of its own, environment
 * settings undone when their scope ends, and a body run in a child process
 * whose status and standard error come back.
 */
#ifndef VEK_TESTS_COMMON_TESTKIT_H
#define VEK_TESTS_COMMON_TESTKIT_H

#include <sys/types.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "scratch.h"

/*
 * A test with a fresh directory ROOT: the real path of a new directory
 * under /tmp, searchable by everyone so that a child running as another
 * user reaches what lies in it, and removed with everything below it after
 * the test.  In text given to expand(), '@' stands for ROOT.  The test may
 * change the working directory: the one it started in is restored.
 */
class ScratchTest : public testing::Test {
      protected:
	void SetUp() override;
	void TearDown() override;

      public:
	/* ROOT, "/" and REL. */
	std::string path(const std::string &rel) const;

	/* TEXT with every '@' replaced by ROOT. */
	std::string expand(const std::string &text) const;

	/* Create path(REL) with its missing parents, give it MODE; its path. */
	std::string make_dir(const std::string &rel, mode_t mode = 0755) const;

	/*
	 * Write TEXT to path(REL), its missing parent directories made, and
	 * give the file MODE; its path.
	 */
	std::string write(const std::string &rel, const std::string &text,
	                  mode_t mode = 0644) const;

	std::string root;

      private:
	int start_dir_ = -1;
};

/*
 * NAME set to VALUE, or unset when VALUE is null, for as long as the object
 * lives; then put back as it was before, set or unset.  set() changes the
 * setting again within the same scope.
 */
class scoped_env {
      public:
	scoped_env(const char *name, const char *value);
	~scoped_env();
	scoped_env(const scoped_env &) = delete;
	scoped_env &operator=(const scoped_env &) = delete;
	void set(const char *value);

      private:
	std::string name_;
	bool had_;
	std::string old_;
};

struct child_result {
	int status;      /* raw wait status; -1 when no child could be run */
	std::string err; /* everything the child wrote on standard error */
};

/*
 * Run BODY in a forked child whose standard error goes to a pipe and which
 * writes no core file; the child exits 0 when BODY returns.  Returns once
 * the child is gone.
 */
child_result run_in_child(const std::function<void()> &body);

/* The raw wait status of a normal exit with CODE. */
constexpr int
exited(int code)
{
	return code << 8;
}

/*
 * In a child of a root process: go on as nobody, for whom the permission
 * bits count.  True at once when not root.
 */
bool drop_root();

#endif
