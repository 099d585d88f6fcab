#!/bin/sh
# Build (Release) and run both benchmarks.  Arguments: startup rounds,
# response-file path count, response-file runs.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j 2 --target vek-ar spawn_floor noop_tool merx_plugin_fixture \
	startup_bench rsp_bench >/dev/null
b=build/bench
echo "== start-up overhead"
"$b/startup_bench" build/wrapper/vek-ar "$b/spawn_floor" \
	build/tests/common/libmerx_plugin.so "${1:-1000}"
echo "== response files"
"$b/rsp_bench" build/wrapper/vek-ar "$b/noop_tool" build/tests/common/libmerx_plugin.so \
	"${2:-1000000}" "${3:-5}"
