# Debian packages from the Linux build (cpack in the build directory; the
# packages land in packages/), split the Debian way:
#   liborqextclient1      libORQExtClient.so.1 and libXSRClient.so
#   libxsrclientdouble1   libXSRClientDouble.so.1, the test double
#   liborqextclient-dev   headers, link names, CMake and pkg-config files,
#                         the docs and examples
#   orqextclient-tools    orqext, xsr-sim and the recording XSRClient
#                         (/usr/lib/ORQExtClient/record/libXSRClient.so)
# Dependencies on system libraries come from dpkg-shlibdeps; the library
# packages state their shlibs so that other packages depend on them right.
# What lintian still reports is explained in docs/packaging.md.
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(ORQ_DEB_PACKAGES
  runtime liborqextclient${PROJECT_VERSION_MAJOR}
  double libxsrclientdouble${PROJECT_VERSION_MAJOR}
  dev liborqextclient-dev
  tools orqextclient-tools)
set(ORQ_DEB_RUNTIME liborqextclient${PROJECT_VERSION_MAJOR})
set(ORQ_DEB_DEPENDS_ON_RUNTIME "${ORQ_DEB_RUNTIME} (= ${PROJECT_VERSION})")

# Components of each package (group); deb_<group> holds its copyright and
# changelog, installed only into the packages.
set(ORQ_DEB_runtime_COMPONENTS runtime)
set(ORQ_DEB_double_COMPONENTS double)
set(ORQ_DEB_dev_COMPONENTS development docs)
set(ORQ_DEB_tools_COMPONENTS tools recorder)
set(ORQ_DEB_runtime_SECTION libs)
set(ORQ_DEB_double_SECTION libs)
set(ORQ_DEB_dev_SECTION libdevel)
set(ORQ_DEB_tools_SECTION utils)
set(ORQ_DEB_runtime_DESCRIPTION "client library for a search server's extension modules
ORQExtClient is a C library for the extension-module layer of a full-text
search server: connections, module administration, application messages,
statements, cluster routing and typed calls into the text analysis and
text mining modules. This package holds the library and the XSRClient
stand-in it loads (replaceable by the server's own libXSRClient.so).")
set(ORQ_DEB_double_DESCRIPTION "scripted XSRClient for testing programs that use ORQExtClient
libXSRClientDouble answers ORQExtClient's calls from a script and records
them, so that programs using ORQExtClient can be unit-tested without a
search server.")
set(ORQ_DEB_dev_DESCRIPTION "development files of ORQExtClient
Headers, link names, CMake package (ORQExtClient::ORQExtClient) and
pkg-config files (orqextclient, orqextclient-double) of ORQExtClient and its
test double, with the documentation and example programs.")
set(ORQ_DEB_tools_DESCRIPTION "command-line tool and loopback server of ORQExtClient
orqext works with a search server's extension modules from the shell;
xsr-sim is a loopback server with simulated modules for trying it out.
The recording XSRClient, put in place of the server's client library,
forwards every call to it and writes a trace that orqext shows and the test
double replays.")
set(ORQ_DEB_dev_DEPENDS "${ORQ_DEB_DEPENDS_ON_RUNTIME}, libxsrclientdouble${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION})")
set(ORQ_DEB_tools_DEPENDS "${ORQ_DEB_DEPENDS_ON_RUNTIME}")
# ldconfig runs through the trigger (CPack adds its own ldconfig calls to
# postinst and postrm as well).
set(ORQ_DEB_runtime_CONTROL triggers)
set(ORQ_DEB_double_CONTROL triggers)
# The shlibs files are written here rather than by CPack: CPack would list
# every shared library and warn about libXSRClient.so, whose SONAME carries
# no version on purpose (the server's own unversioned libXSRClient.so must
# be able to replace it, see docs/packaging.md), so no other package can
# depend on it through shlibs anyway.
set(ORQ_DEB_runtime_SHLIBS "libORQExtClient ${PROJECT_VERSION_MAJOR}")
set(ORQ_DEB_double_SHLIBS "libXSRClientDouble ${PROJECT_VERSION_MAJOR}")

set(CPACK_COMPONENTS_ALL "")
include(CPackComponent)
set(list ${ORQ_DEB_PACKAGES})
while(list)
  list(POP_FRONT list group package)
  string(TOUPPER ${group} G)
  cpack_add_component_group(${group})
  foreach(c IN LISTS ORQ_DEB_${group}_COMPONENTS ITEMS deb_${group})
    cpack_add_component(${c} GROUP ${group})
    list(APPEND CPACK_COMPONENTS_ALL ${c})
  endforeach()
  set(CPACK_DEBIAN_${G}_PACKAGE_NAME ${package})
  set(CPACK_DEBIAN_${G}_PACKAGE_SECTION ${ORQ_DEB_${group}_SECTION})
  set(CPACK_DEBIAN_${G}_DESCRIPTION "${ORQ_DEB_${group}_DESCRIPTION}")
  if(ORQ_DEB_${group}_DEPENDS)
    set(CPACK_DEBIAN_${G}_PACKAGE_DEPENDS "${ORQ_DEB_${group}_DEPENDS}")
  endif()
  set(dir ${CMAKE_BINARY_DIR}/debian/${package})
  if(ORQ_DEB_${group}_CONTROL)
    set(extra "")
    foreach(f IN LISTS ORQ_DEB_${group}_CONTROL)
      list(APPEND extra ${CMAKE_SOURCE_DIR}/cmake/pkg/deb/${f})
    endforeach()
    if(ORQ_DEB_${group}_SHLIBS)
      file(CONFIGURE OUTPUT ${dir}/shlibs
        CONTENT "${ORQ_DEB_${group}_SHLIBS} ${package} (>= ${PROJECT_VERSION})\n")
      list(APPEND extra ${dir}/shlibs)
    endif()
    set(CPACK_DEBIAN_${G}_PACKAGE_CONTROL_EXTRA "${extra}")
    set(CPACK_DEBIAN_${G}_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  endif()

  # /usr/share/doc/<package>: copyright and changelog.gz.
  set(ORQ_DEB_PACKAGE ${package})
  configure_file(cmake/pkg/copyright.in ${dir}/copyright @ONLY)
  configure_file(cmake/pkg/changelog.in ${dir}/changelog @ONLY)
  if(${dir}/changelog IS_NEWER_THAN ${dir}/changelog.gz)
    execute_process(COMMAND gzip -9nc ${dir}/changelog OUTPUT_FILE ${dir}/changelog.gz)
  endif()
  install(FILES ${dir}/copyright ${dir}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
    COMPONENT deb_${group} EXCLUDE_FROM_ALL)
endwhile()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/orqextclient")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# orqext needs libORQExtClient.so.1 of this build, which no installed package
# has yet; the tools package depends on the runtime package by name instead.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)  # written above
