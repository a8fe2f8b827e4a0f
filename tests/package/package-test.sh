#!/usr/bin/env bash
# Builds the .deb, checks it (lintian, the launcher, the AppStream data, the systemd unit), installs
# it with dpkg -i, runs the installed vantord and removes the package again, also when a step fails.
#   package-test.sh BUILD_DIR
# Needs root; exits 77 (skipped) without it, or when a vantor package is installed already (it
# would be removed at the end, and it is not this test's to remove).
set -euo pipefail
build_dir=$1

if [ "$(id -u)" -ne 0 ]; then echo "skipped: needs root to install a package"; exit 77; fi
if dpkg-query -W -f='${Status}' vantor 2>/dev/null | grep -q 'install ok installed'; then
  echo "skipped: a vantor package is installed already"; exit 77
fi

work=$(mktemp -d)
installed=no
cleanup() {
  if [ "$installed" = yes ]; then
    dpkg_locked --purge vantor >/dev/null || echo "could not remove the vantor package" >&2
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# dpkg refuses at once while another dpkg or apt runs (other builds on this machine may): wait
# for the lock, a bounded number of times.
dpkg_locked() {
  local tries=0 out
  while :; do
    if out=$(dpkg "$@" 2>&1); then echo "$out"; return 0; fi
    if ! grep -q 'lock' <<<"$out" || [ $tries -ge 120 ]; then echo "$out" >&2; return 1; fi
    tries=$((tries + 1)); sleep 5
  done
}

cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/vantor_*.deb)
echo "built $(basename "$deb")"

if command -v lintian >/dev/null; then
  # Errors fail the test; warnings are printed for whoever reads the log.
  lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v 'root privileges' | tee "$work/lintian.log" || true
  if grep -q '^E: ' "$work/lintian.log"; then echo "lintian reports errors"; exit 1; fi
else
  echo "lintian missing (scripts/install-deps.sh installs it)"; exit 1
fi

dpkg-deb -x "$deb" "$work/root"
desktop-file-validate "$work/root/usr/share/applications/vantor.desktop"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/org.vantor.Vantor.metainfo.xml"
for f in usr/sbin/vantord usr/bin/vantor usr/bin/vantor-console usr/bin/vantor-poll \
         usr/share/vantor/vantor-srvsvc.py usr/share/vantor/vantor_help.html etc/vantor/vantor.conf \
         usr/share/icons/hicolor/scalable/apps/vantor.svg usr/share/icons/hicolor/48x48/apps/vantor.png \
         usr/share/man/man8/vantord.8.gz usr/share/man/man1/vantor-console.1.gz lib/systemd/system/vantord.service \
         usr/share/cockpit/vantor/manifest.json usr/share/cockpit/vantor/index.js usr/share/cockpit/vantor/index.css; do
  # The unit may sit under /usr/lib on a merged system.
  [ -e "$work/root/$f" ] || [ -e "$work/root/usr/$f" ] || { echo "missing from the package: /$f"; exit 1; }
done
# The bus must never start the service on a caller's behalf.
[ ! -e "$work/root/usr/share/dbus-1/system-services/org.vantor.Monitor1.service" ] \
  || { echo "the package ships a bus activation file"; exit 1; }
grep -qx '/etc/vantor/vantor.conf' <(dpkg-deb -f "$deb" Conffiles 2>/dev/null; dpkg-deb -I "$deb" conffiles)

dpkg_locked -i "$deb"
installed=yes
version=$(/usr/sbin/vantord --version)
echo "installed: $version"
[ "$version" = "vantord $(dpkg-deb -f "$deb" Version)" ] || { echo "unexpected version: $version"; exit 1; }

unit=$( [ -e /usr/lib/systemd/system/vantord.service ] && echo /usr/lib/systemd/system/vantord.service \
        || echo /lib/systemd/system/vantord.service)
man_check=()
command -v man >/dev/null || man_check=(--man=no)
systemd-analyze verify "${man_check[@]}" "$unit"
echo "package test: passed"
