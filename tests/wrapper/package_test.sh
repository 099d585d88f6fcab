#!/bin/sh
# cpack's .tar.gz unpacked anywhere is a working tree with the manuals.
# Usage: package_test.sh BUILD_DIR PLUGIN REL_BIN REL_PLUGIN REL_TOOL
set -eu
. "$(dirname "$0")/tree.sh"
scratch package

cpack --config "$build/CPackConfig.cmake" -G TGZ -B "$top/out" \
	>"$top/cpack.log" 2>&1 || { cat "$top/cpack.log"; fail cpack; }
tarball=$(ls "$top"/out/*.tar.gz)
mkdir "$top/x"
tar -xzf "$tarball" -C "$top/x"
tree=$(ls -d "$top"/x/*)
for p in vek-ar vek-nm vek-ranlib; do
	[ -x "$tree/$rel_bin/$p" ] || fail "$p missing"
	[ -f "$tree/share/man/man1/$p.1" ] || fail "$p.1 missing"
done
[ -d "$tree/$rel_plugin" ] && [ -d "$tree/$rel_tool" ] || fail "layout"

plant "$tree"
platform_tools "$tree" ar
cd "$top"
printf 'int f(void) { return 1; }\n' >f.c
cc -c f.c
"$bin/vek-ar" rcs libf.a f.o || fail "vek-ar from the package"
[ "$("$bin/vek-ar" t libf.a)" = f.o ] || fail "members"
echo "package: ok"
