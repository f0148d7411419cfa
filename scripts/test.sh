#!/usr/bin/env bash
# Builds everything once and runs every test under Wine, on a virtual display of its own, in a 32-bit
# prefix and in a 64-bit one (where the 32-bit programs run through WoW64, as on 64-bit Windows).
# Both runs must pass. WINE_ARCHS="win32" (or "win64") runs one of them only.
set -eu
source "$(dirname "$0")/common.sh"

ARCHS=${WINE_ARCHS:-win32 win64}
# A test that runs out of time gets one more run: every test bounds its own waits for the setup and fails
# by itself, so only the test program or Wine can be stuck, and in the test machine a test program that
# had passed once never ended (1 run in some 250). scripts/soak.sh runs without this second chance.
install_packages
build
wine_here_or_in_rig "$0" "$@"
for arch in $ARCHS; do
    use_prefix "$arch"
    ensure_prefix
done
start_display
trap 'stop_wine; stop_display' EXIT
cd "$BUILD"
failed=""
for arch in $ARCHS; do
    use_prefix "$arch"
    log "ctest in the $arch prefix"
    start_wine
    ctest --output-on-failure --timeout "$TEST_TIMEOUT_S" --repeat after-timeout:2 "$@" || failed="$failed $arch"
    stop_wine
done
if [ -n "$failed" ]; then
    log "tests failed in:$failed"
    exit 1
fi
log "tests passed in: $ARCHS"
