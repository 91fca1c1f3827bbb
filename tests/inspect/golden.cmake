# Runs rekmo-inspect (through EMULATOR when cross-built) in SOURCE and
# compares its standard output with the file EXPECTED. Windows writes line
# ends as CR LF on its standard output; they compare as LF.
#   cmake -DPROGRAM=... -DEMULATOR=... -DSOURCE=... -DEXPECTED=... -DARGS=a|b|c -P golden.cmake
string(REPLACE "|" ";" args "${ARGS}")
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${args}
                WORKING_DIRECTORY ${SOURCE}
                OUTPUT_VARIABLE out
                RESULT_VARIABLE status)
string(REPLACE "\r\n" "\n" out "${out}")
file(READ ${EXPECTED} expected)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "rekmo-inspect exited with ${status}")
endif()
if(NOT out STREQUAL expected)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/inspect_golden.out "${out}")
  message(FATAL_ERROR "output differs from ${EXPECTED}; it is in ${CMAKE_CURRENT_BINARY_DIR}/inspect_golden.out")
endif()
