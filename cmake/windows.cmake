# Windows builds (MinGW-w64 cross builds): 32-bit with
# cmake/toolchain-mingw32.cmake, 64-bit with cmake/toolchain-mingw64.cmake.
# How the XSRClient DLLs export the five XSR_ functions and how ORQExtClient
# imports them, and GoogleTest built from Debian's source package. Everything
# here serves both targets; ORQ_WINDOWS_ARCH tells them apart where needed.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(ORQ_WINDOWS_ARCH win32)
elseif(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(ORQ_WINDOWS_ARCH win64)
else()
  message(FATAL_ERROR "Windows target with ${CMAKE_SIZEOF_VOID_P}-byte pointers: "
                      "use cmake/toolchain-mingw32.cmake or cmake/toolchain-mingw64.cmake")
endif()

# --- The five XSR_ functions ------------------------------------------------
# They travel undecorated ("XSR_CommandEx", not "XSR_CommandEx@56"), the way
# the server's own XSRClient.dll exports them, so that it can be put beside
# ORQExtClient.dll in place of ours. On 32-bit Windows they are stdcall: our
# XSRClient DLLs export them through cmake/XSRClient.def with --kill-at, and
# ORQExtClient imports them through an import library that dlltool makes
# from the same file (the linker's own import library of a --kill-at DLL has
# only the undecorated symbols, which stdcall callers cannot link against).
# 64-bit Windows has one calling convention and no decoration: there the
# same file is used with the @n suffixes dropped (xsr-import/XSRClient.def).
set(ORQ_XSR_DEF_SOURCE ${CMAKE_SOURCE_DIR}/cmake/XSRClient.def)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ORQ_XSR_DEF_SOURCE})
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/xsr-import)
if(ORQ_WINDOWS_ARCH STREQUAL "win32")
  set(ORQ_XSR_DEF ${ORQ_XSR_DEF_SOURCE})
else()
  set(ORQ_XSR_DEF ${CMAKE_BINARY_DIR}/xsr-import/XSRClient.def)
  file(STRINGS ${ORQ_XSR_DEF_SOURCE} lines REGEX "^(LIBRARY|EXPORTS| +XSR_)")
  set(def "")
  foreach(l IN LISTS lines)
    string(REGEX REPLACE "^( +XSR_[A-Za-z]+)@[0-9]+" "\\1" l "${l}")
    string(APPEND def "${l}\n")
  endforeach()
  include(${CMAKE_SOURCE_DIR}/cmake/write-if-changed.cmake)
  orq_write_if_changed(${ORQ_XSR_DEF} "${def}")
endif()
# dlltool writes the same library again for the same input and output path;
# it is made beside the one in use and put in place only when it differs, so
# a new configure relinks nothing.
set(ORQ_XSR_IMPLIB ${CMAKE_BINARY_DIR}/xsr-import/libXSRClient-import.a)
set(fresh ${CMAKE_BINARY_DIR}/xsr-import/fresh/libXSRClient-import.a)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/xsr-import/fresh)
execute_process(
  COMMAND ${CMAKE_DLLTOOL} --input-def ${ORQ_XSR_DEF} --dllname XSRClient.dll --kill-at
          --output-lib ${fresh}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "dlltool could not make the XSRClient import library")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${fresh} ${ORQ_XSR_IMPLIB}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not put the XSRClient import library in place")
endif()
add_library(xsr_import INTERFACE)
target_link_libraries(xsr_import INTERFACE ${ORQ_XSR_IMPLIB})

target_link_libraries(orq_objs PUBLIC xsr_import)
target_link_libraries(ORQExtClient PRIVATE xsr_import)

# DLL names without the "lib" prefix of the MinGW defaults: ORQExtClient.dll,
# XSRClient.dll.
set_target_properties(ORQExtClient XSRClient PROPERTIES PREFIX "")

# The stand-in: beside ORQExtClient.dll and the example program, the way an
# application ships them. Winsock for its networked form.
target_link_options(XSRClient PRIVATE ${ORQ_XSR_DEF} -Wl,--kill-at)
set_property(TARGET XSRClient APPEND PROPERTY LINK_DEPENDS ${ORQ_XSR_DEF})
target_link_libraries(XSRClient PRIVATE ws2_32)
set_target_properties(XSRClient PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# The recording XSRClient (docs/trace.md): exports the same five names, and
# is put in a folder of its own (build/record) so that it is only used where
# it is copied beside a program, with the real XSRClient.dll beside it as
# XSRClient-real.dll.
set_target_properties(XSRClientRecorder PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/record)
target_link_options(XSRClientRecorder PRIVATE ${ORQ_XSR_DEF} -Wl,--kill-at)
set_property(TARGET XSRClientRecorder APPEND PROPERTY LINK_DEPENDS ${ORQ_XSR_DEF})

# The test double also exports its own C++ control functions to the tests,
# but nothing of the static runtime libraries. It is put beside the test
# programs (build/tests), where Windows looks first for the DLLs a program
# needs, so they never pick up the stand-in whatever the current directory.
if(TARGET XSRClientDouble)
  set_target_properties(XSRClientDouble PROPERTIES PREFIX ""
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_options(XSRClientDouble PRIVATE ${ORQ_XSR_DEF}
                      -Wl,--kill-at,--export-all-symbols,--exclude-libs,ALL)
  set_property(TARGET XSRClientDouble APPEND PROPERTY LINK_DEPENDS ${ORQ_XSR_DEF})
endif()

# --- Tests ------------------------------------------------------------------
# Folders of tests/unit that do not build or run on Windows (POSIX-only).
set(ORQ_WINDOWS_SKIP_UNIT_AREAS "" CACHE STRING "tests/unit folders left out of the Windows build")

if(ORQ_BUILD_TESTS)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  include(${CMAKE_SOURCE_DIR}/cmake/googletest-source.cmake)
endif()

# --- Version resources --------------------------------------------------------
# ORQExtClient.dll and XSRClient.dll carry the project's version (file and
# product version, description, product name), compiled by the MinGW
# resource compiler from cmake/version.rc.in.
enable_language(RC)
function(orq_version_resource target description)
  set(ORQ_RC_NAME ${target})
  set(ORQ_RC_FILE ${target}.dll)
  set(ORQ_RC_DESCRIPTION "${description}")
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${CMAKE_BINARY_DIR}/version-rc/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/version-rc/${target}.rc)
endfunction()
orq_version_resource(ORQExtClient "Client library for the extension-module layer of a full-text search server")
orq_version_resource(XSRClient "XSRClient stand-in of ORQExtClient: the five XSR_ functions over TCP")
