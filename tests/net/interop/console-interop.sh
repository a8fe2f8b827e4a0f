#!/usr/bin/env bash
# vantor-console against a console agent in another process: under Wine in the Windows cross
# build (the agent on Winsock, the console on the build machine's POSIX sockets), natively in the
# Linux build. Everything is on 127.0.0.1; every wait is bounded.
#
#   console-interop.sh CONSOLE EMULATOR|- AGENT
set -euo pipefail
console=$1
emulator=$2
agent=$3
[ "$emulator" = - ] && emulator=

work=$(mktemp -d "${TMPDIR:-/tmp}/vantor-interop.XXXXXX")
agent_pid=
cleanup() {
  if [ -n "$agent_pid" ] && kill -0 "$agent_pid" 2>/dev/null; then
    kill "$agent_pid" 2>/dev/null || true
    wait "$agent_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "console-interop: $*" >&2
  echo "--- agent output:" >&2
  cat "$work/agent.out" "$work/agent.err" >&2 || true
  exit 1
}

# Ports the system has just handed out on 127.0.0.1 (UDP for discovery, TCP for the replies).
# Another process may take one before the agent binds it (tests running in parallel send
# datagrams from ports the system picks), so a start that cannot open its ports is tried again.
free_ports() {
  python3 - <<'PY'
import socket
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.bind(("127.0.0.1", 0))
t = socket.socket(); t.bind(("127.0.0.1", 0))
print(u.getsockname()[1], t.getsockname()[1])
PY
}

mkdir -p "$work/data"
data_dir=$work/data
stop_file=$work/stop
if [ -n "$emulator" ] && command -v winepath >/dev/null; then
  data_dir=$(winepath -w "$data_dir" 2>/dev/null)
  stop_file=$(winepath -w "$stop_file" 2>/dev/null)
fi

command_port=
for attempt in 1 2 3; do
  read -r discovery_port reply_port < <(free_ports)
  $emulator "$agent" --discovery-port "$discovery_port" --reply-port "$reply_port" \
    --data-dir "$data_dir" --stop-file "$stop_file" --seconds 120 \
    >"$work/agent.out" 2>"$work/agent.err" </dev/null &
  agent_pid=$!
  for _ in $(seq 1 300); do
    command_port=$(sed -n 's/^ready \([0-9]*\).*/\1/p' "$work/agent.out" | tr -d '\r')
    [ -n "$command_port" ] && break
    kill -0 "$agent_pid" 2>/dev/null || break
    sleep 0.2
  done
  [ -n "$command_port" ] && break
  if kill -0 "$agent_pid" 2>/dev/null; then
    fail "the agent was not ready within 60 s"
  fi
  wait "$agent_pid" 2>/dev/null || true
  agent_pid=
  grep -q "cannot be opened" "$work/agent.err" || fail "the agent ended before it was ready"
  echo "console-interop: attempt $attempt: the agent's ports were taken; trying others" >&2
done
[ -n "$command_port" ] || fail "the agent was not ready within 60 s"

timeout=10
run() {
  "$console" --timeout "$timeout" --command-port "$command_port" --discovery-port "$discovery_port" \
    --reply-port "$reply_port" "$@"
}
expect() {
  local what=$1 pattern=$2 text=$3
  grep -Eq -- "$pattern" <<<"$text" || fail "$what: expected /$pattern/ in:"$'\n'"$text"
}

out=$(run id 127.0.0.1) || fail "id failed"
expect id "computer .*, 2 sessions, 3 open files" "$out"

out=$(run sessions 127.0.0.1) || fail "sessions failed"
expect sessions "^alice +PC1 +2$" "$out"
expect sessions "^bob +PC2 +1$" "$out"
expect sessions "^2 sessions$" "$out"

# discover listens for replies for the whole time-out.
timeout=3
out=$(run discover 127.0.0.1) || fail "discover failed"
timeout=10
expect discover "^127\.0\.0\.1  computer .*, 2 sessions" "$out"

run report 127.0.0.1 -o "$work/report.html" >/dev/null 2>"$work/report.err" || fail "report failed: $(cat "$work/report.err")"
grep -q "vantor test report" "$work/report.html" || fail "the report did not arrive whole"

out=$(run close 127.0.0.1 alice PC1) || fail "close failed"
# The agent polls every second: the closed session leaves its table.
for _ in $(seq 1 20); do
  out=$(run sessions 127.0.0.1) || fail "sessions after close failed"
  grep -q "^1 session$" <<<"$out" && break
  sleep 0.5
done
expect "sessions after close" "^1 session$" "$out"
expect "sessions after close" "^bob +PC2 +1$" "$out"

out=$(run delete-logs 127.0.0.1) || fail "delete-logs failed"

touch "$work/stop"
for _ in $(seq 1 150); do
  kill -0 "$agent_pid" 2>/dev/null || break
  sleep 0.2
done
kill -0 "$agent_pid" 2>/dev/null && fail "the agent did not stop within 30 s"
wait "$agent_pid" || fail "the agent failed"
agent_pid=
expect "the agent's service" "^closed alice PC1" "$(tr -d '\r' <"$work/agent.out")"
echo "console-interop: passed (command port $command_port, discovery port $discovery_port)"
