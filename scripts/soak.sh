#!/usr/bin/env bash
# Runs the whole suite again and again in one prefix while every CPU is kept busy by background work, to
# catch what shows only under load: a test program that fails after passing, a wait that runs out.
# Unlike scripts/test.sh, a test that runs out of time gets no second run: it fails the run.
# Usage: bash scripts/soak.sh [runs] [nice]   (10 runs and nice 10 by default; WINE_ARCHS=win64 for the
# 64-bit prefix)
# Goes on after a failing run; every run's ctest report is kept in $BUILD/soak, with the processes still
# alive after a failing one; exits 1 if any failed.
set -eu
source "$(dirname "$0")/common.sh"

runs=${1:-10}
arch=${WINE_ARCHS:-win32}
arch=${arch%% *}
# The load gives way to the tests a little (nice 10): the CPUs never idle, yet the tests still get through
# in about their usual time, which emulation makes long enough already. Nice 19 gives way more, for when
# ten loaded runs must fit in a fixed time.
LOAD_NICE=${2:-10}
# A level nice refuses would leave the runs without their load, yet logged as loaded.
case "$runs$LOAD_NICE" in
    *[!0-9]*) log "usage: bash scripts/soak.sh [runs] [nice 0-19]"; exit 2 ;;
esac

install_packages
build
wine_here_or_in_rig "$0" "$@"
use_prefix "$arch"
ensure_prefix

load_pids=()
stop_load() {
    [ ${#load_pids[@]} -gt 0 ] && kill "${load_pids[@]}" 2>/dev/null
    load_pids=()
}
start_display
trap 'stop_load; stop_wine; stop_display' EXIT
for _ in $(seq "$(nproc)"); do
    nice -n "$LOAD_NICE" sh -c 'while :; do :; done' &
    load_pids+=($!)
done
log "load: ${#load_pids[@]} busy loops at nice $LOAD_NICE on $(nproc) CPUs"

mkdir -p "$BUILD/soak"
cd "$BUILD"
failed=0
for run in $(seq "$runs"); do
    report="$BUILD/soak/run-$run.txt"
    start=$(date +%s)
    start_wine
    status=passed
    ctest --output-on-failure --timeout "$TEST_TIMEOUT_S" >"$report" 2>&1 || status=FAILED
    # What is still alive after a failure: a program that would not end (CTest has ended it by now), or
    # what a test left behind.
    [ "$status" = passed ] || ps -eo pid,ppid,etimes,args >"$BUILD/soak/run-$run-processes.txt" || true
    stop_wine
    [ "$status" = passed ] || failed=$((failed + 1))
    log "run $run of $runs in the $arch prefix: $status in $(($(date +%s) - start)) s: $(grep -E 'tests passed' "$report" || echo 'no summary')"
    [ "$status" = passed ] || grep -E '\*\*\*|Exception|Failed  ' "$report" >&2 || true
done
log "$((runs - failed)) of $runs runs passed"
[ "$failed" -eq 0 ]
