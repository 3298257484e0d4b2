# Sourced by scripts/bootstrap: auditwheel and wheel (which unpacks and
# repacks the musllinux wheel), for scripts/dist: pure-Python packages from
# Debian unpacked into a folder of their own, $CACHE/pytools, so that any
# interpreter (the private ones or the user's) runs them with that folder on
# its path (env.sh: TOBRIM_PYTOOLS).  It repairs wheels with the
# system's patchelf.

PT_RECIPE=2
PT="$CACHE/pytools"
PT_STAMP="$PT/.tobrim-stamp"
PT_STAMP_WANT="recipe=$PT_RECIPE"
PT_DEBS=(python3-auditwheel python3-pyelftools python3-packaging python3-wheel)
PT_SITE="$PT/usr/lib/python3/dist-packages"

# install_pytools PYTHON: the interpreter that checks that auditwheel runs.
install_pytools() {
    stamp_is "$PT_STAMP" "$PT_STAMP_WANT" && return 0
    say "installing auditwheel and wheel from Debian's packages into $PT"
    newwork pytools
    unpack_debs "$WORK/root" "${PT_DEBS[@]}"
    run env PYTHONPATH="$WORK/root/usr/lib/python3/dist-packages" "$1" -m auditwheel --version
    run env PYTHONPATH="$WORK/root/usr/lib/python3/dist-packages" "$1" -m wheel version
    rm -rf "$PT"
    mv "$WORK/root" "$PT"
    printf '%s\n' "$PT_STAMP_WANT" >"$PT_STAMP"
    cleanup
}
