#!/usr/bin/env bash
# Installs the Debian packages this project builds and tests with, when any is missing.
# Runs `apt-get update` only when something must be installed or an APT source or
# architecture was just added; installs nothing else.
#   --fuzz     also the clang runtime (sanitizers, libFuzzer) the fuzz targets link
#   --windows  also the MinGW-w64 cross compilers, Wine (64- and 32-bit: the i386
#              architecture is added) and what scripts/windows-deps.sh needs to build
#              the Windows libraries from Debian's sources (a deb-src entry is added)
set -euo pipefail

packages=(
  cmake g++ make
  libboost1.81-dev libboost-json1.81-dev libboost-system1.81-dev
  libsqlite3-dev libssl-dev zlib1g-dev libcurl4-openssl-dev
  systemtap-sdt-dev libsimdjson-dev libdeflate-dev
  dpkg-dev file pkgconf
  rsyslog rsyslog-openssl
  libgtest-dev libgmock-dev libbenchmark-dev
  clang gdb
)
windows=0
for option in "$@"; do
  case "$option" in
    --fuzz) packages+=(libclang-rt-14-dev) ;;
    --windows) windows=1 ;;
    *) echo "bootstrap: unknown option $option (--fuzz, --windows)" >&2; exit 2 ;;
  esac
done

sudo_cmd=()
as_root() {  # COMMAND...: run as root, through sudo when needed
  if [ "$(id -u)" -ne 0 ] && [ "${#sudo_cmd[@]}" -eq 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      echo "bootstrap: must change the system (${*}); run as root or install sudo" >&2
      exit 1
    fi
    sudo_cmd=(sudo)
  fi
  "${sudo_cmd[@]}" "$@"
}

update=0
if [ "$windows" = 1 ]; then
  # tcl: tclsh generates SQLite's amalgamation; wine32 runs the 32-bit programs.
  packages+=(
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    wine wine64 wine32:i386 tcl
  )
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "bootstrap: adding the i386 architecture"
    as_root dpkg --add-architecture i386
    update=1
  fi
  # `apt-get source` downloads the sources the Windows libraries are built from.
  # debian-security is left out: its pool lacks the sources its index names.
  sources=/etc/apt/sources.list.d/edr-telemetry-sources.sources
  if [ ! -e "$sources" ]; then
    echo "bootstrap: adding $sources"
    as_root tee "$sources" >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    update=1
  fi
  # An earlier run may have added the entry and failed before reading it.
  for list in $(apt-get indextargets --format '$(FILENAME)' 'Created-By: Sources'); do
    [ -e "$list" ] || update=1
  done
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$p")
done

if [ "${#missing[@]}" -eq 0 ] && [ "$update" = 0 ]; then
  exit 0
fi

if [ "${#missing[@]}" -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
fi
export DEBIAN_FRONTEND=noninteractive
as_root apt-get update -q
if [ "${#missing[@]}" -gt 0 ]; then
  as_root apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
