#!/usr/bin/env bash
# Runs vantor-setup.exe silently under Wine into a fresh folder, starts the installed program,
# checks the Start menu entry and the uninstaller, and uninstalls again. Uses the Wine prefix the
# caller set up (WINEPREFIX); the folder it installs into is removed afterwards.
#   installer-test.sh SETUP.exe VERSION
set -euo pipefail
setup=$1
version=$2
: "${WINEPREFIX:?installer-test.sh: WINEPREFIX must name the Wine prefix}"
dir=$(mktemp -d "${TMPDIR:-/tmp}/vantor-install.XXXXXX")
trap 'rm -rf "$dir"' EXIT
target="$dir/Vantor"
win_target="Z:${target//\//\\}"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Vantor"

fail() { echo "installer-test.sh: $*" >&2; exit 1; }

# /D= is the last argument, unquoted, as NSIS wants it.
timeout 120 wine "$setup" /S "/D=$win_target" </dev/null || fail "the installer failed ($?)"
for f in vantor.exe vantor_help.html uninstall.exe; do
  [ -f "$target/$f" ] || fail "$f was not installed"
done
[ -f "$menu/Vantor.lnk" ] || fail "no Start menu entry in $menu"
got=$(timeout 60 wine "$target/vantor.exe" --version </dev/null | tr -d '\r')
[ "$got" = "vantor $version" ] || fail "the installed program answered '$got' to --version"
timeout 60 wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantor' /v DisplayVersion \
  </dev/null 2>/dev/null | grep -q "$version" || fail "no uninstall entry in the registry"
# The installer leaves autostart to the Options window.
if timeout 60 wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v Vantor </dev/null >/dev/null 2>&1; then
  fail "the installer set the autostart entry"
fi

# _?= runs the uninstaller in place, so that it is waited for (it copies itself away otherwise).
timeout 120 wine "$target/uninstall.exe" /S "_?=$win_target" </dev/null || fail "the uninstaller failed ($?)"
[ ! -e "$target/vantor.exe" ] || fail "the uninstaller left vantor.exe"
[ ! -e "$menu" ] || fail "the uninstaller left the Start menu entry"
echo "installer-test.sh: installed, started (vantor $version) and uninstalled"
