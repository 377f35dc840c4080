# GoogleTest compiled from Debian's source package (libgtest-dev) with the
# build's own compiler, for the cross builds (cmake/windows.cmake,
# cmake/linux-i386.cmake), which cannot link the machine's prebuilt
# libraries. GoogleTest uses POSIX threads unless gtest_disable_pthreads is
# set before this file is included.
set(ORQ_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources (Debian: libgtest-dev)")
if(NOT EXISTS ${ORQ_GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${ORQ_GTEST_SOURCE_DIR} (install libgtest-dev)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${ORQ_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
if(ORQ_TEST_DEBUG_FLAG)  # ORQ_TEST_DEBUG_INFO, in the root CMakeLists.txt
  foreach(t gtest gtest_main gmock gmock_main)
    target_compile_options(${t} PRIVATE ${ORQ_TEST_DEBUG_FLAG})
  endforeach()
endif()
