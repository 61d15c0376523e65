#!/usr/bin/env bash
# Installs the Debian packages this project builds and tests with, when any is missing.
# Runs `apt-get update` only when something must be installed; installs nothing else.
#   --fuzz   also the clang toolchain the fuzz targets build with
set -euo pipefail

packages=(
  cmake g++ make
  libboost1.81-dev libboost-iostreams1.81-dev libboost-json1.81-dev libboost-system1.81-dev
  libsqlite3-dev libssl-dev zlib1g-dev libcurl4-openssl-dev
  systemtap-sdt-dev libsimdjson-dev libdeflate-dev
  dpkg-dev file pkgconf
  rsyslog rsyslog-openssl
  libgtest-dev libgmock-dev libbenchmark-dev
  gdb
)
if [ "${1:-}" = "--fuzz" ]; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$p")
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

echo "bootstrap: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "bootstrap: missing packages (${missing[*]}); run as root or install sudo" >&2
    exit 1
  fi
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
