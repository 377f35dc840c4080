# Debian packages from the Linux build (cpack in the build directory; the
# packages land in packages/), split the Debian way:
#   liborqextclient1      runtime: libORQExtClient.so.1 and libXSRClient.so
#   liborqextclient-dev   headers, link name, CMake and pkg-config files,
#                         the test double, the docs and examples
#   orqextclient-tools    orqext and xsr-sim
# Dependencies on system libraries come from dpkg-shlibdeps; the runtime
# package states its library's shlibs so that others depend on it correctly.
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL runtime development docs tools deb_runtime deb_dev deb_tools)

set(ORQ_DEB_RUNTIME liborqextclient${PROJECT_VERSION_MAJOR})
set(ORQ_DEB_DEV liborqextclient-dev)
set(ORQ_DEB_TOOLS orqextclient-tools)

include(CPackComponent)
cpack_add_component_group(runtime DESCRIPTION "Client library for the extension-module layer of a full-text search server")
cpack_add_component_group(dev DESCRIPTION "Development files of ORQExtClient")
cpack_add_component_group(tools DESCRIPTION "Command-line tool and loopback server of ORQExtClient")
cpack_add_component(runtime GROUP runtime)
cpack_add_component(deb_runtime GROUP runtime)
cpack_add_component(development GROUP dev)
cpack_add_component(docs GROUP dev)
cpack_add_component(deb_dev GROUP dev)
cpack_add_component(tools GROUP tools)
cpack_add_component(deb_tools GROUP tools)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/orqextclient")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${ORQ_DEB_RUNTIME})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${ORQ_DEB_DEV})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${ORQ_DEB_RUNTIME} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${ORQ_DEB_TOOLS})
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${ORQ_DEB_RUNTIME} (= ${PROJECT_VERSION})")

# Each package's copyright and changelog in /usr/share/doc/<package>, only
# in the packages (components outside a plain cmake --install).
string(TIMESTAMP ORQ_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
foreach(pair "deb_runtime;${ORQ_DEB_RUNTIME}" "deb_dev;${ORQ_DEB_DEV}" "deb_tools;${ORQ_DEB_TOOLS}")
  list(GET pair 0 component)
  list(GET pair 1 package)
  set(dir ${CMAKE_BINARY_DIR}/debian/${package})
  configure_file(cmake/pkg/copyright.in ${dir}/copyright @ONLY)
  install(FILES ${dir}/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
    COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()
