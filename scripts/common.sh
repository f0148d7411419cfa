# Shared by the project's scripts: packages, the build, the Wine prefixes and a virtual display.
# Sourced, not run. Everything lives under the build folder; nothing touches ~/.wine.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD:-$ROOT/build}
PACKAGES="g++-mingw-w64-i686-posix wine wine32:i386 wine64 fonts-wine xvfb xauth xdotool imagemagick
          x11-utils x11-xserver-utils googletest cmake ninja-build zip unzip git osslsigncode openssl"

# Two prefixes: 32-bit Windows, and 64-bit Windows where the 32-bit programs run through WoW64.
PREFIX32=$BUILD/wineprefix
PREFIX64=$BUILD/wineprefix64
export WINEPREFIX=$PREFIX32
export WINEARCH=win32
export WINEDEBUG=-all
# No Mono or Gecko look-ups; no menu builder, which would write menus and file types under $HOME at every
# session start.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Wine turns Windows file names into Unix ones in the locale's character set: under the POSIX locale
# (no LANG, as on a fresh server or in a clean environment) no letter outside ASCII can be in a file
# name. C.UTF-8 is always there in Debian's libc.
export LC_ALL=C.UTF-8

log() { printf '== %s\n' "$*" >&2; }

source "$ROOT/scripts/rig.sh"

# Installs PACKAGES, and what the test machine needs where this host cannot run Wine itself. Inside that
# machine everything is there already.
install_packages() {
    [ -n "${RIG_INSIDE:-}" ] && return 0
    install_missing $PACKAGES
    wine_runs_here || install_missing $RIG_HOST_PACKAGES
}

install_missing() {
    local missing="" pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed" || missing="$missing $pkg"
    done
    [ -z "$missing" ] && return 0
    local add_i386=""
    dpkg --print-foreign-architectures | grep -qx i386 || add_i386="dpkg --add-architecture i386 && "
    if [ "$(id -u)" -ne 0 ]; then
        log "missing packages:$missing"
        log "run this as root, then try again:"
        echo "    ${add_i386}apt-get update && apt-get install -y --no-install-recommends$missing" >&2
        exit 1
    fi
    log "installing:$missing"
    [ -n "$add_i386" ] && dpkg --add-architecture i386
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null
}

# Inside the test machine the build, made by the host, is only used.
build() {
    [ -n "${RIG_INSIDE:-}" ] && return 0
    if [ ! -f "$BUILD/CMakeCache.txt" ]; then
        cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" >/dev/null
    fi
    cmake --build "$BUILD" "$@"
}

# Longest a test may run: a hung one fails after this. The test machine emulates its CPU, some eight times
# slower (its longest test takes some 190 s).
TEST_TIMEOUT_S=60
[ -n "${RIG_INSIDE:-}" ] && TEST_TIMEOUT_S=450

# Makes the prefix of the given architecture (win32, win64) the one Wine uses from here on.
use_prefix() {
    case "$1" in
        win32) export WINEPREFIX=$PREFIX32 WINEARCH=win32 ;;
        win64) export WINEPREFIX=$PREFIX64 WINEARCH=win64 ;;
        *) log "no prefix for $1"; return 1 ;;
    esac
}

# A prefix of the project's own; windows unmanaged so they close at once and sit where the program puts them.
# Wine's own TrueType fonts (Tahoma, and Marlett for the caption buttons) are not found unless they
# sit in the prefix's Fonts folder.
ensure_prefix() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        log "creating the $WINEARCH Wine prefix in $WINEPREFIX"
        wineboot -i </dev/null >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
        wineserver -w
    fi
    local fonts="$WINEPREFIX/drive_c/windows/Fonts"
    if [ ! -f "$fonts/marlett.ttf" ] && ls /usr/share/wine/fonts/*.ttf >/dev/null 2>&1; then
        cp -n /usr/share/wine/fonts/*.ttf "$fonts/"
    fi
}

# Starts Xvfb on a free display number unless one is given; stop_display stops only what we started.
# A number whose lock file is missing may still be taken (by a server in another root or container that
# shares the network), so a server that exits at once means: try the next number.
XVFB_PID=""
start_display() {
    local n
    for n in $(seq 90 130); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
        XVFB_PID=$!
        for _ in $(seq 100); do
            if [ -e "/tmp/.X11-unix/X$n" ]; then
                export DISPLAY=":$n"
                return 0
            fi
            kill -0 "$XVFB_PID" 2>/dev/null || break
            sleep 0.1
        done
        kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
        XVFB_PID=""
    done
    log "no Xvfb display could be started"
    return 1
}

stop_display() {
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
    XVFB_PID=""
}

# One set of Wine's background services and one desktop for the whole run, so no test pays for starting
# them; started with their output on /dev/null, so they hold none of the script's pipes (scripts/wine-test.sh
# keeps the test programs' own apart). The desktop process closes a second after the last program leaves
# it: a hidden window kept open from here holds it for the whole run.
start_wine() {
    wine cmd /c exit 0 </dev/null >/dev/null 2>&1
    if [ -f "$BUILD/desktop_keeper.exe" ]; then
        wine "$BUILD/desktop_keeper.exe" </dev/null >/dev/null 2>&1
    fi
}

stop_wine() {
    wineserver -k 2>/dev/null || true
}

# The time every file of a release or a kit carries: the last commit's, unless SOURCE_DATE_EPOCH is set.
release_epoch() {
    if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
        if ! SOURCE_DATE_EPOCH=$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null); then
            log "not a git checkout: set SOURCE_DATE_EPOCH to the release's time (seconds since 1970) and try again"
            exit 1
        fi
    fi
    export SOURCE_DATE_EPOCH TZ=UTC
}

# Zips the folder $1 into $2 the same way every time: names in a fixed order, each file's time
# SOURCE_DATE_EPOCH, fixed modes, no owner or other Unix extras, no entries for folders.
zip_reproducibly() {
    local folder=$1 zipfile=$2
    find "$folder" -type d -exec chmod 755 {} +
    find "$folder" -type f -exec chmod 644 {} +
    find "$folder" -type f \( -name '*.exe' -o -name '*.dll' -o -name '*.cmd' \) -exec chmod 755 {} +
    find "$folder" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
    rm -f "$zipfile"
    (cd "$folder" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | zip -q -X -D "$zipfile" -@)
}
