#!/usr/bin/env bash
# Builds the libraries the Windows module links, as static libraries for one
# architecture, with Debian's MinGW-w64 cross compilers (the -posix ones),
# from Debian's source packages (their upstream tarballs, patches left out).
#
#   scripts/windows-deps.sh i686|x86_64
#
# Each library goes to its own folder, NAME-VERSION/{include,lib}, under
#   ${XDG_CACHE_HOME:-~/.cache}/edr-telemetry/windows-deps/TRIPLET
# and is built once: a folder that exists is complete (a library is built in
# a hidden folder beside its own, renamed when done). The tarballs stay in
# windows-deps/sources. Runs scripts/bootstrap.sh --windows first. Prints its
# progress on stderr and, as the last line on stdout, the folder of the
# libraries: the value of EDR_WINDOWS_DEPS for cmake/toolchains/TRIPLET.cmake.
set -euo pipefail

if [ $# -ne 1 ] || { [ "$1" != i686 ] && [ "$1" != x86_64 ]; }; then
  sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
  exit 2
fi
triplet="$1-w64-mingw32"
repo=$(cd "$(dirname "$0")/.." && pwd)
jobs=2

# Debian's source package and version of each library; the folder is named
# after the upstream version.
zlib_source=zlib=1:1.2.13.dfsg-1
libdeflate_source=libdeflate=1.14-1
sqlite_source=sqlite3=3.40.1-2+deb12u2
simdjson_source=simdjson=3.0.1-1
openssl_source=openssl=3.0.20-1~deb12u2
googletest_version=1.12.1  # /usr/src/googletest, from Debian's googletest
boost_version=1.81.0       # /usr/include/boost, from Debian's libboost1.81-dev

log() {
  echo "windows-deps: $triplet: $*" >&2
}
die() {
  echo "windows-deps: $triplet: $*" >&2
  exit 1
}

"$repo/scripts/bootstrap.sh" --windows >&2
for tool in "$triplet-gcc-posix" "$triplet-g++-posix" "$triplet-ar" "$triplet-ranlib" \
            gcc make cmake perl tclsh tar apt-get flock; do
  command -v "$tool" >/dev/null 2>&1 || die "$tool is missing (scripts/bootstrap.sh --windows installs it)"
done
cc="$triplet-gcc-posix"
cxx="$triplet-g++-posix"
ar="$triplet-ar"
# Flags meant for the build machine's compilers must not reach these builds.
unset CC CXX CPP CFLAGS CXXFLAGS CPPFLAGS LDFLAGS LDLIBS AR RANLIB CROSS_COMPILE MAKEFLAGS

cache="${XDG_CACHE_HOME:-$HOME/.cache}/edr-telemetry/windows-deps"
sources="$cache/sources"
deps="$cache/$triplet"
mkdir -p "$sources" "$deps"
# Two runs for one architecture would build in each other's way.
exec 9>"$deps/.lock"
flock 9

upstream_version() {  # PACKAGE=DEBIAN_VERSION: the upstream version, e.g. 1.2.13.dfsg
  local version=${1#*=}
  version=${version#*:}
  echo "${version%-*}"
}

fetch() {  # PACKAGE=DEBIAN_VERSION: prints the path of its upstream tarball, downloaded once
  local package=${1%%=*} upstream
  upstream=$(upstream_version "$1")
  local pattern="${package}_${upstream}.orig.tar.*"
  local found
  found=$(find "$sources" -maxdepth 1 -name "$pattern" ! -name '*.asc' | head -n 1)
  if [ -z "$found" ]; then
    log "downloading the sources of $1"
    local download
    download=$(mktemp -d "$sources/.download.XXXXXX")
    # apt-get checks what it downloads against the signed package lists. Once
    # the archive has moved on to a newer Debian revision, that one is taken:
    # its upstream tarball must still be of the version wanted.
    if ! (cd "$download" && { apt-get source -q --download-only "$1" ||
                                apt-get source -q --download-only "$package"; }) >"$download/log" 2>&1; then
      cat "$download/log" >&2
      rm -rf "$download"
      die "cannot download the Debian source package $package"
    fi
    found=$(find "$download" -maxdepth 1 -name "$pattern" ! -name '*.asc' | head -n 1)
    if [ -z "$found" ]; then
      ls "$download" >&2
      rm -rf "$download"
      die "Debian no longer has $package $upstream: change its version in $0"
    fi
    mv "$found" "$sources/"
    rm -rf "$download"
    found="$sources/$(basename "$found")"
  fi
  echo "$found"
}

unpack() {  # TARBALL FOLDER: the tarball's single top folder's content into FOLDER
  mkdir -p "$2"
  tar -xf "$1" -C "$2" --strip-components=1
}

# NAME VERSION FUNCTION [PACKAGE=DEBIAN_VERSION]: unless done before, FUNCTION WORK PREFIX [TARBALL]
# builds NAME into PREFIX, in WORK, from TARBALL (the package's upstream tarball).
build() {
  local name=$1 version=$2 step=$3 source=${4:-}
  local done="$deps/$name-$version"
  if [ -d "$done" ]; then
    return 0
  fi
  local stage
  rm -rf "$deps/.$name-$version".*  # what an interrupted or failed run left
  stage=$(mktemp -d "$deps/.$name-$version.XXXXXX")
  local arguments=("$stage/work" "$stage/prefix")
  if [ -n "$source" ]; then
    arguments+=("$(fetch "$source")")
  fi
  log "$name $version: building (log: $stage/build.log)"
  local start
  start=$(date +%s%N)
  # Not in a condition, so that the step stops at its first failing command.
  set +e
  (set -e; "$step" "${arguments[@]}") >"$stage/build.log" 2>&1
  local status=$?
  set -e
  if [ "$status" -ne 0 ]; then
    tail -n 30 "$stage/build.log" >&2
    die "$name $version: the build failed; its log: $stage/build.log"
  fi
  # pkg-config files name the folder a library is built in: the one it ends in instead.
  { grep -rlIZF "$stage/prefix" "$stage/prefix" || true; } | xargs -0 -r sed -i "s|$stage/prefix|$done|g"
  mv "$stage/prefix" "$done"
  rm -rf "$stage"
  local tenths=$((($(date +%s%N) - start) / 100000000))
  log "$name $version: built in $((tenths / 10)).$((tenths % 10)) s"
}

build_zlib() {  # the static library of its Makefile (its own win32/ makefiles are not in Debian's tarball)
  local work=$1 prefix=$2
  unpack "$3" "$work"
  make -C "$work" -f Makefile.in -j"$jobs" libz.a CC="$cc" CFLAGS="-O2 -Wall" AR="$ar" RANLIB="$triplet-ranlib"
  mkdir -p "$prefix/include" "$prefix/lib"
  cp "$work/zlib.h" "$work/zconf.h" "$prefix/include/"
  cp "$work/libz.a" "$prefix/lib/"
}

build_libdeflate() {
  local work=$1 prefix=$2
  unpack "$3" "$work"
  # With a MinGW compiler its Makefile names the static library libdeflatestatic.lib.
  make -C "$work" -j"$jobs" libdeflatestatic.lib CC="$cc" AR="$ar"
  mkdir -p "$prefix/include" "$prefix/lib"
  cp "$work/libdeflate.h" "$prefix/include/"
  cp "$work/libdeflatestatic.lib" "$prefix/lib/libdeflate.a"
}

build_sqlite() {  # the amalgamation, generated by the build machine's tools
  local work=$1 prefix=$2
  unpack "$3" "$work/source"
  mkdir -p "$work/native"
  (cd "$work/native" && ../source/configure --disable-tcl && make -j"$jobs" sqlite3.c)
  # Of Debian's options, the one that adds functions to the API.
  "$cc" -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_COLUMN_METADATA -DSQLITE_ENABLE_DBSTAT_VTAB -c "$work/native/sqlite3.c" \
    -o "$work/sqlite3.o"
  "$ar" rcs "$work/libsqlite3.a" "$work/sqlite3.o"
  mkdir -p "$prefix/include" "$prefix/lib"
  cp "$work/native/sqlite3.h" "$work/native/sqlite3ext.h" "$prefix/include/"
  cp "$work/libsqlite3.a" "$prefix/lib/"
}

build_simdjson() {  # its single-file form, and the package files of its CMake build
  local work=$1 prefix=$2
  unpack "$3" "$work"
  # As its CMake build defines it, in the library and for its users: the
  # threaded document_stream changes the layout of simdjson's classes.
  "$cxx" -O2 -std=c++17 -DSIMDJSON_THREADS_ENABLED=1 -c "$work/singleheader/simdjson.cpp" \
    -I"$work/singleheader" -o "$work/simdjson.o"
  mkdir -p "$prefix/include" "$prefix/lib/cmake/simdjson"
  "$ar" rcs "$prefix/lib/libsimdjson.a" "$work/simdjson.o"
  cp "$work/singleheader/simdjson.h" "$prefix/include/"
  local version
  version=$(upstream_version "$simdjson_source")
  cat >"$prefix/lib/cmake/simdjson/simdjson-config.cmake" <<'EOF'
# simdjson::simdjson, as simdjson's own CMake build exports it.
include(CMakeFindDependencyMacro)
find_dependency(Threads)
if(NOT TARGET simdjson::simdjson)
  get_filename_component(_simdjson_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
  add_library(simdjson::simdjson STATIC IMPORTED)
  set_target_properties(simdjson::simdjson PROPERTIES
    IMPORTED_LOCATION "${_simdjson_prefix}/lib/libsimdjson.a"
    INTERFACE_INCLUDE_DIRECTORIES "${_simdjson_prefix}/include"
    INTERFACE_COMPILE_DEFINITIONS "SIMDJSON_THREADS_ENABLED=1"
    INTERFACE_COMPILE_FEATURES cxx_std_11
    INTERFACE_LINK_LIBRARIES Threads::Threads)
  unset(_simdjson_prefix)
endif()
EOF
  # Compatible with the versions asked for of the same minor version, as simdjson's own file says.
  cat >"$prefix/lib/cmake/simdjson/simdjson-config-version.cmake" <<EOF
set(PACKAGE_VERSION $version)
if(PACKAGE_VERSION VERSION_LESS PACKAGE_FIND_VERSION
   OR NOT "\${PACKAGE_FIND_VERSION_MAJOR}.\${PACKAGE_FIND_VERSION_MINOR}" STREQUAL "${version%.*}")
  set(PACKAGE_VERSION_COMPATIBLE FALSE)
else()
  set(PACKAGE_VERSION_COMPATIBLE TRUE)
  if(PACKAGE_FIND_VERSION STREQUAL PACKAGE_VERSION)
    set(PACKAGE_VERSION_EXACT TRUE)
  endif()
endif()
EOF
}

# Where the libraries look for openssl.cnf, the default certificates and
# modules at run time. Left to itself, OpenSSL would name folders of the build
# machine (/root/.cache/...): on Windows, folders of the current drive that any
# user may create. This one, OpenSSL's default for Windows, only administrators
# may write to; 32-bit programs on 64-bit Windows see it under the same name.
openssl_dir="C:/Program Files/Common Files/SSL"
# Left out: algorithms only the legacy provider offers (itself left out),
# protocols and formats nothing here uses (DTLS, SRTP, SRP, NPN, CMS, CMP,
# time stamps, GOST and SM2-4, ARIA and Camellia cipher suites). Kept: TLS
# 1.0-1.3, RSA, DSA, DH and EC keys, PKCS#12 (AES and 3DES), X.509 and OCSP.
openssl_options=(
  no-shared no-tests no-module no-engine no-legacy
  no-aria no-bf no-camellia no-cast no-cmp no-cms no-dtls no-gost no-idea no-md4 no-mdc2 no-nextprotoneg
  no-ocb no-rc2 no-rc4 no-rfc3779 no-seed no-siphash no-siv no-sm2 no-sm3 no-sm4 no-srp no-srtp
  no-ssl-trace no-ts no-whirlpool
)
build_openssl() {
  local work=$1 prefix=$2
  unpack "$3" "$work"
  local target=mingw64
  [ "$triplet" = x86_64-w64-mingw32 ] || target=mingw
  (cd "$work" && ./Configure "$target" --cross-compile-prefix="$triplet-" CC=gcc-posix CXX=g++-posix \
    CFLAGS=-O2 "${openssl_options[@]}" --prefix="$prefix" --libdir=lib)
  local paths=(OPENSSLDIR="$openssl_dir" ENGINESDIR="$openssl_dir/engines-3"
               MODULESDIR="$openssl_dir/ossl-modules")
  make -C "$work" -j"$jobs" build_libs "${paths[@]}"
  make -C "$work" install_dev "${paths[@]}"
  rmdir "$prefix/bin"  # for DLLs, of which there are none
}

build_googletest() {  # with its CMake build and the toolchain file of the component's
  local work=$1 prefix=$2
  local installed
  installed=$(dpkg-query -W -f='${Version}' googletest)
  [ "${installed%-*}" = "$googletest_version" ] ||
    die "/usr/src/googletest holds googletest $installed, not $googletest_version: change its version in $0"
  cmake -S /usr/src/googletest -B "$work" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchains/$triplet.cmake" \
    -DEDR_WINDOWS_DEPS="$deps" -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib \
    -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON -Dgtest_disable_pthreads=OFF
  cmake --build "$work" -j"$jobs"
  cmake --install "$work"
}

build_boost() {  # the build machine's headers: the module uses header-only libraries
  local work=$1 prefix=$2
  grep -q "define BOOST_LIB_VERSION \"${boost_version%.*}\"" /usr/include/boost/version.hpp ||
    die "/usr/include/boost is not Boost $boost_version: change its version in $0"
  mkdir -p "$work" "$prefix/include"
  ln -s /usr/include/boost "$prefix/include/boost"
}

zlib_version=$(upstream_version "$zlib_source")
build zlib "${zlib_version%.dfsg}" build_zlib "$zlib_source"
build libdeflate "$(upstream_version "$libdeflate_source")" build_libdeflate "$libdeflate_source"
build sqlite "$(upstream_version "$sqlite_source")" build_sqlite "$sqlite_source"
build simdjson "$(upstream_version "$simdjson_source")" build_simdjson "$simdjson_source"
build openssl "$(upstream_version "$openssl_source")" build_openssl "$openssl_source"
build googletest "$googletest_version" build_googletest
build boost "$boost_version" build_boost
echo "$deps"
