#!/usr/bin/env bash
# Builds Vantor and starts the monitor of this computer's Samba sessions.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
build_dir=${VANTOR_BUILD_DIR:-build}
exec "$build_dir/bin/vantor-poll" "$@"
