# The machine that runs Wine. Sourced by common.sh, not run.
#
# Wine starts the setup's 32-bit programs through its 32-bit loader, an i386 Linux program, in the 32-bit
# prefix and in the 64-bit (WoW64) one alike. Some virtual machines offer no 32-bit mode at all: the kernel
# says "32-bit emulation disabled", and no segment for 32-bit code exists, so neither Wine's loader nor any
# emulation of it inside the same kernel can run (qemu's user-mode emulation of the loader costs about 50 s
# of CPU per Wine process). There the Wine part of a script runs inside a small x86-64 Debian machine under
# qemu's software emulation, whose kernel has the 32-bit mode, with the checkout shared at the same path.
#
# The machine's disk is built once per host (about 7 minutes, from the host's own Debian mirror) and kept in
# RIG_DIR, like the host's packages; it is used read-only, so runs never change it. One machine runs at a
# time on a host: each run takes the whole host's CPUs.

RIG_DIR=${RIG_DIR:-/var/cache/quorvane-setup-rig}
RIG_HOST_PACKAGES="qemu-system-x86 debootstrap e2fsprogs"
RIG_GUEST_PACKAGES="linux-image-amd64 initramfs-tools wine wine32:i386 wine64 fonts-wine xvfb xauth xdotool
                    imagemagick x11-utils x11-xserver-utils cmake zip unzip procps iproute2 util-linux"
# Changing what the disk holds means a new recipe number: the disk is then built again.
RIG_RECIPE="2 $RIG_GUEST_PACKAGES"
RIG_MEMORY_MB=${RIG_MEMORY_MB:-4096}
RIG_TIMEOUT_S=${RIG_TIMEOUT_S:-4800}

# True where this host runs Wine's 32-bit loader itself (and inside the test machine).
wine_runs_here() {
    [ -n "${RIG_INSIDE:-}" ] && return 0
    wine --version >/dev/null 2>&1
}

rig_suite() { . /etc/os-release && echo "$VERSION_CODENAME"; }

# The mirror the host's own packages come from, for the suite the host runs.
rig_mirror() {
    apt-get indextargets --format '$(SITE) $(RELEASE)' 2>/dev/null | awk -v suite="$(rig_suite)" \
        '$2 == suite { print $1; exit }'
}

# Builds the machine's disk, kernel and start-up image in RIG_DIR unless the current recipe's are there.
ensure_rig() {
    mkdir -p "$RIG_DIR"
    exec 8>"$RIG_DIR/build.lock"
    flock 8
    if [ "$(cat "$RIG_DIR/recipe" 2>/dev/null)" != "$RIG_RECIPE" ]; then
        build_rig || { flock -u 8; log "the test machine could not be built; see $RIG_DIR/build.log"; return 1; }
    fi
    # The first process comes from the checkout, so changing it needs no new disk.
    if ! cmp -s "$ROOT/scripts/rig-init" "$RIG_DIR/rig-init"; then
        debugfs -w -R "rm /rig-init" "$RIG_DIR/rootfs.img" >/dev/null 2>&1
        debugfs -w -R "write $ROOT/scripts/rig-init /rig-init" "$RIG_DIR/rootfs.img" >/dev/null 2>&1 &&
            debugfs -w -R "sif /rig-init mode 0100755" "$RIG_DIR/rootfs.img" >/dev/null 2>&1 &&
            cp "$ROOT/scripts/rig-init" "$RIG_DIR/rig-init"
    fi
    flock -u 8
}

build_rig() {
    local mirror suite tree=$RIG_DIR/tree
    mirror=$(rig_mirror)
    suite=$(rig_suite)
    [ -n "$mirror" ] || { log "no Debian mirror for $suite in the host's package sources"; return 1; }
    log "building the test machine ($suite) in $RIG_DIR: about 7 minutes, once per host"
    rm -rf "$tree" "$RIG_DIR/recipe"
    {
        debootstrap --variant=minbase "$suite" "$tree" "$mirror" &&
        mount -t proc proc "$tree/proc" && mount --bind /dev "$tree/dev" && mount -t sysfs sys "$tree/sys" &&
        chroot "$tree" dpkg --add-architecture i386 &&
        chroot "$tree" apt-get update &&
        DEBIAN_FRONTEND=noninteractive chroot "$tree" apt-get install -y --no-install-recommends \
            $RIG_GUEST_PACKAGES &&
        printf '9p\n9pnet\n9pnet_virtio\nvirtio_pci\nvirtio_blk\next4\n' >>"$tree/etc/initramfs-tools/modules" &&
        chroot "$tree" update-initramfs -u -k all &&
        chroot "$tree" apt-get clean
    } >"$RIG_DIR/build.log" 2>&1
    local status=$?
    umount "$tree/proc" "$tree/dev" "$tree/sys" 2>/dev/null
    [ "$status" -eq 0 ] || return 1
    cp "$ROOT/scripts/rig-init" "$tree/rig-init" && chmod 755 "$tree/rig-init" &&
        cp "$ROOT/scripts/rig-init" "$RIG_DIR/rig-init" &&
        cp "$tree"/boot/vmlinuz-* "$RIG_DIR/vmlinuz" && cp "$tree"/boot/initrd.img-* "$RIG_DIR/initrd.img" &&
        mkfs.ext4 -q -F -L rigroot -d "$tree" "$RIG_DIR/rootfs.img" 4G >>"$RIG_DIR/build.log" 2>&1 &&
        rm -rf "$tree" && echo "$RIG_RECIPE" >"$RIG_DIR/recipe"
}

# Runs the command in the test machine, in the current folder, with the checkout and the build folder
# shared at their own paths; prints what it prints and returns its exit code.
in_rig() {
    ensure_rig || return 1
    local job status shares=("$ROOT") var i=0
    case "$BUILD/" in "$ROOT"/*) ;; *) shares+=("$BUILD") ;; esac
    mkdir -p "$BUILD"
    job=$(mktemp -d "$BUILD/rig-job.XXXXXX")
    local qemu_shares=(-virtfs "local,path=$job,mount_tag=rigjob,security_model=passthrough,id=rigjob")
    : >"$job/mounts"
    for share in "${shares[@]}"; do
        qemu_shares+=(-virtfs "local,path=$share,mount_tag=share$i,security_model=passthrough,id=share$i")
        printf 'share%d %s\n' "$i" "$share" >>"$job/mounts"
        i=$((i + 1))
    done
    {
        echo "export RIG_INSIDE=1 BUILD=$(printf '%q' "$BUILD")"
        for var in WINE_ARCHS CI RUNS BENCH_CPU SHOTS SOURCE_DATE_EPOCH; do
            [ -n "${!var:-}" ] && echo "export $var=$(printf '%q' "${!var}")"
        done
        echo "cd $(printf '%q' "$PWD") || exit 1"
        echo "echo '== rig: job starts'"
        printf '%q ' "$@"
        echo
    } >"$job/cmd"

    exec 9>"$RIG_DIR/run.lock"
    if ! flock -n 9; then
        log "waiting for the test machine another run is using"
        flock 9
    fi
    log "starting the test machine ($(nproc) CPUs, ${RIG_MEMORY_MB} MB, software emulation)"
    timeout "$RIG_TIMEOUT_S" qemu-system-x86_64 -machine q35 -accel tcg,thread=multi -smp "$(nproc)" \
        -m "$RIG_MEMORY_MB" -nographic -no-reboot -snapshot \
        -kernel "$RIG_DIR/vmlinuz" -initrd "$RIG_DIR/initrd.img" \
        -append "console=ttyS0 root=LABEL=rigroot rw init=/rig-init quiet loglevel=3" \
        -drive "file=$RIG_DIR/rootfs.img,format=raw,if=virtio,cache=unsafe" \
        "${qemu_shares[@]}" </dev/null 2>&1 |
        sed -u -n 's/\r$//; /== rig: job starts/,/sysrq: Power Off/{/== rig: job starts/d; /sysrq: Power Off/d; p}'
    flock -u 9
    status=$(cat "$job/rc" 2>/dev/null || echo "")
    rm -rf "$job"
    if [ -z "$status" ]; then
        log "the test machine stopped before the job ended"
        return 1
    fi
    return "$status"
}

# Called by a script once its host-side work (packages, build) is done: where this host cannot run Wine,
# runs the whole script again inside the test machine (where those steps have nothing to do) and exits
# with its code. Usage: wine_here_or_in_rig "$0" "$@".
wine_here_or_in_rig() {
    wine_runs_here && return 0
    log "this host cannot run 32-bit programs: the rest of $(basename "$1") runs in the test machine"
    local status=0
    in_rig bash "$@" || status=$?
    exit "$status"
}
