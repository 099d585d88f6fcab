# Hardening: the compile and link options distributions build their
# packages with, each probed with the compiler and linker at hand rather
# than assumed.  Included by the top-level CMakeLists.txt.  Sets:
#   VEK_STATIC_LINK_OPTION  how VEK_STATIC links the programs: -static-pie
#                           where the toolchain can, else -static
#   VEK_PIE_PROGRAMS        ON when the programs come out position
#                           independent (the link checks want it so)
include(CheckCSourceCompiles)
include(CheckCSourceRuns)
include(CheckCXXCompilerFlag)
include(CheckCXXSourceCompiles)
include(CheckPIESupported)

option(VEK_HARDEN "Build with the hardening compile and link options" ON)

set(VEK_STATIC_LINK_OPTION -static)
set(VEK_PIE_PROGRAMS OFF)
if(NOT VEK_HARDEN)
  return()
endif()

# Position-independent programs, so that their code is randomised too.
check_pie_supported(OUTPUT_VARIABLE vek_pie_output LANGUAGES C CXX)
if(CMAKE_C_LINK_PIE_SUPPORTED AND CMAKE_CXX_LINK_PIE_SUPPORTED)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  set(VEK_PIE_PROGRAMS ON)
endif()

set(vek_hardening "")
set(vek_cpu_flag "")
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(vek_cpu_flag -fcf-protection=full)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(vek_cpu_flag -mbranch-protection=standard)
endif()
# -Werror=format-security means nothing without -Wformat: one probe.
foreach(flag -fstack-protector-strong -fstack-clash-protection ${vek_cpu_flag}
    "-Wformat=2 -Werror=format-security" -ftrivial-auto-var-init=zero)
  string(MAKE_C_IDENTIFIER "VEK_HAVE${flag}" var)
  check_cxx_compiler_flag("${flag}" ${var})
  if(${var})
    separate_arguments(options UNIX_COMMAND "${flag}")
    add_compile_options(${options})
    list(APPEND vek_hardening ${options})
  endif()
endforeach()

# Fortified calls need optimisation (the object sizes come from it) and a
# C library whose headers act on _FORTIFY_SOURCE: glibc 2.34 or later for
# level 3, FreeBSD's <ssp/> headers; musl's do nothing with it.  The probe
# compiles with -O2 and asks the headers what level they took.  Unoptimised
# configurations (Debug, the sanitizer build) go without.
set(vek_fortify "")
foreach(level 3 2)
  set(CMAKE_REQUIRED_FLAGS "-O2 -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=${level}")
  check_cxx_source_compiles("
#include <string.h>
#if defined(__USE_FORTIFY_LEVEL) && __USE_FORTIFY_LEVEL >= ${level}
#elif defined(__SSP_FORTIFY_LEVEL) && __SSP_FORTIFY_LEVEL > 0
#else
#error the C library does not fortify at this level
#endif
int main() { return 0; }" VEK_HAVE_FORTIFY_${level})
  unset(CMAKE_REQUIRED_FLAGS)
  if(VEK_HAVE_FORTIFY_${level})
    set(vek_fortify -D_FORTIFY_SOURCE=${level})
    break()
  endif()
endforeach()
if(vek_fortify)
  set(vek_optimising $<CONFIG:Release,RelWithDebInfo,MinSizeRel>)
  add_compile_options($<${vek_optimising}:-U_FORTIFY_SOURCE>
    $<${vek_optimising}:${vek_fortify}>)
  list(APPEND vek_hardening "${vek_fortify} (optimised builds)")
else()
  message(STATUS "The C library does not fortify calls: no _FORTIFY_SOURCE")
endif()

# The linker warns about an option it does not know and goes on; the probe
# makes that warning fail.
function(vek_check_link_flag flag var)
  set(CMAKE_REQUIRED_LINK_OPTIONS -Wl,--fatal-warnings ${flag})
  check_c_source_compiles("int main(void) { return 0; }" ${var})
endfunction()
foreach(flag -Wl,-z,relro,-z,now -Wl,-z,noexecstack -Wl,--as-needed)
  string(MAKE_C_IDENTIFIER "VEK_HAVE${flag}" var)
  vek_check_link_flag(${flag} ${var})
  if(${var})
    add_link_options(${flag})
    list(APPEND vek_hardening ${flag})
  endif()
endforeach()

# Static programs as static PIE keep their code randomised.  It needs the
# C library's self-relocating start file (rcrt1.o) wired into the driver,
# so the probe runs the result (through the emulator when cross-building)
# and checks that no loader was involved.
if(VEK_STATIC AND VEK_PIE_PROGRAMS)
  set(CMAKE_REQUIRED_FLAGS -fPIE)
  set(CMAKE_REQUIRED_LINK_OPTIONS -static-pie)
  set(vek_probe "
#include <sys/auxv.h>
int main(void) {
#ifdef __FreeBSD__
  unsigned long base = 0;
  elf_aux_info(AT_BASE, &base, sizeof base);
  return base != 0;
#else
  return getauxval(AT_BASE) != 0;
#endif
}")
  if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    check_c_source_compiles("${vek_probe}" VEK_HAVE_STATIC_PIE)
  else()
    check_c_source_runs("${vek_probe}" VEK_HAVE_STATIC_PIE)
  endif()
  unset(CMAKE_REQUIRED_FLAGS)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  if(VEK_HAVE_STATIC_PIE)
    set(VEK_STATIC_LINK_OPTION -static-pie)
    list(APPEND vek_hardening -static-pie)
  else()
    message(STATUS "This toolchain cannot link static PIE programs: "
      "linking -static, at a fixed address")
    set(VEK_PIE_PROGRAMS OFF)
  endif()
elseif(VEK_PIE_PROGRAMS)
  list(APPEND vek_hardening -pie)
endif()
string(REPLACE ";" " " vek_hardening "${vek_hardening}")
message(STATUS "Hardening (VEK_HARDEN): ${vek_hardening}")
