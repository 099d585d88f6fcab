# Toolchain file: build the programs against musl, as Debian's musl-tools
# installs it.
#   cmake -S . -B build-musl --toolchain cmake/musl.cmake -DVEK_STATIC=ON
#
# musl-gcc is gcc with a specs file that swaps glibc's headers, start files
# and library for musl's.  The C++ sources include only C headers and the
# programs link no C++ runtime, so g++ with the same specs file compiles
# them, and the C driver links them.  There is no C++ standard library for
# musl here, so nothing that needs one (GoogleTest, the benchmarks) can be
# built: VEK_LIBC tells the project so.
find_program(VEK_MUSL_GCC musl-gcc)
if(NOT VEK_MUSL_GCC)
  message(FATAL_ERROR "musl-gcc not found (Debian: apt-get install musl-tools)")
endif()
file(GLOB vek_musl_specs
  /usr/lib/*-linux-musl/musl-gcc.specs /usr/lib/musl/lib/musl-gcc.specs
  /usr/local/musl/lib/musl-gcc.specs)
list(GET vek_musl_specs 0 vek_musl_first_specs)
set(VEK_MUSL_SPECS "${vek_musl_first_specs}" CACHE FILEPATH
    "musl-gcc's specs file, for compiling C++ against musl")
if(NOT EXISTS "${VEK_MUSL_SPECS}")
  message(FATAL_ERROR "musl-gcc.specs not found; set VEK_MUSL_SPECS")
endif()

set(CMAKE_C_COMPILER "${VEK_MUSL_GCC}")
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_CXX_FLAGS_INIT "-specs=${VEK_MUSL_SPECS}")
set(VEK_LIBC musl)
