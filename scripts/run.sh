#!/usr/bin/env bash
# Builds Vantor and starts the monitor on the user's display. When no Samba server is running on
# this machine it starts the demo instead, so that there are sessions to see at once.
# Arguments are passed to vantor (--samba-config FILE, --data-dir DIR, --demo).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
build_dir=${VANTOR_BUILD_DIR:-build}

args=("$@")
want_demo=0
for a in "$@"; do
  [ "$a" = "--demo" ] && want_demo=1
done
if [ "$want_demo" = 0 ] && ! smbcontrol smbd ping >/dev/null 2>&1; then
  echo "run.sh: no Samba server is running on this machine: starting the demo (vantor --demo)" >&2
  args+=(--demo)
fi

# Started with sudo from a desktop session: use that user's display and X authority.
if [ -n "${SUDO_USER:-}" ] && [ -z "${XAUTHORITY:-}" ]; then
  user_home=$(getent passwd "$SUDO_USER" | cut -d: -f6)
  [ -f "$user_home/.Xauthority" ] && export XAUTHORITY="$user_home/.Xauthority"
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display: start it from a desktop session (or set DISPLAY)" >&2
  exit 1
fi
exec "$build_dir/bin/vantor" "${args[@]}"
