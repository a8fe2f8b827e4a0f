#!/bin/sh
# Runs one test program in a home of its own: HOME and the XDG folders point into a fresh
# temporary folder that is removed afterwards, so no test reads or writes the real user's
# settings, data or caches, and nothing one run leaves behind can change the next.
set -u
root=$(mktemp -d "${TMPDIR:-/tmp}/vantor-test.XXXXXX") || exit 1
trap 'rm -rf "$root"' EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
mkdir -p "$root/home" "$root/config" "$root/data" "$root/cache" "$root/state" "$root/runtime"
chmod 700 "$root/runtime"
export HOME="$root/home" XDG_CONFIG_HOME="$root/config" XDG_DATA_HOME="$root/data" \
  XDG_CACHE_HOME="$root/cache" XDG_STATE_HOME="$root/state" XDG_RUNTIME_DIR="$root/runtime"
"$@"
