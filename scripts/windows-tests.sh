#!/usr/bin/env bash
# Cross-builds the core, the Windows backends, the window program vantor.exe, its installer and
# the tests with mingw-w64, and runs the tests under Wine with ctest, in a fresh Wine prefix that
# is thrown away afterwards, on a private X display (Xvfb) with a tray (trayer) for the windows.
# Build folder: build-windows/ (or $VANTOR_WINDOWS_BUILD_DIR). Extra arguments go to ctest.
# Pictures of the windows are left in build-windows/screenshots/. VANTOR_WINDOWS_TARGETS="a b"
# builds only those targets (with `-R` for ctest: a run of a few tests without building them all).
set -euo pipefail
cd "$(dirname "$0")/.."
# Wine takes the Windows locale, and with it the ANSI code page the tests expect (1252), from the
# environment's; a run without any (the C locale) would give the tests another code page.
export LANG=C.UTF-8
unset LC_ALL LC_CTYPE
build_dir=${VANTOR_WINDOWS_BUILD_DIR:-build-windows}
linux_build_dir=${VANTOR_BUILD_DIR:-build}

for tool in x86_64-w64-mingw32-g++-posix wine wineserver wineboot Xvfb trayer; do
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
if [ -n "${VANTOR_WINDOWS_TARGETS:-}" ]; then
  # shellcheck disable=SC2086
  cmake --build "$build_dir" -j"$(nproc)" --target $VANTOR_WINDOWS_TARGETS
else
  cmake --build "$build_dir" -j"$(nproc)"
fi

WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/vantor-wine.XXXXXX")
export WINEPREFIX
# No debug chatter; no Mono or Gecko (their installers would ask for downloads).
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=" WINEARCH=win64
unset WAYLAND_DISPLAY

xvfb_pid=
trayer_pid=
finish() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
  [ -n "$trayer_pid" ] && kill "$trayer_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -f "${display_fifo:-}"
}
trap finish EXIT

# A display of our own: Xvfb picks a free number and says which; trayer is its notification area.
display_fifo=$(mktemp -u "${TMPDIR:-/tmp}/vantor-display.XXXXXX")
mkfifo "$display_fifo"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$display_fifo" </dev/null >/dev/null 2>&1 &
xvfb_pid=$!
read -r -t 30 display_number <"$display_fifo" || { echo "windows-tests.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$display_number"
trayer --edge bottom --align right --widthtype pixel --width 120 --height 24 </dev/null >/dev/null 2>&1 &
trayer_pid=$!

# The prefix is made first, to its end: wineboot returns while its services are still being
# installed, so the server of that first start is waited for until it ends (a test started into
# a prefix still being made could end at once without a word).
# The server and the prefix's own processes (services, explorer) outlive wineboot and keep any
# pipe they were given open: with ctest's or CI's output on them, ctest would wait for ever. So
# they are started again here, on a persistent server, with no pipe of ours; a test that started
# them itself would hold its ctest pipe open past its end and time out. One program is run to its
# end before the tests start side by side, so that no test is the prefix's first.
start=$(date +%s)
timeout 300 wineboot -i >/dev/null 2>&1 </dev/null || true
timeout 120 wineserver -w >/dev/null 2>&1 </dev/null || true
wineserver -p >/dev/null 2>&1 </dev/null
wineboot >/dev/null 2>&1 </dev/null
# Without a window manager on the display, Wine draws the windows' frames and captions itself.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null || true
echo "windows-tests.sh: Wine prefix ready in $(( $(date +%s) - start )) s"

cd "$build_dir"
junit=$PWD/windows-tests.xml
rm -f "$junit"
status=0
ctest --output-on-failure --timeout 300 -j2 --output-junit "$junit" "$@" || status=$?

# The pictures of the windows, for a person to look at.
if [ -d screenshots ] && command -v convert >/dev/null; then
  for shot in screenshots/*.bmp; do
    [ -e "$shot" ] || continue
    convert "$shot" "${shot%.bmp}.png" && rm -f "$shot"
  done
  echo "windows-tests.sh: pictures of the windows in $PWD/screenshots"
fi
[ "$status" = 0 ] && exit 0

# A test program that failed without printing a single byte never reached its main(): Wine did not
# start it. Only such a test is run once more, alone and with Wine's error channel on so that the
# cause shows; any test that printed something and failed fails the run as it stands.
mapfile -t failed < <(python3 - "$junit" <<'PY'
import sys, xml.etree.ElementTree as ET
for case in ET.parse(sys.argv[1]).getroot().iter("testcase"):
    if case.get("status") == "run":
        continue
    out = "".join((e.text or "") for e in case.iter() if e.tag in ("system-out", "system-err"))
    print(("silent " if not out.strip() else "loud ") + case.get("name"))
PY
)
silent=()
loud=0
for line in "${failed[@]}"; do
  case $line in
    "silent "*) silent+=("${line#silent }") ;;
    *) loud=$((loud + 1)) ;;
  esac
done
if [ "${#silent[@]}" = 0 ]; then
  exit "$status"
fi
echo "windows-tests.sh: ${#silent[@]} test(s) failed without any output (Wine did not start them): ${silent[*]}; running them again, alone"
again=0
for name in "${silent[@]}"; do
  WINEDEBUG=err+all ctest --output-on-failure --timeout 300 -R "^${name}\$" || again=1
done
echo "windows-tests.sh: ${#silent[@]} silent failure(s) run again; $loud other failure(s)"
if [ "$again" != 0 ] || [ "$loud" != 0 ]; then
  exit 1
fi
