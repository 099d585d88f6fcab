# Fails unless PROGRAM needs nothing at run time but the C library (nothing
# at all when static) and, with HARDEN, carries each property of the table
# below, read from its ELF headers.  STATIC says which PROGRAM should be;
# with VEK_TEST_PROGRAM_DIR set, the program of the same name there is
# checked instead (another build's, say the static musl one), and whether
# it is static is taken from the program itself.  GENERIC: built with
# VEK_GENERIC_POSIX.
set(expect_static "${STATIC}")
if(DEFINED ENV{VEK_TEST_PROGRAM_DIR})
  get_filename_component(name "${PROGRAM}" NAME)
  set(PROGRAM "$ENV{VEK_TEST_PROGRAM_DIR}/${name}")
  set(expect_static "")
endif()
execute_process(COMMAND readelf -W -h -l -d -s "${PROGRAM}"
  OUTPUT_VARIABLE elf RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "readelf failed on ${PROGRAM}")
endif()

set(faults "")
string(FIND "${elf}" "Requesting program interpreter" interp)
set(is_static OFF)
if(interp EQUAL -1)
  set(is_static ON)
endif()
if(NOT expect_static STREQUAL "" AND NOT is_static STREQUAL expect_static)
  list(APPEND faults "static is ${is_static}, expected ${expect_static}")
endif()
string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]]*\\]" needed "${elf}")
foreach(entry ${needed})
  string(REGEX REPLACE ".*\\[([^]]*)\\]" "\\1" lib "${entry}")
  if(is_static OR NOT lib MATCHES "^libc\\.so")
    list(APPEND faults "needs ${lib}")
  endif()
endforeach()
if(NOT is_static AND NOT needed)
  list(APPEND faults "dynamic, but needs no C library")
endif()

# Property, then what readelf shows for it.  Lazy binding needs a dynamic
# section; a static program linked at a fixed address has none.
set(checks
  "position independent (PIE or static PIE)" "Type: +DYN "
  "read-only relocations (GNU_RELRO)" "\n +GNU_RELRO "
  "non-executable stack" "\n +GNU_STACK( +0x[0-9a-f]+)+ +RW +0x"
  "stack protector" " __stack_chk_(fail|guard)[@\n]")
if(NOT elf MATCHES "no dynamic section")
  list(APPEND checks "BIND_NOW" "\\(FLAGS(_1)?\\)[^\n]*NOW")
endif()
if(HARDEN)
  while(checks)
    list(POP_FRONT checks what pattern)
    if(NOT elf MATCHES "${pattern}" AND (PIE OR NOT what MATCHES "^position"))
      list(APPEND faults "not ${what}")
    endif()
  endwhile()
endif()
# Built with the portable branch of every host shim, a program calls
# none of Linux's own.
if(GENERIC)
  string(REGEX MATCHALL " UND (syscall|openat2|mremap|getauxval)[@\n]"
    own "${elf}")
  list(REMOVE_DUPLICATES own)
  foreach(call ${own})
    string(REGEX REPLACE " UND ([a-z0-9]*).*" "\\1" call "${call}")
    list(APPEND faults "calls ${call}")
  endforeach()
endif()
if(faults)
  string(REPLACE ";" "; " faults "${faults}")
  message(FATAL_ERROR "${PROGRAM}: ${faults}")
endif()
