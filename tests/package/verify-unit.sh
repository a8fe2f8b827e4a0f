#!/usr/bin/env bash
# systemd-analyze verify on the service's unit, pointed at the built vantord: a unit that systemd
# would refuse (a misspelt key, a bad value) fails here, without root or an installed package.
#   verify-unit.sh UNIT VANTORD
set -euo pipefail
command -v systemd-analyze >/dev/null || { echo "skipped: systemd-analyze missing"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sed "s#/usr/sbin/vantord#$2#" "$1" > "$work/vantord.service"
# The man page is checked once installed (the package test).
out=$(systemd-analyze verify --man=no "$work/vantord.service" 2>&1) || { echo "$out"; exit 1; }
# verify also reports some problems only as messages.
if [ -n "$out" ]; then echo "$out"; exit 1; fi
echo "unit verified"
