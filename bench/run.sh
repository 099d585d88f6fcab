#!/bin/sh
# Build the programs three ways (dynamic; static against the host C
# library; static against musl), each hardened (the default) and with
# -DVEK_HARDEN=OFF, install each into a scratch prefix and run both
# benchmarks: start-up overhead of the six against the dynamic and the
# static musl spawn floors (running ar, then the musl ones running a
# static no-op tool), and response files with the dynamic and the musl
# builds (and one of 100 MB with the dynamic build).
# Arguments: start-up rounds, response-file path count, response-file runs.
set -eu
cd "$(dirname "$0")/.."
scripts/bootstrap.sh bench
jobs=${JOBS:-2}

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$jobs" --target vek-ar vek-nm vek-ranlib spawn_floor \
	spawn_floor_musl_program noop_tool merx_plugin_fixture startup_bench \
	rsp_bench >/dev/null
programs() { # DIR CMAKE-ARGS...: configure and build the programs alone
	dir=$1
	shift
	cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DVEK_BUILD_TESTS=OFF \
		-DVEK_BUILD_BENCH=OFF --no-warn-unused-cli "$@" >/dev/null
	cmake --build "$dir" -j "$jobs" >/dev/null
}
programs build-static -DVEK_STATIC=ON
programs build-musl --toolchain cmake/musl.cmake -DVEK_STATIC=ON
programs build-unhardened -DVEK_HARDEN=OFF
programs build-static-unhardened -DVEK_STATIC=ON -DVEK_HARDEN=OFF
programs build-musl-unhardened --toolchain cmake/musl.cmake -DVEK_STATIC=ON \
	-DVEK_HARDEN=OFF

trees=$(mktemp -d /tmp/vek-bench-XXXXXX)
trap 'rm -rf "$trees"' EXIT
for b in build build-static build-musl build-unhardened \
	build-static-unhardened build-musl-unhardened; do
	cmake --install $b --prefix "$trees/$b" >/dev/null
done

b=build/bench
plugin=build/tests/common/libmerx_plugin.so
echo "== start-up overhead, tool: ar t lib.a"
"$b/startup_bench" "$plugin" "${1:-1000}" \
	dynamic="$b/spawn_floor" musl-static="$b/spawn_floor_musl" -- \
	dynamic="$trees/build/bin/vek-ar" \
	static-host-libc="$trees/build-static/bin/vek-ar" \
	musl-static="$trees/build-musl/bin/vek-ar" \
	dynamic-unhardened="$trees/build-unhardened/bin/vek-ar" \
	static-host-libc-unhardened="$trees/build-static-unhardened/bin/vek-ar" \
	musl-static-unhardened="$trees/build-musl-unhardened/bin/vek-ar"
echo "== start-up overhead, tool: a static musl no-op"
"$b/startup_bench" "$plugin" "${1:-1000}" --tool="$(pwd)/$b/noop_tool_musl" \
	musl-static="$b/spawn_floor_musl" -- \
	musl-static="$trees/build-musl/bin/vek-ar" \
	musl-static-unhardened="$trees/build-musl-unhardened/bin/vek-ar"
for b_tree in build build-musl; do
	echo "== response files, $b_tree"
	"$b/rsp_bench" "$trees/$b_tree/bin/vek-ar" "$b/noop_tool" "$plugin" \
		"${2:-1000000}" "${3:-5}"
done
echo "== a 100 MB response file, build"
"$b/rsp_bench" "$trees/build/bin/vek-ar" "$b/noop_tool" "$plugin" 2330000 1
