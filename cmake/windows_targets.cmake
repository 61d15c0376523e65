# The Windows build: the module and the TLS library as DLLs, and the tests
# that run under Wine.
target_sources(edr_telemetry_core PRIVATE ${CMAKE_SOURCE_DIR}/cmake/windows/boost_json_library.cpp)

# The module a host loads: exports oruCanUnloadModule (ordinal 1) and
# oruCreateObject (ordinal 2), nothing else.
set(EDR_EXPORTS_DEF ${CMAKE_SOURCE_DIR}/component/oru/entry/exports.def)
add_library(edr_telemetry SHARED
  component/oru/entry/module_entry.cpp
  component/platform/entry/dll_main_windows.cpp
  ${EDR_EXPORTS_DEF})
target_link_libraries(edr_telemetry PRIVATE edr_telemetry_core)
target_link_options(edr_telemetry PRIVATE -Wl,--no-undefined)
set_target_properties(edr_telemetry PROPERTIES PREFIX "" IMPORT_PREFIX "")

# The TLS library the component loads at run time, next to the module:
# OpenSSL linked in, exporting by name every OpenSSL function the component's
# forwarders look up (component/tlsbridge/openssl_functions.h), and the mark
# that tells the library from any other file of its name.
file(READ ${CMAKE_SOURCE_DIR}/component/tlsbridge/include/component/tlsbridge/openssl_functions.h
  EDR_OPENSSL_FUNCTIONS_HEADER)
string(REGEX MATCHALL "X\\(([A-Za-z0-9_]+)\\)" EDR_OPENSSL_FUNCTION_USES "${EDR_OPENSSL_FUNCTIONS_HEADER}")
set(EDR_TLS_BRIDGE_EXPORTS "LIBRARY tlsbridge_1_1.dll\nEXPORTS\n  tlsbridge_1_1_bridge\n")
foreach(use IN LISTS EDR_OPENSSL_FUNCTION_USES)
  string(REGEX REPLACE "X\\(([A-Za-z0-9_]+)\\)" "\\1" name "${use}")
  string(APPEND EDR_TLS_BRIDGE_EXPORTS "  ${name}\n")
endforeach()
set(EDR_TLS_BRIDGE_DEF ${CMAKE_BINARY_DIR}/tlsbridge_1_1.def)
file(CONFIGURE OUTPUT ${EDR_TLS_BRIDGE_DEF} CONTENT "${EDR_TLS_BRIDGE_EXPORTS}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/component/tlsbridge/include/component/tlsbridge/openssl_functions.h)
add_library(tlsbridge_1_1 SHARED component/tlsbridge/bridge/bridge.cpp ${EDR_TLS_BRIDGE_DEF})
target_link_libraries(tlsbridge_1_1 PRIVATE OpenSSL::SSL OpenSSL::Crypto ws2_32 crypt32)
target_link_options(tlsbridge_1_1 PRIVATE -Wl,--no-undefined)
set_target_properties(tlsbridge_1_1 PROPERTIES PREFIX "" IMPORT_PREFIX "")

# The reference host's services (its HTTP client, on libcurl, stays on Linux)
# and the unit tests, run under Wine on the build machine: the paths built in
# are the build machine's, on the drive (Z:) where Wine shows its root.
file(GLOB EDR_HOST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/host/source/*.cpp)
add_library(edr_reference_host STATIC ${EDR_HOST_SOURCES})
target_include_directories(edr_reference_host PUBLIC ${CMAKE_SOURCE_DIR}/host/include)
target_link_libraries(edr_reference_host PUBLIC edr_telemetry_core)

find_package(GTest CONFIG REQUIRED)
enable_testing()
file(GLOB EDR_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*_test.cpp)
add_executable(unit_tests ${EDR_TEST_SOURCES} ${CMAKE_SOURCE_DIR}/tests/test_certificates.cpp)
target_link_libraries(unit_tests PRIVATE edr_reference_host edr_telemetry_core GTest::gtest GTest::gmock
  GTest::gtest_main)
target_compile_definitions(unit_tests PRIVATE
  EDR_TELEMETRY_MODULE_PATH="Z:$<TARGET_FILE:edr_telemetry>"
  EDR_TLSBRIDGE_LIBRARY_PATH="Z:$<TARGET_FILE:tlsbridge_1_1>")
# The component inside unit_tests loads the TLS library from the program's
# folder, where the DLLs are built.
add_dependencies(unit_tests edr_telemetry tlsbridge_1_1)

# Wine starts in a second or so: the tests run as one program, not one
# process each.
add_test(NAME unit_tests COMMAND unit_tests --gtest_brief=1)
set_tests_properties(unit_tests PROPERTIES TIMEOUT 600)

# The export tables, as the Linux build checks its dynamic symbols.
add_test(NAME module_exports_only_entry_points
  COMMAND ${CMAKE_SOURCE_DIR}/tests/check_windows_exports.sh ${CMAKE_OBJDUMP}
    $<TARGET_FILE:edr_telemetry> $<TARGET_FILE:tlsbridge_1_1>
    ${CMAKE_SOURCE_DIR}/component/tlsbridge/include/component/tlsbridge/openssl_functions.h)
