# Sourced by the scripts: sets up what is missing and reads the bootstrap's
# env.sh, takes the --python option, and tells which interpreter and build
# folder serve a version and a build variant.
#
# Variants: release and debug (a version's two interpreters), asan (its
# release interpreter with a sanitized build), musl (the interpreter of
# the musl prefix, CPython 3.14 only) and aarch64 (the arm64 interpreter of
# that version, run under qemu, with a cross-compiled build).  The
# free-threaded CPython 3.14 is the version 3.14t: its release interpreter,
# and tsan, the one built with ThreadSanitizer (scripts/bootstrap --tsan)
# with a build to match.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# setup [--valgrind]: runs the bootstrap quietly and takes its env.sh.
setup() {
    local env_sh
    env_sh=$("$root/scripts/bootstrap" --quiet "$@")
    # shellcheck source=/dev/null
    source "$env_sh"
}

# The CPython versions the module builds for.
SUPPORTED_VERSIONS="3.13 3.14 3.15"
# The free-threaded builds among them, as --python names them.
FREE_THREADED_VERSIONS="3.14t"

# take_python_option ARGS...: a leading `--python VERSION` (or
# --python=VERSION) sets VERSION, else the default version (3.14); the other
# arguments are left in ARGS.
take_python_option() {
    VERSION=${TOBRIM_DEFAULT_VERSION:-3.14}
    ARGS=("$@")
    case "${1:-}" in
        --python=*) VERSION=${1#--python=}; ARGS=("${@:2}") ;;
        --python) VERSION=${2:?--python needs a version (${SUPPORTED_VERSIONS// /, })}; ARGS=("${@:3}") ;;
    esac
    case " $SUPPORTED_VERSIONS $FREE_THREADED_VERSIONS " in
        *" $VERSION "*) ;;
        *) echo "$(basename "$0"): --python takes ${SUPPORTED_VERSIONS// /, }, $FREE_THREADED_VERSIONS, not $VERSION" >&2; exit 2 ;;
    esac
}

# python_for VERSION VARIANT: the interpreter, or nothing if there is none.
python_for() {
    local var
    case "$1 $2" in
        *"t release"|*"t asan") var=TOBRIM_PYTHON_${1/./_}; var=${var^^}; printf '%s\n' "${!var:-}"; return 0 ;;
        *"t tsan") var=TOBRIM_PYTHON_${1/./_}_TSAN; var=${var^^}; printf '%s\n' "${!var:-}"; return 0 ;;
        *t\ *|*\ tsan) return 0 ;;
    esac
    case "$2" in
        release|asan) var=TOBRIM_PYTHON_${1/./_} ;;
        debug) var=TOBRIM_PYTHON_${1/./_}_DEBUG ;;
        musl) [ "$1" = 3.14 ] || return 0; var=TOBRIM_PYTHON_MUSL ;;
        aarch64) var=TOBRIM_PYTHON_ARM64_${1/./_} ;;
        *) return 0 ;;
    esac
    printf '%s\n' "${!var:-}"
}

# need_python VERSION VARIANT: the interpreter, or a message and exit 1.
need_python() {
    local python
    python=$(python_for "$1" "$2")
    if [ -z "$python" ]; then
        case "$2" in
            musl) echo "$(basename "$0"): no musl interpreter${TOBRIM_MUSL_MISSING:+: $TOBRIM_MUSL_MISSING}" >&2 ;;
            aarch64) echo "$(basename "$0"): no arm64 CPython $1${TOBRIM_ARM64_MISSING:+: $TOBRIM_ARM64_MISSING}" >&2 ;;
            tsan) echo "$(basename "$0"): no CPython $1 $2 interpreter (scripts/bootstrap --tsan builds it${TOBRIM_FREETHREADED_MISSING:+; $TOBRIM_FREETHREADED_MISSING})" >&2 ;;
            *) echo "$(basename "$0"): no CPython $1 $2 interpreter (scripts/bootstrap's TOBRIM_PYTHON_${1/./_} variables)" >&2 ;;
        esac
        exit 1
    fi
    printf '%s\n' "$python"
}

# build_folder VERSION VARIANT: where scripts/build builds it.
build_folder() { printf '%s\n' "$root/build/cp${1/./}-$2"; }

# test_selection ARGS...: sets SELECTION, the pytest arguments for ARGS:
# ARGS alone when one of them names tests (a file, a folder or a
# file::test id), else the whole tests folder and ARGS (options).
test_selection() {
    local arg
    SELECTION=("$root/tests" "$@")
    for arg in "$@"; do
        if [ "${arg#-}" = "$arg" ] && [ -e "${arg%%::*}" ]; then
            SELECTION=("$@")
            return 0
        fi
    done
}
