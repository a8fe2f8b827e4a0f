#!/usr/bin/env bash
# The Debian 13 part of the tests: a Debian 13 (trixie) tree made with debootstrap from Debian's
# mirror, scripts/install-deps.sh run in it (so the README's first command is seen to work there),
# Vantor built there with the windows (Qt 6.8), and its unit, window (offscreen), integration and
# Cockpit page tests run there as root against that tree's Samba 4.22 and Cockpit 337.
# The tree and its packages are kept between runs, with a compiler cache and npm's cache inside. It
# is made anew when it is missing or unfinished, older than a week, or with VANTOR_DEBIAN13_FRESH=1;
# a changed install-deps.sh runs again in it. Vantor's sources and build are made anew at every run.
# Its bind mounts are removed, and anything still running in it stopped, even when a step fails.
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
# The tree's packages are what scripts/install-deps.sh installs (the README's first command), and
# ccache.
wanted="trixie $(sha256sum scripts/install-deps.sh | cut -d' ' -f1) ccache"
stamp=$tree/.vantor-tree

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
  # What the tests started and did not stop (they should have): nothing may outlive the run.
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$tree" ] && kill -9 "${p#/proc/}" 2>/dev/null || true
  done
  local i
  for (( i=${#mounted[@]}-1; i>=0; i-- )); do
    umount "${mounted[$i]}" 2>/dev/null || umount -l "${mounted[$i]}" 2>/dev/null || true
  done
  # A tree left unfinished is of no use to the next run.
  if [ ! -e "$stamp" ] && ! findmnt -rn -o TARGET | grep -q "^$tree/"; then
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

mount_tree() {
  for m in proc sys dev dev/pts dev/shm; do
    mount --bind "/$m" "$tree/$m"
    mounted+=("$tree/$m")
  done
  cp /etc/resolv.conf "$tree/etc/resolv.conf"
  # npm in the tree trusts what this machine trusts: a proxy on the way to npm's registry may show
  # a certificate of its own, which this machine's list has and the tree's would not.
  if [ -f /etc/ssl/certs/ca-certificates.crt ]; then
    mkdir -p "$tree/etc/ssl/certs"
    cp /etc/ssl/certs/ca-certificates.crt "$tree/etc/ssl/certs/vantor-host-ca.crt"
    echo "cafile=/etc/ssl/certs/vantor-host-ca.crt" > "$tree/etc/npmrc"
  fi
}

# install-deps.sh runs again in a kept tree that another one made (it is safe to run again).
deps() {
  step "scripts/install-deps.sh in the tree"
  cp scripts/install-deps.sh "$tree/root/install-deps.sh"
  inside bash -c '/root/install-deps.sh > /root/install-deps.log 2>&1 || { tail -30 /root/install-deps.log; exit 1; }
    apt-get -qq -y --no-install-recommends install ccache >/dev/null && tail -1 /root/install-deps.log'
  echo "$wanted" > "$stamp"
}
made=$tree/.vantor-made
if [ "${VANTOR_DEBIAN13_FRESH:-0}" != 1 ] && [ -f "$stamp" ] && [ -f "$made" ] && [ -z "$(find "$made" -mtime +6)" ]; then
  step "the kept tree $tree (made $(date -r "$made" '+%F %R'))"
  mount_tree
  [ "$(cat "$stamp")" = "$wanted" ] || deps
else
  rm -rf --one-file-system "$tree"
  mkdir -p "$tree"
  step "debootstrap trixie into $tree"
  debootstrap --variant=minbase trixie "$tree" "$mirror" > "$tree.debootstrap.log" 2>&1 \
    || { tail -20 "$tree.debootstrap.log"; exit 1; }
  rm -f "$tree.debootstrap.log"
  touch "$made"
  mount_tree
  # No package may start its service in the tree: it would share this machine's network (smbd on
  # port 445, exim on 25, prometheus on 9090).
  printf '#!/bin/sh\nexit 101\n' > "$tree/usr/sbin/policy-rc.d"
  chmod 755 "$tree/usr/sbin/policy-rc.d"
  deps
  inside ccache --max-size=2G >/dev/null
fi
inside smbd --version
inside sh -c 'dpkg-query -W -f "\${Package} \${Version}\n" g++ qt6-base-dev cockpit-ws chromium nodejs'

step "build (with the windows)"
rm -rf --one-file-system "$tree/src/vantor" "$tree/build"
mkdir -p "$tree/src/vantor"
git ls-files -z | tar --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -xf - -C "$tree/src/vantor"
# A configuration that fails shows why (CMake's own log says what the compiler answered).
inside bash -c 'cd /src/vantor &&
  if ! cmake -S . -B /build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTOR_BUILD_BENCH=OFF > /tmp/configure.log 2>&1; then
    cat /tmp/configure.log; tail -60 /build/CMakeFiles/CMakeConfigureLog.yaml 2>/dev/null; exit 1
  fi &&
  if ! cmake --build /build -j"$(nproc)" > /build/build.log 2>&1; then grep -E -B2 -A8 "error|FAILED" /build/build.log | head -80; exit 1; fi
  grep -E -A3 "warning:" /build/build.log | head -60; tail -1 /build/build.log; ccache -s | grep -i -E "hits|misses" || true'
step "unit, window and integration tests"
inside sh -c 'cd /build && ctest --output-on-failure --timeout 600 -j"$(nproc)" -LE "package|interop" "$@"' ctest "$@"
