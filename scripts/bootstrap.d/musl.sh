# Sourced by scripts/bootstrap: the musl prefix, in $CACHE/musl, each part
# built with Debian's musl-gcc in a folder of its own:
#   toolchain/  a compiler wrapper over musl-gcc (x86_64-linux-musl-gcc) with
#               copies of the kernel headers, which musl's include path
#               lacks, and of the X11 and GL headers, for raylib's GLFW
#   zlib/       zlib, from Debian forky's source
#   libffi/     libffi, from Debian's plain source tarball (autoreconf'ed)
#   python/     CPython 3.14, release, --enable-shared, from the source
#               release (TOBRIM_CPYTHON_SOURCE), with ctypes, zlib and
#               _testcapi, and pip from its own ensurepip wheel
#   site/       pytest, scikit-build-core and their pure-Python dependencies
#               from Debian's packages, on that interpreter's path
#   raylib/     raylib 6.0, desktop platform, clipboard image off: it needs
#               musl's libc alone (GLFW loads X11 and GL when a window opens)
# The source release is kept in $CACHE/musl/source once verified, so that
# a clone elsewhere on the machine finds it too.
#
# Sets MUSL_PYTHON (the interpreter), MUSL_RAYLIB_DIR (the raylib prefix) and
# MUSL_MISSING (empty, or a line saying why there is no musl interpreter and
# how to provide one).

MUSL_RECIPE=1
MUSL="$CACHE/musl"
MUSL_TC="$MUSL/toolchain"
MUSL_CC="$MUSL_TC/bin/x86_64-linux-musl-gcc"
MUSL_ZLIB="$MUSL/zlib"
MUSL_FFI="$MUSL/libffi"
MUSL_PY="$MUSL/python"
MUSL_SITE="$MUSL/site"
MUSL_RL="$MUSL/raylib"
MUSL_SOURCE_DIR="$MUSL/source"
MUSL_SUFFIX=.cpython-314-x86_64-linux-musl.so
MUSL_TRIPLET=x86_64-linux-musl
MUSL_PYTHON=""
MUSL_RAYLIB_DIR=""
MUSL_MISSING=""

# The CPython source releases whose checksum is known; another
# Python-3.14.*.tar.xz is checked for its layout instead.
declare -A CPYTHON_SHA256=(
    [Python-3.14.7.tar.xz]=0b14c56511b95c793905c730969e867160b9b7f1abb4312ad037b91f4c523b01
)
CPYTHON_DEFAULT_SOURCE="$ROOT/../shared/third_party/Python-3.14.7.tar.xz"

# Modules for which no musl build of their library is at hand.
CPYTHON_NO_MODULES=(_lzma _bz2 _ssl _hashlib _sqlite3 _uuid readline _curses _curses_panel
                    _tkinter _gdbm _dbm _zstd)
# The libraries the interpreter and its modules may need, all from the
# prefix's parts or musl's libc.
MUSL_PY_LIBS=(libc.so libpython3.14.so.1.0 libz.so.1 libffi.so.8)

MUSL_SITE_DEBS=(python3-pytest python3-pluggy python3-iniconfig python3-packaging
                python3-pygments
                python3-scikit-build-core python3-pathspec python3-pyproject-metadata)

# --- the source release -------------------------------------------------

sha256_of() { sha256sum "$1" | cut -d' ' -f1; }

# check_cpython_source FILE: the file is a CPython 3.14 source release: its
# known checksum, or else the layout of one.
check_cpython_source() {
    local file=$1 name want top
    name=$(basename "$file")
    [[ "$name" =~ ^Python-3\.14\.[0-9]+\.tar\.xz$ ]] \
        || die "$file: expected a CPython 3.14 source release, Python-3.14.*.tar.xz"
    want=${CPYTHON_SHA256[$name]:-}
    if [ -n "$want" ]; then
        [ "$(sha256_of "$file")" = "$want" ] || die "$file: SHA-256 is not $want"
        return 0
    fi
    top=${name%.tar.xz}
    tar -tJf "$file" >"$TMPROOT/cpython-list" 2>/dev/null || die "$file: not a readable .tar.xz"
    grep -qx "$top/configure" "$TMPROOT/cpython-list" && grep -qx "$top/Include/patchlevel.h" "$TMPROOT/cpython-list" \
        || die "$file: no $top/configure or $top/Include/patchlevel.h: not a CPython source release"
    rm -f "$TMPROOT/cpython-list"
}

# cpython_source: sets MUSL_SOURCE to the verified source release in the
# cache (copied there from TOBRIM_CPYTHON_SOURCE, or from the default place
# beside the repository), and MUSL_SOURCE_SHA256; or returns 1 when there is
# none.
MUSL_SOURCE=""
MUSL_SOURCE_SHA256=""
cpython_source() {
    local given="" cached="" record sha name
    record=$(cat "$MUSL_SOURCE_DIR/.tobrim-source" 2>/dev/null || true)
    [ -z "$record" ] || cached="$MUSL_SOURCE_DIR/${record%% *}"
    if [ -n "${TOBRIM_CPYTHON_SOURCE:-}" ]; then
        [ -f "$TOBRIM_CPYTHON_SOURCE" ] || die "TOBRIM_CPYTHON_SOURCE=$TOBRIM_CPYTHON_SOURCE is not a file"
        given=$TOBRIM_CPYTHON_SOURCE
    elif [ -f "$CPYTHON_DEFAULT_SOURCE" ]; then
        given=$CPYTHON_DEFAULT_SOURCE
    fi
    if [ -z "$given" ]; then
        # No source named or beside the repository: the cached copy, if it
        # is still the one verified.
        [ -n "$cached" ] && [ -f "$cached" ] && [ "$(sha256_of "$cached")" = "${record#* }" ] || return 1
        MUSL_SOURCE=$cached MUSL_SOURCE_SHA256=${record#* }
        return 0
    fi
    sha=$(sha256_of "$given")
    name=$(basename "$given")
    if [ "$record" = "$name $sha" ] && [ -f "$cached" ]; then
        MUSL_SOURCE=$cached MUSL_SOURCE_SHA256=$sha
        return 0
    fi
    mkdir -p "$TMPROOT"
    check_cpython_source "$given"
    log "caching $given in $MUSL_SOURCE_DIR"
    cp "$given" "$TMPROOT/$name"
    rm -rf "$MUSL_SOURCE_DIR"
    mkdir -p "$MUSL_SOURCE_DIR"
    mv "$TMPROOT/$name" "$MUSL_SOURCE_DIR/$name"
    printf '%s %s\n' "$name" "$sha" >"$MUSL_SOURCE_DIR/.tobrim-source"
    MUSL_SOURCE=$MUSL_SOURCE_DIR/$name MUSL_SOURCE_SHA256=$sha
}

# --- helpers ------------------------------------------------------------

# musl_part NAME FOLDER WANT BUILD [CHECK]: builds a part into FOLDER unless
# its stamp is WANT.  BUILD installs it into "$WORK/dest$FOLDER", which then
# becomes FOLDER (or into FOLDER itself); CHECK, if given, checks it there
# (the parts name their own folders in run paths and scripts), and the stamp
# comes last.  The step has a log of its own and reports its time.
musl_part() {
    local name=$1 folder=$2 want=$3
    stamp_is "$folder/.tobrim-stamp" "$want" && return 0
    logged_step "musl: $name" "$LOGDIR/musl-$(basename "$folder").log" musl_build_part "${@:2}"
}
musl_build_part() {
    local folder=$1 want=$2 build=$3 check=${4:-}
    rm -rf "$folder"
    newwork "musl-$(basename "$folder")"
    "$build" "$WORK/dest$folder"
    if [ -d "$WORK/dest$folder" ]; then
        mkdir -p "$(dirname "$folder")"
        mv "$WORK/dest$folder" "$folder"
    fi
    [ -d "$folder" ] || die "nothing was installed into $folder"
    finish_part "$folder" "$want" "$check"
}

# stamp_id FOLDER: a short name for a finished part's stamp, for the stamps
# of the parts built on it.
stamp_id() { sha256sum "$1/.tobrim-stamp" | cut -c1-16; }

# debian_orig PACKAGE/SUITE: downloads the upstream tarball of a Debian
# source package (not the whole source package: some suites list packaging
# files that the archive no longer has), checks its SHA-256 and unpacks it
# into $WORK/src; sets ORIG_SOURCE to the unpacked folder.
ORIG_SOURCE=""
debian_orig() {
    local uris line url file sha top
    private_apt
    printf '+ apt-get source --print-uris %s\n' "$1" >>"$LOG"
    uris=$(apt-get "${APT_OPTS[@]}" source --print-uris "$1" 2>>"$LOG") \
        || die "apt-get source --print-uris $1 failed (see $LOG)"
    line=$(grep "\.orig\.tar\.[a-z0-9]*' " <<<"$uris" || true)
    [ -n "$line" ] || die "no upstream tarball for $1 in: $uris"
    read -r url file _ sha <<<"$line"
    url=${url//\'/} sha=${sha#SHA256:}
    run retry curl -fsSL -o "$WORK/$file" "$url"
    [ "$(sha256_of "$WORK/$file")" = "$sha" ] || die "$file: SHA-256 is not $sha"
    mkdir -p "$WORK/src"
    run tar -xf "$WORK/$file" -C "$WORK/src"
    top=$(ls "$WORK/src")
    [ -d "$WORK/src/$top" ] || die "$file does not unpack into one folder"
    ORIG_SOURCE=$WORK/src/$top
}

# deb_version PACKAGE: its installed version (for the stamps).
deb_version() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo none; }

# --- the parts ----------------------------------------------------------

# The wrapper answers --print-multiarch with musl's triplet (musl-gcc
# answers glibc's, and CPython's configure then names the platform wrongly)
# and adds the kernel headers.  The X11 headers are a folder of their own,
# for raylib only: /usr/include itself would bring glibc's headers.
# Its stamp names musl's version: the parts are rebuilt for another musl,
# not for the headers' updates (they declare the same interfaces).
musl_toolchain_want() { printf 'recipe=%s musl=%s\n' "$MUSL_RECIPE" "$(deb_version musl-dev)"; }
build_musl_toolchain() {
    local dest=$1 d
    mkdir -p "$dest/bin" "$dest/include" "$dest/x11"
    cp -a /usr/include/linux /usr/include/asm-generic "$dest/include/"
    cp -a "/usr/include/$MULTIARCH/asm" "$dest/include/asm"
    for d in X11 GL KHR; do cp -a "/usr/include/$d" "$dest/x11/"; done
    cat >"$dest/bin/x86_64-linux-musl-gcc" <<WRAPPER
#!/bin/sh
# musl-gcc, with the kernel headers that musl's include path lacks, naming
# musl's multiarch triplet.
for arg; do
    case \$arg in -print-multiarch|--print-multiarch) echo $MUSL_TRIPLET; exit 0 ;; esac
done
exec musl-gcc "\$@" -isystem $MUSL_TC/include
WRAPPER
    chmod +x "$dest/bin/x86_64-linux-musl-gcc"
}
check_musl_toolchain() {
    [ "$("$MUSL_CC" --print-multiarch)" = "$MUSL_TRIPLET" ] || return 1
    printf '#include <linux/limits.h>\n#include <stdio.h>\nint main(void) { printf("%%d\\n", PATH_MAX); return 0; }\n' \
        >"$WORK/probe.c"
    "$MUSL_CC" -o "$WORK/probe" "$WORK/probe.c" && "$WORK/probe"
}

build_musl_zlib() {
    local dest=$1 src
    debian_orig zlib/forky
    src=$ORIG_SOURCE
    (cd "$src" && run env CC="$MUSL_CC" CFLAGS="-O2" ./configure --prefix="$MUSL_ZLIB" \
        && run make -j2 && run make install DESTDIR="$WORK/dest")
    [ -e "$dest/lib/libz.so.1" ] || die "libz.so.1 was not installed"
}

build_musl_libffi() {
    local dest=$1 src
    debian_orig libffi/forky
    src=$ORIG_SOURCE
    (cd "$src" && run autoreconf -fi \
        && run env CC="$MUSL_CC" CFLAGS="-O2" ./configure --prefix="$MUSL_FFI" \
            --libdir="$MUSL_FFI/lib" --disable-static --disable-docs --disable-multi-os-directory \
        && run make -j2 && run make install DESTDIR="$WORK/dest")
    [ -e "$dest/lib/libffi.so.8" ] || die "libffi.so.8 was not installed"
}

# The interpreter finds libpython, zlib and libffi by its run path, and so
# do its modules (musl's loader searches the run path of each object and of
# the objects that loaded it).  The wrapper is the C++ compiler too, so that
# pip's build backend, which passes the interpreter's CXX, builds for musl.
build_musl_python() {
    local dest=$1 src m off=()
    for m in "${CPYTHON_NO_MODULES[@]}"; do off+=("py_cv_module_$m=n/a"); done
    run tar -xJf "$MUSL_SOURCE" -C "$WORK"
    src=$WORK/$(basename "$MUSL_SOURCE" .tar.xz)
    # pkg-config sees the prefix alone: glibc's .pc files would bring in
    # libraries (liblzma, ...) whose headers musl's compiler cannot see.
    (cd "$src" && run env PKG_CONFIG_LIBDIR="$MUSL_ZLIB/lib/pkgconfig:$MUSL_FFI/lib/pkgconfig" \
        PKG_CONFIG_PATH= ./configure --prefix="$MUSL_PY" --enable-shared --with-ensurepip=install \
        --without-system-libmpdec CC="$MUSL_CC" CXX="$MUSL_CC" \
        LDFLAGS="-Wl,-rpath,$MUSL_PY/lib:$MUSL_ZLIB/lib:$MUSL_FFI/lib" "${off[@]}" \
        && run make -j2 && run make install DESTDIR="$WORK/dest")
    [ -x "$dest/bin/python3.14" ] || die "python3.14 was not installed"
}

check_musl_python() {
    local py=$1/bin/python3.14 f n bad=()
    "$py" -c '
import sys, sysconfig
assert sys.version_info[:2] == (3, 14), sys.version
assert not hasattr(sys, "gettotalrefcount"), "a debug build"
assert sysconfig.get_config_var("EXT_SUFFIX") == sys.argv[1], sysconfig.get_config_var("EXT_SUFFIX")
assert sysconfig.get_config_var("Py_ENABLE_SHARED") == 1
import ctypes, zlib, _testcapi, venv, ensurepip
assert zlib.decompress(zlib.compress(b"musl")) == b"musl"
assert ctypes.CDLL(None).strlen(b"musl") == 4
print("musl CPython", sys.version.split()[0], sysconfig.get_config_var("EXT_SUFFIX"))
' "$MUSL_SUFFIX" || return 1
    "$py" -m pip --version || return 1
    # No library of glibc's: every object needs only the prefix's and musl's.
    for f in "$py" "$1/lib/libpython3.14.so.1.0" "$1"/lib/python3.14/lib-dynload/*.so; do
        for n in $(readelf -d "$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
            [[ " ${MUSL_PY_LIBS[*]} " == *" $n "* ]] || bad+=("$(basename "$f"): $n")
        done
    done
    [ ${#bad[@]} = 0 ] || { printf 'needs a library from outside the prefix: %s\n' "${bad[@]}"; return 1; }
}

# pytest and the build backend: Debian's pure-Python packages, unpacked into
# site/ and put on the interpreter's path by a .pth file in its
# site-packages.  pip stays offline, as in the private prefix.
build_musl_site() {
    local dest=$1 purelib
    unpack_debs "$WORK/root" "${MUSL_SITE_DEBS[@]}"
    mkdir -p "$dest"
    mv "$WORK/root/usr/lib/python3/dist-packages" "$dest/"
    purelib=$("$MUSL_PY/bin/python3.14" -c 'import sysconfig; print(sysconfig.get_path("purelib"))')
    printf '%s\n' "$MUSL_SITE/dist-packages" >"$purelib/tobrim-site.pth"
    printf '%s\n' "$PIP_CONF" >"$MUSL_PY/pip.conf"
}
check_musl_site() {
    "$MUSL_PY/bin/python3.14" -c '
import sys
import pytest, pluggy, scikit_build_core.build, pathspec, pyproject_metadata, packaging
assert pytest.__file__.startswith(sys.argv[1]), pytest.__file__
print("pytest", pytest.__version__, "scikit-build-core", scikit_build_core.__version__)' "$1" || return 1
    "$MUSL_PY/bin/python3.14" -m pytest --version
}

# raylib with GLFW from its sources, configured as for glibc but built by
# the wrapper: the X11 headers come from the toolchain's copy (CMake's
# FindX11 looks there first).
build_musl_raylib() {
    run cmake -S "$RAYLIB_SOURCE" -B "$WORK/build" "${RAYLIB_CMAKE_ARGS[@]}" \
        -DCMAKE_INSTALL_PREFIX="$MUSL_RL" \
        -DCMAKE_C_COMPILER="$MUSL_CC" -DCMAKE_INCLUDE_PATH="$MUSL_TC/x11" \
        -DCMAKE_C_FLAGS="$RAYLIB_C_FLAGS -isystem $MUSL_TC/x11"
    run cmake --build "$WORK/build" -j2
    install_built_raylib "$WORK/build" "$MUSL_RL"
}
check_musl_raylib() { check_raylib_needs "$1" libc.so; }

setup_musl() {
    MUSL_PYTHON="" MUSL_RAYLIB_DIR="" MUSL_MISSING=""
    if ! cpython_source; then
        MUSL_MISSING="no CPython 3.14 source release for the musl interpreter: put Python-3.14.7.tar.xz (SHA-256 ${CPYTHON_SHA256[Python-3.14.7.tar.xz]}) in $(cd "$ROOT/.." && pwd)/shared/third_party/, or name a Python-3.14.*.tar.xz with TOBRIM_CPYTHON_SOURCE, and run scripts/bootstrap"
        log "$MUSL_MISSING"
        return 0
    fi
    local tc want
    musl_part toolchain "$MUSL_TC" "$(musl_toolchain_want)" build_musl_toolchain check_musl_toolchain
    tc=$(stamp_id "$MUSL_TC")
    musl_part zlib "$MUSL_ZLIB" "recipe=$MUSL_RECIPE zlib/forky toolchain=$tc" build_musl_zlib
    musl_part libffi "$MUSL_FFI" "recipe=$MUSL_RECIPE libffi/forky toolchain=$tc" build_musl_libffi
    want="recipe=$MUSL_RECIPE $(basename "$MUSL_SOURCE") sha256=$MUSL_SOURCE_SHA256 toolchain=$tc"
    want+=" zlib=$(stamp_id "$MUSL_ZLIB") libffi=$(stamp_id "$MUSL_FFI")"
    musl_part "CPython $(basename "$MUSL_SOURCE" .tar.xz | cut -d- -f2)" "$MUSL_PY" "$want" \
        build_musl_python check_musl_python
    musl_part "pytest and scikit-build-core" "$MUSL_SITE" \
        "recipe=$MUSL_RECIPE python=$(stamp_id "$MUSL_PY")" build_musl_site check_musl_site
    want="recipe=$MUSL_RECIPE toolchain=$tc raylib-source=$(cat "$CACHE/src/.tobrim-raylib-dir" 2>/dev/null || true)"
    if ! stamp_is "$MUSL_RL/.tobrim-stamp" "$want"; then
        raylib_source
        musl_part raylib "$MUSL_RL" "recipe=$MUSL_RECIPE toolchain=$tc raylib-source=$RAYLIB_SOURCE" \
            build_musl_raylib check_musl_raylib
    fi
    MUSL_PYTHON=$MUSL_PY/bin/python3.14
    MUSL_RAYLIB_DIR=$MUSL_RL
}
