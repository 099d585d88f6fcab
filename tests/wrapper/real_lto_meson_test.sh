#!/bin/sh
# Meson with b_lto=true and clang: the archiver comes from AR at setup
# (Meson would take llvm-ar by itself); it indexes as it archives, so no
# ranlib runs.
# Usage: real_lto_meson_test.sh BUILD_DIR PLUGIN REL_BIN REL_PLUGIN [REL_TOOL]
set -eu
build=$1 rel_bin=$3 rel_plugin=$4
. "$(dirname "$0")/tree.sh"
command -v meson >/dev/null || skip "no meson"
lto_namespace "$0" "$@"
scratch lto-meson
lto_tree "$top/tc"

meson_build() {
	cat >"$src/meson.build" <<MESON
project('lto', 'c')
parts = static_library('parts', '$(echo $sources | sed "s/ /', '/g")')
executable('app', 'main.c', link_with: parts)
MESON
	CC=clang AR=$2 meson setup "$1" "$src" -Db_lto=true && ninja -C "$1"
}
lto_client meson_build ar
echo "lto meson: ok"
