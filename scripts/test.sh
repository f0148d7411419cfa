#!/usr/bin/env bash
# Builds everything and runs every test under Wine on a virtual display of its own.
set -eu
source "$(dirname "$0")/common.sh"

install_packages
build
ensure_prefix
start_display
trap 'stop_wine; stop_display' EXIT
start_wine
cd "$BUILD"
ctest --output-on-failure "$@"
