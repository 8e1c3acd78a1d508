# Cross-builds su55if.dll, its import library and the tests for 64-bit
# Windows with Debian's MinGW-w64 compilers (g++-mingw-w64-x86-64-posix).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SU55IF_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SU55IF_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SU55IF_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${SU55IF_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SU55IF_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs carry libgcc, libstdc++ and winpthread inside them, so that they run
# (under Wine too) with nothing but Windows' own DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# The Fortran example is cross-built too where Debian's MinGW-w64 Fortran
# compiler (gfortran-mingw-w64-x86-64-posix) is installed.
find_program(SU55IF_MINGW_FORTRAN ${SU55IF_MINGW_TRIPLET}-gfortran-posix)
if(SU55IF_MINGW_FORTRAN)
  set(CMAKE_Fortran_COMPILER ${SU55IF_MINGW_FORTRAN})
endif()
