# Cross build for 32-bit Windows with Debian's MinGW-w64 (i686, posix thread
# model; package g++-mingw-w64-i686-posix).
#
#   cmake -S . -B build/windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake
#
# Programs built here run under Wine's 32-bit loader (wine), which is how
# ctest runs the tests in this build (tests/windows/wine-run.sh).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ORQ_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
