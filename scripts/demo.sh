#!/bin/sh
# What the wrappers are for.  Objects compiled for link-time optimisation
# (clang -flto: LLVM bitcode) are opaque to the platform's ar, nm and
# ranlib unless these load a plug-in that reads them.  Debian's binutils
# load the plug-ins in their auto-load folder by themselves; a toolchain
# unpacked elsewhere has no such luck.  So the folder is hidden (a private
# mount namespace with an empty tmpfs over it; the real folder is never
# touched), the plain tools are shown failing, and then the wrappers of a
# moved toolchain tree, whose plug-in is LLVM's LLVMgold.so, succeeding.
set -eu
cd "$(dirname "$0")/.."
scripts/bootstrap.sh demo
. tests/wrapper/tree.sh
# Where no namespace can be made, the wrappers' side is shown alone.
wrappers_only() { echo "== $*: showing the wrappers' side only"; }
lto_namespace wrappers_only "$0" "$@"

echo "== building (build/, Release)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j 2 --target vek-ar vek-nm vek-ranlib >/dev/null

work=$(mktemp -d /tmp/vek-demo-XXXXXX)
trap 'rm -rf "$work"' EXIT
cmake --install build --prefix "$work/installed" >/dev/null
mv "$work/installed" "$work/toolchain"
tc=$work/toolchain
plugin_dir=$(cd "$tc" && find libexec -mindepth 4 -type d | head -n 1)
ln -s "$lto_plugin" "$tc/$plugin_dir/libmerx_plugin.so"
bin=$tc/bin

cd "$work"
# Response files go here, so that the demo can show none is left behind.
mkdir tmp
TMPDIR=$work/tmp
export TMPDIR
for n in apple pear plum; do
	printf 'int %s(void) { return %d; }\n' $n ${#n} >$n.c
done
printf '%s\n' '#include <stdio.h>' 'int apple(void), pear(void), plum(void);' \
	'int main(void) { printf("%d\n", apple() + pear() + plum()); }' >main.c
clang -flto -c apple.c pear.c plum.c main.c
objs='apple.o pear.o plum.o'

shorten() { sed "s|$tc|<toolchain>|g; s|$work/||g"; }
show() {
	echo
	echo "\$ $1" | shorten
	eval "$1" 2>&1 | shorten
}

echo "== installed, then moved to $tc"
echo "   plug-in: <toolchain>/$plugin_dir/libmerx_plugin.so -> $lto_plugin"
echo "== clang -flto -c apple.c pear.c plum.c main.c: LLVM bitcode, not ELF"
if [ -n "${VEK_AUTOLOAD_HIDDEN:-}" ]; then
	echo "== hidden here (empty tmpfs, private mount namespace):" $VEK_AUTOLOAD_HIDDEN
	echo "   the platform's tools load no plug-in by themselves, as where the"
	echo "   toolchain lives in /opt; the real folder is untouched"
	echo
	echo "-- the platform's ar, nm and ranlib, alone"
	show "nm apple.o"
	show "ar rcs libplain.a $objs && ranlib libplain.a && echo 'exit status 0'"
	echo "   (both said nothing, and wrote no symbol index:)"
	show "clang -flto main.o libplain.a -o fruit"
	echo
	echo "-- the wrappers"
fi
show "$bin/vek-nm $objs"
show "VEK_TRACE=1 $bin/vek-ar rcs libfruit.a $objs 2>&1 | grep ^Running"
show "$bin/vek-nm -s libfruit.a | sed -n '/^Archive index/,/^\$/{/./p}'"
show "clang -flto -fuse-ld=bfd main.o libfruit.a -o fruit && ./fruit"
show "clang -flto -fuse-ld=gold main.o libfruit.a -o fruit && ./fruit"
echo
echo "   the platform's archive, indexed by vek-ranlib:"
[ -f libplain.a ] || ar rcs libplain.a $objs
show "$bin/vek-ranlib libplain.a && clang -flto main.o libplain.a -o fruit && ./fruit"
printf 'rcs libat.a\n%s\n' "$objs" >objects.rsp
echo
echo "   objects named in an @file; objects.rsp holds:" $(cat objects.rsp)
show "$bin/vek-ar @objects.rsp && clang -flto main.o libat.a -o fruit && ./fruit"
echo
echo "== done; response files left in \$TMPDIR: $(ls -A tmp | wc -l)"
