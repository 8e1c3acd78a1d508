# One command-line test: runs su55if-host with the arguments of a case file
# in the examples folder and compares its exit code, standard output and
# standard error with what the case expects.
#
#   cmake -DHOST=path/to/su55if-host -DCASE=tests/cli/NAME.case -DROOT=source-dir -P run_case.cmake
#
# A case file holds lines `args: ...` (the arguments, split at blanks),
# `exit: N`, and `stdout: FILE` and `stderr: FILE` naming files of the
# sources that hold the expected text; an output with no such line must be
# empty. Lines beginning with '#' say what the case checks.
file(STRINGS ${CASE} lines)
set(args "")
set(expected_exit 0)
set(expected_stdout "")
set(expected_stderr "")
foreach(line IN LISTS lines)
  if(line MATCHES "^args:[ ]*(.*)$")
    separate_arguments(args UNIX_COMMAND "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^exit:[ ]*([0-9]+)$")
    set(expected_exit ${CMAKE_MATCH_1})
  elseif(line MATCHES "^(stdout|stderr):[ ]*(.+)$")
    file(READ ${ROOT}/${CMAKE_MATCH_2} expected_${CMAKE_MATCH_1})
  endif()
endforeach()

execute_process(COMMAND ${HOST} ${args}
  WORKING_DIRECTORY ${ROOT}/examples
  RESULT_VARIABLE exit_code OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(failed FALSE)
if(NOT exit_code STREQUAL expected_exit)
  message("exit code ${exit_code}, expected ${expected_exit}")
  set(failed TRUE)
endif()
foreach(stream stdout stderr)
  if(stream STREQUAL stdout)
    set(actual "${out}")
  else()
    set(actual "${err}")
  endif()
  if(NOT actual STREQUAL expected_${stream})
    message("${stream} differs (tools/update-examples regenerates the examples' outputs):\n"
            "--- expected\n${expected_${stream}}\n--- actual\n${actual}")
    set(failed TRUE)
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "${CASE}: su55if-host ${args}")
endif()
