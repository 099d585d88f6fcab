#!/bin/sh
# Real build systems drive the installed wrappers: a CMake project built by
# Ninja with forced response files, and the same library built by GNU make
# with AR=.  A static library of many generated sources and a program
# linked against it must build, run and print the right sum.
# Usage: real_clients_test.sh BUILD_DIR PLUGIN REL_BIN REL_PLUGIN [REL_TOOL]
set -eu
. "$(dirname "$0")/tree.sh"
needs ninja make cc

scratch clients
install_tree "$top/tc"
plant "$top/tc"

src=$top/src
mkdir -p "$src"
n=40
write_parts "$src" $n
objs=$(echo "$sources" | sed 's/\.c/.o/g')

cat >"$src/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.20)
project(clients C)
add_library(parts STATIC$sources)
add_executable(app main.c)
target_link_libraries(app PRIVATE parts)
CMAKE

cmake -S "$src" -B "$top/ninja" -G Ninja -DCMAKE_AR="$bin/vek-ar" \
	-DCMAKE_RANLIB="$bin/vek-ranlib" -DCMAKE_NINJA_FORCE_RESPONSE_FILE=ON \
	>"$top/cmake.log" 2>&1 || { cat "$top/cmake.log"; fail "configure"; }
ninja -C "$top/ninja" -v >"$top/ninja.log" 2>&1 ||
	{ cat "$top/ninja.log"; fail "ninja build"; }
grep -q "vek-ar.* @[^ ]*\.rsp" "$top/ninja.log" ||
	{ cat "$top/ninja.log"; fail "ninja did not hand vek-ar an @file"; }
[ "$("$top/ninja/app")" = "$expect" ] || fail "ninja-built app output"
[ "$("$bin/vek-ar" t "$top/ninja/libparts.a" | wc -l)" -eq $n ] ||
	fail "ninja-built library members"

mkdir -p "$top/make"
cat >"$top/make/Makefile" <<MAKE
VPATH = $src
OBJS =$objs
app: main.o libparts.a
	\$(CC) -o \$@ main.o libparts.a
libparts.a: \$(OBJS)
	\$(AR) rcs \$@ \$(OBJS)
MAKE
make -C "$top/make" AR="$bin/vek-ar" >"$top/make.log" 2>&1 ||
	{ cat "$top/make.log"; fail "make build"; }
[ "$("$top/make/app")" = "$expect" ] || fail "make-built app output"
"$bin/vek-nm" "$top/make/libparts.a" | grep -q ' T part_40$' ||
	fail "vek-nm on the make-built library"
echo "real clients: ok"
