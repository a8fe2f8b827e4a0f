#!/usr/bin/env bash
# Builds Vantor and runs every test (unit, window, and against a private Samba server), then
# cross-builds the Windows side and runs the core's tests under Wine (VANTOR_SKIP_WINDOWS=1 skips).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
build_dir=${VANTOR_BUILD_DIR:-build}
(cd "$build_dir" && ctest --output-on-failure --timeout 600 -j2)
if [ "${VANTOR_SKIP_WINDOWS:-0}" != 1 ]; then
  scripts/windows-tests.sh
fi
