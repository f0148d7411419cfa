#!/usr/bin/env bash
# Builds the release zip: setup.exe and its short readme, ready to drop beside a game.
# The same commit gives the same bytes in any folder, at any time, for any user: setup.exe carries no time
# stamp; the zip holds each file's time (the last commit's, SOURCE_DATE_EPOCH, in UTC) and mode, but no
# owner or other Unix extras, which CPack's ZIP generator would write.
#
# Given a certificate and its private key, setup.exe is signed (Authenticode, SHA-256) before it is zipped:
#   --cert FILE       or SETUP_SIGN_CERT      the certificate, with any intermediate ones (PEM or DER)
#   --key FILE        or SETUP_SIGN_KEY       its private key (PEM or DER); kept outside the checkout
#   --pkcs12 FILE     or SETUP_SIGN_PKCS12    instead of both: a .pfx/.p12 file holding them
#   --pass-file FILE  or SETUP_SIGN_PASS_FILE the key's passphrase, when it has one
#   --timestamp URL   or SETUP_SIGN_TIMESTAMP an RFC 3161 time-stamp server, where the network reaches one
# Without them the zip is the unsigned one. The signature's time is SOURCE_DATE_EPOCH, so the same key
# signs the same commit to the same bytes; removing the signature gives back the unsigned setup.exe.
set -eu
source "$(dirname "$0")/common.sh"

cert=${SETUP_SIGN_CERT:-}
key=${SETUP_SIGN_KEY:-}
pkcs12=${SETUP_SIGN_PKCS12:-}
pass_file=${SETUP_SIGN_PASS_FILE:-}
timestamp=${SETUP_SIGN_TIMESTAMP:-}
while [ $# -gt 0 ]; do
    case "$1" in
        --cert) cert=${2:?--cert needs a file}; shift 2 ;;
        --key) key=${2:?--key needs a file}; shift 2 ;;
        --pkcs12) pkcs12=${2:?--pkcs12 needs a file}; shift 2 ;;
        --pass-file) pass_file=${2:?--pass-file needs a file}; shift 2 ;;
        --timestamp) timestamp=${2:?--timestamp needs a URL}; shift 2 ;;
        *) log "unknown argument: $1 (see the head of $0)"; exit 1 ;;
    esac
done
if [ -n "$pkcs12" ]; then
    if [ -n "$cert$key" ] || [ ! -r "$pkcs12" ]; then
        log "signing takes either a readable .pfx/.p12 file or a certificate and a key, not both"
        exit 1
    fi
    secret=$pkcs12
elif [ -n "$cert$key" ]; then
    if [ -z "$cert" ] || [ -z "$key" ] || [ ! -r "$cert" ] || [ ! -r "$key" ]; then
        log "signing needs both a readable certificate and a readable key"
        exit 1
    fi
    secret=$key
fi
if [ -n "${secret:-}" ]; then
    case "$(realpath "$secret")/" in
        "$ROOT"/*)
            log "the private key lies inside the checkout: move it out, so it can never be committed"
            exit 1 ;;
    esac
fi

install_packages
release_epoch
build --target setup

stage=$BUILD/release
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
zipfile=$BUILD/quorvane-setup-$version.zip
rm -rf "$stage" "$zipfile"
cmake --install "$BUILD" --prefix "$stage" >/dev/null

if [ -n "${secret:-}" ]; then
    if [ -n "$pkcs12" ]; then
        signing=(-pkcs12 "$pkcs12")
    else
        signing=(-certs "$cert" -key "$key")
    fi
    signing+=(-h sha256 -n "Quorvane Setup" -time "$SOURCE_DATE_EPOCH")
    [ -n "$pass_file" ] && signing+=(-readpass "$pass_file")
    [ -n "$timestamp" ] && signing+=(-ts "$timestamp")
    # Only the tool's own complaint is shown: nothing of the key or its passphrase is ever echoed.
    if ! errors=$(osslsigncode sign "${signing[@]}" -in "$stage/setup.exe" -out "$stage/setup-signed.exe" 2>&1 >/dev/null); then
        log "signing failed: $errors"
        rm -f "$stage/setup-signed.exe"
        exit 1
    fi
    # The signature must come off again leaving exactly the unsigned program, or the release would no
    # longer be checkable against the source.
    osslsigncode remove-signature -in "$stage/setup-signed.exe" -out "$stage/setup-stripped.exe" >/dev/null
    if ! cmp -s "$stage/setup-stripped.exe" "$stage/setup.exe"; then
        log "removing the signature does not give back the unsigned setup.exe"
        exit 1
    fi
    chmod --reference="$stage/setup.exe" "$stage/setup-signed.exe"
    mv "$stage/setup-signed.exe" "$stage/setup.exe"
    rm -f "$stage/setup-stripped.exe"
fi

find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
(cd "$stage" && zip -q -X "$zipfile" setup.exe README.txt)
echo "$zipfile"
