#!/usr/bin/env bash
# Builds the release zip: setup.exe and its short readme, ready to drop beside a game.
# The same commit gives the same bytes in any folder, at any time, for any user: setup.exe carries no time
# stamp; the zip holds each file's time (the last commit's, SOURCE_DATE_EPOCH, in UTC) and mode, but no
# owner or other Unix extras, which CPack's ZIP generator would write.
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

stage=$BUILD/release
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
zipfile=$BUILD/quorvane-setup-$version.zip
rm -rf "$stage" "$zipfile"
cmake --install "$BUILD" --prefix "$stage" >/dev/null
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
(cd "$stage" && zip -q -X "$zipfile" setup.exe README.txt)
echo "$zipfile"
