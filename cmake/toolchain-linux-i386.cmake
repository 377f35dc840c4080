# Cross build for 32-bit Linux (i686) with Debian's cross compiler (package
# g++-i686-linux-gnu), run under user-mode emulation (qemu-i386, package
# qemu-user) on machines that cannot run 32-bit programs themselves:
#
#   cmake -S . -B build/linux-i386 -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-linux-i386.cmake
#
# What is 32-bit here runs as 32-bit code: records with 4-byte pointers,
# the word-wise text scans on 4-byte words, 64-bit atomics on a 32-bit
# machine, 32-bit `long`. cmake/linux-i386.cmake sets up the emulation
# (docs/linux-i386.md).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ORQ_I386_TRIPLET i686-linux-gnu)

set(CMAKE_C_COMPILER ${ORQ_I386_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ORQ_I386_TRIPLET}-g++)
set(CMAKE_AR ${ORQ_I386_TRIPLET}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${ORQ_I386_TRIPLET}-ranlib CACHE FILEPATH "")
set(CMAKE_NM ${ORQ_I386_TRIPLET}-nm CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${ORQ_I386_TRIPLET}-objdump CACHE FILEPATH "")

# The cross compiler's own sysroot: its glibc and libstdc++ are what the
# programs load at run time too (cmake/linux-i386.cmake).
set(ORQ_I386_SYSROOT /usr/${ORQ_I386_TRIPLET})
set(CMAKE_FIND_ROOT_PATH ${ORQ_I386_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# 64-bit file offsets: a 64-bit kernel (and the emulator on one) hands out
# 64-bit directory offsets, which 32-bit readdir refuses with EOVERFLOW.
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")

# Programs run (and their test cases are listed) through qemu-run.sh with
# the loader prefix the build makes (cmake/linux-i386.cmake).
get_filename_component(ORQ_I386_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR
    sh ${ORQ_I386_SOURCE_DIR}/tests/linux-i386/qemu-run.sh ${CMAKE_BINARY_DIR}/qemu-root)
