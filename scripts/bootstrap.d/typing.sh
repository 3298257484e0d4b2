# Sourced by scripts/bootstrap: the type checkers the typing tests run.
#   - mypy (with stubtest) from Debian's newest packages, unpacked into the
#     private prefix beside pytest; its compiled modules are built for 3.14
#     and later.  For 3.13, trixie's mypy (trixie's python3 is 3.13) in that
#     version's own folder, local/lib/python3.13/dist-packages, which it
#     searches before the shared one.  Only for the private interpreters: an
#     interpreter of the user's brings its own mypy.
#   - pyright from npm, pinned, in $CACHE/node (env.sh: TOBRIM_PYRIGHT).  It
#     runs on the system's node (Debian's nodejs when there is none).

MYPY_RECIPE=3
MYPY_DEBS=(python3-mypy python3-mypy-extensions python3-typing-extensions
           python3-psutil python3-ast-serialize python3-librt)
MYPY_313_DEBS=(python3-mypy/trixie python3-mypy-extensions/trixie
               python3-typing-extensions/trixie python3-psutil/trixie)
MYPY_STAMP="$P/.tobrim-mypy-stamp"
MYPY_STAMP_WANT="recipe=$MYPY_RECIPE versions=${PY_VERSIONS[*]}"

# A strict check under one version's interpreter that must find exactly one
# error.
verify_mypy() {
    local py=$P/usr/bin/python$1 out
    "$py" -m mypy --version || return 1
    "$py" -c 'import mypy.stubtest' || return 1
    printf 'def f(x: int) -> int:\n    return x\nf("1")\n' >"$WORK/probe.py"
    out=$("$py" -m mypy --strict --no-incremental --cache-dir=/dev/null "$WORK/probe.py" 2>&1) && return 1
    printf '%s\n' "$out"
    grep -q 'probe.py:3: error: .*\[arg-type\]' <<<"$out" || return 1
}

install_mypy() {
    local stamp
    stamp=$(cat "$MYPY_STAMP" 2>/dev/null || true)
    # The stamp ends with the version installed, which is not asked for.
    if [ "${stamp% python3-mypy=*}" = "$MYPY_STAMP_WANT" ] \
        && [ -d "$P/usr/lib/python3/dist-packages/mypy" ]; then
        return 0
    fi
    say "installing mypy from Debian's packages into $P"
    newwork mypy
    unpack_debs "$WORK/root" "${MYPY_DEBS[@]}"
    # Only the Python packages: the scripts in usr/bin name /usr/bin/python3.
    local dist=usr/lib/python3/dist-packages v ver
    [ -d "$WORK/root/$dist/mypy" ] || die "no mypy in the unpacked packages"
    run cp -a "$WORK/root/$dist/." "$P/$dist/"
    if [[ " ${PY_VERSIONS[*]} " == *" 3.13 "* ]]; then
        unpack_debs "$WORK/root-3.13" "${MYPY_313_DEBS[@]}"
        [ -d "$WORK/root-3.13/$dist/mypy" ] || die "no mypy in trixie's unpacked packages"
        rm -rf "$P/usr/local/lib/python3.13/dist-packages"
        mkdir -p "$P/usr/local/lib/python3.13"
        run cp -a "$WORK/root-3.13/$dist" "$P/usr/local/lib/python3.13/dist-packages"
    fi
    for v in "${PY_VERSIONS[@]}"; do
        log "verifying mypy under CPython $v"
        run verify_mypy "$v"
    done
    ver=$(ls "$WORK"/root.debs/python3-mypy_*.deb | sed 's/.*python3-mypy_\([^_]*\)_.*/\1/')
    printf '%s python3-mypy=%s\n' "$MYPY_STAMP_WANT" "$ver" >"$MYPY_STAMP"
    cleanup
}

PYRIGHT_VERSION=1.1.414
NODE_DIR="$CACHE/node"
PYRIGHT="$NODE_DIR/node_modules/.bin/pyright"
PYRIGHT_STAMP="$NODE_DIR/.tobrim-stamp"
PYRIGHT_STAMP_WANT="pyright=$PYRIGHT_VERSION"

install_pyright() {
    if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
        system_packages nodejs npm
    fi
    stamp_is "$PYRIGHT_STAMP" "$PYRIGHT_STAMP_WANT" && [ -x "$PYRIGHT" ] && return 0
    say "installing pyright $PYRIGHT_VERSION with npm (node $(node --version)) into $NODE_DIR"
    rm -rf "$NODE_DIR"
    run retry npm install --prefix "$NODE_DIR" --no-audit --no-fund --loglevel=error \
        "pyright@$PYRIGHT_VERSION"
    local v
    v=$("$PYRIGHT" --version) || die "pyright does not run"
    [ "$v" = "pyright $PYRIGHT_VERSION" ] || die "pyright reports '$v', expected $PYRIGHT_VERSION"
    printf '%s\n' "$PYRIGHT_STAMP_WANT" >"$PYRIGHT_STAMP"
}
