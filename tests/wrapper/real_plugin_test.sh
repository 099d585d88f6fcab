#!/bin/sh
# The job the programs exist for: link-time objects from clang -flto, LLVM's
# plug-in in the installed tree as the toolchain's, and the binutils'
# auto-load folders hidden.  Each case runs the plain tool first, whose
# result must fail the case's check (the control: so only the plug-in the
# wrapper hands over can make the difference), then the wrapper, whose
# result must pass it.  The tree's path holds a space, which the plug-in's
# path takes into the wrapper's response file.
# Usage: real_plugin_test.sh BUILD_DIR PLUGIN REL_BIN REL_PLUGIN REL_TOOL CASE
set -eu
which_case=$6
. "$(dirname "$0")/tree.sh"
lto_namespace skip "$0" "$@"

scratch plugin
install_tree "$top/tool chain"
plant "$top/tool chain" "$lto_plugin"
cd "$top"
mkdir tmp
TMPDIR=$top/tmp
export TMPDIR

# objects N: part_1.o .. part_N.o and main.o, link-time objects.
objects() {
	n=$1
	write_parts . "$n"
	clang -flto -c $sources main.c
}
# The checks, on the tool's output in "out" and on lib.a.
want() { seq "$n" | sed 's/^/part_/' | sort; }
lists() { [ "$(sed -n 's/.* T //p' out | sort -u)" = "$(want)" ]; }
index_of() {
	nm --plugin "$lto_plugin" -s "$1" |
		sed -n '/^Archive index:/,/^$/s/^\([^ ]*\) in .*/\1/p' | sort
}
indexed() { [ "$(index_of lib.a)" = "$(want)" ]; }
links() {
	indexed || return 1
	for ld in gold bfd; do
		clang -flto -fuse-ld=$ld main.o lib.a -o app.$ld >>out 2>&1 &&
			[ "$(./app.$ld)" = "$expect" ] || return 1
	done
}
no_trace() { indexed && [ -z "$(ls -A tmp)" ]; }

# contrast TOOL ARG...: prepare, plain TOOL, check must fail; prepare,
# vek-TOOL, check must pass.
contrast() {
	tool=$1
	shift
	$prepare
	"$tool" "$@" >out 2>&1 || true
	! $check || fail "control: plain $tool passed '$check'"
	$prepare
	"$bin/vek-$tool" "$@" >out 2>&1 || { cat out; fail "vek-$tool"; }
	$check || { cat out; fail "vek-$tool: not '$check'"; }
}

fresh() { rm -f lib.a; }
unindexed() { fresh; ar --plugin "$lto_plugin" rcS lib.a part_*.o; }
prepare=: check=indexed
case $which_case in
nm_objects) objects 3; check=lists; contrast nm part_*.o ;;
nm_archive)
	objects 3
	ar --plugin "$lto_plugin" rcs lib.a part_*.o
	check=lists; contrast nm lib.a ;;
ar_index_links) objects 36; prepare=fresh check=links; contrast ar rcs lib.a part_*.o ;;
ranlib_index) objects 36; prepare=unindexed; contrast ranlib lib.a ;;
response_file)
	objects 30
	for o in part_*.o; do mv "$o" "linked ${o%.o} file.o"; done
	{ echo 'rcs lib.a'; for o in linked*; do echo "'$o'"; done; } >objects.rsp
	prepare=fresh check=no_trace; contrast ar @objects.rsp ;;
*) fail "no case $which_case" ;;
esac
echo "$which_case: ok"
