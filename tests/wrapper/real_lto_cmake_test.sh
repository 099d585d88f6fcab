#!/bin/sh
# CMake, clang and INTERPROCEDURAL_OPTIMIZATION: the static library is
# archived with CMAKE_C_COMPILER_AR and CMAKE_C_COMPILER_RANLIB (CMake
# would take llvm-ar next to clang by itself), so those are the wrappers.
# Usage: real_lto_cmake_test.sh BUILD_DIR PLUGIN REL_BIN REL_PLUGIN [REL_TOOL]
set -eu
build=$1 rel_bin=$3 rel_plugin=$4
. "$(dirname "$0")/tree.sh"
command -v ninja >/dev/null || skip "no ninja"
lto_namespace "$0" "$@"
scratch lto-cmake
lto_tree "$top/tc"

cmake_build() {
	cat >"$src/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.20)
project(lto C)
set(CMAKE_INTERPROCEDURAL_OPTIMIZATION ON)
add_library(parts STATIC$sources)
add_executable(app main.c)
target_link_libraries(app PRIVATE parts)
CMAKE
	CC=clang cmake -S "$src" -B "$1" -G Ninja -DCMAKE_C_COMPILER_AR="$2" \
		-DCMAKE_C_COMPILER_RANLIB="$3" && ninja -C "$1"
}
lto_client cmake_build ar ranlib
echo "lto cmake: ok"
