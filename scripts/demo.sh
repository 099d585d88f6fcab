#!/bin/sh
# Build the wrappers, install them into a scratch toolchain tree, move the
# tree (it is relocatable), and use them on real objects with the
# platform's ar, nm and ranlib as the target tools.  Shims in the tree's
# tool directory show the exact command line each wrapper ran.
set -eu
cd "$(dirname "$0")/.."
scripts/bootstrap.sh demo

echo "== building (build/, Release)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j 2 --target vek-ar vek-nm vek-ranlib \
	merx_plugin_fixture >/dev/null

work=$(mktemp -d /tmp/vek-demo-XXXXXX)
trap 'rm -rf "$work"' EXIT
cmake --install build --prefix "$work/installed" >/dev/null
mv "$work/installed" "$work/toolchain"
tc=$work/toolchain

# The layout the programs were built for, relative to the tree's root.
plugin_dir=$(cd "$tc" && find libexec -mindepth 4 -type d | head -n 1)
tool_dir=$(cd "$tc" && find . -path ./lib -prune -o -path ./libexec -prune \
	-o -type d -name bin -print | grep -v '^\./bin$' | head -n 1)
cp build/tests/common/libmerx_plugin.so "$tc/$plugin_dir/"
for t in ar nm ranlib; do
	real=$(command -v $t)
	cat >"$tc/$tool_dir/$t" <<SHIM
#!/bin/sh
# Shows what the wrapper ran, then runs the platform's $t.
printf '   ran: %s' "\$0" >&2
for a; do printf ' %s' "\$a" >&2; done
printf '\n' >&2
for a; do
	case \$a in @*) [ -f "\${a#@}" ] && sed 's/^/        | /' "\${a#@}" >&2 ;; esac
done
exec $real "\$@"
SHIM
	chmod +x "$tc/$tool_dir/$t"
done

cd "$work"
# Response files go here, so that the demo can show none is left behind.
mkdir tmp
TMPDIR=$work/tmp
export TMPDIR
for n in apple pear plum; do
	printf 'int %s(void) { return %d; }\n' $n ${#n} >$n.c
	cc -c $n.c
done
bin=$tc/bin
show() {
	echo
	echo "\$ $*" | sed "s|$tc|<toolchain>|g; s|$work/|<work>/|g"
	"$@" 2>&1 | sed "s|$tc|<toolchain>|g; s|$work/|<work>/|g"
}

echo "== toolchain installed, then moved to $tc"
echo "   plug-in: <toolchain>/$plugin_dir/libmerx_plugin.so (our fixture)"
echo "   tools:   <toolchain>/${tool_dir#./}/{ar,nm,ranlib} (shims for $(command -v ar) etc.)"
show "$bin/vek-ar" rcs libdemo.a apple.o pear.o
show "$bin/vek-ar" t libdemo.a
printf 'rs libdemo.a\nplum.o\n' >more.rsp
echo
echo "more.rsp holds:"
sed 's/^/   | /' more.rsp
show "$bin/vek-ar" @more.rsp
show "$bin/vek-nm" libdemo.a
show "$bin/vek-ranlib" libdemo.a
show "$bin/vek-nm" -s libdemo.a
echo
echo "== done; response files left in \$TMPDIR: $(ls -A tmp | wc -l)"
