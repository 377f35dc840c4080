# Cross build for 32-bit Windows with Debian's MinGW-w64 (i686, posix thread
# model: the win32 model of libstdc++ has no std::mutex or std::thread).
#
#   cmake -S . -B build/windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake
#
# Programs built here run under Wine (the emulator below), which is how
# ctest runs the tests in this build.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(ORQ_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${ORQ_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORQ_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ORQ_MINGW_PREFIX}-windres)
set(CMAKE_AR ${ORQ_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${ORQ_MINGW_PREFIX}-ranlib CACHE FILEPATH "")
set(CMAKE_NM ${ORQ_MINGW_PREFIX}-nm CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${ORQ_MINGW_PREFIX}-objdump CACHE FILEPATH "")
set(CMAKE_DLLTOOL ${ORQ_MINGW_PREFIX}-dlltool CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${ORQ_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ runtimes (libgcc, libstdc++, winpthreads) are linked
# statically, so the DLLs and programs need nothing beside them but system
# DLLs and XSRClient.dll.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
