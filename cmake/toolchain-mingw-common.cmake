# The part of the MinGW-w64 cross toolchains (cmake/toolchain-mingw32.cmake,
# cmake/toolchain-mingw64.cmake) that does not depend on the target: each
# sets ORQ_MINGW_PREFIX and CMAKE_SYSTEM_PROCESSOR, then includes this file.
# The posix thread model is needed: the win32 model of libstdc++ has no
# std::mutex or std::thread.
set(CMAKE_SYSTEM_NAME Windows)

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
