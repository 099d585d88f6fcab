#!/bin/sh
# Static programs need no C library: the installed tree runs in a chroot
# that holds only the tree, a static stand-in tool as ar, nm and ranlib, a
# response file and /tmp.  This build's programs are checked when they are
# static (else the test is skipped); programs named by VEK_TEST_PROGRAM_DIR
# must be.  Skipped where chroot is not allowed.
# Usage: chroot_test.sh BUILD_DIR PLUGIN REL_BIN REL_PLUGIN REL_TOOL STAND_IN
set -eu
stand_in=$6
. "$(dirname "$0")/tree.sh"

scratch chroot

root=$top/root
mkdir "$root"
install_tree "$root/tc"
if readelf -l "$root/tc/$rel_bin/vek-ar" | grep -q 'program interpreter'; then
	[ -z "${VEK_TEST_PROGRAM_DIR:-}" ] || fail "the programs are dynamic"
	echo "this build's programs are dynamic: skipped"
	exit 77
fi
mkdir "$root/tmp"
plant "$root/tc"
for t in ar nm ranlib; do
	cp "$stand_in" "$root/tc/$rel_tool/$t"
done
printf 't lib.a\n' >"$root/args.rsp"
[ -z "$(find "$root" -name 'libc[.-]*' -o -name 'ld-*')" ] ||
	fail "a C library in the chroot"

chroot=$(command -v chroot || echo /usr/sbin/chroot)
bin=/tc/$rel_bin
# in_root PROGRAM [ARG...], with a bare environment and $tool_env.
tool_env=
in_root() {
	env -i PATH=/nowhere TMPDIR=/tmp $tool_env "$chroot" "$root" "$@"
}
# chroot's own failure is status 125.
rc=0
in_root "/tc/$rel_tool/ar" >/dev/null 2>&1 || rc=$?
[ $rc -ne 125 ] || { echo "chroot not allowed: skipped"; exit 77; }

out=$(in_root "$bin/vek-ar" @/args.rsp) || fail "vek-ar @file in the chroot"
# The stand-in prints the response file the wrapper wrote for it.
[ "$(echo "$out" | sed -n '/^--- begin/,$p' |
	sed 's|^/tc/.*/libmerx_plugin\.so$|PLUGIN|')" = "$(printf '%s\n' \
	'--- begin @file' --plugin PLUGIN -t lib.a '--- end @file')" ] ||
	fail "vek-ar @file printed: $out"
[ -z "$(ls -A "$root/tmp")" ] || fail "response file left in /tmp"
[ "$(in_root "$bin/vek-nm" x.o | tail -n 1)" = x.o ] ||
	fail "vek-nm in the chroot"
tool_env=FAKE_TOOL_EXIT=3
rc=0
in_root "$bin/vek-ranlib" >/dev/null || rc=$?
[ $rc -eq 3 ] || fail "vek-ranlib passed on status $rc, not 3"
echo "chroot: ok"
