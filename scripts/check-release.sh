#!/usr/bin/env bash
# Builds the release and the test kit of the last commit twice, from two fresh clones in different folders,
# at different times, in different time zones and with different umasks, and checks that setup.exe, the
# release zip and the kit come out byte for byte the same, that none holds a build folder's path, and that
# the zip's README.txt has Windows line breaks. Then signs both releases with a throwaway certificate and
# checks that each signature verifies against it, that both signed zips are the same, and that removing
# the signature gives back the unsigned setup.exe byte for byte. Uncommitted changes are not part of the
# check.
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
(umask 022; cd "$one" && env -u BUILD TZ=UTC bash scripts/package-tests.sh >/dev/null)
sleep 2
(umask 077; cd "$two" && env -u BUILD TZ=Pacific/Kiritimati bash scripts/package-tests.sh >/dev/null)

status=0
release=$(basename "$one"/build/quorvane-setup-[0-9]*.zip)
kit=$(basename "$one"/build/quorvane-setup-tests-*.zip)
for file in setup.exe "$release" "$kit"; do
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

# Zipped files are compressed: look for the paths in what they hold.
unzip -q "$one/build/$kit" -d "$work/kit"
if grep -r -a -l -e "$one" -e "$two" -e "$work" "$work/kit" >&2; then
    log "the files above in the kit hold a build folder's path"
    status=1
fi

unzip -p "$one/build/$release" README.txt >"$work/README.txt"
lines=$(grep -c '' "$work/README.txt" || true)
if [ "$lines" -eq 0 ] || [ "$lines" -ne "$(grep -c $'\r$' "$work/README.txt" || true)" ]; then
    log "README.txt in the zip has a line without a Windows line break"
    status=1
fi
if ! cmp -s <(unzip -p "$one/build/$kit" bin/setup.exe) "$one/build/setup.exe"; then
    log "the kit's setup.exe is not the release's"
    status=1
fi

# Signing: a certificate made here for this check only, outside both clones.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quorvane Setup throwaway test signer" \
    -keyout "$work/signer.key" -out "$work/signer.crt" >/dev/null 2>&1
for copy in "$one" "$two"; do
    cp "$copy/build/$release" "$work/unsigned.zip"
    (cd "$copy" && env -u BUILD bash scripts/package.sh --cert "$work/signer.crt" --key "$work/signer.key" >/dev/null)
    mv "$copy/build/$release" "$copy/signed.zip"
    mv "$work/unsigned.zip" "$copy/build/$release"
    unzip -p "$copy/signed.zip" setup.exe >"$copy/signed.exe"
    if ! osslsigncode verify -CAfile "$work/signer.crt" -in "$copy/signed.exe" >"$work/verify.log" 2>&1; then
        log "the signature of $copy does not verify:"
        cat "$work/verify.log" >&2
        status=1
    fi
    osslsigncode remove-signature -in "$copy/signed.exe" -out "$copy/stripped.exe" >/dev/null
    if ! cmp "$copy/stripped.exe" "$copy/build/setup.exe"; then
        log "removing the signature does not give back the unsigned setup.exe"
        status=1
    fi
done
if cmp "$one/signed.zip" "$two/signed.zip"; then
    echo "same: signed $release $(sha256sum <"$one/signed.zip" | cut -d' ' -f1)"
else
    status=1
fi

[ "$status" -eq 0 ] && log "release and kit of $commit reproduced byte for byte; signed, verified and stripped back"
exit "$status"
