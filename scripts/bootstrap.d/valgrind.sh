# Sourced by scripts/bootstrap: valgrind (only with --valgrind) and the
# debug symbols it needs.  valgrind must find the dynamic loader's own
# symbols (strlen and friends), which Debian strips into libc6-dbg.  The
# symbols of the private glibc come from the libc6-dbg of the same version;
# valgrind looks for each library's debug file as
# <extra-debuginfo-path>/<library's folder>/<its .gnu_debuglink name>, so the
# files are laid out that way under $CACHE/valgrind-debuginfo (env.sh:
# TOBRIM_VALGRIND_DEBUGINFO).  An interpreter of the user's runs on the
# system's glibc, whose symbols are the system's libc6-dbg.

VG_RECIPE=1
VG="$CACHE/valgrind-debuginfo"
VG_STAMP="$VG/.tobrim-stamp"

# The build id and the .gnu_debuglink name of an ELF file, or nothing.
build_id_of() { { readelf -n "$1" 2>/dev/null || true; } | sed -n 's/^ *Build ID: *//p' | head -n1; }
debuglink_of() { { readelf -p .gnu_debuglink "$1" 2>/dev/null || true; } | sed -n 's/^ *\[ *0\] *//p' | head -n1; }

# The stamp the debug symbols of the private glibc must carry.
valgrind_stamp_want() {
    local libdir=$P/usr/lib/$MULTIARCH ver
    ver=$(grep -aom1 'Debian GLIBC [^)]*' "$libdir/libc.so.6" 2>/dev/null | cut -d' ' -f3 || true)
    [ -n "$ver" ] || return 1
    printf 'recipe=%s libc6=%s libdir=%s\n' "$VG_RECIPE" "$ver" "$libdir"
}

valgrind_debuginfo() {
    local libdir=$P/usr/lib/$MULTIARCH ver want
    want=$(valgrind_stamp_want) || die "cannot tell the private glibc's Debian version"
    stamp_is "$VG_STAMP" "$want" && return 0
    ver=${want#* libc6=}; ver=${ver%% *}
    say "installing the debug symbols of the private glibc (libc6-dbg $ver) into $VG"
    newwork valgrind
    unpack_debs "$WORK/root" "libc6-dbg=$ver"
    local f id link dbg n=0
    mkdir -p "$WORK/tree$libdir"
    for f in "$libdir"/*.so*; do
        [ -f "$f" ] && [ ! -L "$f" ] || continue
        id=$(build_id_of "$f"); link=$(debuglink_of "$f")
        [ -n "$id" ] && [ -n "$link" ] || continue
        dbg=$WORK/root/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug
        [ -f "$dbg" ] || continue
        cp "$dbg" "$WORK/tree$libdir/$link"
        n=$((n + 1))
    done
    link=$(debuglink_of "$libdir/ld-linux-x86-64.so.2")
    [ -n "$link" ] && [ -f "$WORK/tree$libdir/$link" ] \
        || die "libc6-dbg $ver has no symbols for the private dynamic loader"
    rm -rf "$VG"
    mv "$WORK/tree" "$VG"
    printf '%s\n' "$want" >"$VG_STAMP"
    log "debug symbols of $n glibc libraries in $VG"
    cleanup
}

# install_valgrind PRIVATE: valgrind and the symbols for the private
# interpreters (PRIVATE=1) or the system's glibc.
install_valgrind() {
    system_packages valgrind
    if [ "$1" = 1 ]; then valgrind_debuginfo; else system_packages libc6-dbg; fi
}

# The folder of the private glibc's symbols, if they are installed.
valgrind_debuginfo_dir() {
    if [ -f "$VG_STAMP" ] && [ "$(cat "$VG_STAMP")" = "$(valgrind_stamp_want || true)" ]; then
        printf '%s\n' "$VG"
    fi
}
