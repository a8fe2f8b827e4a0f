#!/usr/bin/env bash
# The .deb under real systemd: a Debian 12 tree booted with systemd as its PID 1 in systemd-nspawn
# (only loopback inside: nothing leaves the machine), the package installed there as an
# administrator would, and checked end to end: no console port open by default and only the
# allowed console answered once it is on, no start through the bus, options saved over the bus
# kept across a restart, Samba's tools at work under the unit's sandbox, the unit's exposure
# within its goal, the service stopped on remove and its traces gone on purge.
#   scripts/systemd-tests.sh [BUILD_DIR]
# Needs root, systemd-nspawn and debootstrap (exits 77, skipped, without them). The Debian tree is
# made once (a few minutes) and kept in /var/tmp/NAME-bookworm; each run boots an overlay of it,
# which goes at the end with the container, its mounts and its cgroups, also when a step fails.
# NAME is $VANTOR_SYSTEMD_NAME (default vantor-systemd).
set -euo pipefail
cd "$(dirname "$0")/.."
begin=$(date +%s)
build_dir=${1:-${VANTOR_BUILD_DIR:-build}}
name=${VANTOR_SYSTEMD_NAME:-vantor-systemd}
cache=/var/tmp/$name-bookworm
mirror=http://deb.debian.org/debian
# systemd and the bus as the package expects them, Samba and its client side, and the libraries of
# the package's programs, so that the install inside needs nothing from the network.
include=systemd,systemd-sysv,dbus,libpam-systemd,polkitd,samba,smbclient,python3-samba,python3,procps,iproute2
include+=,libqt6widgets6,libqt6gui6,libqt6core6,libqt6svg6,libqt6dbus6,libssl3,libsystemd0

say() { echo "systemd-tests.sh: $*"; }
skip() { say "skipped: $1"; exit 77; }
[ "$(id -u)" = 0 ] || skip "needs root"
command -v systemd-nspawn >/dev/null || skip "systemd-nspawn missing (scripts/install-deps.sh installs systemd-container)"
command -v debootstrap >/dev/null || skip "debootstrap missing (scripts/install-deps.sh installs it)"
# The container's systemd gets cgroups of its own made by hand, as on these machines, where no
# systemd runs the host and the cgroups are the hybrid layout.
[ -d /sys/fs/cgroup/systemd ] && [ -d /sys/fs/cgroup/unified ] && [ ! -d /run/systemd/system ] \
  || skip "needs a host without systemd and with hybrid cgroups (/sys/fs/cgroup/systemd and unified)"
[ -f "$build_dir/CPackConfig.cmake" ] || { say "no build in $build_dir (scripts/build.sh first)"; exit 1; }

work=$(mktemp -d "/var/tmp/$name-run.XXXXXX")
root=$work/root
nspawn=
pid1=
cleanup() {
  local status=$?
  set +e
  if [ -n "$pid1" ] && kill -0 "$pid1" 2>/dev/null; then
    kill -s RTMIN+4 "$pid1"  # systemd's poweroff
  fi
  if [ -n "$nspawn" ]; then
    for _ in $(seq 60); do kill -0 "$nspawn" 2>/dev/null || break; sleep 0.5; done
    kill -9 "$nspawn" 2>/dev/null
    wait "$nspawn" 2>/dev/null
  fi
  # Whatever is left in the container's cgroups, then the cgroups themselves, innermost first.
  for hierarchy in systemd unified; do
    local cg=/sys/fs/cgroup/$hierarchy/$name
    [ -d "$cg" ] || continue
    find "$cg" -name cgroup.procs -exec cat {} + 2>/dev/null | xargs -r kill -9 2>/dev/null
    for _ in $(seq 20); do
      find "$cg" -depth -type d -exec rmdir {} + 2>/dev/null
      [ -d "$cg" ] || break
      sleep 0.5
    done
    [ -d "$cg" ] && say "could not remove the cgroup $cg"
  done
  for m in "$root/proc" "$root/dev" "$root"; do
    mountpoint -q "$m" && { umount "$m" || umount -l "$m"; }
  done
  rm -rf "$work"
  say "took $(( $(date +%s) - begin )) s"
  exit $status
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# --- the tree --------------------------------------------------------------------------------------
stamp="bookworm $include"
if [ "$(cat "$cache/base.ok" 2>/dev/null)" != "$stamp" ]; then
  say "making the Debian 12 tree in $cache (once)"
  rm -rf "$cache/base" "$cache/base.ok"
  mkdir -p "$cache"
  if ! debootstrap --variant=minbase --include="$include" bookworm "$cache/base" "$mirror" >"$cache/debootstrap.log" 2>&1; then
    tail -n 30 "$cache/debootstrap.log"; exit 1
  fi
  chroot "$cache/base" apt-get update -qq
  # nmbd waits for an interface other than loopback, which the container never gets.
  ln -sf /dev/null "$cache/base/etc/systemd/system/nmbd.service"
  echo "$stamp" >"$cache/base.ok"
fi

mkdir -p "$work/upper" "$work/overlay-work" "$root"
mount -t overlay overlay -o "lowerdir=$cache/base,upperdir=$work/upper,workdir=$work/overlay-work" "$root"

cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$work/deb" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
cp "$work"/deb/vantor_*.deb "$root/root/vantor.deb"
cp tests/package/console_probe.py "$root/root/console_probe.py"
# The package's own dependencies, fetched now: inside there is only loopback.
mount --bind /proc "$root/proc"
mount --bind /dev "$root/dev"
chroot "$root" apt-get install -qq --download-only -y /root/vantor.deb >"$work/download.log" 2>&1 \
  || { cat "$work/download.log"; exit 1; }
umount "$root/dev" "$root/proc"

# --- boot ------------------------------------------------------------------------------------------
# systemd in the container wants cgroups of its own; on these machines nothing else manages them.
for hierarchy in unified systemd; do mkdir -p "/sys/fs/cgroup/$hierarchy/$name"; done
(
  for hierarchy in unified systemd; do echo "$BASHPID" >"/sys/fs/cgroup/$hierarchy/$name/cgroup.procs"; done
  exec systemd-nspawn --boot -D "$root" -M "$name" --register=no --keep-unit --private-network --console=pipe
) >"$work/console.log" 2>&1 </dev/null &
nspawn=$!
for _ in $(seq 60); do
  for p in $(find "/sys/fs/cgroup/systemd/$name" -name cgroup.procs -exec cat {} + 2>/dev/null); do
    if grep -qE '^NSpid:.*[[:space:]]1$' "/proc/$p/status" 2>/dev/null; then pid1=$p; break 2; fi
  done
  kill -0 "$nspawn" 2>/dev/null || break
  sleep 0.5
done
[ -n "$pid1" ] || { cat "$work/console.log"; say "the container did not boot"; exit 1; }
inside() { nsenter -t "$pid1" -a -- "$@"; }
# The manager answers once its private socket is there; asked before, systemctl gives up at once.
for _ in $(seq 60); do inside test -S /run/systemd/private && break; sleep 0.5; done
state=$(timeout 120 nsenter -t "$pid1" -a -- systemctl is-system-running --wait 2>/dev/null || true)
say "booted: $state"
case "$state" in running|degraded) ;; *) cat "$work/console.log"; exit 1 ;; esac
[ "$state" = degraded ] && inside systemctl --failed --no-legend --no-pager

failures=0
check() {
  local what=$1; shift
  if "$@"; then echo "  ok: $what"; else echo "  FAILED: $what"; failures=$((failures + 1)); fi
}
# Runs until `condition` holds, at most `tries` half seconds.
until_true() {
  local tries=$1; shift
  for _ in $(seq "$tries"); do "$@" && return 0; sleep 0.5; done
  return 1
}
call() {  # call ACCOUNT METHOD [SIGNATURE ARGS...]
  local account=$1; shift
  inside runuser -u "$account" -- busctl --system call org.vantor.Monitor1 /org/vantor/Monitor org.vantor.Monitor1 "$@" 2>&1
}
active() { [ "$(inside systemctl is-active vantord)" = "$1" ]; }
listening() { [ -n "$(inside ss -Hltun '( sport = :36872 or sport = :36869 )')" ]; }
no_listener() { ! listening; }
probe() { inside python3 /root/console_probe.py "$@"; }
journal_has() { inside journalctl -u vantord --no-pager -o cat | grep -qF -- "$1"; }

# --- install, as an administrator would ------------------------------------------------------------
say "installing the package"
inside apt-get install -qq -y /root/vantor.deb >"$work/install.log" 2>&1 || { cat "$work/install.log"; exit 1; }
check "installed, neither enabled nor started" bash -c "[ \"\$(nsenter -t $pid1 -a -- systemctl is-enabled vantord)\" = disabled ]"
check "the service is not running after the install" active inactive

inside useradd -m vtuser
inside groupadd sambaadmins
inside useradd -m -G sambaadmins vtadmin
inside cp /usr/share/doc/vantor/49-vantor.rules.example /etc/polkit-1/rules.d/49-vantor.rules

# --- no start through the bus ----------------------------------------------------------------------
out=$(call vtuser GetCaption || true)
echo "    an unprivileged GetCaption: $out"
check "the bus names no activatable service" bash -c "! nsenter -t $pid1 -a -- ls /usr/share/dbus-1/system-services/org.vantor.Monitor1.service 2>/dev/null"
sleep 2
check "an unprivileged call left the service stopped" active inactive

# --- started: nothing open by default --------------------------------------------------------------
inside systemctl enable --now vantord >/dev/null 2>&1
check "enabled and started by systemctl" until_true 20 active active
check "no console port open by default" no_listener
check "a console gets no connection" bash -c "[ \"\$(nsenter -t $pid1 -a -- python3 /root/console_probe.py 127.0.0.1 id)\" = refused ]"

exposure=$(inside systemd-analyze security --no-pager vantord | sed -n 's/.*Overall exposure level for vantord.service: \([0-9.]*\).*/\1/p')
if [ -n "$exposure" ] && awk -v e="$exposure" 'BEGIN { exit !(e <= 3.0) }'; then verdict=met; else verdict="not met"; fi
say "exposure of vantord.service (systemd-analyze security): ${exposure:-unknown} (goal: at most 3.0) $verdict"
check "exposure within its goal" [ "$verdict" = met ]

# --- options over the bus, across a restart --------------------------------------------------------
cp "$root/etc/vantor/vantor.conf" "$work/vantor.conf.shipped"
out=$(call vtuser SetOptions 'a{ss}' 1 beepOnNewUser 1 || true)
check "a caller polkit refuses changes nothing (${out%%$'\n'*})" bash -c "! grep -q 'beepOnNewUser = 1' '$root/etc/vantor/vantor.conf'"
out=$(call vtadmin SetOptions 'a{ss}' 1 beepOnNewUser 1 || true)
check "SetOptions by the allowed account ($out)" [ -z "$out" ]
changed=$(diff "$work/vantor.conf.shipped" "$root/etc/vantor/vantor.conf" | grep -c '^[<>]' || true)
check "saved into /etc/vantor/vantor.conf, comments kept, one line changed" \
  bash -c "grep -qx 'beepOnNewUser = 1' '$root/etc/vantor/vantor.conf' && [ '$changed' = 2 ]"
inside systemctl restart vantord
check "restarted" until_true 20 active active
check "the saved option holds after the restart" until_true 20 bash -c \
  "nsenter -t $pid1 -a -- runuser -u vtadmin -- busctl --system call org.vantor.Monitor1 /org/vantor/Monitor org.vantor.Monitor1 GetOptions 2>/dev/null | grep -q '\"beepOnNewUser\" \"1\"'"
out=$(call vtadmin SetRemoteServer s elsewhere || true)
check "SetRemoteServer refuses a server the settings do not list" grep -q remoteServers <<<"$out"
out=$(call vtadmin SetOptions 'a{ss}' 1 consoleAllow 0.0.0.0/0 || true)
check "the console list is not the bus's to change" grep -q 'settings file only' <<<"$out"

# --- Samba's tools under the unit ------------------------------------------------------------------
inside mkdir -p /srv/vt
printf '[vt]\n  path = /srv/vt\n  read only = no\n' >>"$root/etc/samba/smb.conf"
inside systemctl restart smbd
inside useradd -M vtsmb
printf 'pw-smb\npw-smb\n' | inside smbpasswd -a -s vtsmb >/dev/null
# Where the service keeps the srvsvc helper's account (ProtectHome= hides /root).
printf 'username = vtsmb\npassword = pw-smb\n' >"$root/var/lib/vantor/credentials"
chmod 600 "$root/var/lib/vantor/credentials"
inside bash -c 'mkfifo /root/hold; (sleep 120 >/root/hold &); smbclient //127.0.0.1/vt -U vtsmb%pw-smb </root/hold >/dev/null 2>&1 &'
check "the service lists the Samba session (smbstatus)" until_true 30 bash -c \
  "nsenter -t $pid1 -a -- runuser -u vtadmin -- busctl --system call org.vantor.Monitor1 /org/vantor/Monitor org.vantor.Monitor1 GetSessions 2>/dev/null | grep -q vtsmb"
out=$(call vtadmin GetShares || true)
check "the service lists the shares (testparm)" grep -q '/srv/vt' <<<"$out"
# The unit's sandbox as systemd applies it to a command of its own: every setting of [Service]
# but the service's own command and life cycle.
properties=()
while IFS= read -r line; do properties+=(-p "$line"); done < <(
  sed -n '/^\[Service\]/,/^\[/p' "$root/lib/systemd/system/vantord.service" | grep -E '^[A-Z][A-Za-z]*=' \
    | grep -vE '^(Type|ExecStart|ExecReload|Restart|RestartSec|TimeoutStopSec)=')
sandboxed() { inside systemd-run --quiet --wait --pipe --collect "${properties[@]}" "$@" 2>&1; }
out=$(sandboxed smbstatus --json || true)
check "smbstatus under the unit's sandbox" grep -q vtsmb <<<"$out"
out=$(sandboxed pdbedit -L || true)
check "pdbedit under the unit's sandbox" grep -q '^vtsmb:' <<<"$out"
out=$(sandboxed testparm -s --suppress-prompt || true)
check "testparm under the unit's sandbox" grep -q '^\[vt\]' <<<"$out"
out=$(call vtadmin CloseSession ss vtsmb 127.0.0.1 || true)
check "CloseSession over the bus ($out)" [ -z "$out" ]
check "the session is gone (smbcontrol)" until_true 30 bash -c \
  "! nsenter -t $pid1 -a -- smbstatus -b 2>/dev/null | grep -q vtsmb"

# After the close: the helper's own session would otherwise be one more for vtsmb to close, gone
# by the time the service closes it.
out=$(sandboxed python3 /usr/share/vantor/vantor-srvsvc.py --credentials /var/lib/vantor/credentials 127.0.0.1 shares || true)
check "the srvsvc helper under the unit's sandbox ($(tail -n 1 <<<"$out" | cut -c1-60)...)" grep -q '"ok": *true' <<<"$out"

# --- the console agent, switched on for one console ------------------------------------------------
sed -i 's/^consoleListen =.*/consoleListen = 127.0.0.1/; s/^consoleAllow =.*/consoleAllow = 127.0.0.2/' "$root/etc/vantor/vantor.conf"
inside systemctl reload vantord
check "listening once consoleListen is set" until_true 20 listening
out=$(probe 127.0.0.1 id || true)
check "a console not on the list gets no answer ($out)" [ "$out" = none ]
out=$(probe 127.0.0.1 discover || true)
check "nor a discovery reply ($out)" [ "$out" = none ]
out=$(probe 127.0.0.2 id || true)
check "the allowed console gets the identity ($out)" grep -q "^b'\\\\x01" <<<"$out"
out=$(probe 127.0.0.2 discover || true)
check "and the discovery reply ($out)" grep -q "^b'\\\\x01" <<<"$out"
probe 127.0.0.1 close-all >/dev/null || true
probe 127.0.0.2 close-all >/dev/null || true
check "the allowed console's close-all is in the journal with its address" until_true 10 journal_has "console 127.0.0.2 asks to close every session"
check "the other's is not even read" bash -c "! nsenter -t $pid1 -a -- journalctl -u vantord --no-pager -o cat | grep -q 'console 127.0.0.1'"

# --- remove and purge ------------------------------------------------------------------------------
inside apt-get remove -qq -y vantor >"$work/remove.log" 2>&1 || cat "$work/remove.log"
check "remove stops the service" bash -c "! nsenter -t $pid1 -a -- pgrep -x vantord >/dev/null"
inside apt-get purge -qq -y vantor >"$work/purge.log" 2>&1 || cat "$work/purge.log"
check "purge takes the enablement link" bash -c "[ ! -e '$root/etc/systemd/system/multi-user.target.wants/vantord.service' ] && [ ! -L '$root/etc/systemd/system/multi-user.target.wants/vantord.service' ]"
check "purge takes the data and the settings" bash -c "[ ! -e '$root/var/lib/vantor' ] && [ ! -e '$root/etc/vantor' ]"
check "and leaves no mask behind" bash -c "[ ! -L '$root/etc/systemd/system/vantord.service' ]"

if [ "$failures" -gt 0 ]; then
  say "$failures checks failed; the service's journal:"
  inside journalctl -u vantord --no-pager -o short-monotonic | tail -n 40
  exit 1
fi
say "passed"
