# The libraries of the Windows build, each built from source for the target
# by scripts/windows-deps.sh and found through the toolchain file's search
# roots, never the build machine's own. Boost is used from its headers alone:
# Asio over Winsock, Signals2, System, and JSON through boost/json/src.hpp
# (cmake/windows/boost_json_library.cpp).
find_path(EDR_BOOST_INCLUDE_DIR boost/version.hpp REQUIRED)
find_package(ZLIB REQUIRED)
find_package(SQLite3 REQUIRED)
# Its package carries the definitions the library was built with.
find_package(simdjson REQUIRED CONFIG)
find_path(EDR_LIBDEFLATE_INCLUDE_DIR libdeflate.h REQUIRED)
find_library(LIBDEFLATE_LIBRARY deflate REQUIRED)
set(OPENSSL_USE_STATIC_LIBS ON)
find_package(OpenSSL 3 REQUIRED)

# Every program and library links the compiler's runtime statically: the
# module and the TLS library are single files a host drops in a folder.
add_link_options(-static)

# The compilers' threads are POSIX threads, and <thread> brings in
# <pthread.h>: Boost then takes POSIX threads in a file that includes it
# after <thread> and Windows threads in one that includes it before. Two
# choices in one program are two layouts of one class (Asio's threads and
# events, Signals2's mutex), and a thread started as one kind is joined as
# the other. One choice for every file.
add_compile_definitions(BOOST_HAS_PTHREADS)

add_library(edr_windows_dependencies INTERFACE)
target_include_directories(edr_windows_dependencies SYSTEM INTERFACE
  ${EDR_BOOST_INCLUDE_DIR} ${EDR_LIBDEFLATE_INCLUDE_DIR})
target_compile_definitions(edr_windows_dependencies INTERFACE
  # Windows 7 and later.
  _WIN32_WINNT=0x0601 WINVER=0x0601
  # The Boost headers must not ask for compiled Boost libraries.
  BOOST_ALL_NO_LIB BOOST_JSON_NO_LIB BOOST_CONTAINER_NO_LIB)
target_link_libraries(edr_windows_dependencies INTERFACE
  ZLIB::ZLIB SQLite::SQLite3 simdjson::simdjson ${LIBDEFLATE_LIBRARY} Threads::Threads ws2_32 mswsock)
