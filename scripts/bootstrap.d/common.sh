# Sourced by scripts/bootstrap: logging, running commands, the cache's lock
# and scratch folders, stamps, and the private apt that downloads from
# Debian's newer suites.

if [ -z "${HOME:-}" ]; then HOME=$(getent passwd "$(id -u)" | cut -d: -f6); export HOME; fi
CACHE="${TOBRIM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tobrim}"
mkdir -p "$CACHE"
CACHE=$(cd "$CACHE" && pwd -P)
LOGDIR="$CACHE/logs"
LOG="$LOGDIR/bootstrap.log"
TMPROOT="$CACHE/tmp"
MULTIARCH=x86_64-linux-gnu
export DEBIAN_FRONTEND=noninteractive
exec </dev/null

# log: details, unless quiet.  say: a step that installs something, always
# (a cold run takes minutes, and must not look like a hang).
log() { [ "$QUIET" = 1 ] || printf '[bootstrap] %s\n' "$*" >&2; }
say() { printf '[bootstrap] %s\n' "$*" >&2; }
die() { printf '[bootstrap] error: %s\n' "$*" >&2; exit 1; }
trap 'rc=$?; printf "[bootstrap] error: command failed (exit %s) at line %s: %s\n" "$rc" "$LINENO" "$BASH_COMMAND" >&2' ERR

# run CMD...: runs an external command (or a function that checks its own
# errors).  Its output goes to stderr, or, when quiet or inside a logged
# step, to $LOG, whose tail is shown if the command fails.
CAPTURE=0
run() {
    local rc=0
    if [ "$QUIET" = 1 ] || [ "$CAPTURE" = 1 ]; then
        mkdir -p "$(dirname "$LOG")"
        printf '+ %s\n' "$*" >>"$LOG"
        "$@" >>"$LOG" 2>&1 || rc=$?
        if [ "$rc" != 0 ]; then
            printf '[bootstrap] the last lines of %s:\n' "$LOG" >&2
            tail -n 40 "$LOG" >&2
        fi
    else
        "$@" >&2 || rc=$?
    fi
    if [ "$rc" != 0 ]; then
        trap - ERR
        die "command failed (exit $rc): $*"
    fi
}

# logged_step NAME LOGFILE FUNCTION...: runs a step whose commands write
# much (configure, make) into a log of its own, and says how long it took.
logged_step() {
    local name=$1 file=$2 start=$SECONDS
    shift 2
    say "$name (log: $file)"
    mkdir -p "$(dirname "$file")"
    : >"$file"
    local saved_log=$LOG saved_capture=$CAPTURE
    LOG=$file CAPTURE=1
    "$@"
    LOG=$saved_log CAPTURE=$saved_capture
    say "$name: done in $((SECONDS - start)) s"
}

# retry CMD...: up to 3 tries, for network operations.
retry() {
    local n=1
    while :; do
        if "$@"; then return 0; fi
        if [ "$n" -ge 3 ]; then return 1; fi
        printf '[bootstrap] retrying (%d/3) in %ds: %s\n' "$n" $((n * 5)) "$*" >&2
        sleep $((n * 5))
        n=$((n + 1))
    done
}

# stamp_is FILE WANT: whether a finished step left that stamp.
stamp_is() { [ -f "$1" ] && [ "$(cat "$1")" = "$2" ]; }

# finish_part FOLDER WANT [CHECK]: a part's last step once it is built into
# FOLDER: runs its check (if any) into the log, and on failure shows the
# log's last lines, removes the folder and stops; then stamps the folder.
finish_part() {
    local folder=$1 want=$2 check=${3:-}
    if [ -n "$check" ]; then
        printf '+ %s %s\n' "$check" "$folder" >>"$LOG"
        if ! "$check" "$folder" >>"$LOG" 2>&1; then
            printf '[bootstrap] the last lines of %s:\n' "$LOG" >&2
            tail -n 40 "$LOG" >&2
            rm -rf "$folder"
            die "$folder does not work: $check failed"
        fi
    fi
    printf '%s\n' "$want" >"$folder/.tobrim-stamp"
    cleanup
}

# apt_options DIR ARCHITECTURE: the options of a private apt whose state,
# lists, cache and sources are in DIR, for packages of that architecture.
apt_options() {
    printf '%s\n' -o "Dir::State=$1/state/" -o "Dir::State::Lists=$1/lists/" \
        -o "Dir::State::status=$1/state/status" -o "Dir::Cache=$1/cache/" \
        -o "Dir::Etc::SourceList=$1/sources.list" -o "Dir::Etc::SourceParts=$1/sources.list.d/" \
        -o "Dir::Etc::Preferences=$1/preferences" -o "Dir::Etc::PreferencesParts=$1/preferences.d/" \
        -o APT::Sandbox::User=root -o Acquire::Languages=none -o Acquire::Retries=3 \
        -o "APT::Architecture=$2" -o "APT::Architectures=$2" -q
}

# Serialise concurrent runs sharing one cache.
exec 9>"$CACHE/.lock"
flock 9

# Keep the log from growing without bound.
if [ -f "$LOG" ] && [ "$(stat -c %s "$LOG")" -gt 4000000 ]; then mv -f "$LOG" "$LOG.old"; fi

# Leftovers of an interrupted run (we hold the lock, so nobody uses them).
[ -e "$TMPROOT" ] && rm -rf "$TMPROOT"
WORK=""
cleanup() {
    if [ -n "$WORK" ] && [ -d "$WORK" ]; then rm -rf "$WORK"; fi
    WORK=""
    rmdir "$TMPROOT" 2>/dev/null || true
}
trap cleanup EXIT
newwork() { mkdir -p "$TMPROOT"; WORK=$(mktemp -d "$TMPROOT/$1.XXXXXX"); }

# The private apt: downloads from sid, forky and trixie (the newest version
# unless a package names its suite: python3-mypy/trixie) without touching the
# system's sources or state (only /etc/apt/apt.conf.d is shared).
APTDIR="$CACHE/apt"
APT_OPTS=()
APT_UPDATED=0
private_apt() {
    if [ "$APT_UPDATED" = 1 ]; then return 0; fi
    local kr=/usr/share/keyrings/debian-archive-keyring.gpg
    local m="[signed-by=$kr] http://deb.debian.org/debian"
    mkdir -p "$APTDIR"/{lists/partial,cache/archives/partial,state,sources.list.d,preferences.d}
    : >"$APTDIR/state/status"
    cat >"$APTDIR/sources.list" <<EOF
deb $m sid main
deb $m forky main
deb $m trixie main
deb-src $m sid main
deb-src $m forky main
deb-src $m trixie main
EOF
    mapfile -t APT_OPTS < <(apt_options "$APTDIR" "$(dpkg --print-architecture)")
    log "updating the private apt lists (sid, forky, trixie)"
    run retry apt-get "${APT_OPTS[@]}" update
    APT_UPDATED=1
}

# unpack_debs FOLDER PACKAGE...: downloads Debian packages with the private
# apt and unpacks them all into FOLDER.
# The packages stay in FOLDER.debs.
unpack_debs() {
    local root=$1 d
    shift
    private_apt
    mkdir -p "$root.debs" "$root"
    (cd "$root.debs" && run retry apt-get "${APT_OPTS[@]}" download "$@")
    log "unpacking $(ls "$root.debs" | wc -l) packages"
    for d in "$root.debs"/*.deb; do run dpkg-deb -x "$d" "$root"; done
}
