# Sourced by scripts/bootstrap: the free-threaded CPython 3.14 (configured
# --disable-gil), built with the system's gcc from the same source release
# as the musl interpreter (musl.sh's cpython_source), in $CACHE/freethreaded:
#   python/  CPython 3.14t, release, with ctypes, zlib, venv, _testcapi and
#            pip from its own ensurepip wheel
#   site/    pytest, scikit-build-core and their pure-Python dependencies
#            from Debian's packages, on the interpreters' paths
#   tsan/    (--tsan only) CPython 3.14t built --with-thread-sanitizer,
#            without pip; it takes site/ too
# Each part has its stamp and its log ($CACHE/logs/freethreaded-<part>.log).
# The suppression files of the source tree's Tools/tsan/ are kept in tsan/
# for TSAN_OPTIONS.  No PGO or LTO, and the modules that the suite does not
# use (musl.sh's list) are left out: a cold build stays a few minutes.
#
# Sets FT_PYTHON, FT_TSAN_PYTHON (empty without --tsan), FT_TSAN_OPTIONS and
# FT_MISSING (empty, or a line saying why there is no free-threaded
# interpreter).

FT_RECIPE=1
FT_TSAN_RECIPE=2
# ThreadSanitizer slows every compile down, and the thread tests it runs
# need none of the test modules, decimal, the CJK codecs or ElementTree:
# those are left out of it, and it is compiled at -O1 (enough for the
# reports, with their frames) without debug information.
FT_TSAN_CONFIGURE=(--disable-test-modules "OPT=-DNDEBUG -O1")
FT_TSAN_NO_MODULES=(_decimal _multibytecodec _codecs_cn _codecs_hk _codecs_iso2022 _codecs_jp
                    _codecs_kr _codecs_tw _elementtree)
FT="$CACHE/freethreaded"
FT_PY="$FT/python"
FT_SITE="$FT/site"
FT_TSAN="$FT/tsan"
FT_SUFFIX=.cpython-314t-x86_64-linux-gnu.so
FT_SYS_PKGS=(libffi-dev zlib1g-dev)
FT_PYTHON=""
FT_TSAN_PYTHON=""
FT_TSAN_OPTIONS=""
FT_MISSING=""

# ft_part NAME FOLDER WANT BUILD [CHECK]: musl_part's build, with a log and
# a step name of this part's own.
ft_part() {
    local name=$1 folder=$2 want=$3
    stamp_is "$folder/.tobrim-stamp" "$want" && return 0
    logged_step "free-threaded: $name" "$LOGDIR/freethreaded-$(basename "$folder").log" \
        musl_build_part "${@:2}"
}

# ft_configure_make PREFIX CONFIGURE-OPTION...: unpacks the source release,
# configures it for PREFIX and builds it into $WORK/dest.
ft_configure_make() {
    local prefix=$1 src m off=()
    shift
    for m in "${CPYTHON_NO_MODULES[@]}"; do off+=("py_cv_module_$m=n/a"); done
    run tar -xJf "$MUSL_SOURCE" -C "$WORK"
    src=$WORK/$(basename "$MUSL_SOURCE" .tar.xz)
    FT_SRC=$src
    (cd "$src" && run ./configure --prefix="$prefix" --disable-gil "$@" "${off[@]}" \
        && run make -j2)
}

build_ft_python() {
    local dest=$1
    ft_configure_make "$FT_PY" --with-ensurepip=install
    (cd "$FT_SRC" && run make install DESTDIR="$WORK/dest")
    [ -x "$dest/bin/python3.14t" ] || die "python3.14t was not installed"
}

# The interpreter under ThreadSanitizer runs many times slower: its install
# skips the byte-compiling of the whole library at three optimisation
# levels (PYTHON_FOR_BUILD=true; the step's failure is ignored by the
# makefile) and compiles it once, at level 0, without the test package.
build_ft_tsan() {
    local dest=$1
    local m off=()
    for m in "${FT_TSAN_NO_MODULES[@]}"; do off+=("py_cv_module_$m=n/a"); done
    ft_configure_make "$FT_TSAN" --with-thread-sanitizer --with-ensurepip=no \
        "${FT_TSAN_CONFIGURE[@]}" "${off[@]}"
    (cd "$FT_SRC" && run make install DESTDIR="$WORK/dest" PYTHON_FOR_BUILD=true)
    [ -x "$dest/bin/python3.14t" ] || die "python3.14t was not installed"
    mkdir -p "$dest/tsan"
    cp "$FT_SRC"/Tools/tsan/suppressions*.txt "$dest/tsan/"
    # It runs from its final folder's paths only after the move; compile
    # with the build tree's interpreter meanwhile.
    run env TSAN_OPTIONS="report_bugs=0 exitcode=0" PYTHONPATH="$dest/lib/python3.14t" "$FT_SRC/python" -m compileall -q -j2 \
        -x '/(test|idlelib|tkinter|turtledemo)/' -d "$FT_TSAN/lib/python3.14t" "$dest/lib/python3.14t"
}

# check_ft_python FOLDER [PIP]: a free-threaded 3.14 whose GIL stays off
# (with pip and the test modules, for the release one).
check_ft_python() {
    local py=$1/bin/python3.14t
    "$py" -W error -c '
import sys, sysconfig
assert sys.version_info[:2] == (3, 14), sys.version
assert not hasattr(sys, "gettotalrefcount"), "a debug build"
assert sysconfig.get_config_var("Py_GIL_DISABLED") == 1, "not free-threaded"
assert sysconfig.get_config_var("EXT_SUFFIX") == sys.argv[1], sysconfig.get_config_var("EXT_SUFFIX")
import ctypes, zlib, venv
if sys.argv[2] == "pip":
    import _testcapi
assert not sys._is_gil_enabled()
assert zlib.decompress(zlib.compress(b"ft")) == b"ft"
assert ctypes.CDLL(None).strlen(b"ft") == 2
print("free-threaded CPython", sys.version.split()[0], sysconfig.get_config_var("EXT_SUFFIX"))
' "$FT_SUFFIX" "${2:-}" || return 1
    [ "${2:-}" != pip ] || "$py" -m pip --version
}
check_ft_release() { check_ft_python "$1" pip; }
check_ft_tsan() {
    TSAN_OPTIONS="$(ft_tsan_options "$1")" check_ft_python "$1" || return 1
    "$1/bin/python3.14t" -c 'import sysconfig; assert "-fsanitize=thread" in sysconfig.get_config_var("CONFIG_ARGS") + sysconfig.get_config_var("LDFLAGS")'
}

# ft_tsan_options FOLDER: TSAN_OPTIONS for the interpreter in FOLDER: its
# source tree's suppressions of the interpreter's own known races; a report
# makes the process exit with status 66 when it ends.
ft_tsan_options() {
    printf 'suppressions=%s exitcode=66 second_deadlock_stack=1' \
        "$1/tsan/suppressions_free_threading.txt"
}

# pytest and the build backend, as for the musl interpreter: Debian's
# pure-Python packages in site/, put on each interpreter's path by a .pth
# file in its site-packages.
build_ft_site() {
    local dest=$1
    unpack_debs "$WORK/root" "${MUSL_SITE_DEBS[@]}"
    mkdir -p "$dest"
    mv "$WORK/root/usr/lib/python3/dist-packages" "$dest/"
    ft_link_site "$FT_PY"
}
ft_link_site() {
    local purelib
    purelib=$("$1/bin/python3.14t" -c 'import sysconfig; print(sysconfig.get_path("purelib"))')
    printf '%s\n' "$FT_SITE/dist-packages" >"$purelib/tobrim-site.pth"
    [ ! -x "$1/bin/pip3" ] || printf '%s\n' "$PIP_CONF" >"$1/pip.conf"
}
check_ft_site() {
    "$FT_PY/bin/python3.14t" -W error -c '
import sys
import pytest, pluggy, scikit_build_core.build, pathspec, pyproject_metadata, packaging
assert pytest.__file__.startswith(sys.argv[1]), pytest.__file__
assert not sys._is_gil_enabled()
print("pytest", pytest.__version__, "scikit-build-core", scikit_build_core.__version__)' "$1" || return 1
    "$FT_PY/bin/python3.14t" -m pytest --version
}

# setup_freethreaded TSAN: the release interpreter, and with TSAN=1 the
# ThreadSanitizer one.
setup_freethreaded() {
    FT_PYTHON="" FT_TSAN_PYTHON="" FT_TSAN_OPTIONS="" FT_MISSING=""
    if ! cpython_source; then
        FT_MISSING="no CPython 3.14 source release for the free-threaded interpreter: put Python-3.14.7.tar.xz (SHA-256 ${CPYTHON_SHA256[Python-3.14.7.tar.xz]}) in $(cd "$ROOT/.." && pwd)/shared/third_party/, or name a Python-3.14.*.tar.xz with TOBRIM_CPYTHON_SOURCE, and run scripts/bootstrap"
        log "$FT_MISSING"
        return 0
    fi
    system_packages "${FT_SYS_PKGS[@]}"
    local src="$(basename "$MUSL_SOURCE") sha256=$MUSL_SOURCE_SHA256" gcc
    gcc=$(deb_version gcc-12)
    ft_part "CPython $(basename "$MUSL_SOURCE" .tar.xz | cut -d- -f2) (--disable-gil)" "$FT_PY" \
        "recipe=$FT_RECIPE $src gcc=$gcc" build_ft_python check_ft_release
    ft_part "pytest and scikit-build-core" "$FT_SITE" \
        "recipe=$FT_RECIPE python=$(stamp_id "$FT_PY")" build_ft_site check_ft_site
    FT_PYTHON=$FT_PY/bin/python3.14t
    if [ "$1" = 1 ]; then
        ft_part "CPython $(basename "$MUSL_SOURCE" .tar.xz | cut -d- -f2) (--disable-gil --with-thread-sanitizer)" \
            "$FT_TSAN" "recipe=$FT_TSAN_RECIPE $src gcc=$gcc site=$(stamp_id "$FT_SITE")" build_ft_tsan check_ft_tsan_linked
        FT_TSAN_PYTHON=$FT_TSAN/bin/python3.14t
        FT_TSAN_OPTIONS=$(ft_tsan_options "$FT_TSAN")
    fi
}
# The TSan interpreter reaches pytest through site/ once it is in place.
check_ft_tsan_linked() { ft_link_site "$1" && check_ft_tsan "$1"; }
