# Sourced by the shell tests, and by the demo and the benchmarks for the
# link-time helpers.  A test is called by CTest with the build directory,
# the plug-in fixture, and the tree's relative bin, plug-in and tool
# directories, then its own arguments; sourcing this sets $build, $plugin,
# $rel_bin, $rel_plugin and $rel_tool from them.  Exit status 77 skips.
build=${1:-} plugin=${2:-} rel_bin=${3:-} rel_plugin=${4:-} rel_tool=${5:-}

skip() { echo "skipped: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }

# needs COMMAND...: skip unless every one is there.
needs() {
	for c; do
		command -v "$c" >/dev/null || skip "no $c"
	done
}

# The programs free nothing by design: a leak report of theirs is noise.
ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0"
export ASAN_OPTIONS

# scratch TAG: a fresh directory $top under /tmp, removed on exit.
scratch() {
	top=$(mktemp -d "/tmp/vek-$1-XXXXXX")
	trap 'rm -rf "$top"' EXIT
}

# install_tree DEST: put the tree under test at DEST.  That is this build
# installed, or, when $VEK_TEST_PROGRAM_DIR names the bin directory of
# another installed tree (another build's programs, say the static musl
# ones), a copy of that tree.
install_tree() {
	if [ -n "${VEK_TEST_PROGRAM_DIR:-}" ]; then
		up=$(echo "$rel_bin" | sed 's|[^/][^/]*|..|g')
		cp -R "$(cd "$VEK_TEST_PROGRAM_DIR/$up" && pwd)" "$1"
	else
		cmake --install "$build" --prefix "$1" >/dev/null
	fi
}

# plant TREE [PLUGIN]: PLUGIN (a link to it; the fixture, copied, when not
# given) as TREE's plug-in; sets $bin to TREE's bin directory.
plant() {
	if [ -n "${2:-}" ]; then
		ln -s "$2" "$1/$rel_plugin/libmerx_plugin.so"
	else
		cp "$plugin" "$1/$rel_plugin/libmerx_plugin.so"
	fi
	bin=$1/$rel_bin
}

# platform_tools TREE TOOL...: the platform's TOOLs, linked into TREE's
# tool directory.
platform_tools() {
	tool_dir=$1/$rel_tool
	shift
	for t; do
		ln -s "$(command -v "$t")" "$tool_dir/$t"
	done
}

# lto_namespace NO_NAMESPACE SCRIPT [ARG...], called as
# lto_namespace skip "$0" "$@": for runs of link-time objects with LLVM's
# plug-in ($lto_plugin).  Skips when clang or the plug-in is missing; a test
# that needs more says so with needs before calling it.  Where no namespace
# can be made, the command NO_NAMESPACE is called with the reason: skip
# for a test, which proves nothing with the folders visible; the demo and
# the benchmarks say so and go on.  Debian's
# binutils load every plug-in in their auto-load folders by themselves, so
# the plain tools would read these objects anyway: SCRIPT is run again in
# a private mount namespace (a user namespace too when not root) with an
# empty tmpfs over each such folder, which the real folders never see.
lto_namespace() {
	no_namespace=$1
	shift
	needs clang
	lto_plugin=$(cd "$(clang -print-resource-dir)/../.." && pwd)/LLVMgold.so
	[ -f "$lto_plugin" ] || skip "no $lto_plugin (llvm-*-linker-tools)"
	[ -z "${VEK_AUTOLOAD_HIDDEN:-}" ] || return 0
	ar_lib=$(dirname "$(command -v ar)")/../lib
	# Never empty, so that the run inside knows it is inside.
	VEK_AUTOLOAD_HIDDEN="$(for d in "$ar_lib" /usr/lib /usr/local/lib; do
		[ -d "$d/bfd-plugins" ] && (cd "$d/bfd-plugins" && pwd -P)
	done | sort -u | tr '\n' ' ') "
	export VEK_AUTOLOAD_HIDDEN
	hide='for d in $VEK_AUTOLOAD_HIDDEN; do mount -t tmpfs none "$d" || exit; done'
	for how in -m -rm; do
		unshare $how sh -c "$hide" 2>/dev/null || continue
		exec unshare $how sh -c "$hide"' && exec sh "$@"' sh "$@"
	done
	VEK_AUTOLOAD_HIDDEN=
	$no_namespace "no private mount namespace to hide the plug-in auto-load folders" \
		"in (unshare -m needs root, or user namespaces)"
}

# write_parts DIR N: DIR/part_1.c .. part_N.c, each returning its number,
# and DIR/main.c printing their sum; sets $sources and $expect.
write_parts() {
	sources= expect=0
	i=1
	{
		echo '#include <stdio.h>'
		while [ $i -le $2 ]; do
			printf 'int part_%d(void) { return %d; }\n' $i $i >"$1/part_$i.c"
			echo "int part_$i(void);"
			sources="$sources part_$i.c"
			expect=$((expect + i))
			i=$((i + 1))
		done
		printf 'int main(void) { printf("%%d\\n", 0'
		i=1
		while [ $i -le $2 ]; do printf ' + part_%d()' $i; i=$((i + 1)); done
		printf '); return 0; }\n'
	} >"$1/main.c"
}

# lto_client BUILD TOOL...: after lto_namespace and plant with
# $lto_plugin, for a real build system.  BUILD
# DIR AR RANLIB NM configures and builds, in DIR, a library of 30
# link-time objects ($src, from write_parts) and a program "app" linked
# against it.  With the platform's tools the link must fail (the control);
# with the wrappers, under VEK_TRACE, the app must print the sum and the
# log show each wrapper of TOOL... run the tool with the plug-in.
lto_client() {
	src=$top/src
	mkdir -p "$src"
	write_parts "$src" 30
	! $1 "$top/plain" "$(command -v ar)" "$(command -v ranlib)" \
		"$(command -v nm)" >"$top/plain.log" 2>&1 ||
		fail "control: the platform's tools gave a linked program"
	grep -qE 'no index|no archive symbol table|undefined reference' \
		"$top/plain.log" || { cat "$top/plain.log"; fail "control: not the link"; }
	VEK_TRACE=1 $1 "$top/vek" "$bin/vek-ar" "$bin/vek-ranlib" "$bin/vek-nm" \
		>"$top/vek.log" 2>&1 || { cat "$top/vek.log"; fail "build with the wrappers"; }
	[ "$("$top/vek/app")" = "$expect" ] || fail "app output"
	shift
	for t; do
		grep -q "^Running: [^ ]*/$t --plugin [^ ]*/libmerx_plugin.so" \
			"$top/vek.log" || { cat "$top/vek.log"; fail "vek-$t not used"; }
	done
}
