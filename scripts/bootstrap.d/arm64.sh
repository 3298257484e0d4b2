# Sourced by scripts/bootstrap: the 64-bit ARM side, in $CACHE/arm64, each
# part in a folder of its own with its stamp and its log
# ($CACHE/logs/arm64-<part>.log):
#   cross/    the cross compiler (Debian 12's g++-aarch64-linux-gnu, with its
#             own glibc) and qemu-user-static, system packages, and a CMake
#             toolchain file naming the compilers, for raylib
#   sysroot/  Debian sid's arm64 packages: CPython 3.13, 3.14 and 3.15 with
#             their headers (the per-arch pyconfig.h beside Python.h), pip,
#             venv and pytest, the libraries they need, and libX11 and libGL
#             for raylib's configure and link; the interpreters find the
#             sysroot's loader and libraries by absolute paths, so that they
#             run under qemu with no variables set; the standard library is
#             byte-compiled (a start under qemu costs a second)
#   raylib/   raylib 6.0 cross-compiled with the configuration of every
#             raylib here: it needs the C and math libraries alone
# qemu runs arm64 programs directly once binfmt_misc knows it (a test's
# subprocesses too), which needs root; the registration is checked on every
# run, as it does not survive a reboot.
#
# Sets ARM64_SYSROOT, ARM64_RAYLIB_DIR, ARM64_PYTHON[version] and
# ARM64_MISSING (empty, or a line saying why there is no arm64 side).

ARM64_RECIPE=1
ARM64="$CACHE/arm64"
ARM64_CROSS="$ARM64/cross"
ARM64_SYSROOT="$ARM64/sysroot"
ARM64_RL="$ARM64/raylib"
ARM64_TRIPLET=aarch64-linux-gnu
ARM64_RAYLIB_DIR=""
ARM64_MISSING=""
declare -A ARM64_PYTHON
ARM64_BINFMT_CONF=/usr/lib/binfmt.d/qemu-aarch64.conf
ARM64_BINFMT=/proc/sys/fs/binfmt_misc

# The sysroot's packages: these and what they depend on, without the C
# library's headers (the cross compiler brings its own glibc and headers,
# older than sid's, so that what it builds runs on older systems too).
arm64_roots() {
    local v
    for v in "${PY_VERSIONS[@]}"; do printf '%s\n' "python$v" "python$v-dev" "python$v-venv"; done
    printf '%s\n' python3-pytest python3-pip python3-scikit-build-core
}
ARM64_NO_DEBS=(libc6-dev linux-libc-dev libc-dev-bin)
# libX11 and libGL for raylib, without their dependencies' closure (GL's
# drivers), which nothing here loads.
ARM64_X11_DEBS=(libx11-dev libx11-6 libxcb1 libxau6 libxdmcp6 libbsd0 libmd0 x11proto-dev
                libgl-dev libgl1 libglvnd0 libglx0 libglx-dev)

# The private apt for arm64: sid's arm64 lists in a state of their own; the
# system's dpkg is not told of the architecture.
ARM64_APT="$CACHE/apt-arm64"
ARM64_APT_OPTS=()
arm64_apt() {
    [ ${#ARM64_APT_OPTS[@]} = 0 ] || return 0
    local kr=/usr/share/keyrings/debian-archive-keyring.gpg
    mkdir -p "$ARM64_APT"/{lists/partial,cache/archives/partial,state,sources.list.d,preferences.d}
    : >"$ARM64_APT/state/status"
    printf 'deb [signed-by=%s] http://deb.debian.org/debian sid main\n' "$kr" >"$ARM64_APT/sources.list"
    mapfile -t ARM64_APT_OPTS < <(apt_options "$ARM64_APT" arm64)
    run retry apt-get "${ARM64_APT_OPTS[@]}" update
}

# arm64_part NAME FOLDER WANT BUILD [CHECK]: as musl_part, for the arm64 parts.
arm64_part() {
    local name=$1 folder=$2 want=$3
    stamp_is "$folder/.tobrim-stamp" "$want" && return 0
    logged_step "arm64: $name" "$LOGDIR/arm64-$(basename "$folder").log" arm64_build_part "${@:2}"
}
arm64_build_part() {
    local folder=$1 want=$2 build=$3 check=${4:-}
    rm -rf "$folder"
    newwork "arm64-$(basename "$folder")"
    "$build" "$WORK/dest"
    mkdir -p "$(dirname "$folder")"
    mv "$WORK/dest" "$folder"
    finish_part "$folder" "$want" "$check"
}

# --- the cross compiler -------------------------------------------------

arm64_cross_want() {
    printf 'recipe=%s gcc=%s qemu=%s\n' "$ARM64_RECIPE" "$(deb_version "g++-$ARM64_TRIPLET")" \
        "$(deb_version qemu-user-static)"
}
build_arm64_cross() {
    mkdir -p "$1"
    cat >"$1/toolchain.cmake" <<EOF
# Written by scripts/bootstrap: Debian's cross compiler for 64-bit ARM.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER $ARM64_TRIPLET-gcc)
set(CMAKE_CXX_COMPILER $ARM64_TRIPLET-g++)
EOF
}
check_arm64_cross() {
    printf 'int main(void) { return 0; }\n' >"$WORK/probe.c"
    "$ARM64_TRIPLET-gcc" -o "$WORK/probe" "$WORK/probe.c" || return 1
    readelf -h "$WORK/probe" | grep -q 'Machine: *AArch64' || return 1
    qemu-aarch64-static -L "/usr/$ARM64_TRIPLET" "$WORK/probe"
}

# --- the sysroot --------------------------------------------------------

build_arm64_sysroot() {
    local dest=$1 v b libdir=/usr/lib/$ARM64_TRIPLET debs=()
    arm64_apt
    # Every package the roots depend on, real packages only (virtual ones
    # are shown in <>, alternatives indented).
    mapfile -t debs < <(apt-cache "${ARM64_APT_OPTS[@]}" depends --recurse --no-recommends \
        --no-suggests --no-conflicts --no-breaks --no-replaces --no-enhances $(arm64_roots) \
        | grep -v '^[ <]' | sort -u | grep -vxF -f <(printf '%s\n' "${ARM64_NO_DEBS[@]}"))
    [ ${#debs[@]} -gt 20 ] || die "the arm64 dependencies of $(arm64_roots | tr '\n' ' ')were not resolved"
    debs+=("${ARM64_X11_DEBS[@]}")
    log "downloading ${#debs[@]} arm64 packages"
    mkdir -p "$WORK/debs" "$dest"
    (cd "$WORK/debs" && run retry apt-get "${ARM64_APT_OPTS[@]}" download "${debs[@]}")
    for b in "$WORK"/debs/*.deb; do run dpkg-deb -x "$b" "$dest"; done
    # The loader's own path, /lib/ld-linux-aarch64.so.1, inside the sysroot.
    [ -e "$dest/lib" ] || ln -s usr/lib "$dest/lib"
    [ -e "$dest$libdir/ld-linux-aarch64.so.1" ] || [ -e "$dest/usr/lib/ld-linux-aarch64.so.1" ] \
        || die "no arm64 loader in the sysroot"
    for v in "${PY_VERSIONS[@]}"; do
        b=$dest/usr/bin/python$v
        [ -f "$b" ] || die "no python$v in the arm64 packages"
        # The sysroot's loader and libraries by absolute path: no
        # QEMU_LD_PREFIX is needed, by a test's subprocesses neither.
        run patchelf --set-interpreter "$ARM64_SYSROOT/lib/ld-linux-aarch64.so.1" \
            --force-rpath --set-rpath "$ARM64_SYSROOT$libdir" "$b"
        # Debian's pyconfig.h only dispatches to the per-arch one.
        cp --remove-destination "$dest/usr/include/$ARM64_TRIPLET/python$v/pyconfig.h" \
            "$dest/usr/include/python$v/pyconfig.h"
        rm -f "$dest/usr/lib/python$v/EXTERNALLY-MANAGED"
    done
    printf '%s\n' "$PIP_CONF" >"$dest/usr/pip.conf"
}

# The interpreters run under qemu from their final folder (their loader's
# path names it).  The standard library is byte-compiled once, sparing each
# start the compilation of what it imports: by this machine's interpreter
# of the same version when its bytecode is the same (a second, against
# minutes under qemu), else under qemu.
ARM64_COMPILE_SKIP='/python3\.[0-9]+/(test|idlelib|tkinter|turtledemo)/'
check_arm64_sysroot() {
    local v py compiler magic='import importlib.util; print(importlib.util.MAGIC_NUMBER.hex())'
    for v in "${PY_VERSIONS[@]}"; do
        py=$1/usr/bin/python$v
        qemu-aarch64-static "$py" -I -c '
import platform, sys, sysconfig
assert sys.version_info[:2] == tuple(map(int, sys.argv[1].split("."))), sys.version
assert platform.machine() == "aarch64", platform.machine()
assert sysconfig.get_config_var("MULTIARCH") == "aarch64-linux-gnu"
import ctypes, venv, zlib
print("arm64 CPython", sys.version.split()[0])
' "$v" || return 1
        # (under qemu one process: compileall's workers start sys.executable)
        compiler=(qemu-aarch64-static "$py" -I -m compileall)
        if [ -n "${PY_RELEASE[$v]:-}" ] \
            && [ "$("${PY_RELEASE[$v]}" -I -c "$magic")" = "$(qemu-aarch64-static "$py" -I -c "$magic")" ]; then
            compiler=("${PY_RELEASE[$v]}" -I -m compileall -j 0)
        fi
        echo "byte-compiling with ${compiler[*]}"
        "${compiler[@]}" -q -x "$ARM64_COMPILE_SKIP" "$1/usr/lib/python$v" \
            "$1/usr/lib/python3/dist-packages" >/dev/null || return 1
        qemu-aarch64-static "$py" -c '
import sys, pytest, pip, scikit_build_core.build
print("pytest", pytest.__version__, "pip", pip.__version__)' || return 1
    done
}

# --- raylib -------------------------------------------------------------

# Configured as every raylib here; libX11 and libGL for the configure and
# the link come from the sysroot (CMake's FindX11 asks for X11_X11_LIB, the
# link for -lGL), and with --as-needed neither stays needed.
build_arm64_raylib() {
    local dest=$1
    run cmake -S "$RAYLIB_SOURCE" -B "$WORK/build" "${RAYLIB_CMAKE_ARGS[@]}" \
        -DCMAKE_TOOLCHAIN_FILE="$ARM64_CROSS/toolchain.cmake" \
        -DCMAKE_FIND_ROOT_PATH="$ARM64_SYSROOT" -DCMAKE_INSTALL_PREFIX="$ARM64_RL" \
        -DCMAKE_C_FLAGS="$RAYLIB_C_FLAGS" \
        -DCMAKE_SHARED_LINKER_FLAGS="-Wl,--as-needed -L$ARM64_SYSROOT/usr/lib/$ARM64_TRIPLET"
    run cmake --build "$WORK/build" -j "$(nproc)"
    # (installed through $WORK/dest, which it leaves behind)
    install_built_raylib "$WORK/build" "$ARM64_RL"
    rm -rf "$dest"
    mv "$ARM64_RL" "$dest"
}
check_arm64_raylib() {
    readelf -h "$1/lib/libraylib.so.600" | grep -q 'Machine: *AArch64' || return 1
    check_raylib_needs "$1" libc.so.6 libm.so.6
}

# --- binfmt_misc --------------------------------------------------------

# arm64_binfmt: qemu registered for arm64 programs; or a line in
# ARM64_MISSING saying why it cannot be.
arm64_binfmt() {
    local entry=$ARM64_BINFMT/qemu-aarch64
    if [ -f "$entry" ] && grep -qx enabled "$entry"; then return 0; fi
    if [ ! -f "$ARM64_BINFMT/register" ]; then
        mount -t binfmt_misc binfmt_misc "$ARM64_BINFMT" >/dev/null 2>&1 || true
    fi
    if [ ! -w "$ARM64_BINFMT/register" ]; then
        ARM64_MISSING="qemu cannot run arm64 programs: binfmt_misc is not mounted at $ARM64_BINFMT or not writable (as root: mount -t binfmt_misc binfmt_misc $ARM64_BINFMT, then run scripts/bootstrap)"
        return 0
    fi
    [ -f "$entry" ] || cat "$ARM64_BINFMT_CONF" >"$ARM64_BINFMT/register" 2>/dev/null || true
    [ -f "$entry" ] && { grep -qx enabled "$entry" || echo 1 >"$entry"; } 2>/dev/null || true
    if [ -f "$entry" ] && grep -qx enabled "$entry"; then
        say "arm64: registered qemu-aarch64 with binfmt_misc ($ARM64_BINFMT_CONF)"
    else
        ARM64_MISSING="qemu cannot run arm64 programs: writing $ARM64_BINFMT_CONF to $ARM64_BINFMT/register failed"
    fi
}

setup_arm64() {
    ARM64_RAYLIB_DIR="" ARM64_MISSING=""
    ARM64_PYTHON=()
    system_packages "g++-$ARM64_TRIPLET" qemu-user-static
    arm64_part "the cross compiler" "$ARM64_CROSS" "$(arm64_cross_want)" build_arm64_cross check_arm64_cross
    arm64_part "the sysroot" "$ARM64_SYSROOT" \
        "recipe=$ARM64_RECIPE suite=sid versions=${PY_VERSIONS[*]}" build_arm64_sysroot check_arm64_sysroot
    local want
    want="recipe=$ARM64_RECIPE cross=$(stamp_id "$ARM64_CROSS") sysroot=$(stamp_id "$ARM64_SYSROOT")"
    want+=" raylib-source=$(cat "$CACHE/src/.tobrim-raylib-dir" 2>/dev/null || true)"
    if ! stamp_is "$ARM64_RL/.tobrim-stamp" "$want"; then
        raylib_source
        arm64_part raylib "$ARM64_RL" "recipe=$ARM64_RECIPE cross=$(stamp_id "$ARM64_CROSS") sysroot=$(stamp_id "$ARM64_SYSROOT") raylib-source=$RAYLIB_SOURCE" \
            build_arm64_raylib check_arm64_raylib
    fi
    ARM64_RAYLIB_DIR=$ARM64_RL
    arm64_binfmt
    if [ -z "$ARM64_MISSING" ]; then
        local v
        for v in "${PY_VERSIONS[@]}"; do ARM64_PYTHON[$v]=$ARM64_SYSROOT/usr/bin/python$v; done
    fi
}
