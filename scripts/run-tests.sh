#!/usr/bin/env bash
# Builds Vantor and runs every test (unit, window, and against a private Samba server).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
build_dir=${VANTOR_BUILD_DIR:-build}
cd "$build_dir"
ctest --output-on-failure --timeout 600 -j2
