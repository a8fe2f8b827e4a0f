#!/usr/bin/env bash
# Draws the Windows program's icons and bitmaps (this folder) from the SVG pictures the Qt program
# shows, with the Linux build's vantor-render-win-resources:
#   cmake --build build --target vantor-render-win-resources && src/win/res/render.sh build/bin/vantor-render-win-resources
# The files are kept in the repository: the Windows cross build has no Qt to draw them with.
set -euo pipefail
tool=$1
cd "$(dirname "$0")"
app=../../app/icons
history=../../history/icons
"$tool" ico vantor.ico $app/vantor.svg 16 32 48
for name in tray tray-user folder file; do "$tool" ico $name.ico $app/$name.svg 16 32; done
for name in help hide remote history; do "$tool" ico $name.ico $app/$name.svg 16; done
"$tool" ico report.ico $history/report.svg 32
# Bitmaps over the colour the program treats as transparent: white, or pure red.
"$tool" bmp user.bmp $app/user.svg 16 FFFFFF
"$tool" bmp header-user.bmp $app/header-user.svg 13 FFFFFF
"$tool" bmp header-computer.bmp $app/header-computer.svg 13 FFFFFF
"$tool" bmp header-files.bmp $app/header-files.svg 13 FF0000
"$tool" bmp timestamp.bmp $history/timestamp.svg 13 FF0000
"$tool" bmp duration.bmp $history/duration.svg 13 FFFFFF
# Menu pictures over light grey, which the program turns into the menu's colour.
for name in close-session close-all connect blacklist whitelist close-resource open-folder show-history \
            clear-history options; do
  "$tool" bmp menu-$name.bmp $app/$name.svg 16 C0C0C0
done
