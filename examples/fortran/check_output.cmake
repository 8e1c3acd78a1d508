# Runs PROGRAM (through RUNNER, if given) and compares its standard output
# with the file EXPECTED, line ends aside; fails on any difference or on a
# non-zero exit.
# cmake -DPROGRAM=... [-DRUNNER=...] -DEXPECTED=... -P check_output.cmake
execute_process(COMMAND ${RUNNER} ${PROGRAM}
                OUTPUT_VARIABLE actual ERROR_VARIABLE errors RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} ended with ${result}\n${errors}\n${actual}")
endif()
file(READ ${EXPECTED} expected)
string(REPLACE "\r\n" "\n" actual "${actual}")
if(NOT actual STREQUAL expected)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/actual_output.txt "${actual}")
  message(FATAL_ERROR "Output differs from ${EXPECTED}:\n${actual}\n"
                      "(written to ${CMAKE_CURRENT_BINARY_DIR}/actual_output.txt)")
endif()
message(STATUS "Output as expected")
