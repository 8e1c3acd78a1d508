# What `cmake --install` puts under a prefix, how other projects find the
# library there (su55ifConfig.cmake, su55if.pc), and the packages CPack makes
# of it (.tar.gz on Linux, .zip from the Windows build). Debian's packages are
# built from debian/ instead (tests/packages/debian.sh), with the library in
# the multiarch folder that debhelper gives as CMAKE_INSTALL_LIBDIR.
#
#   lib/libsu55if.so.X.Y.Z, .so.X, .so         (Windows: bin/su55if.dll,
#                                                lib/su55if.lib, lib/su55if.dll.a, lib/su55if.def)
#   include/su55if.h, include/su55if_version.h
#   lib/cmake/su55if/su55ifConfig*.cmake        find_package(su55if)
#   lib/pkgconfig/su55if.pc                     pkg-config su55if
#   share/su55if/procedures.json                the nine procedures' arguments
#   bin/su55if-host, share/man/man1/su55if-host.1   (tools/CMakeLists.txt; the
#                                                manual page when it was built)
#   share/su55if/designer/                      the cycle designer: from the
#                                                wasm build (designer/CMakeLists.txt);
#                                                in the Windows .zip when one
#                                                was built (below)
#   share/doc/su55if/                           README, CHANGELOG, LICENSE,
#                                                docs/*.md, examples/: laid out
#                                                as in the sources, so that the
#                                                README's links hold
include(CMakePackageConfigHelpers)

set(SU55IF_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/su55if)

install(TARGETS su55if EXPORT su55ifTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(WIN32)
  # su55if.lib for Microsoft's linker, and su55if.def for toolchains that
  # make their own import library.
  install(FILES $<TARGET_FILE_DIR:su55if>/su55if.lib $<TARGET_FILE_DIR:su55if>/su55if.def
          DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/include/su55if.h ${PROJECT_BINARY_DIR}/include/su55if_version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/su55if_procedures.json
  DESTINATION ${CMAKE_INSTALL_DATADIR}/su55if RENAME procedures.json)
install(FILES README.md CHANGELOG.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs DESTINATION ${CMAKE_INSTALL_DOCDIR} FILES_MATCHING PATTERN "*.md" PATTERN "*.png")
install(DIRECTORY examples DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The install and the packages (the Windows .zip too) carry the cycle
# designer that a wasm build made (`cmake --workflow --preset wasm` first):
# its files are taken as they are when they are installed, and left out when
# there are none. The page is the same for every system, so it is built once.
if(NOT EMSCRIPTEN)
  include(${PROJECT_SOURCE_DIR}/designer/page_files.cmake)
  set(SU55IF_DESIGNER_BUILT ${PROJECT_SOURCE_DIR}/build/wasm/designer
      CACHE PATH "A wasm build's designer folder, whose page the Windows package carries when it is there")
  list(TRANSFORM SU55IF_DESIGNER_FILES PREPEND ${SU55IF_DESIGNER_BUILT}/ OUTPUT_VARIABLE designer_files)
  install(FILES ${designer_files} OPTIONAL DESTINATION ${CMAKE_INSTALL_DATADIR}/su55if/designer)
endif()

# find_package(su55if): the imported target su55if::su55if.
install(EXPORT su55ifTargets NAMESPACE su55if:: DESTINATION ${SU55IF_INSTALL_CMAKEDIR})
configure_package_config_file(cmake/su55ifConfig.cmake.in ${PROJECT_BINARY_DIR}/su55ifConfig.cmake
  INSTALL_DESTINATION ${SU55IF_INSTALL_CMAKEDIR})
# The library's ABI changes only with the major version.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/su55ifConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/su55ifConfig.cmake ${PROJECT_BINARY_DIR}/su55ifConfigVersion.cmake
  DESTINATION ${SU55IF_INSTALL_CMAKEDIR})

# pkg-config su55if. The prefix is found from where su55if.pc lies, so the
# file is right under whatever prefix `cmake --install --prefix` chose.
file(RELATIVE_PATH SU55IF_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" SU55IF_PC_TO_PREFIX "${SU55IF_PC_TO_PREFIX}")
configure_file(cmake/su55if.pc.in ${PROJECT_BINARY_DIR}/su55if.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/su55if.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(NOT PROJECT_IS_TOP_LEVEL)
  return()
endif()

# Packages: `cpack --preset default` (build/default/packages/), `cpack
# --preset windows` (build/windows/packages/).
set(CPACK_PACKAGE_NAME su55if)
set(CPACK_PACKAGE_VENDOR "the su55if developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "A shared library of nine C procedures that a dynamic process simulator loads to define and time a cyclic stage schedule, with the command-line host su55if-host that drives it offline.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_GENERATOR TGZ)
endif()
include(CPack)
