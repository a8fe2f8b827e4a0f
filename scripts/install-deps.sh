#!/usr/bin/env bash
# Installs everything Vantor needs to build, run and test on Debian 12 or 13, from Debian's packages
# (the names below are the same on both).
# Run as root. Safe to run again.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps.sh: run as root (sudo $0)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
APT=(apt-get -o DPkg::Lock::Timeout=600 -y --no-install-recommends)

packages=(
  # build
  build-essential cmake ninja-build pkg-config git
  # core libraries and tests
  nlohmann-json3-dev libgtest-dev libgmock-dev googletest libbenchmark-dev
  # the service's /metrics (HTTP), and a real Prometheus (and promtool) for its tests
  libcpp-httplib-dev prometheus
  # TLS for the mail (OpenSSL), and a real mail relay and certificates for the mail tests
  libssl-dev openssl exim4-daemon-heavy
  # windows
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6 qt6-qpa-plugins libgl-dev
  adwaita-icon-theme hicolor-icon-theme xdg-utils
  # the platform: Samba and its tools, and its client side for remote servers
  samba samba-common-bin smbclient python3-samba
  # the Windows build: mingw-w64 cross compiler (posix threads), and Wine to run its tests
  g++-mingw-w64-x86-64-posix wine wine64
  # NSIS makes the Windows installer, vantor-setup.exe
  nsis
  # looking at the windows as a person would, and the tests' helpers
  xvfb trayer x11-utils xdotool imagemagick procps passwd
  # the package and its checks: the .deb, its unit, launcher and metadata; and a Debian 12 tree
  # booted with systemd in a container to install it in
  dpkg-dev file lintian desktop-file-utils appstream systemd systemd-container debootstrap
  # the history bench opens the web report in headless Chromium to time it; the Cockpit page's
  # test drives it too, in Cockpit's own web server, bridge and shell
  chromium cockpit-ws cockpit-bridge cockpit-system
  # the service's D-Bus face (sd-bus) and its authorization, and the bus and polkit for its tests
  libsystemd-dev dbus-daemon polkitd
  # the Debian 13 part of the tests builds a trixie tree
  debootstrap
)

# A package's own service is not started during the install (exim4 above all: a system mail
# server on port 25 is not wanted here), unless the machine already has a policy of its own.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' > "$policy"
  chmod 755 "$policy"
  trap 'rm -f "$policy"' EXIT
fi

# The Cockpit page is bundled with npm's packages at build time; a Node.js of the machine's own
# (with its npm) is kept.
if ! command -v npm >/dev/null; then
  packages+=(nodejs npm)
fi

apt-get -o DPkg::Lock::Timeout=600 update -qq
# Debian 13 ships Qt's SVG image and icon plugins apart from the library (Debian 12 has them in
# libqt6svg6): without them the windows draw none of their own pictures.
if apt-cache show qt6-svg-plugins >/dev/null 2>&1; then
  packages+=(qt6-svg-plugins)
fi
"${APT[@]}" install "${packages[@]}"

# systemd-container brings libnss-mymachines, which puts itself into /etc/nsswitch.conf: the
# containers' names are of no use to this machine's lookups.
if dpkg-query -W -f='${Status}' libnss-mymachines 2>/dev/null | grep -q 'install ok installed'; then
  "${APT[@]}" remove libnss-mymachines
fi

# Nor left running from an earlier install, nor started at the next boot. The mail tests run a
# private exim of their own.
if [ -d /run/systemd/system ]; then
  systemctl disable --now exim4.service >/dev/null 2>&1 || true
elif [ -x /etc/init.d/exim4 ]; then
  /etc/init.d/exim4 stop >/dev/null 2>&1 || true
fi
update-rc.d exim4 disable >/dev/null 2>&1 || true
# Nor a system Prometheus on port 9090: the metrics tests start a private one on a free port.
if [ -d /run/systemd/system ]; then
  systemctl disable --now prometheus.service >/dev/null 2>&1 || true
elif [ -x /etc/init.d/prometheus ]; then
  /etc/init.d/prometheus stop >/dev/null 2>&1 || true
fi
update-rc.d prometheus disable >/dev/null 2>&1 || true

# Debian starts the distribution's own smbd and nmbd when it can; Vantor's tests run private
# servers of their own and do not need them.
echo "install-deps.sh: done"
