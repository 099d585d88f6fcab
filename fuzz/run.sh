#!/bin/sh
# Build the libFuzzer targets with clang and run each one for a while.
#
#   fuzz/run.sh [SECONDS] [TARGET...]
#
# SECONDS defaults to 10 per target; TARGETs default to all of them.  The
# build goes to $VEK_FUZZ_BUILD_DIR (default build-fuzz at the top of the
# tree); corpora grow under <build>/fuzz/corpus/<target>, and a crashing
# input is saved as <build>/fuzz/artifacts/<target>-crash-<hash>.  Exits
# non-zero when any target crashes, leaks or fails one of its checks.
set -eu

seconds=${1:-10}
[ $# -gt 0 ] && shift
targets=${*:-fuzz_argv_roundtrip fuzz_argv_expand fuzz_split_path fuzz_relative_prefix fuzz_arena}

top=$(cd "$(dirname "$0")/.." && pwd)
build=${VEK_FUZZ_BUILD_DIR:-$top/build-fuzz}

CC=clang CXX=clang++ cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Debug \
    -DVEK_BUILD_FUZZ=ON -DVEK_BUILD_TESTS=OFF -DVEK_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target $targets

# A few seeds so that a short run starts from the interesting shapes.
seed() {
	dir=$build/fuzz/corpus/$1
	shift
	mkdir -p "$dir"
	if [ -z "$(ls -A "$dir")" ]; then
		n=0
		for text in "$@"; do
			printf "$text" >"$dir/seed$n"
			n=$((n + 1))
		done
	fi
}
seed fuzz_argv_roundtrip 'a b\0\0it'"'"'s\0\\\\\t\n' '\351\0"q"\0\013'
# First byte: number of files - 1; then lengths; see fuzz_argv_expand.cpp.
seed fuzz_argv_expand '\000a b\\ c '"'"'d e'"'"'' '\000@a' '\000x @.' \
    '\001\005@b x@a "q w"' '\002\003\004@b @c x\000y z'
seed fuzz_split_path '/usr//local/bin/' '//a//b' 'abc'
seed fuzz_relative_prefix \
    '/opt/tc/bin/vek-ar\0/usr/local/bin/\0/usr/local/lib/vek14/vek/' \
    'vek-ar\0/usr/local/bin/\0/usr/local/\0/a::/b/' \
    '/usr//local/bin/vek-ar\0/usr/local/bin\0lib/\0'
# Records of five bytes; see fuzz_arena.cpp.  Small blocks grown, freed
# and carved again; aligned ones; calloc's and large ones resized.
seed fuzz_arena \
    '\000\000\001\050\000\000\001\000\020\000\002\000\001\000\010\003\001\000\000\000\000\002\000\001\000' \
    '\004\002\024\000\001\005\003\030\000\001\004\004\004\001\000\005\005\010\007\000' \
    '\001\040\003\001\002\002\000\003\100\000\002\000\000\010\000\000\001\002\000\000'

mkdir -p "$build/fuzz/artifacts"
status=0
for target in $targets; do
	# The expansion's fatal messages are expected outcomes there; keep
	# them off the terminal (libFuzzer still reports crashes).
	quiet=
	[ "$target" = fuzz_argv_expand ] && quiet=-close_fd_mask=2
	echo "== $target: $seconds s"
	if ! "$build/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
	    $quiet -artifact_prefix="$build/fuzz/artifacts/$target-" \
	    "$build/fuzz/corpus/$target"; then
		echo "== $target: FAILED" >&2
		status=1
	fi
done
exit $status
