# Cross build for 64-bit Windows with Debian's MinGW-w64 (x86-64, posix
# thread model; package g++-mingw-w64-x86-64-posix).
#
#   cmake -S . -B build/windows64 -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
#
# Programs built here run under Wine's 64-bit loader (wine64, package
# wine64), which needs no 32-bit support from the machine; ctest runs the
# tests in this build that way (tests/windows/wine-run.sh).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ORQ_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)

# Debian installs the 64-bit loader outside PATH.
find_program(ORQ_WINE64 wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(ORQ_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ORQ_WINE64})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR wine64)
endif()
