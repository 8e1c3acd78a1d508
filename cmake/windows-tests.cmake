# Tests of the Windows cross-build: every test program runs under Wine, and
# GoogleTest is built for the target from Debian's sources.

find_program(SU55IF_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
find_program(SU55IF_WINESERVER NAMES wineserver PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(NOT SU55IF_WINE OR NOT SU55IF_WINESERVER)
  message(FATAL_ERROR "wine64 or wineserver not found: run scripts/setup --windows, or configure with -DSU55IF_BUILD_TESTS=OFF")
endif()

# build/windows/wine-run PROGRAM ARGS...: runs a program of this build under
# Wine, in a Wine prefix of its own (build/windows/wine). ctest runs every test
# program through it.
set(SU55IF_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE
               @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)

# Making the prefix takes seconds, longer than test discovery may: make it now.
if(NOT EXISTS ${SU55IF_WINE_PREFIX}/system.reg)
  message(STATUS "Making the Wine prefix ${SU55IF_WINE_PREFIX}")
  execute_process(COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot --init
                  RESULT_VARIABLE wineboot_result OUTPUT_QUIET ERROR_QUIET TIMEOUT 300)
  if(NOT wineboot_result EQUAL 0)
    message(FATAL_ERROR "wineboot failed (${wineboot_result})")
  endif()
endif()

set(SU55IF_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources (Debian package googletest)")
if(NOT EXISTS ${SU55IF_GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${SU55IF_GTEST_SOURCE_DIR}: run scripts/setup --windows")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${SU55IF_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(target gtest gtest_main gmock gmock_main)
  # Third-party code: not held to this project's warning set.
  set_target_properties(${target} PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
  target_compile_options(${target} PRIVATE -w)
endforeach()
