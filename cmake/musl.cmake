# Toolchain file: build the programs against musl, as Debian's musl-tools
# installs it.
#   cmake -S . -B build-musl --toolchain cmake/musl.cmake -DVEK_STATIC=ON
#
# musl-gcc is gcc with a specs file that swaps glibc's headers, start files
# and library for musl's.  The C++ sources include only C headers and the
# programs link no C++ runtime, so g++ with (a copy of) the same specs file
# compiles them, and gcc with it links them.  There is no C++ standard library for
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

# musl's specs file knows no -static-pie: it starts such a program with
# the dynamic start file and asks for the loader.  A copy in the build
# directory starts it with the self-relocating rcrt1.o and links it static
# without a loader; all else stays as musl-gcc has it.  gcc itself then
# drives both languages (musl-gcc would put its own specs file last).
file(READ "${VEK_MUSL_SPECS}" vek_specs)
string(REGEX REPLACE "%{!shared: ([^ }]*)Scrt1\\.o}"
  "%{static-pie:\\1rcrt1.o} %{!static-pie:%{!shared:\\1Scrt1.o}}"
  vek_specs "${vek_specs}")
string(REGEX REPLACE "(-dynamic-linker [^ \n]*)" "%{!static-pie:\\1}"
  vek_specs "${vek_specs}")
string(REPLACE "%{static:-static}"
  "%{static:-static} %{static-pie:-static -pie --no-dynamic-linker -z text}"
  vek_specs "${vek_specs}")
set(vek_derived_specs "${CMAKE_BINARY_DIR}/musl-gcc.specs")
file(CONFIGURE OUTPUT "${vek_derived_specs}" CONTENT "${vek_specs}" @ONLY)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-specs=${vek_derived_specs}")
set(CMAKE_CXX_FLAGS_INIT "-specs=${vek_derived_specs}")
set(VEK_LIBC musl)
