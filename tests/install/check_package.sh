#!/usr/bin/env bash
# Builds the Debian package from a build folder with scripts/package.sh,
# checks that its dependencies were computed from its files, unpacks it with
# dpkg -x into a scratch root and runs its host program on its examples to
# its receiver. Checks the service it installs: the unit and a configuration
# dpkg keeps as a conffile, no maintainer script that enables or starts it,
# a configuration the program takes, and, where systemd-analyze is, a
# unit systemd reads without a complaint and rates at most 2.0 exposed.
#   check_package.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir="$1"
build="$2"
source "$(dirname "$0")/installed_programs.sh"
work="$(mktemp -d)"
trap 'stop_sink; rm -rf "$work"' EXIT

package=$("$source_dir/scripts/package.sh" --build-dir "$build" --output "$work" 2>"$work/package.log") ||
  { echo "FAIL: scripts/package.sh failed: $(tail -n 20 "$work/package.log")"; exit 1; }
depends=$(dpkg-deb -f "$package" Depends)
# One library of each file's own: the module (SQLite), the TLS library
# (OpenSSL), the host program (libcurl).
for needed in libsqlite3-0 libssl3 libcurl4 libc6; do
  grep -q "\\b$needed\\b" <<<"$depends" || { echo "FAIL: Depends lacks $needed: $depends"; exit 1; }
done
dpkg-deb -c "$package" >"$work/contents.txt"
grep -q '\./usr/include/edr_telemetry/component/oru/i_object.h$' "$work/contents.txt" ||
  { echo "FAIL: the package lacks the headers"; exit 1; }

awk '{print $NF}' "$work/contents.txt" >"$work/paths.txt"
for installed in ./usr/lib/systemd/system/edr-telemetry-host.service ./etc/edr-telemetry/config.json; do
  grep -qxF "$installed" "$work/paths.txt" || { echo "FAIL: the package lacks $installed"; exit 1; }
done
dpkg-deb -e "$package" "$work/control"
grep -qx /etc/edr-telemetry/config.json "$work/control/conffiles" ||
  { echo "FAIL: /etc/edr-telemetry/config.json is not a conffile: $(cat "$work/control/conffiles" 2>&1)"; exit 1; }
# CPack's own scripts run ldconfig; none may enable or start the service.
for script in preinst postinst prerm postrm; do
  ! grep -qE 'systemctl|deb-systemd|invoke-rc\.d|edr-telemetry-host' "$work/control/$script" 2>/dev/null ||
    { echo "FAIL: the package's $script touches the service: $(cat "$work/control/$script")"; exit 1; }
done

dpkg -x "$package" "$work/root"
examples_to_sink "$work/root/usr" "$work"

unit="$work/root/usr/lib/systemd/system/edr-telemetry-host.service"
cmp -s "$unit" "$source_dir/examples/edr-telemetry-host.service" ||
  { echo "FAIL: the package's unit is not examples/edr-telemetry-host.service"; exit 1; }
configuration="$work/root/etc/edr-telemetry/config.json"
grep -q '"dataFolder": "/var/lib/edr-telemetry"' "$configuration" && grep -q '^StateDirectory=edr-telemetry$' "$unit" ||
  { echo "FAIL: the configuration's dataFolder is not the unit's state folder"; exit 1; }
# The configuration as the service reads it, checked by the packaged
# program as an operator would after editing it: --check neither sends nor
# touches the data folder, so /var/lib/edr-telemetry need not exist.
"$work/root/usr/bin/edr-telemetry-host" --config "$configuration" --check \
  >"$work/service-check.out" 2>"$work/service-check.err" ||
  { echo "FAIL: the package's configuration was refused ($?): $(cat "$work/service-check.err")"; exit 1; }
grep -q '^  1\. TCP 127\.0\.0\.1:6514 ' "$work/service-check.out" ||
  { echo "FAIL: --check told no plan: $(cat "$work/service-check.out")"; exit 1; }
[ ! -e /var/lib/edr-telemetry ] || [ -n "$(ls -A /var/lib/edr-telemetry)" ] ||
  { echo "FAIL: --check made /var/lib/edr-telemetry"; exit 1; }

if command -v systemd-analyze >/dev/null; then
  # The unit as it is but for the program's path, which points into the
  # unpacked root: verify refuses a command that is not there.
  mkdir "$work/unit"
  sed "s#^ExecStart=/usr/bin/#ExecStart=$work/root/usr/bin/#" "$unit" >"$work/unit/edr-telemetry-host.service"
  systemd-analyze verify --man=no --generators=no "$work/unit/edr-telemetry-host.service" >"$work/verify.log" 2>&1 ||
    { echo "FAIL: systemd-analyze verify: $(cat "$work/verify.log")"; exit 1; }
  # It warns about unknown keys and values it ignores and still answers 0.
  [ ! -s "$work/verify.log" ] || { echo "FAIL: systemd-analyze verify: $(cat "$work/verify.log")"; exit 1; }
  # The threshold is in tenths: 20 is an exposure of 2.0.
  systemd-analyze security --offline=yes --threshold=20 "$work/unit/edr-telemetry-host.service" >"$work/security.log" 2>&1 ||
    { echo "FAIL: the unit is exposed above 2.0: $(grep -v '^✓' "$work/security.log")"; exit 1; }
  echo "$(tail -n 1 "$work/security.log")"
else
  echo "systemd-analyze is not here: the unit is neither verified nor rated"
fi
echo "$(basename "$package"): Depends: $depends"
