#!/bin/sh
# autoconf, automake and libtool with CC="clang -flto" and AR, RANLIB and
# NM given to configure: libtool archives a convenience library and reads
# symbols with NM while configuring.
# Usage: real_lto_autotools_test.sh BUILD_DIR PLUGIN REL_BIN REL_PLUGIN [REL_TOOL]
set -eu
build=$1 rel_bin=$3 rel_plugin=$4
. "$(dirname "$0")/tree.sh"
for tool in autoreconf automake libtoolize make; do
	command -v $tool >/dev/null || skip "no $tool"
done
lto_namespace "$0" "$@"
scratch lto-autotools
lto_tree "$top/tc"

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
lto_client autotools_build ar ranlib nm
echo "lto autotools: ok"
