"""Fixtures: the built module, and raylib's keyboard state driven through
raylib's own automation events on the very library the module loaded."""
import ctypes
import os
import pathlib
import re
import struct
import subprocess
import sys
import sysconfig
import time

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[1]
DEBUG = hasattr(sys, "gettotalrefcount")
# The free-threaded build is its own version here, "3.14t", as its files
# (python3.14t, the cp314t wheel tag) name it.
FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
VERSION = "%d.%d%s" % (*sys.version_info[:2], "t" if FREE_THREADED else "")
# The file-name suffix of this interpreter's extension modules, e.g.
# ".cpython-314-x86_64-linux-gnu.so" (glibc) or "...-linux-musl.so" (musl).
EXT_SUFFIX = sysconfig.get_config_var("EXT_SUFFIX")
# The C library the interpreter runs on, as its extension suffix names it.
LIBC = "musl" if "-linux-musl" in EXT_SUFFIX else "glibc"
# The build the suite runs on: release, debug, asan (the release
# interpreter's sanitized build, run by scripts/sanitize), musl or aarch64;
# and its tree, by default the one scripts/build makes for this interpreter.
# An arm64 interpreter is the cross-compiled build's (this project builds for
# arm64 on x86-64 and runs it under qemu).
VARIANT = os.environ.get("TOBRIM_VARIANT") or (
    "musl" if LIBC == "musl" else "aarch64" if "-aarch64-linux-" in EXT_SUFFIX else
    "debug" if DEBUG else "release")
SANITIZED = VARIANT == "asan"
# The cross-compiled build on the arm64 interpreter, whose CPU qemu emulates
# on this machine: the core tier runs there.
EMULATED = VARIANT == "aarch64"
TREE = pathlib.Path(os.environ.get("TOBRIM_TREE") or ROOT / "build" / (
    "cp%s-%s" % (VERSION.replace(".", ""), VARIANT)) / "tree").resolve()
# The raylib install prefix that builds for this interpreter take: the musl
# build of raylib for a musl interpreter, the aarch64 one for the arm64
# interpreter (scripts/bootstrap names all three).
RAYLIB_DIR = os.environ.get("TOBRIM_RAYLIB_MUSL_DIR" if LIBC == "musl" else
                            "TOBRIM_RAYLIB_ARM64_DIR" if EMULATED else "TOBRIM_RAYLIB_DIR", "")
# What a build of the user's for this interpreter sets: on this glibc
# machine, musl's compiler driver beside glibc's gcc, as the README says.
BUILD_ENV = {"CC": "musl-gcc"} if LIBC == "musl" else {}
# The test command runs the suite once per interpreter.  Tests that build or
# check what a version's release interpreter makes run in each version's
# release run; tests that only exercise the scripts run in one of them.
RELEASE_RUN = VARIANT == "release"
FIRST_RUN = RELEASE_RUN and VERSION == os.environ.get("TOBRIM_DEFAULT_VERSION", "3.14")
once = pytest.mark.skipif(not FIRST_RUN, reason="runs once, in the CPython 3.14 release run")
per_version = pytest.mark.skipif(not RELEASE_RUN, reason="runs in each version's release run")
# Tests that build for the interpreter: each version's release run and the
# musl run.
per_version_and_musl = pytest.mark.skipif(not (RELEASE_RUN or VARIANT == "musl"),
                                          reason="runs in each version's release run and the musl run")


def interpreter_files():
    """The interpreter's own ELF files: the executable and, for a shared
    build, the libpython this process runs from."""
    with open("/proc/self/maps") as maps:
        fields = [line.rstrip("\n").split(None, 5) for line in maps]
    libpython = {f[5] for f in fields if len(f) == 6 and os.path.basename(f[5]).startswith("libpython")}
    return [os.path.realpath(sys.executable)] + sorted(libpython)


def needed(path):
    """The NEEDED entries of an ELF file."""
    out = subprocess.run(["readelf", "-d", path], capture_output=True, text=True, check=True).stdout
    return re.findall(r"\(NEEDED\)\s+Shared library: \[(.+?)\]", out)


def c_library():
    """The C library as the interpreter names it: libc.so.6 (glibc),
    libc.so (Debian's musl) or libc.musl-x86_64.so.1 (Alpine's)."""
    names = {n for f in interpreter_files() for n in needed(f)
             if re.fullmatch(r"libc\.so(\.\d+)*|libc\.musl-[\w-]+\.so\.\d+", n)}
    (name,) = names
    return name


# raylib's private automation event types (rcore.c): key up and key down.
INPUT_KEY_UP = 1
INPUT_KEY_DOWN = 2
LOG_NONE = 7


class AutomationEvent(ctypes.Structure):
    _fields_ = [("frame", ctypes.c_uint), ("type", ctypes.c_uint), ("params", ctypes.c_int * 4)]


def bundled_raylib(site=TREE):
    """The raylib file beside the package (named by its SONAME)."""
    (path,) = (pathlib.Path(site) / "tobrim.libs").glob("libraylib.so*")
    return path


def load_raylib():
    """raylib as the module loaded it (same file, so the same handle)."""
    lib = ctypes.CDLL(str(bundled_raylib()))
    lib.SetTraceLogLevel.argtypes = [ctypes.c_int]
    lib.PlayAutomationEvent.argtypes = [AutomationEvent]
    lib.PollInputEvents.argtypes = []
    lib.IsWindowReady.restype = ctypes.c_bool
    lib.SetTraceLogLevel(LOG_NONE)
    return lib


class Keyboard:
    """Frames without a window: poll, then play the frame's key events."""

    def __init__(self, lib):
        self.lib = lib

    def frame(self, down=(), up=()):
        self.lib.PollInputEvents()
        for key in down:
            self._play(INPUT_KEY_DOWN, key)
        for key in up:
            self._play(INPUT_KEY_UP, key)

    def _play(self, kind, key):
        event = AutomationEvent(0, kind)
        event.params[0] = key
        self.lib.PlayAutomationEvent(event)

    def release_all(self):
        self.frame(up=range(1, 512))
        self.frame()


@pytest.fixture(scope="session")
def key():
    import tobrim.key.key as module
    return module


@pytest.fixture(scope="session")
def _raylib(key):
    return load_raylib()


@pytest.fixture
def keyboard(_raylib):
    kb = Keyboard(_raylib)
    kb.release_all()
    yield kb
    kb.release_all()


@pytest.fixture
def run_python(tmp_path):
    """Runs code in a fresh interpreter of the same kind, with the built tree
    on the path; returns the completed process."""
    import subprocess

    def run(code, check=True, cwd=None):
        env = dict(os.environ, PYTHONPATH=str(TREE))
        proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                              env=env, cwd=cwd or tmp_path, timeout=120)
        if check and proc.returncode != 0:
            raise AssertionError(f"child failed ({proc.returncode}):\n{proc.stdout}\n{proc.stderr}")
        return proc

    return run


def window_libraries_missing():
    """On musl, the X11 and GL libraries that GLFW loads when a window opens
    and that this interpreter's loader cannot find (glibc's builds are no
    use to it)."""
    if LIBC != "musl":
        return []
    missing = []
    for name in ("libX11.so.6", "libGL.so.1"):
        try:
            ctypes.CDLL(name)
        except OSError:
            missing.append(name.split(".so")[0])
    return missing


class XEnvironment(dict):
    """The environment for a program on the private X server, and the file
    in which Xvfb keeps its screen (an XWD image, mapped in memory)."""

    framebuffer: pathlib.Path


@pytest.fixture(scope="session")
def x_display(tmp_path_factory):
    """A private X server (Xvfb) that xdotool can drive: the environment in
    which to run a window, with the built tree on the path."""
    import shutil

    if EMULATED:
        pytest.skip("under qemu no window can open: the arm64 sysroot has libX11 and libGL for linking, "
                    "not the GL drivers GLFW would load")
    missing = window_libraries_missing()
    if missing:
        pytest.skip(f"no musl build of {' and '.join(missing)} here: a window cannot open")
    if not (shutil.which("Xvfb") and shutil.which("xdotool")):
        pytest.skip("needs Xvfb and xdotool")
    screen = tmp_path_factory.mktemp("xvfb")
    # Xvfb picks a free display itself and writes its number to us.
    server = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp",
                               "-fbdir", str(screen)],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        env = XEnvironment(os.environ, DISPLAY=":" + server.stdout.readline().strip(), PYTHONPATH=str(TREE))
        env.framebuffer = screen / "Xvfb_screen0"
        if SANITIZED:
            # The GL driver behind the window leaks at exit and is unloaded by
            # then; its reports would say nothing about the module.
            env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
        for _ in range(50):
            if subprocess.run(["xdotool", "getmouselocation"], env=env, capture_output=True).returncode == 0:
                break
            time.sleep(0.1)
        yield env
    finally:
        server.terminate()
        server.wait(10)
        server.stdout.close()


def xdotool(env, *args, check=True):
    return subprocess.run(["xdotool", *args], env=env, capture_output=True, text=True, check=check,
                          timeout=20).stdout


def window_pixels(env, window):
    """A window's pixels as the X server shows them, row by row, each an
    (r, g, b) tuple: read from Xvfb's screen, an XWD file of a 24-bit
    TrueColor screen with 32 bits a pixel, least significant byte first."""
    geometry = dict(line.split("=") for line in xdotool(env, "getwindowgeometry", "--shell", window).split())
    x, y, width, height = (int(geometry[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))
    data = env.framebuffer.read_bytes()
    header = struct.unpack(">25I", data[:100])
    header_size, depth, bits, line_bytes, colours = header[0], header[3], header[11], header[12], header[19]
    assert (depth, bits, header[7]) == (24, 32, 0), "not the screen Xvfb was asked for"
    start = header_size + colours * 12
    rows = []
    for row in range(y, y + height):
        at = start + row * line_bytes + x * 4
        line = data[at:at + width * 4]
        rows.append([(line[i + 2], line[i + 1], line[i]) for i in range(0, len(line), 4)])
    return rows


def play(env, argv, title, keys, look=None):
    """Runs a program whose window has the given title, holds each group of
    keys (xdotool names) for its time once the window has the focus (a time
    of None: taps them, each down and up at once), and returns what the
    program printed after it ended by itself (run from the repository's top
    folder).  `look(window, group)`, if given, is called at the end of each
    held group's time, while its keys are still held."""
    # The window of an earlier run of the same program (the leak hunt runs
    # each test again at once) may linger in the X server for a moment.
    for _ in range(100):
        if not xdotool(env, "search", "--onlyvisible", "--name", f"^{title}$", check=False).split():
            break
        time.sleep(0.1)
    proc = subprocess.Popen(argv, env=env, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        # A window is found once it has its name; focus needs it mapped too.
        window = xdotool(env, "search", "--sync", "--onlyvisible", "--name", f"^{title}$").split()[0]
        xdotool(env, "windowfocus", "--sync", window)
        time.sleep(0.3)
        for group, seconds in keys:
            if seconds is None:
                xdotool(env, "key", *group)
                time.sleep(0.3)
                continue
            for k in group:
                xdotool(env, "keydown", k)
            time.sleep(seconds)
            if look is not None:
                look(window, group)
            for k in reversed(group):
                xdotool(env, "keyup", k)
            time.sleep(0.3)
        out, err = proc.communicate(timeout=30)
    finally:
        if proc.poll() is None:
            proc.kill()
            out, err = proc.communicate()
            pytest.fail(f"{argv[-1]} did not end on Escape:\n{out}\n{err}")
    assert proc.returncode == 0, out + err
    return out
