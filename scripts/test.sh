#!/bin/bash
# Build and run every test twice: a Release build, and a build under
# AddressSanitizer and UndefinedBehaviorSanitizer.  Then run each fuzz
# target for a short, fixed time.  Exits non-zero when anything fails.
#   scripts/test.sh            all of it
#   FUZZ_SECONDS=0 scripts/test.sh   skip the fuzzers
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
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
run_build build-asan -DCMAKE_BUILD_TYPE=Debug -DVEK_SANITIZE=ON -DVEK_BUILD_TESTS=ON \
	-DVEK_BUILD_BENCH=OFF

fuzz_seconds=${FUZZ_SECONDS:-10}
if [ "$fuzz_seconds" != 0 ] && [ -x fuzz/run.sh ]; then
	echo "== fuzz: ${fuzz_seconds}s per target"
	fuzz/run.sh "$fuzz_seconds"
fi

# One closing line over both builds.
awk '/tests passed, [0-9]+ tests failed out of/ { total += $NF; failed += $4 }
	/\(Skipped\)$/ { skipped++ }
	END { printf "tests: %d passed, %d failed, %d skipped\n",
		total - failed - skipped, failed, skipped }' "$log"
