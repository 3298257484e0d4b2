# Sourced by scripts/bootstrap: packages of the system's own release
# (bookworm), installed with the system's apt: the build tools, the X11
# headers raylib needs, Xvfb and xdotool for the window tests, patchelf,
# musl's compiler driver, and the tools that build the musl prefix.

SYS_PKGS=(patchelf xvfb xdotool xauth libxcursor-dev libxi-dev libxinerama-dev
          libxrandr-dev libx11-dev libgl-dev pkg-config cmake make g++ dpkg-dev
          xz-utils curl
          # musl-gcc and musl's C library; the kernel headers and autotools
          # that the musl prefix's libffi needs
          musl-tools linux-libc-dev autoconf automake libtool libltdl-dev)

# system_packages [PACKAGE...]: installs those (default: SYS_PKGS) that are
# missing.
system_packages() {
    local wanted=("$@") status p missing=()
    [ ${#wanted[@]} -gt 0 ] || wanted=("${SYS_PKGS[@]}")
    status=$(dpkg-query -W -f='${Package} ${db:Status-Abbrev}\n' "${wanted[@]}" 2>/dev/null || true)
    for p in "${wanted[@]}"; do
        grep -q "^$p ii" <<<"$status" || missing+=("$p")
    done
    [ ${#missing[@]} = 0 ] && return 0
    say "installing system packages: ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" != 0 ]; then
        command -v sudo >/dev/null || die "not root and no sudo; install: ${missing[*]}"
        sudo=(sudo -n)
    fi
    local aptopts=(-q -y -o DPkg::Lock::Timeout=600 -o Acquire::Retries=3)
    run retry "${sudo[@]}" apt-get "${aptopts[@]}" update
    run retry "${sudo[@]}" apt-get "${aptopts[@]}" install --no-install-recommends "${missing[@]}"
}
