#!/usr/bin/env bash
# Builds Vantor and runs every test, in five parts:
#   1. the ordinary build: unit, window (offscreen) and integration tests (a private smbd, as root),
#      then its .deb under real systemd in a container (scripts/systemd-tests.sh);
#   2. the same suites again in a build with AddressSanitizer and UBSan (build-asan/): any report of
#      either fails the run;
#   3. the core and the service without the windows, built with ThreadSanitizer (build-tsan/), and
#      their tests: any report fails the run;
#   4. the Windows side: cross-built with mingw-w64, its tests run under Wine;
#   5. Debian 13: a trixie tree (debootstrap, kept in /var/tmp between runs) with scripts/install-deps.sh
#      run in it, Vantor built there with the windows (Qt 6.8), its unit, window (offscreen),
#      integration and Cockpit page tests run against that tree's Samba 4.22 and Cockpit 337; not
#      the package and interop tests, nor parts 1b to 4 (scripts/debian13-tests.sh).
# Options: --fast runs only the unit and window tests of the ordinary build (the quick loop while working);
# VANTOR_SKIP_SANITIZE=1, VANTOR_SKIP_TSAN=1, VANTOR_SKIP_WINDOWS=1, VANTOR_SKIP_SYSTEMD=1 or
# VANTOR_SKIP_DEBIAN13=1 leave out the sanitizer, ThreadSanitizer, Windows, systemd or Debian 13 part.
# Extra arguments go to every ctest run (for example -R history).
set -euo pipefail
cd "$(dirname "$0")/.."

fast=0
if [ "${1:-}" = --fast ]; then
  fast=1
  shift
fi

build_dir=${VANTOR_BUILD_DIR:-build}
asan_dir=${VANTOR_ASAN_BUILD_DIR:-build-asan}
tsan_dir=${VANTOR_TSAN_BUILD_DIR:-build-tsan}
jobs=$(nproc)

part() {
  echo
  echo "=== run-tests.sh: $1"
}

elapsed() {
  echo "run-tests.sh: $1 took $(( $(date +%s) - $2 )) s"
}

start=$(date +%s)
part "ordinary build"
scripts/build.sh
if [ "$fast" = 1 ]; then
  (cd "$build_dir" && ctest --output-on-failure --timeout 600 -j"$jobs" -LE 'integration|interop|package' "$@")
  elapsed "the fast part" "$start"
  exit 0
fi
(cd "$build_dir" && ctest --output-on-failure --timeout 600 -j"$jobs" "$@")
elapsed "build and tests" "$start"

if [ "${VANTOR_SKIP_SYSTEMD:-0}" != 1 ]; then
  start=$(date +%s)
  part "the package under real systemd (a container)"
  status=0
  VANTOR_BUILD_DIR=$build_dir scripts/systemd-tests.sh || status=$?
  # 77: this machine cannot run it (no root, no systemd-nspawn), which the script said.
  [ "$status" = 0 ] || [ "$status" = 77 ] || exit "$status"
  elapsed "the systemd part" "$start"
fi

if [ "${VANTOR_SKIP_SANITIZE:-0}" != 1 ]; then
  start=$(date +%s)
  part "AddressSanitizer and UBSan build"
  # Debug: the sanitizers need no optimiser, and the build takes a third less time without it.
  VANTOR_BUILD_DIR=$asan_dir scripts/build.sh -DCMAKE_BUILD_TYPE=Debug -DVANTOR_SANITIZE=ON -DVANTOR_BUILD_BENCH=OFF
  # Every report also goes to a file of its own, so that one from a program a test starts (vantord,
  # vantor-console, the agent) fails the run even where that test does not look at its exit status.
  # Leaks count as findings; the suppressions cover only libraries outside Vantor.
  reports=$(cd "$asan_dir" && pwd)/sanitizer-reports
  rm -rf "$reports"
  mkdir -p "$reports"
  # The bus tests run their clients as test accounts, whose reports must land here too.
  chmod 1777 "$reports"
  export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=0:strict_string_checks=1:log_path=$reports/asan"
  export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan"
  export LSAN_OPTIONS="suppressions=$PWD/tests/support/lsan.supp:print_suppressions=0"
  tests_status=0
  (cd "$asan_dir" && ctest --output-on-failure --timeout 900 -j"$jobs" -LE 'package' "$@") || tests_status=$?
  unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS
  if compgen -G "$reports/*" >/dev/null; then
    echo "run-tests.sh: the sanitizers reported:"
    cat "$reports"/*
    exit 1
  fi
  [ "$tests_status" = 0 ] || exit "$tests_status"
  elapsed "sanitizer build and tests" "$start"
fi

if [ "${VANTOR_SKIP_TSAN:-0}" != 1 ]; then
  start=$(date +%s)
  part "ThreadSanitizer build"
  # The threads live in the core and the service (poll worker, recorder, agent, metrics, bus);
  # the windows add none of their own, and Qt would need a ThreadSanitizer build of its own.
  VANTOR_BUILD_DIR=$tsan_dir scripts/build.sh -DCMAKE_BUILD_TYPE=Debug -DVANTOR_TSAN=ON -DVANTOR_BUILD_GUI=OFF \
    -DVANTOR_BUILD_BENCH=OFF
  # As in part 2, every report also lands in a file, so one from a program a test starts counts.
  reports=$(cd "$tsan_dir" && pwd)/sanitizer-reports
  rm -rf "$reports"
  mkdir -p "$reports"
  chmod 1777 "$reports"
  export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:log_path=$reports/tsan:suppressions=$PWD/tests/support/tsan.supp"
  # The parsers' corpus replays and their truncation and differential runs use one thread and take
  # minutes under ThreadSanitizer: parts 1 and 2 run them.
  export GTEST_FILTER='-JsonSax.*:SmbStatusParser.*'
  tests_status=0
  (cd "$tsan_dir" && ctest --output-on-failure --timeout 900 -j"$jobs" -LE 'package' -E '_replay$' "$@") || tests_status=$?
  unset TSAN_OPTIONS GTEST_FILTER
  if compgen -G "$reports/*" >/dev/null; then
    echo "run-tests.sh: ThreadSanitizer reported:"
    cat "$reports"/*
    exit 1
  fi
  [ "$tests_status" = 0 ] || exit "$tests_status"
  elapsed "ThreadSanitizer build and tests" "$start"
fi

if [ "${VANTOR_SKIP_WINDOWS:-0}" != 1 ]; then
  start=$(date +%s)
  part "Windows build under Wine"
  scripts/windows-tests.sh "$@"
  elapsed "Windows build and tests" "$start"
fi

if [ "${VANTOR_SKIP_DEBIAN13:-0}" != 1 ]; then
  start=$(date +%s)
  part "Debian 13 tree"
  status=0
  scripts/debian13-tests.sh "$@" || status=$?
  # 77: this machine cannot run it (no root, no debootstrap), which the script said.
  [ "$status" = 0 ] || [ "$status" = 77 ] || exit "$status"
  elapsed "Debian 13 build and tests" "$start"
fi
