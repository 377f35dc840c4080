# Installation (cmake --install) and packages (cpack); docs/packaging.md.
#
# Components:
#   runtime      the library and the XSRClient stand-in it loads
#   double       the scripted XSRClient for applications' tests (Linux)
#   development  headers, link names, import library and .def (Windows),
#                CMake package, pkg-config files, the test double (Linux)
#   tools        orqext and xsr-sim (Linux)
#   recorder     the recording XSRClient, in a folder of its own
#                (lib/ORQExtClient/record on Linux, record\ on Windows), so
#                that it never takes the place of libXSRClient.so unasked
#   docs         README, docs/, every example and, where scripts/test-docs.sh
#                built it into this build (docs/reference), the HTML reference
#   dotnet       the .NET assembly ORQExtClient.Net.dll, where Mono's mcs
#                is found (cmake/dotnet.cmake)
# The packages are built from what the build already made: build first,
# then install or run cpack.
include(CMakePackageConfigHelpers)
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(ORQ_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ORQExtClient)
if(WIN32)
  set(ORQ_DOC_DIR docs)
  set(ORQ_EXAMPLE_DIR examples)
else()
  set(ORQ_DOC_DIR ${CMAKE_INSTALL_DOCDIR})
  set(ORQ_EXAMPLE_DIR ${CMAKE_INSTALL_DOCDIR}/examples)
  set(ORQ_RECORDER_DIR ${CMAKE_INSTALL_LIBDIR}/ORQExtClient/record)
endif()

# --- Where installed programs and libraries find their libraries ------------
# The library finds libXSRClient.so beside itself and orqext finds the library
# in ../lib, whatever the prefix: $ORIGIN, never a path of the build machine.
# XSRClient keeps its plain name (SONAME libXSRClient.so), so that the
# server's own client library can be put in its place without relinking.
if(NOT WIN32)
  file(RELATIVE_PATH ORQ_BIN_TO_LIB /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
  set_target_properties(ORQExtClient PROPERTIES INSTALL_RPATH "\$ORIGIN")
  set_target_properties(orqext PROPERTIES INSTALL_RPATH "\$ORIGIN/${ORQ_BIN_TO_LIB}")
endif()

# --- Libraries, headers, programs ------------------------------------------
set(ORQ_LIBRARY_TARGETS ORQExtClient XSRClient)
# orqext_cpp is the header-only C++ layer: ORQExtClient::cpp (its headers are
# installed below).
install(TARGETS ${ORQ_LIBRARY_TARGETS} orqext_cpp EXPORT ORQExtClientTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(FILES exports/orqext.h exports/orqext_results.h ${ORQ_GENERATED_INCLUDE}/orqext_version.h
  cpp/orqext.hpp DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
# The header-only C++ layer beside the C header.
install(DIRECTORY cpp/orqext DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development
  FILES_MATCHING PATTERN "*.hpp")
if(WIN32)
  # The module-definition file of ORQExtClient.dll (undecorated names), from
  # which other toolchains make their own import library.
  install(FILES ${CMAKE_BINARY_DIR}/ORQExtClient.def DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
else()
  install(TARGETS XSRClientDoubleLib EXPORT ORQExtClientTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT double NAMELINK_COMPONENT development)
  install(FILES xsr/double/xsrclient_double.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
  install(TARGETS orqext xsr-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
endif()
# The recording XSRClient is named XSRClient like the library it records: in
# its own folder, put first on the library path (LD_LIBRARY_PATH) or copied
# beside a program (Windows) by whoever wants a trace. No import library:
# nothing links against it.
if(WIN32)
  install(FILES $<TARGET_FILE:XSRClientRecorder> DESTINATION record COMPONENT recorder)
else()
  install(TARGETS XSRClientRecorder LIBRARY DESTINATION ${ORQ_RECORDER_DIR} COMPONENT recorder)
endif()

# --- CMake package and pkg-config files -------------------------------------
install(EXPORT ORQExtClientTargets NAMESPACE ORQExtClient:: DESTINATION ${ORQ_CMAKE_PACKAGE_DIR}
  COMPONENT development)
configure_package_config_file(cmake/pkg/ORQExtClientConfig.cmake.in
  ${CMAKE_BINARY_DIR}/pkg/ORQExtClientConfig.cmake INSTALL_DESTINATION ${ORQ_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/pkg/ORQExtClientConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/pkg/ORQExtClientConfig.cmake ${CMAKE_BINARY_DIR}/pkg/ORQExtClientConfigVersion.cmake
  DESTINATION ${ORQ_CMAKE_PACKAGE_DIR} COMPONENT development)

# The .pc files name their prefix relative to their own folder, so an
# installed tree can be moved (or unpacked from a package anywhere).
file(RELATIVE_PATH ORQ_PC_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" ORQ_PC_PREFIX "${ORQ_PC_PREFIX}")
set(ORQ_PC_FILES orqextclient)
if(NOT WIN32)
  list(APPEND ORQ_PC_FILES orqextclient-double)
endif()
foreach(pc IN LISTS ORQ_PC_FILES)
  configure_file(cmake/pkg/${pc}.pc.in ${CMAKE_BINARY_DIR}/pkg/${pc}.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/pkg/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
    COMPONENT development)
endforeach()

# --- Documentation and examples --------------------------------------------
# Every example; on Windows those that build there (the test double and the
# Python package are not part of the zip).
file(GLOB ORQ_EXAMPLES CONFIGURE_DEPENDS examples/*.c examples/*.cpp examples/*.py examples/*.cs)
if(WIN32)
  install(FILES README.md docs/windows.md docs/dotnet.md DESTINATION ${ORQ_DOC_DIR} COMPONENT docs)
  list(FILTER ORQ_EXAMPLES EXCLUDE REGEX "/(double_test\\.c|[^/]*\\.py)$")
else()
  file(GLOB ORQ_DOCS CONFIGURE_DEPENDS docs/*.md)
  install(FILES README.md ${ORQ_DOCS} DESTINATION ${ORQ_DOC_DIR} COMPONENT docs)
endif()
install(FILES ${ORQ_EXAMPLES} DESTINATION ${ORQ_EXAMPLE_DIR} COMPONENT docs)
# The HTML reference of the exports, when scripts/test-docs.sh has built it
# into this build (its default output for build/release).
install(DIRECTORY ${CMAKE_BINARY_DIR}/docs/reference/html/ DESTINATION ${ORQ_DOC_DIR}/reference
  COMPONENT docs OPTIONAL)

# --- Packages ----------------------------------------------------------------
set(CPACK_PACKAGE_NAME ORQExtClient)
set(CPACK_PACKAGE_VENDOR "ORQExtClient project")
set(CPACK_PACKAGE_CONTACT "ORQExtClient maintainers <orqextclient@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  # One zip: the DLLs (bin), the import library and the .def (lib), the
  # headers (include), the examples, docs/windows.md, docs/dotnet.md, the
  # recording XSRClient.dll (record) and the .NET assembly (bin) where mcs is found.
  # ORQ_WINDOWS_ARCH (cmake/windows.cmake): win32 or win64.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ORQExtClient-${PROJECT_VERSION}-${ORQ_WINDOWS_ARCH})
  set(CPACK_COMPONENTS_ALL runtime development docs recorder)
  if(ORQ_MCS)
    list(APPEND CPACK_COMPONENTS_ALL dotnet)
  endif()
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
else()
  include(cmake/debian.cmake)
endif()
include(CPack)
