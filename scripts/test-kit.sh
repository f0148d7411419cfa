#!/usr/bin/env bash
# Proves the test kit as a Windows machine would meet it: a fresh Wine prefix without the Z: drive (Wine's
# window onto this machine), the kit unzipped into a folder whose name has spaces and letters outside the
# ANSI code page, and `cmd /c run-tests.cmd` run there. Passes when the kit exits 0, ends with its summary
# line, reports no failure and at least MIN_PASSED passed tests; then runs a few tests again against a
# setup.exe with one key name changed (same length) and passes only if the kit reports them failed and
# exits non-zero. A kit that cannot fail proves nothing.
#
#   bash scripts/test-kit.sh build/quorvane-setup-tests-VERSION.zip PREFIX [MIN_PASSED [ARCH]]
#
# PREFIX is deleted and made anew, for ARCH: win64 (the default) or win32.
set -eu
source "$(dirname "$0")/common.sh"

zipfile=$(realpath "${1:?the zip of the kit}")
prefix=$(realpath -m "${2:?a folder for a new Wine prefix}")
min_passed=${3:-1}
arch=${4:-win64}
# A space, and Cyrillic letters that code page 1252 (Wine's default) cannot spell.
kit_folder='kit tests/Пётр'
# The fault: a key the setup reads and writes, renamed; the tests below must notice.
fault_from=MASTER_VOLUME
fault_to=MASTER_VOLUMX
fault_tests=EndToEndStoredFile.

install_packages
wine_here_or_in_rig "$0" "$@"
# Under the test machine's emulation every program runs some eight times slower.
timeout_s=120
[ -n "${RIG_INSIDE:-}" ] && timeout_s=900
export WINEPREFIX=$prefix WINEARCH=$arch
wineserver -k 2>/dev/null || true
rm -rf "$prefix"
ensure_prefix
wineserver -w
rm -f "$prefix/dosdevices/z:"
# Kept open for the run, as scripts/test.sh does, only so that Wine's desktop lasts: outside the kit, on C:.
if [ -f "$BUILD/desktop_keeper.exe" ]; then
    cp "$BUILD/desktop_keeper.exe" "$prefix/drive_c/windows/temp/"
fi

start_display
trap 'wineserver -k 2>/dev/null || true; stop_display' EXIT
wine cmd /c exit 0 </dev/null >/dev/null 2>&1
[ -f "$prefix/drive_c/windows/temp/desktop_keeper.exe" ] &&
    wine 'C:\windows\temp\desktop_keeper.exe' </dev/null >/dev/null 2>&1

# Runs the kit unzipped in drive C at $1 with the runner's arguments after it; sets summary, passed,
# skipped, failed and code.
run_kit() {
    local folder=$prefix/drive_c/$1
    shift
    log "run-tests.cmd in C:\\${folder#$prefix/drive_c/} $*"
    code=0
    local started=$SECONDS
    (cd "$folder" && wine cmd /c run-tests.cmd "$@" </dev/null >"$folder/console.log" 2>&1) || code=$?
    log "the kit ran for $((SECONDS - started)) s and exited with $code"
    tr -d '\r' <"$folder/console.log" | grep -v '^$' | tail -n 40 >&2
    summary=$(tr -d '\r' <"$folder/console.log" | grep -v '^$' | tail -n 1)
    if [[ ! "$summary" =~ ^tests:\ ([0-9]+)\ passed,\ ([0-9]+)\ skipped,\ ([0-9]+)\ failed$ ]]; then
        log "the kit did not end with its summary line"
        return 1
    fi
    passed=${BASH_REMATCH[1]} skipped=${BASH_REMATCH[2]} failed=${BASH_REMATCH[3]}
    if [ "$(tr -d '\r' <"$folder/test-report.txt" | tail -n 1)" != "$summary" ]; then
        log "test-report.txt does not end with the summary line"
        return 1
    fi
    grep -a '^  SKIPPED' "$folder/test-report.txt" -A1 | tr -d '\r' >&2 || true
}

status=0
mkdir -p "$prefix/drive_c/$kit_folder"
unzip -q "$zipfile" -d "$prefix/drive_c/$kit_folder"
run_kit "$kit_folder" "--timeout=$timeout_s" || status=1
if [ "$status" -eq 0 ]; then
    if [ "$code" -ne 0 ] || [ "$failed" -ne 0 ] || [ "$passed" -lt "$min_passed" ]; then
        log "the kit failed: exit code $code, $passed passed (at least $min_passed wanted), $failed failed"
        status=1
    else
        log "the kit passed: $passed passed, $skipped skipped"
    fi
fi

faulty='faulty kit'
mkdir -p "$prefix/drive_c/$faulty"
unzip -q "$zipfile" -d "$prefix/drive_c/$faulty"
setup_exe=$prefix/drive_c/$faulty/bin/setup.exe
if [ "$(grep -a -o "$fault_from" "$setup_exe" | wc -l)" -ne 1 ]; then
    log "$fault_from is not in setup.exe exactly once: choose another fault"
    exit 1
fi
FROM=$fault_from TO=$fault_to perl -0777 -pi -e 's/\Q$ENV{FROM}\E/$ENV{TO}/' "$setup_exe"
if run_kit "$faulty" "--timeout=$timeout_s" "--only=$fault_tests"; then
    if [ "$code" -eq 0 ] || [ "$failed" -eq 0 ]; then
        log "the kit did not notice the faulty setup.exe: exit code $code, $failed failed"
        status=1
    else
        log "the kit caught the faulty setup.exe: $failed failed, exit code $code"
    fi
else
    status=1
fi

if [ -e "$prefix/dosdevices/z:" ]; then
    log "the Z: drive came back during the run"
    status=1
fi
exit "$status"
