# Sourced by scripts/bootstrap: raylib 6.0 as a shared library, built from
# Debian's sources (raylib from sid, with GLFW 3.4 from trixie bundled in),
# into $CACHE/raylib; or the user's (TOBRIM_RAYLIB_DIR, or one that
# pkg-config finds).  The sources stay in $CACHE/src for the musl build.
#
# Sets RLDIR (the raylib prefix to build with) and RAYLIB_SRC (its sources,
# when built here).

RAYLIB_RECIPE=2
RL="$CACHE/raylib"
RL_STAMP="$RL/.tobrim-stamp"
RL_STAMP_WANT="recipe=$RAYLIB_RECIPE"
RL_SRC_STAMP="$CACHE/src/.tobrim-raylib-stamp"
RL_SRC_STAMP_WANT="recipe=$RAYLIB_RECIPE"

# The configuration of every raylib built here: the desktop platform with
# its own GLFW for X11, which loads libX11 and libGL when a window opens.
# raylib's only direct X11 calls are the clipboard image's, so with that off
# and --as-needed (CMake names the GL library, which nothing calls directly)
# the library needs the C and math libraries alone, and a process without
# X11 can load it.
RAYLIB_CMAKE_ARGS=(-DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON -DPLATFORM=Desktop
                   -DUSE_EXTERNAL_GLFW=OFF -DGLFW_BUILD_WAYLAND=OFF -DGLFW_BUILD_X11=ON
                   -DBUILD_EXAMPLES=OFF -DCMAKE_INSTALL_LIBDIR=lib
                   -DCMAKE_SHARED_LINKER_FLAGS=-Wl,--as-needed)
RAYLIB_C_FLAGS="-DSUPPORT_CLIPBOARD_IMAGE=0"

# raylib_needs PREFIX: the libraries its libraylib.so.600 needs, on one line.
raylib_needs() {
    readelf -d "$1/lib/libraylib.so.600" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' '
}

# check_raylib_needs PREFIX LIBRARY...: says what it needs, and fails if
# that is anything but those libraries.
check_raylib_needs() {
    local prefix=$1 n lib
    shift
    n=$(raylib_needs "$prefix")
    printf 'libraylib.so.600 needs: %s\n' "$n"
    for lib in $n; do
        case " $* " in *" $lib "*) ;; *) echo "unexpected: $lib" >&2; return 1 ;; esac
    done
}

# raylib_source: unpacks the raylib sources with GLFW 3.4 in
# src/external/glfw, once; sets RAYLIB_SOURCE to their folder.
RAYLIB_SOURCE=""
raylib_source() {
    RAYLIB_SOURCE=$(cat "$CACHE/src/.tobrim-raylib-dir" 2>/dev/null || true)
    if stamp_is "$RL_SRC_STAMP" "$RL_SRC_STAMP_WANT" && [ -f "$RAYLIB_SOURCE/src/raylib.h" ]; then
        return 0
    fi
    newwork raylib-src
    private_apt
    log "downloading raylib and GLFW 3.4 sources"
    (cd "$WORK" && run retry apt-get "${APT_OPTS[@]}" source --download-only raylib/sid glfw3/trixie)
    local rdsc gdsc ver
    rdsc=$(ls "$WORK"/raylib_*.dsc | head -n1)
    gdsc=$(ls "$WORK"/glfw3_*.dsc | head -n1)
    ver=$(sed -n 's/^Version: //p' "$rdsc" | head -n1)
    ver=${ver#*:}; ver=${ver%%-*}; ver=${ver%%+*}; ver=${ver%%~*}
    case "$ver" in 6.*) ;; *) die "raylib source is version $ver, expected 6.x" ;; esac
    local name=raylib-$ver
    log "unpacking $(basename "$rdsc") and $(basename "$gdsc")"
    (cd "$WORK" && run dpkg-source -x "$rdsc" "$name" && run dpkg-source -x "$gdsc" glfw)
    rm -rf "$WORK/$name/src/external/glfw"
    mkdir -p "$WORK/$name/src/external/glfw"
    (cd "$WORK/glfw" && tar --exclude=./debian --exclude=./.pc -cf - .) \
        | (cd "$WORK/$name/src/external/glfw" && tar -xf -)
    mkdir -p "$CACHE/src"
    rm -rf "${CACHE:?}/src/$name"
    mv "$WORK/$name" "$CACHE/src/$name"
    printf '%s\n' "$CACHE/src/$name" >"$CACHE/src/.tobrim-raylib-dir"
    printf '%s\n' "$RL_SRC_STAMP_WANT" >"$RL_SRC_STAMP"
    cleanup
    RAYLIB_SOURCE=$CACHE/src/$name
}

# install_built_raylib BUILD PREFIX: installs a configured and built raylib
# into PREFIX (replacing what is there) and checks it.
install_built_raylib() {
    local build=$1 prefix=$2 inst pcver
    DESTDIR="$WORK/dest" run cmake --install "$build"
    inst="$WORK/dest$prefix"
    [ -e "$inst/lib/libraylib.so.600" ] || die "libraylib.so.600 was not installed"
    [ -f "$inst/include/raylib.h" ] || die "raylib.h was not installed"
    pcver=$(PKG_CONFIG_LIBDIR="$inst/lib/pkgconfig" pkg-config --modversion raylib)
    case "$pcver" in 6.*) ;; *) die "raylib.pc reports version $pcver" ;; esac
    rm -rf "$prefix"
    mkdir -p "$(dirname "$prefix")"
    mv "$inst" "$prefix"
}

build_raylib() {
    if stamp_is "$RL_STAMP" "$RL_STAMP_WANT" && [ -e "$RL/lib/libraylib.so.600" ] \
        && [ -f "$RL/include/raylib.h" ]; then
        return 0
    fi
    local src start=$SECONDS
    raylib_source
    src=$RAYLIB_SOURCE
    say "building $(basename "$src") (Release, shared) into $RL"
    newwork raylib
    run cmake -S "$src" -B "$WORK/build" "${RAYLIB_CMAKE_ARGS[@]}" \
        -DCMAKE_C_FLAGS="$RAYLIB_C_FLAGS" -DCMAKE_INSTALL_PREFIX="$RL"
    run cmake --build "$WORK/build" -j "$(nproc)"
    install_built_raylib "$WORK/build" "$RL"
    run check_raylib_needs "$RL" libc.so.6 libm.so.6
    printf '%s\n' "$RL_STAMP_WANT" >"$RL_STAMP"
    printf '%s\n' "$src" >"$RL/.tobrim-src"
    cleanup
    say "raylib: done in $((SECONDS - start)) s"
}

choose_raylib() {
    RAYLIB_SRC=""
    local v inc
    if [ -n "${TOBRIM_RAYLIB_DIR:-}" ] && [ "$TOBRIM_RAYLIB_DIR" != "$RL" ]; then
        RLDIR=$TOBRIM_RAYLIB_DIR
        compgen -G "$RLDIR/lib/libraylib.so*" >/dev/null \
            || die "TOBRIM_RAYLIB_DIR=$RLDIR has no lib/libraylib.so*"
        [ -f "$RLDIR/include/raylib.h" ] || die "TOBRIM_RAYLIB_DIR=$RLDIR has no include/raylib.h"
    elif v=$(pkg-config --modversion raylib 2>/dev/null) && [[ "$v" =~ ^6\.[0-9]+ ]]; then
        inc=$(pkg-config --variable=includedir raylib)
        RLDIR=${inc%/include}
        [ "$RLDIR" != "$inc" ] || RLDIR=$(dirname "$(pkg-config --variable=libdir raylib)")
        log "using raylib $v found by pkg-config in $RLDIR"
    else
        build_raylib
        RLDIR=$RL
        RAYLIB_SRC=$(cat "$RL/.tobrim-src" 2>/dev/null || true)
    fi
}

# ctypes must be able to load raylib from each interpreter (checked once per
# set of interpreters and raylib).
check_ctypes_loads_raylib() {
    local stamp="$CACHE/.tobrim-ctypes" want lib py
    want="$*|$RLDIR"
    stamp_is "$stamp" "$want" && return 0
    lib=$(compgen -G "$RLDIR/lib/libraylib.so.6*" | head -n1 || true)
    [ -n "$lib" ] || lib=$(compgen -G "$RLDIR/lib*/libraylib.so*" | head -n1 || true)
    for py in "$@"; do
        run "$py" -c 'import ctypes, sys; ctypes.CDLL(sys.argv[1]).InitWindow; print("ctypes loads", sys.argv[1])' "$lib"
    done
    printf '%s\n' "$want" >"$stamp"
}
