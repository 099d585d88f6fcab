#!/bin/bash
# Build and run every test twice: a Release build, and a build under
# AddressSanitizer and UndefinedBehaviorSanitizer.  In between, build the
# static musl programs and run the Release build's end-to-end, real-tool
# and chroot tests against them.  Then run each fuzz target for a short,
# fixed time.  Installs what is missing first (scripts/bootstrap.sh).
# Exits non-zero when anything fails.
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
	ctest --test-dir "$dir" -j "$jobs" --output-on-failure | tee -a "$log"
}

run_build build -DCMAKE_BUILD_TYPE=Release -DVEK_BUILD_TESTS=ON

musl_tree=$(pwd)/build-musl/installed
echo "== build-musl: configure, build and install (musl, static)"
cmake -S . -B build-musl --toolchain cmake/musl.cmake -DVEK_STATIC=ON \
	--no-warn-unused-cli >/dev/null
cmake --build build-musl -j "$jobs"
rm -rf "$musl_tree"
cmake --install build-musl --prefix "$musl_tree" >/dev/null
echo "== build-musl: build's tree tests against its programs"
VEK_TEST_PROGRAM_DIR=$musl_tree/bin ctest --test-dir build -j "$jobs" \
	--output-on-failure --no-tests=error \
	-R '^(WrapperTree|ResponseFile|RealTools|RealPlugin|RealClients|Portability)\.' |
	tee -a "$log"

run_build build-asan -DCMAKE_BUILD_TYPE=Debug -DVEK_SANITIZE=ON -DVEK_BUILD_TESTS=ON \
	-DVEK_BUILD_BENCH=OFF

if [ "$fuzz_seconds" != 0 ] && [ -x fuzz/run.sh ]; then
	echo "== fuzz: ${fuzz_seconds}s per target"
	fuzz/run.sh "$fuzz_seconds"
fi

# One closing line over all three runs.
awk '/tests passed, [0-9]+ tests failed out of/ { total += $NF; failed += $4 }
	/\(Skipped\)$/ { skipped++ }
	END { printf "tests: %d passed, %d failed, %d skipped\n",
		total - failed - skipped, failed, skipped }' "$log"
