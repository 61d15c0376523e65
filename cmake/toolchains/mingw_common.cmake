# What the MinGW-w64 toolchain files share; each sets EDR_MINGW_TRIPLET and
# CMAKE_SYSTEM_PROCESSOR, then includes this file.
#
# The -posix compilers: their libstdc++ has std::thread and std::mutex (on
# winpthreads), which the -win32 ones lack.
set(CMAKE_SYSTEM_NAME Windows)
foreach(_edr_tool C:gcc-posix CXX:g++-posix RC:windres)
  string(REGEX REPLACE ":.*" "" _edr_language ${_edr_tool})
  string(REGEX REPLACE ".*:" "${EDR_MINGW_TRIPLET}-" _edr_program ${_edr_tool})
  find_program(EDR_MINGW_${_edr_language} ${_edr_program})
  if(NOT EDR_MINGW_${_edr_language})
    message(FATAL_ERROR "${_edr_program} is missing: scripts/bootstrap.sh --windows installs it")
  endif()
  set(CMAKE_${_edr_language}_COMPILER ${EDR_MINGW_${_edr_language}})
endforeach()

# The static libraries scripts/windows-deps.sh builds, one folder each
# (<name>-<version>/include, lib), under the folder it prints last.
if(NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
  set(_edr_cache "$ENV{XDG_CACHE_HOME}")
else()
  set(_edr_cache "$ENV{HOME}/.cache")
endif()
set(EDR_WINDOWS_DEPS "${_edr_cache}/edr-telemetry/windows-deps/${EDR_MINGW_TRIPLET}" CACHE PATH
  "The folder of the Windows libraries (the last line scripts/windows-deps.sh prints)")
# try_compile projects read this file again, without the cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES EDR_WINDOWS_DEPS)

# The script builds a library in a hidden folder beside its own and renames
# it when done: only the finished ones match.
file(GLOB _edr_deps LIST_DIRECTORIES true "${EDR_WINDOWS_DEPS}/*")
list(FILTER _edr_deps INCLUDE REGEX "/[A-Za-z0-9]+-[0-9][0-9.]*$")
if(NOT _edr_deps)
  message(WARNING "No libraries in ${EDR_WINDOWS_DEPS}: run scripts/windows-deps.sh, "
    "or set EDR_WINDOWS_DEPS to the folder it prints")
endif()

# Libraries, headers and packages come from those folders and MinGW-w64's own
# (Windows import libraries) only, never from the build machine's /usr;
# programs (tools run during the build) from the build machine.
list(APPEND CMAKE_FIND_ROOT_PATH ${_edr_deps} /usr/${EDR_MINGW_TRIPLET})
list(REMOVE_DUPLICATES CMAKE_FIND_ROOT_PATH)
list(APPEND CMAKE_PREFIX_PATH ${_edr_deps})
list(REMOVE_DUPLICATES CMAKE_PREFIX_PATH)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The script builds OpenSSL as static libraries only. FindOpenSSL then adds
# ws2_32 and crypt32 to its targets; libcrypto needs ws2_32, advapi32 and
# user32, the last two among the libraries gcc links by default.
set(OPENSSL_USE_STATIC_LIBS ON)

# Programs built here (tests) run under Wine; /usr/bin/wine runs 32- and 64-bit ones.
find_program(EDR_WINE wine)
if(NOT EDR_WINE AND EDR_MINGW_TRIPLET STREQUAL "x86_64-w64-mingw32")
  find_program(EDR_WINE wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
endif()
if(EDR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${EDR_WINE})
endif()
