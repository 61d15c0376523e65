# What `cmake --install` lays out, and the Debian package CPack makes of it
# (scripts/package.sh):
#   lib/libedr_telemetry.so, lib/tlsbridge_1_1.so   the module and, next to
#                                                   it, the TLS library it loads
#   include/edr_telemetry/                          the host's headers
#   lib/cmake/edr_telemetry/, lib/pkgconfig/        find_package and pkg-config
#   bin/edr-telemetry-host, bin/edr-siem-sink       the programs
#   share/doc/edr-telemetry/                        README, the docs and examples
# The package alone (component system, outside a plain `cmake --install`)
# adds what makes the host program a service:
#   /usr/lib/systemd/system/edr-telemetry-host.service
#   /etc/edr-telemetry/config.json                  a conffile
# Paths stay plain lib/ (no multiarch folder): the host program finds the
# module at ../lib from its own folder.
include(CMakePackageConfigHelpers)
include(${CMAKE_CURRENT_LIST_DIR}/sdk_headers.cmake)

set(EDR_INSTALL_LIBDIR lib)
set(EDR_INSTALL_INCLUDEDIR include/edr_telemetry)
set(EDR_INSTALL_CMAKEDIR lib/cmake/edr_telemetry)
set(EDR_INSTALL_DOCDIR share/doc/edr-telemetry)

install(TARGETS edr_telemetry tlsbridge_1_1 LIBRARY DESTINATION ${EDR_INSTALL_LIBDIR})
install(TARGETS edr-telemetry-host edr-siem-sink RUNTIME DESTINATION bin)

foreach(header IN LISTS EDR_SDK_HEADERS)
  # component/oru/include/component/oru/x.h goes to component/oru/x.h: the
  # path it is included by.
  string(REGEX REPLACE "^component/oru/include/" "" included ${header})
  get_filename_component(folder ${included} DIRECTORY)
  install(FILES ${CMAKE_SOURCE_DIR}/${header} DESTINATION ${EDR_INSTALL_INCLUDEDIR}/${folder})
endforeach()

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/edr_telemetryConfig.cmake.in
  ${CMAKE_BINARY_DIR}/install/edr_telemetryConfig.cmake
  INSTALL_DESTINATION ${EDR_INSTALL_CMAKEDIR}
  PATH_VARS EDR_INSTALL_INCLUDEDIR EDR_INSTALL_LIBDIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/install/edr_telemetryConfigVersion.cmake
  COMPATIBILITY SameMinorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_BINARY_DIR}/install/edr_telemetryConfig.cmake
  ${CMAKE_BINARY_DIR}/install/edr_telemetryConfigVersion.cmake DESTINATION ${EDR_INSTALL_CMAKEDIR})
configure_file(${CMAKE_CURRENT_LIST_DIR}/edr_telemetry.pc.in ${CMAKE_BINARY_DIR}/install/edr_telemetry.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/install/edr_telemetry.pc DESTINATION ${EDR_INSTALL_LIBDIR}/pkgconfig)

install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${EDR_INSTALL_DOCDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${EDR_INSTALL_DOCDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ DESTINATION ${EDR_INSTALL_DOCDIR}/examples
  PATTERN "__pycache__" EXCLUDE)

# The service's unit is the example itself; its configuration is the example
# configuration with the state folder the unit gives it, so that the package
# and examples/ never tell two stories. A change to the example that loses
# the line to replace stops the configure step rather than ship a relative
# data folder.
file(READ ${CMAKE_SOURCE_DIR}/examples/config.json EDR_EXAMPLE_CONFIGURATION)
set(EDR_EXAMPLE_DATA_FOLDER "\"dataFolder\": \"./edr-telemetry-data\"")
string(FIND "${EDR_EXAMPLE_CONFIGURATION}" "${EDR_EXAMPLE_DATA_FOLDER}" found)
if(found EQUAL -1)
  message(FATAL_ERROR "examples/config.json lacks ${EDR_EXAMPLE_DATA_FOLDER}, which the package's configuration replaces")
endif()
string(REPLACE "${EDR_EXAMPLE_DATA_FOLDER}" "\"dataFolder\": \"/var/lib/edr-telemetry\""
  EDR_SERVICE_CONFIGURATION "${EDR_EXAMPLE_CONFIGURATION}")
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/install/etc/config.json CONTENT "${EDR_SERVICE_CONFIGURATION}" @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/examples/config.json)
install(FILES ${CMAKE_SOURCE_DIR}/examples/edr-telemetry-host.service DESTINATION /usr/lib/systemd/system
  COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_BINARY_DIR}/install/etc/config.json DESTINATION /etc/edr-telemetry
  COMPONENT system EXCLUDE_FROM_ALL)
# dpkg keeps an operator's edit of a conffile on upgrade, and asks before
# replacing it.
file(WRITE ${CMAKE_BINARY_DIR}/install/debian/conffiles "/etc/edr-telemetry/config.json\n")

# The Debian package. Its dependencies are what dpkg-shlibdeps finds the
# libraries and programs need.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME edr-telemetry)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "edr_telemetry developers <edr-telemetry@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "forwards EDR telemetry to a SIEM over syslog or HTTP")
set(CPACK_PACKAGE_DESCRIPTION "A module an endpoint-security agent loads to forward its EDR events to a SIEM, \
with the headers to embed it, a host program that forwards NDJSON files, and a loopback receiver.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Everything `cmake --install` lays out, and the service's files. No
# maintainer script of ours (CPack adds ldconfig calls): installing the
# package enables and starts nothing.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};edr_telemetry;Unspecified;/;${CMAKE_BINARY_DIR};edr_telemetry;system;/")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/install/debian/conffiles)
# CPack would build every target (tests, benchmarks) before installing;
# scripts/package.sh builds the packaged ones itself.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
# The module loads the TLS library next to it, which needs libssl: found
# by dpkg-shlibdeps like every other dependency, since the library links it.
include(CPack)
