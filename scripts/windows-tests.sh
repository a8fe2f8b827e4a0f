#!/usr/bin/env bash
# Cross-builds the core, the Windows backends and the core's tests with mingw-w64, and runs the
# tests under Wine with ctest, in a fresh Wine prefix that is thrown away afterwards.
# Build folder: build-windows/ (or $VANTOR_WINDOWS_BUILD_DIR). Extra arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${VANTOR_WINDOWS_BUILD_DIR:-build-windows}
linux_build_dir=${VANTOR_BUILD_DIR:-build}

for tool in x86_64-w64-mingw32-g++-posix wine wineserver wineboot; do
  if ! command -v "$tool" >/dev/null; then
    echo "windows-tests.sh: $tool is missing (scripts/install-deps.sh installs it)" >&2
    exit 1
  fi
done

# The console of the Linux build talks to the agent running under Wine (test console_interop).
host_console=
if [ -f "$linux_build_dir/CMakeCache.txt" ]; then
  cmake --build "$linux_build_dir" --target vantor-console -j"$(nproc)"
  host_console=$(cd "$linux_build_dir" && pwd)/bin/vantor-console
else
  echo "windows-tests.sh: no Linux build in $linux_build_dir; the console test across platforms is left out" >&2
fi

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/mingw-w64-x86_64.cmake" \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$(command -v wine)" \
  -DVANTOR_BUILD_GUI=OFF -DVANTOR_BUILD_BENCH=OFF -DVANTOR_HOST_CONSOLE="$host_console"
cmake --build "$build_dir" -j"$(nproc)"

WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/vantor-wine.XXXXXX")
export WINEPREFIX
# No debug chatter; no Mono or Gecko (their installers would ask for downloads); no display.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=" WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY

finish() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap finish EXIT

# The server and the prefix's own processes (services, explorer) outlive wineboot and keep any
# pipe they were given open: with ctest's or CI's output on them, ctest would wait for ever.
start=$(date +%s)
wineserver -p >/dev/null 2>&1 </dev/null
wineboot -u >/dev/null 2>&1 </dev/null
echo "windows-tests.sh: Wine prefix ready in $(( $(date +%s) - start )) s"

cd "$build_dir"
ctest --output-on-failure --timeout 300 -j2 "$@"
