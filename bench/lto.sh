#!/bin/sh
# What share of a real call the wrapper costs: vek-ar rcs of 20 link-time
# objects (clang -flto) against the same ar --plugin LLVMgold.so typed by
# hand and against llvm-ar rcs, then vek-nm against nm --plugin and
# llvm-nm on the archive; the wrappers of the dynamic and the static musl
# builds, both with LLVM's plug-in as the toolchain's.  As in the tests,
# the binutils' auto-load folders are hidden where a namespace can be made,
# so that ar and nm load only the plug-in they are given.
#   bench/lto.sh [ROUNDS]     (default 200)
set -eu
cd "$(dirname "$0")/.."
scripts/bootstrap.sh bench
. tests/wrapper/tree.sh
folders_visible() { echo "== $*: the auto-load folders stay visible"; }
lto_namespace folders_visible "$0" "$@"
rounds=${1:-200}
jobs=${JOBS:-2}

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$jobs" --target vek-ar vek-nm vek-ranlib \
	paired_bench >/dev/null
cmake -S . -B build-musl --toolchain cmake/musl.cmake -DVEK_STATIC=ON \
	--no-warn-unused-cli >/dev/null
cmake --build build-musl -j "$jobs" >/dev/null

scratch bench-lto
for b in build build-musl; do
	cmake --install $b --prefix "$top/$b" >/dev/null
	plugin_dir=$(cd "$top/$b" && find libexec -mindepth 4 -type d | head -n 1)
	ln -s "$lto_plugin" "$top/$b/$plugin_dir/libmerx_plugin.so"
done
bench=$(pwd)/build/bench/paired_bench
llvm_bin=$(dirname "$(cd "$(clang -print-resource-dir)/../.." && pwd)")/bin

cd "$top"
write_parts . 20
clang -flto -O2 -c $sources
objs=$(echo "$sources" | sed 's/\.c/.o/g')
ar --plugin "$lto_plugin" rcs lib.a $objs
dyn=$top/build/bin musl=$top/build-musl/bin
echo "== ar rcs, 20 link-time objects; $rounds rounds"
"$bench" "$rounds" \
	"ar --plugin P rcs" ar --plugin "$lto_plugin" rcs a0.a $objs -- \
	"vek-ar rcs, dynamic" "$dyn/vek-ar" rcs a1.a $objs -- \
	"vek-ar rcs, static musl" "$musl/vek-ar" rcs a2.a $objs -- \
	"llvm-ar rcs" "$llvm_bin/llvm-ar" rcs a3.a $objs
echo "== nm on their archive; $rounds rounds"
"$bench" "$rounds" \
	"nm --plugin P" nm --plugin "$lto_plugin" lib.a -- \
	"vek-nm, dynamic" "$dyn/vek-nm" lib.a -- \
	"vek-nm, static musl" "$musl/vek-nm" lib.a -- \
	"llvm-nm" "$llvm_bin/llvm-nm" lib.a
