#!/usr/bin/env bash
# Builds the test kit, build/quorvane-setup-tests-VERSION.zip: run-tests.cmd at its top and, in bin/, the
# release's own setup.exe (the same bytes as in the release zip, signed when the release is: the signing
# arguments of package.sh are passed on), the sample game, every test program, their fixtures and the
# runner. What goes in is what CMake's build/kit/manifest.txt names, so new test programs come along
# by themselves. Reproducible like the release: the same commit gives the same zip.
set -eu
source "$(dirname "$0")/common.sh"

install_packages
release_epoch
release_zip=$(bash "$ROOT/scripts/package.sh" "$@" | tail -n 1)
build --target test_kit >/dev/null

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
stage=$BUILD/kit-stage
zipfile=$BUILD/quorvane-setup-tests-$version.zip
rm -rf "$stage"
mkdir -p "$stage"
while IFS='|' read -r place built; do
    [ -n "$place" ] || continue
    mkdir -p "$(dirname "$stage/$place")"
    cp "$built" "$stage/$place"
done <"$BUILD/kit/manifest.txt"

# The very program the player gets, not merely one built from the same sources.
unzip -p "$release_zip" setup.exe >"$stage/bin/setup.exe"
if ! cmp -s "$stage/bin/setup.exe" "$BUILD/setup.exe"; then
    rm -f "$BUILD/kit-unsigned.exe"
    if ! osslsigncode remove-signature -in "$stage/bin/setup.exe" -out "$BUILD/kit-unsigned.exe" >/dev/null 2>&1 ||
       ! cmp -s "$BUILD/kit-unsigned.exe" "$BUILD/setup.exe"; then
        log "the release's setup.exe, without its signature, is not the one just built"
        exit 1
    fi
    rm -f "$BUILD/kit-unsigned.exe"
fi

zip_reproducibly "$stage" "$zipfile"
echo "$zipfile"
