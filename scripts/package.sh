#!/usr/bin/env bash
# Builds the release zip: setup.exe and its short readme, ready to drop beside a game.
# The same commit gives the same bytes in any folder at any time: setup.exe carries no time stamp, and
# every time in the zip is the last commit's (SOURCE_DATE_EPOCH, which CPack honours), in UTC.
set -eu
source "$(dirname "$0")/common.sh"

install_packages
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    if ! SOURCE_DATE_EPOCH=$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null); then
        log "not a git checkout: set SOURCE_DATE_EPOCH to the release's time (seconds since 1970) and try again"
        exit 1
    fi
fi
export SOURCE_DATE_EPOCH TZ=UTC
build --target setup
cd "$BUILD"
rm -f quorvane-setup-*.zip
cpack -G ZIP >/dev/null
ls "$BUILD"/quorvane-setup-*.zip
