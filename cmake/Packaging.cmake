# CMake package configuration (find_package(kvext)) beside the pkg-config file, and Debian
# packages made by CPack (`cpack -G DEB` in a build configured with
# -DCMAKE_INSTALL_PREFIX=/usr; scripts/package.sh does that and checks the result):
#   libkvext4     the library, the platform stand-ins and the registration file
#   libkvext-dev  headers, pkg-config and CMake package files
#   kvext         the tool
include(CMakePackageConfigHelpers)
set(KV_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/kvext)
install(EXPORT kvextTargets NAMESPACE kvext:: DESTINATION ${KV_CMAKE_PACKAGE_DIR}
        COMPONENT development)
configure_package_config_file(cmake/kvextConfig.cmake.in ${PROJECT_BINARY_DIR}/kvextConfig.cmake
                              INSTALL_DESTINATION ${KV_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kvextConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/kvextConfig.cmake ${PROJECT_BINARY_DIR}/kvextConfigVersion.cmake
        DESTINATION ${KV_CMAKE_PACKAGE_DIR} COMPONENT development)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kvext)
set(CPACK_PACKAGE_CONTACT "libkvext developers <kvext@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "GOST certificate and message structures, CMS key management and public keys for CryptoAPI")
# The paths compiled in (the registration file, the library it names) are those of
# CMAKE_INSTALL_PREFIX, so the packages install there.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development tool)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(KV_DEB_VERSION ${PROJECT_VERSION})

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libkvext4)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS
    "libc6 (>= 2.34), libstdc++6 (>= 12), libssl3 (>= 3.0) | libssl3t64, libengine-gost-openssl")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "libkvext: GOST structure codecs and CMS key management for CryptoAPI
 libkvext.so.4 with the platform it runs on (the CryptoAPI stand-in, a GOST provider on
 OpenSSL's GOST engine, an ASN.1 runtime and a support library) and the registration of its
 OID functions.")
# Shared libraries: shlibs and the ldconfig trigger; the registration file is a conffile.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/debian/conffiles
     CONTENT "${CMAKE_INSTALL_FULL_SYSCONFDIR}/kvext/oidfunc.conf\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/conffiles)

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libkvext-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libkvext4 (= ${KV_DEB_VERSION})")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "libkvext: development files
 Headers of libkvext and of its platform, pkg-config file and CMake package configuration
 (find_package(kvext) with imported targets).")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME kvext)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS
    "libkvext4 (= ${KV_DEB_VERSION}), libc6 (>= 2.34), libstdc++6 (>= 12)")
set(CPACK_COMPONENT_TOOL_DESCRIPTION
    "kvext: GOST certificate and message structures from the command line
 Decodes and encodes the structures libkvext serves through CryptoAPI, shows certificates,
 signed attributes and public keys.")
include(CPack)
