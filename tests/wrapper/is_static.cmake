# Fails unless PROGRAM is static: no dynamic section, so no loader and no
# shared library to find at run time.
execute_process(COMMAND readelf -d ${PROGRAM} OUTPUT_VARIABLE dyn
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "readelf failed on ${PROGRAM}")
endif()
if(NOT dyn MATCHES "no dynamic section")
  message(FATAL_ERROR "${PROGRAM} is dynamic:\n${dyn}")
endif()
