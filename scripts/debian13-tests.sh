#!/usr/bin/env bash
# The Debian 13 part of the tests: a fresh Debian 13 (trixie) tree made with debootstrap from
# Debian's mirror, Vantor's build dependencies installed in it, Vantor built there without the
# windows, and its unit and integration tests run there as root against that tree's Samba (4.22).
# The tree is made anew at every run and removed afterwards (VANTOR_DEBIAN13_KEEP=1 keeps it);
# its bind mounts are removed, and anything still running in it stopped, even when a step fails.
# Needs root and debootstrap. VANTOR_DEBIAN13_DIR names the tree's folder. Arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."

# 77: this machine cannot run the part at all (run-tests.sh then goes on without it).
if [ "$(id -u)" -ne 0 ]; then
  echo "debian13-tests.sh: needs root (debootstrap, chroot); skipped" >&2
  exit 77
fi
if ! command -v debootstrap >/dev/null; then
  echo "debian13-tests.sh: needs debootstrap (scripts/install-deps.sh installs it); skipped" >&2
  exit 77
fi
tree=${VANTOR_DEBIAN13_DIR:-/var/tmp/vantor-trixie}
mirror=http://deb.debian.org/debian
start=$(date +%s)
mounted=()

# Two runs on one tree would remove it under each other (and each would stop the other's
# processes): the second one stops here, before it touches anything.
mkdir -p "$(dirname "$tree")"
exec 9>"$tree.lock"
if ! flock -n 9; then
  echo "debian13-tests.sh: another run uses $tree (VANTOR_DEBIAN13_DIR names another folder)" >&2
  exit 1
fi

# Runs a command in the tree with an environment of its own: nothing of this machine's (its PATH,
# TMPDIR, CC, CXX, CFLAGS, LIBRARY_PATH, CCACHE_*, a compiler launcher) reaches the tree's
# compiler and tests, whose files are not there.
inside() {
  chroot "$tree" env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
    LANG=C.UTF-8 TERM=dumb DEBIAN_FRONTEND=noninteractive "$@"
}
step() {
  echo "=== debian13-tests.sh: $1 (at $(( $(date +%s) - start )) s)"
}

cleanup() {
  local status=$?
  # What the tests started and did not stop (they should have): nothing may outlive the tree.
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$tree" ] && kill -9 "${p#/proc/}" 2>/dev/null || true
  done
  local i
  for (( i=${#mounted[@]}-1; i>=0; i-- )); do
    umount "${mounted[$i]}" 2>/dev/null || umount -l "${mounted[$i]}" 2>/dev/null || true
  done
  if [ "${VANTOR_DEBIAN13_KEEP:-0}" != 1 ] && ! findmnt -rn -o TARGET | grep -q "^$tree/"; then
    rm -rf --one-file-system "$tree"
  fi
  rm -f "$tree.lock"
  echo "debian13-tests.sh: took $(( $(date +%s) - start )) s"
  exit "$status"
}
trap cleanup EXIT

if findmnt -rn -o TARGET | grep -q "^$tree/"; then
  echo "debian13-tests.sh: $tree still has mounts of an earlier run; unmount them first" >&2
  exit 1
fi
rm -rf --one-file-system "$tree"
mkdir -p "$tree"
step "debootstrap trixie into $tree"
debootstrap --variant=minbase trixie "$tree" "$mirror" > "$tree.debootstrap.log" 2>&1 \
  || { tail -20 "$tree.debootstrap.log"; exit 1; }
rm -f "$tree.debootstrap.log"

for m in proc sys dev dev/pts dev/shm; do
  mount --bind "/$m" "$tree/$m"
  mounted+=("$tree/$m")
done
cp /etc/resolv.conf "$tree/etc/resolv.conf"
# No package may start its service in the tree: it would share this machine's network (smbd on
# port 445, exim on 25).
printf '#!/bin/sh\nexit 101\n' > "$tree/usr/sbin/policy-rc.d"
chmod 755 "$tree/usr/sbin/policy-rc.d"

step "the build and test dependencies"
inside sh -c '
  apt-get -qq update &&
  apt-get -qq -y --no-install-recommends install build-essential cmake ninja-build pkg-config \
    nlohmann-json3-dev libgtest-dev libgmock-dev libcpp-httplib-dev libssl-dev libsystemd-dev \
    samba samba-common-bin smbclient python3-samba dbus-daemon polkitd systemd procps passwd openssl \
    exim4-daemon-heavy prometheus >/dev/null'
inside smbd --version

step "build (no windows)"
mkdir -p "$tree/src/vantor"
git ls-files -z | tar --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -xf - -C "$tree/src/vantor"
# A configuration that fails shows why (CMake's own log says what the compiler answered).
inside bash -c 'cd /src/vantor &&
  if ! cmake -S . -B /build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTOR_BUILD_GUI=OFF -DVANTOR_BUILD_BENCH=OFF > /tmp/configure.log 2>&1; then
    cat /tmp/configure.log; tail -60 /build/CMakeFiles/CMakeConfigureLog.yaml 2>/dev/null; exit 1
  fi &&
  if ! cmake --build /build -j"$(nproc)" > /build/build.log 2>&1; then grep -E -B2 -A8 "error|FAILED" /build/build.log | head -80; exit 1; fi
  grep -E -A3 "warning:" /build/build.log | head -60; tail -1 /build/build.log'
step "unit and integration tests"
inside sh -c 'cd /build && ctest --output-on-failure --timeout 600 -j"$(nproc)" -LE "package|interop" "$@"' ctest "$@"
