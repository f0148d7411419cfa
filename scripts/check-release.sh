#!/usr/bin/env bash
# Builds the release of the last commit twice, from two fresh clones in different folders, at different
# times, in different time zones and with different umasks, and checks that setup.exe and the zip come out
# byte for byte the same, that neither holds a build folder's path, and that the zip's README.txt has
# Windows line breaks. Uncommitted changes are not part of the check.
set -eu
source "$(dirname "$0")/common.sh"

install_packages
commit=$(git -C "$ROOT" rev-parse HEAD)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

one=$work/one
two=$work/second/clone
for copy in "$one" "$two"; do
    git clone -q "$ROOT" "$copy"
    git -C "$copy" checkout -q "$commit"
done
(umask 022; cd "$one" && env -u BUILD TZ=UTC bash scripts/package.sh >/dev/null)
sleep 2
(umask 077; cd "$two" && env -u BUILD TZ=Pacific/Kiritimati bash scripts/package.sh >/dev/null)

status=0
for file in setup.exe "$(basename "$one"/build/quorvane-setup-*.zip)"; do
    if cmp "$one/build/$file" "$two/build/$file"; then
        echo "same: $file $(sha256sum <"$one/build/$file" | cut -d' ' -f1)"
    else
        status=1
    fi
    if grep -a -q -e "$one" -e "$two" -e "$work" "$one/build/$file"; then
        log "$file holds the build folder's path"
        status=1
    fi
done

unzip -p "$one"/build/quorvane-setup-*.zip README.txt >"$work/README.txt"
lines=$(grep -c '' "$work/README.txt" || true)
if [ "$lines" -eq 0 ] || [ "$lines" -ne "$(grep -c $'\r$' "$work/README.txt" || true)" ]; then
    log "README.txt in the zip has a line without a Windows line break"
    status=1
fi
[ "$status" -eq 0 ] && log "release of $commit reproduced byte for byte"
exit "$status"
