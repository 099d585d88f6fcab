# Toolchain file: cross-build the programs for 64-bit Arm Linux with
# Debian's g++-aarch64-linux-gnu.
#   cmake -S . -B build-aarch64 --toolchain cmake/aarch64.cmake -DVEK_STATIC=ON
#
# Static, the programs need no aarch64 library at run time, so the normal
# build's end-to-end and installed-tree tests run them on an x86-64 host
# under qemu-user (see scripts/test.sh).  GoogleTest and the benchmarks are
# not built: there is no GoogleTest for the target here.  When
# qemu-aarch64-static is installed, configure-time checks that run a
# program (static PIE) run it there.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
find_program(VEK_QEMU_AARCH64 qemu-aarch64-static)
if(VEK_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${VEK_QEMU_AARCH64}")
endif()
