#!/bin/sh
# Real build systems archiving link-time objects from clang with LLVM's
# plug-in, each given the wrappers the way it takes its archiver:
#   cmake      INTERPROCEDURAL_OPTIMIZATION: the library is archived with
#              CMAKE_C_COMPILER_AR and CMAKE_C_COMPILER_RANLIB (CMake
#              would take llvm-ar next to clang by itself)
#   meson      b_lto=true: the archiver comes from AR at setup (Meson would
#              take llvm-ar by itself); it indexes as it archives, so no
#              ranlib runs
#   autotools  CC="clang -flto" and AR, RANLIB and NM given to configure:
#              libtool archives a convenience library and reads symbols
#              with NM while configuring
# Usage: real_lto_test.sh BUILD_DIR PLUGIN REL_BIN REL_PLUGIN REL_TOOL CLIENT
set -eu
client=$6
. "$(dirname "$0")/tree.sh"
case $client in
cmake) needs ninja ;;
meson) needs meson ninja ;;
autotools) needs autoreconf automake libtoolize make ;;
*) fail "no client $client" ;;
esac
lto_namespace skip "$0" "$@"
scratch "lto-$client"
install_tree "$top/tc"
plant "$top/tc" "$lto_plugin"

# Each: BUILD DIR AR RANLIB NM, for lto_client.
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
meson_build() {
	cat >"$src/meson.build" <<MESON
project('lto', 'c')
parts = static_library('parts', '$(echo $sources | sed "s/ /', '/g")')
executable('app', 'main.c', link_with: parts)
MESON
	CC=clang AR=$2 meson setup "$1" "$src" -Db_lto=true && ninja -C "$1"
}
# configure runs NM on a link-time object with its output going to
# config.log: printed, config.log brings the trace's Running: line of
# vek-nm into the build's log, where lto_client looks for it.
autotools_build() (
	[ -x "$src/configure" ] || {
		cat >"$src/configure.ac" <<'AC'
AC_INIT([lto], [1])
AM_INIT_AUTOMAKE([foreign])
AC_PROG_CC
LT_INIT([disable-shared])
AC_CONFIG_FILES([Makefile])
AC_OUTPUT
AC
		printf '%s\n' 'noinst_LTLIBRARIES = libparts.la' \
			"libparts_la_SOURCES =$sources" 'noinst_PROGRAMS = app' \
			'app_SOURCES = main.c' 'app_LDADD = libparts.la' >"$src/Makefile.am"
		(cd "$src" && autoreconf -fi)
	} && mkdir "$1" && cd "$1" &&
		"$src/configure" CC="clang -flto" AR="$2" RANLIB="$3" NM="$4" &&
		cat config.log && make
)

case $client in
cmake) lto_client cmake_build ar ranlib ;;
meson) lto_client meson_build ar ;;
autotools) lto_client autotools_build ar ranlib nm ;;
esac
echo "lto $client: ok"
