# The 32-bit Linux build (cmake/toolchain-linux-i386.cmake): its programs
# run under qemu-i386 with a loader prefix of this build's own, and the
# programs the tests start are started through launchers. GoogleTest is
# compiled from Debian's source package for the target.

# --- The loader prefix ---------------------------------------------------------
# qemu-i386 -L ROOT looks up the files a program opens under ROOT first. The
# loader and libc must come from the same glibc build: a loader from one and
# a libc from another (the cross sysroot beside the machine's own i386
# multiarch libraries, e.g. Wine's) leaves every fork child and every new
# thread spinning in libc. So ROOT has the loader and both library folders
# pointing into the cross compiler's sysroot, and an empty ld.so.cache so
# that the loader finds nothing the machine's cache lists.
set(ORQ_QEMU_ROOT ${CMAKE_BINARY_DIR}/qemu-root)
set(ORQ_QEMU_RUN ${CMAKE_SOURCE_DIR}/tests/linux-i386/qemu-run.sh)
file(MAKE_DIRECTORY ${ORQ_QEMU_ROOT}/lib ${ORQ_QEMU_ROOT}/usr/lib ${ORQ_QEMU_ROOT}/etc)
set(sysroot_lib ${ORQ_I386_SYSROOT}/lib)
if(NOT EXISTS ${sysroot_lib}/ld-linux.so.2)
  message(FATAL_ERROR "no 32-bit loader in ${sysroot_lib} (install g++-i686-linux-gnu)")
endif()
file(CREATE_LINK ${sysroot_lib}/ld-linux.so.2 ${ORQ_QEMU_ROOT}/lib/ld-linux.so.2 SYMBOLIC)
file(CREATE_LINK ${sysroot_lib} ${ORQ_QEMU_ROOT}/lib/i386-linux-gnu SYMBOLIC)
file(CREATE_LINK ${sysroot_lib} ${ORQ_QEMU_ROOT}/usr/lib/i386-linux-gnu SYMBOLIC)
if(NOT EXISTS ${ORQ_QEMU_ROOT}/etc/ld.so.cache)
  file(WRITE ${ORQ_QEMU_ROOT}/etc/ld.so.cache "")
endif()

# --- Launchers -------------------------------------------------------------------
# A test that starts a program of this build (xsr-sim, orqext, an example)
# gets a launcher script in its place; see orq_program_path in
# CMakeLists.txt.
set(ORQ_PROGRAM_LAUNCHER_DIR ${CMAKE_BINARY_DIR}/launch)

# --- GoogleTest ------------------------------------------------------------------
if(ORQ_BUILD_TESTS)
  include(${CMAKE_SOURCE_DIR}/cmake/googletest-source.cmake)
endif()

# --- The 64-bit server -------------------------------------------------------------
# With the xsr-sim of a native build, the end-to-end suite and the examples
# also run against it (tests/e2e).
set(ORQ_NATIVE_XSR_SIM "" CACHE FILEPATH "xsr-sim of a native 64-bit build, for the end-to-end tests")
