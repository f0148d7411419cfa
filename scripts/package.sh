#!/usr/bin/env bash
# Builds the release zip: setup.exe and its short readme, ready to drop beside a game.
set -eu
source "$(dirname "$0")/common.sh"

install_packages
build --target setup
cd "$BUILD"
cpack -G ZIP >/dev/null
ls "$BUILD"/quorvane-setup-*.zip
