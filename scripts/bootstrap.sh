#!/bin/sh
# What the project's scripts need on a Debian machine, in one place.  Each
# argument names a use:
#   demo   cmake, g++, make, binutils (ar, nm, ranlib, ld.bfd, ld.gold),
#          GoogleTest (the default configuration builds the tests), and
#          clang with LLVM's link-time plug-in LLVMgold.so
#   bench  demo's, musl-tools (the static musl build), and llvm (llvm-ar
#          and llvm-nm, for comparison)
#   test   bench's, Ninja, Meson, autoconf, automake and libtool (the
#          real-client tests), the aarch64 cross compiler and qemu-user
#          (the aarch64 run), clang-tidy and cppcheck (the analysers)
#   fuzz   clang with its fuzzer runtime
# Missing packages are installed when run as root; otherwise the script
# prints the one apt-get line that installs them and exits 1.
set -eu

missing=
want() {
	case " $missing " in *" $1 "*) ;; *) missing="$missing $1" ;; esac
}
need_demo() {
	command -v cmake >/dev/null || want cmake
	command -v g++ >/dev/null || want g++
	command -v make >/dev/null || want make
	command -v readelf >/dev/null || want binutils
	[ -f /usr/include/gtest/gtest.h ] || want libgtest-dev
	command -v clang >/dev/null || want clang
	ls /usr/lib/llvm-*/lib/LLVMgold.so >/dev/null 2>&1 ||
		want llvm-14-linker-tools
}
need_bench() {
	need_demo
	command -v musl-gcc >/dev/null || want musl-tools
	command -v llvm-ar >/dev/null || want llvm
}
need_test() {
	need_bench
	command -v ninja >/dev/null || want ninja-build
	command -v meson >/dev/null || want meson
	command -v autoreconf >/dev/null || want autoconf
	command -v automake >/dev/null || want automake
	command -v libtoolize >/dev/null || want libtool
	command -v aarch64-linux-gnu-g++ >/dev/null || want g++-aarch64-linux-gnu
	command -v qemu-aarch64-static >/dev/null || want qemu-user-static
	command -v clang-tidy >/dev/null || want clang-tidy
	command -v cppcheck >/dev/null || want cppcheck
}
need_fuzz() {
	command -v clang++ >/dev/null || want clang
	ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-*.a \
		>/dev/null 2>&1 || want libclang-rt-dev
}
for use; do
	case $use in
	demo | bench | test | fuzz) "need_$use" ;;
	*) echo "usage: $0 {demo|bench|test|fuzz}..." >&2; exit 2 ;;
	esac
done
[ -n "$missing" ] || exit 0

if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null; then
	echo "missing:$missing; as root, run:" >&2
	echo "apt-get update && apt-get install -y$missing" >&2
	exit 1
fi
echo "== installing:$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086 # one word per package
apt-get install -y -qq $missing >/dev/null
