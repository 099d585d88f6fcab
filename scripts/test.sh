#!/bin/bash
# Build and run every test three times: a Release build, a generic one
# (every host shim on its portable branch, as on a system without Linux's
# own calls, and the C library's malloc; its slow tests, which drive real
# build systems, left out), and
# a build under AddressSanitizer and UndefinedBehaviorSanitizer with an
# unsigned char.  In between, build the static musl programs and the
# static aarch64 ones (run under qemu-user) and run the Release build's
# link-check, end-to-end, real-tool and chroot tests against each.  Every build treats
# warnings as errors.  Then run clang-tidy and cppcheck over the product
# code, and each fuzz target for a short, fixed time.  Installs what is
# missing first (scripts/bootstrap.sh).  Exits non-zero when anything
# fails.
#   scripts/test.sh            all of it
#   FUZZ_SECONDS=0 scripts/test.sh   skip the fuzzers
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
fuzz_seconds=${FUZZ_SECONDS:-10}
if [ "$fuzz_seconds" != 0 ]; then
	scripts/bootstrap.sh test fuzz
else
	scripts/bootstrap.sh test
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT

run_build() {
	dir=$1
	shift
	echo "== $dir: configure and build"
	cmake -S . -B "$dir" "$@" >/dev/null
	cmake --build "$dir" -j "$jobs"
	echo "== $dir: test"
	# shellcheck disable=SC2086 # ctest_args: words of their own
	ctest --test-dir "$dir" -j "$jobs" --output-on-failure ${ctest_args:-} |
		tee -a "$log"
}

# test_tree NAME TOOLCHAIN [CMAKE-ARGS...]: build NAME's programs, install
# them, and run the Release build's tests of installed programs on them.
tree_tests='^(LinkCheck|WrapperTree|ResponseFile|RealTools|RealPlugin|RealClients|Portability)\.'
test_tree() {
	dir=build-$1
	tree=$(pwd)/$dir/installed
	shift
	echo "== $dir: configure, build and install"
	cmake -S . -B "$dir" -DVEK_WERROR=ON --toolchain "$@" \
		--no-warn-unused-cli >/dev/null
	cmake --build "$dir" -j "$jobs"
	rm -rf "$tree"
	cmake --install "$dir" --prefix "$tree" >/dev/null
	echo "== $dir: build's tree tests against its programs"
	exclude=()
	if [ -n "${tree_exclude:-}" ]; then
		exclude=(-E "$tree_exclude")
	fi
	VEK_TEST_PROGRAM_DIR=$tree/bin ctest --test-dir build -j "$jobs" \
		--output-on-failure --no-tests=error -R "$tree_tests" \
		"${exclude[@]}" | tee -a "$log"
}

# Registers qemu-user for aarch64 programs with binfmt_misc, or says why
# it cannot.  The entry wants the F flag: the kernel opens the emulator
# once, at registration, so that it also runs programs inside chroots and
# other mount namespaces (the Portability test's chroot has no qemu).
aarch64_emulation() {
	entry=/proc/sys/fs/binfmt_misc/qemu-aarch64
	conf=/usr/lib/binfmt.d/qemu-aarch64.conf
	if [ -f $entry ] && grep -q '^flags:.*F' $entry; then
		return 0
	fi
	if [ "$(id -u)" != 0 ]; then
		echo "not root: cannot register qemu-aarch64 with binfmt_misc"
		return 1
	fi
	if [ ! -f $conf ]; then
		echo "no $conf (qemu-user-static)"
		return 1
	fi
	if [ ! -e /proc/sys/fs/binfmt_misc/register ] &&
		! mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc; then
		echo "cannot mount binfmt_misc"
		return 1
	fi
	# An entry without F is replaced.
	if [ -f $entry ] && ! echo -1 >$entry; then
		echo "cannot remove the qemu-aarch64 entry lacking the F flag"
		return 1
	fi
	line=$(grep -v '^#' $conf | head -n 1)
	case $line in *F) ;; *) line=${line}F ;; esac
	if ! printf '%s' "$line" >/proc/sys/fs/binfmt_misc/register; then
		echo "binfmt_misc refused the qemu-aarch64 entry"
		return 1
	fi
}

# clang-tidy and cppcheck over the product code; every finding fails.
# Checks and their exclusions are in .clang-tidy.
analyse() {
	local product=(wrapper/*.cpp findfile/*.cpp support/*.cpp pex/*.cpp)
	local status=0
	echo "== analysers: clang-tidy"
	# The compile commands are GCC's; clang 14 takes
	# -ftrivial-auto-var-init=zero only behind an opt-in flag.
	printf '%s\n' "${product[@]}" | xargs -P "$jobs" -n 1 clang-tidy -p build \
		--quiet --extra-arg=-ftrivial-auto-var-init=uninitialized \
		2> >(grep -v ' generated\.$' >&2) || status=1
	echo "== analysers: cppcheck"
	# The programs' one configuration.  GNU attributes are hidden from
	# it: after one, cppcheck 2.10 forgets a [[noreturn]].
	# useStlAlgorithm asks for std algorithms in place of the plain
	# loops of this procedural code.
	cppcheck --std=c++20 --language=c++ --library=posix \
		--enable=warning,style,performance,portability --inline-suppr \
		--suppress=useStlAlgorithm --error-exitcode=1 --quiet -j "$jobs" \
		-I . -I build/generated '-DVEK_TOOL_NAME="ar"' '-D__attribute__(x)=' \
		"${product[@]}" || status=1
	return $status
}

run_build build -DCMAKE_BUILD_TYPE=Release -DVEK_BUILD_TESTS=ON \
	-DVEK_WERROR=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON

test_tree musl cmake/musl.cmake -DVEK_STATIC=ON
if reason=$(aarch64_emulation 2>&1); then
	# qemu-user runs the vfork-style clone of posix_spawn as a fork, so a
	# child's failed exec never reaches the parent: the spawn "succeeds"
	# and the child exits 127.  The tests of a tool that cannot start
	# need real aarch64 hardware.
	tree_exclude='\.(ToolThatCannotStartIsReported|IsRemovedWhateverBecomesOfTheTool|CommandLineTooLongForTheToolGoesThroughAFile)$'
	echo "== build-aarch64: under qemu-user a failed exec in posix_spawn's" \
		"child is not reported; not run: ${tree_exclude}"
	# The emulator keeps some real-time signals for itself.
	export VEK_TEST_EMULATED=1
	test_tree aarch64 cmake/aarch64.cmake -DVEK_STATIC=ON
	unset VEK_TEST_EMULATED
	tree_exclude=
else
	echo "== build-aarch64: skipped: $reason"
fi

# Its programs also go without their own allocator (VEK_ARENA off), as
# where a static link refuses it: the others have it.
ctest_args='-LE slow' run_build build-generic -DCMAKE_BUILD_TYPE=Release \
	-DVEK_GENERIC_POSIX=ON -DVEK_ARENA=OFF -DVEK_BUILD_TESTS=ON \
	-DVEK_BUILD_BENCH=OFF -DVEK_WERROR=ON

# An unsigned char, as on aarch64, shows any code that assumed a signed one.
run_build build-asan -DCMAKE_BUILD_TYPE=Debug -DVEK_SANITIZE=ON -DVEK_BUILD_TESTS=ON \
	-DVEK_BUILD_BENCH=OFF -DVEK_WERROR=ON -DCMAKE_C_FLAGS=-funsigned-char \
	-DCMAKE_CXX_FLAGS=-funsigned-char

analysed=0
analyse || analysed=1

if [ "$fuzz_seconds" != 0 ] && [ -x fuzz/run.sh ]; then
	echo "== fuzz: ${fuzz_seconds}s per target"
	fuzz/run.sh "$fuzz_seconds"
fi

# One closing line over all the runs.
awk '/tests passed, [0-9]+ tests failed out of/ { total += $NF; failed += $4 }
	/\(Skipped\)$/ { skipped++ }
	END { printf "tests: %d passed, %d failed, %d skipped\n",
		total - failed - skipped, failed, skipped }' "$log"
if [ "$analysed" != 0 ]; then
	echo "analysers: findings above"
	exit 1
fi
