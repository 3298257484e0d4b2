# Sourced by scripts/bootstrap: CPython 3.13, 3.14 and 3.15, release and debug
# builds, from Debian's packages (sid), unpacked into the private prefix
# $CACHE/python with a glibc of its own, with pytest, pip, scikit-build-core
# and venv.  The versions share Debian's dist-packages folder, whose
# compiled modules carry each version's suffix.
#
# Sets PY_RELEASE[version] and PY_DEBUG[version]: the interpreters to use,
# the private ones or those of the user's (TOBRIM_PYTHON_3_14, ...; see
# scripts/bootstrap).

PY_VERSIONS=(3.13 3.14 3.15)
DEFAULT_VERSION=3.14
PY_RECIPE=2
P="$CACHE/python"
PY_STAMP="$P/.tobrim-stamp"
PY_STAMP_WANT="recipe=$PY_RECIPE versions=${PY_VERSIONS[*]}"
declare -A PY_RELEASE PY_DEBUG

# What every version shares: the private glibc and the pure-Python packages.
PY_COMMON_DEBS=(libc6 libc-gconv-modules-extra libssl3t64 openssl-provider-legacy
                libexpat1 libzstd1
                python3-pytest python3-pluggy python3-iniconfig python3-packaging
                python3-pygments
                python3-pip python3-wheel python3-setuptools
                python3-pip-whl python3-setuptools-whl
                python3-scikit-build-core python3-pathspec python3-pyproject-metadata)

# The packages of one version: interpreter, headers, debug build, venv.
py_version_debs() {
    local v=$1
    printf '%s\n' "libpython$v-minimal" "python$v-minimal" "libpython$v-stdlib" "python$v" \
        "libpython$v" "libpython$v-dev" "python$v-dev" "python$v-dbg" "libpython$v-dbg" \
        "python$v-venv"
}

# The user's variable for a version's interpreter: TOBRIM_PYTHON_3_14, and
# TOBRIM_PYTHON_3_14_DEBUG for its debug build.
python_variable() { printf 'TOBRIM_PYTHON_%s%s' "${1/./_}" "${2:+_DEBUG}"; }

verify_python() {
    local v=$1 py=$P/usr/bin/python$1 pyd=$P/usr/bin/python$1d
    "$py" -c '
import sys
assert sys.version_info[:2] == tuple(map(int, sys.argv[1].split("."))), sys.version
assert not hasattr(sys, "gettotalrefcount")
import pytest, _testcapi, ctypes, zlib, ssl, venv
if sys.version_info >= (3, 14):
    import annotationlib
import scikit_build_core.build
print("release", sys.version.split()[0], "pytest", pytest.__version__)
' "$v" || return 1
    "$pyd" -c '
import sys
assert sys.version_info[:2] == tuple(map(int, sys.argv[1].split("."))), sys.version
sys.gettotalrefcount()
import pytest, _testcapi, ctypes, zlib
print("debug", sys.version.split()[0], "ok")
' "$v" || return 1
    "$py" -m pip --version || return 1
    "$py" -m pytest --version || return 1
}

install_python() {
    local v
    if stamp_is "$PY_STAMP" "$PY_STAMP_WANT"; then
        for v in "${PY_VERSIONS[@]}"; do
            [ -x "$P/usr/bin/python$v" ] && [ -x "$P/usr/bin/python${v}d" ] || break
        done
        [ -x "$P/usr/bin/python$v" ] && [ -x "$P/usr/bin/python${v}d" ] && return 0
    fi
    local start=$SECONDS
    say "installing CPython ${PY_VERSIONS[*]} (release and debug) from Debian's packages into $P"
    newwork python
    local debs=("${PY_COMMON_DEBS[@]}")
    for v in "${PY_VERSIONS[@]}"; do mapfile -t -O ${#debs[@]} debs < <(py_version_debs "$v"); done
    unpack_debs "$WORK/root" "${debs[@]}"

    local r=$WORK/root libdir=$P/usr/lib/$MULTIARCH b
    for v in "${PY_VERSIONS[@]}"; do
        for b in "python$v" "python${v}d"; do
            [ -f "$r/usr/bin/$b" ] || die "missing $b in the unpacked packages"
            # The interpreters use the private glibc; the system's library
            # folders come after the private one so that bookworm libraries
            # (libX11, libffi, ...) are found as well.
            run patchelf --set-interpreter "$libdir/ld-linux-x86-64.so.2" \
                --force-rpath --set-rpath "$libdir:/lib/$MULTIARCH:/usr/lib/$MULTIARCH" \
                "$r/usr/bin/$b"
            # Debian's pyconfig.h in include/python3.x{,d} only dispatches to
            # the multiarch folder; put the real one next to Python.h.
            cp --remove-destination "$r/usr/include/$MULTIARCH/$b/pyconfig.h" \
                "$r/usr/include/$b/pyconfig.h"
        done
    done

    rm -rf "$P"
    mv "$r" "$P"
    for v in "${PY_VERSIONS[@]}"; do
        log "verifying CPython $v"
        if ! run verify_python "$v"; then
            rm -rf "$P"
            die "CPython $v verification failed"
        fi
    done
    printf '%s\n' "$PY_STAMP_WANT" >"$PY_STAMP"
    cleanup
    say "CPython ${PY_VERSIONS[*]}: done in $((SECONDS - start)) s"
}

# The prefix is private, so pip may install into it. No package index is
# reachable, so pip never asks one, and builds use the installed backends
# (pip reads "no-build-isolation = false" as: build without isolation).
PIP_CONF='[global]
no-index = true
no-build-isolation = false
disable-pip-version-check = true
root-user-action = ignore'
configure_pip() {
    local v
    for v in "${PY_VERSIONS[@]}"; do rm -f "$P/usr/lib/python$v/EXTERNALLY-MANAGED"; done
    if [ "$(cat "$P/usr/pip.conf" 2>/dev/null)" != "$PIP_CONF" ]; then
        printf '%s\n' "$PIP_CONF" >"$P/usr/pip.conf.tmp"
        mv -f "$P/usr/pip.conf.tmp" "$P/usr/pip.conf"
    fi
}

check_python_override() {
    local var=$1 py=$2 want_debug=$3 v=$4
    [ -x "$py" ] || die "$var=$py is not an executable"
    "$py" -c "
import sys, sysconfig, os
assert sys.version_info[:2] == tuple(map(int, sys.argv[1].split('.'))), 'not CPython ' + sys.argv[1] + ': ' + sys.version
assert hasattr(sys, 'gettotalrefcount') == $want_debug, 'wrong build kind (debug or release)'
assert os.path.exists(os.path.join(sysconfig.get_path('include'), 'Python.h')), 'no Python.h'
" "$v" || die "$var=$py is not a usable CPython $v"
}

# The interpreters of the user's, if any variable names one; a variable
# naming one of the private prefix's own (a shell that sourced env.sh) counts
# as not given.
users_pythons() {
    local v kind var
    for v in "${PY_VERSIONS[@]}"; do
        for kind in "" debug; do
            var=$(python_variable "$v" "$kind")
            case "${!var-$P/}" in "$P"/*) ;; *) return 0 ;; esac
        done
    done
    return 1
}

# choose_pythons: fills PY_RELEASE and PY_DEBUG, with the private prefix's
# interpreters, or with exactly those the user names (the others are none).
choose_pythons() {
    local v kind var value
    if ! users_pythons; then
        install_python
        configure_pip
        for v in "${PY_VERSIONS[@]}"; do
            PY_RELEASE[$v]=$P/usr/bin/python$v
            PY_DEBUG[$v]=$P/usr/bin/python${v}d
        done
        return 0
    fi
    for v in "${PY_VERSIONS[@]}"; do
        for kind in "" debug; do
            var=$(python_variable "$v" "$kind")
            value=${!var-}
            if [ -n "$value" ]; then
                check_python_override "$var" "$value" "$([ -n "$kind" ] && echo True || echo False)" "$v"
            fi
            if [ -n "$kind" ]; then PY_DEBUG[$v]=$value; else PY_RELEASE[$v]=$value; fi
        done
    done
}
