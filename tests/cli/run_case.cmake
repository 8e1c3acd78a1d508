# One command-line test: runs su55if-host with the arguments of a case file
# in the examples folder and compares its exit code, standard output and
# standard error with what the case expects.
#
#   cmake -DHOST=path/to/su55if-host -DCASE=tests/cli/NAME.case -DROOT=source-dir [-DWORK=dir] -P run_case.cmake
#
# A case file holds one or more commands, each a line `args: ...` (the
# arguments, split at blanks; @WORK@ stands for an empty folder of the
# case's own) and, if not 0, `exit: N` after it. `stdout: FILE` and
# `stderr: FILE` name files of the sources that hold what the commands
# write, one after the other; an output with no such line must be empty.
# `written: NAME FILE` compares the file NAME that the commands wrote in
# @WORK@ with FILE of the sources. Lines beginning with '#' say what the case
# checks.
cmake_minimum_required(VERSION 3.25)
file(STRINGS ${CASE} lines)
set(expected_stdout "")
set(expected_stderr "")
set(written "")
if(NOT WORK)
  set(WORK ${CMAKE_CURRENT_BINARY_DIR}/cli-work)
endif()
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

set(out "")
set(err "")
set(failed FALSE)
set(pending FALSE)
# Runs the command read last, if any, and checks its exit code.
macro(run_pending)
  if(pending)
    execute_process(COMMAND ${HOST} ${args}
      WORKING_DIRECTORY ${ROOT}/examples
      RESULT_VARIABLE exit_code OUTPUT_VARIABLE command_out ERROR_VARIABLE command_err)
    string(APPEND out "${command_out}")
    string(APPEND err "${command_err}")
    if(NOT exit_code STREQUAL expected_exit)
      message("su55if-host ${args}: exit code ${exit_code}, expected ${expected_exit}")
      set(failed TRUE)
    endif()
    set(pending FALSE)
  endif()
endmacro()

foreach(line IN LISTS lines)
  if(line MATCHES "^args:[ ]*(.*)$")
    run_pending()
    string(REPLACE "@WORK@" "${WORK}" command "${CMAKE_MATCH_1}")
    separate_arguments(args UNIX_COMMAND "${command}")
    set(expected_exit 0)
    set(pending TRUE)
  elseif(line MATCHES "^exit:[ ]*([0-9]+)$")
    set(expected_exit ${CMAKE_MATCH_1})
  elseif(line MATCHES "^(stdout|stderr):[ ]*(.+)$")
    file(READ ${ROOT}/${CMAKE_MATCH_2} expected_${CMAKE_MATCH_1})
  elseif(line MATCHES "^written:[ ]*([^ ]+)[ ]+(.+)$")
    list(APPEND written "${CMAKE_MATCH_1}=${CMAKE_MATCH_2}")
  endif()
endforeach()
run_pending()

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
foreach(pair IN LISTS written)
  string(REGEX MATCH "^([^=]+)=(.+)$" _ "${pair}")
  set(name ${CMAKE_MATCH_1})
  set(expected_file ${CMAKE_MATCH_2})
  if(NOT EXISTS ${WORK}/${name})
    message("${name} was not written")
    set(failed TRUE)
  else()
    file(READ ${WORK}/${name} actual)
    file(READ ${ROOT}/${expected_file} expected)
    if(NOT actual STREQUAL expected)
      message("${name} differs from ${expected_file}:\n--- actual\n${actual}")
      set(failed TRUE)
    endif()
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "${CASE} failed")
endif()
