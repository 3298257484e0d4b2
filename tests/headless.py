"""A process in which the X11 and GL libraries cannot load, as on a server or
in a slim container: a private mount namespace in which each of their files
is covered by /dev/null, so that the loader finds them but cannot map them.
Making one needs root (or the capability to mount)."""
import os
import re
import subprocess
import sys

# X11's client libraries (libX11, libXext, libXrandr, ..., libxcb) and GL's.
WINDOW_LIBRARY = re.compile(r"lib(X[A-Za-z0-9]*|xcb[-a-z0-9]*|GL[A-Za-z]*|EGL|OpenGL)\.so(\.[0-9.]+)?")

# Run in the hidden process first: the proof that it is hidden (a check that
# found the libraries would prove nothing).
PROBE = """
import ctypes
for name in ("libX11.so.6", "libGL.so.1"):
    try:
        ctypes.CDLL(name)
    except OSError:
        continue
    raise SystemExit(f"{name} still loads: the window libraries are not hidden")
"""

# Then the package, imported and asked as a game on such a machine would.
QUERIES = """
from tobrim.key import Key, down, pressed, pressed_repeat, raylib_path, released, up
import tobrim.key.key as module
answers = [f(k) for f in (pressed, released, pressed_repeat, down, up) for k in (Key.A, 65, Key.NULL)]
print(module.__file__, raylib_path(), *answers)
"""


def library_folders():
    """The folders the loader searches, the interpreter's own prefix's
    (a private glibc's) among them."""
    folders = set()
    for top in ("/lib", "/lib64", "/usr/lib", "/usr/lib64", "/usr/local/lib",
                os.path.join(sys.base_prefix, "lib"), os.path.join(sys.base_prefix, "lib64")):
        if os.path.isdir(top):
            folders.add(os.path.realpath(top))
            folders.update(os.path.realpath(e.path) for e in os.scandir(top) if e.is_dir())
    return sorted(folders)


def window_library_files():
    """The real files of the X11 and GL libraries in those folders."""
    files = set()
    for folder in library_folders():
        for entry in os.scandir(folder):
            if WINDOW_LIBRARY.fullmatch(entry.name) and os.path.isfile(entry.path):
                files.add(os.path.realpath(entry.path))
    return sorted(files)


def refused():
    """Why no such process can be made here, or None."""
    if not window_library_files():
        return None
    proc = subprocess.run(["unshare", "--mount", "--propagation", "private", "mount", "--bind",
                           "/dev/null", window_library_files()[0]],
                          capture_output=True, text=True)
    if proc.returncode != 0:
        return ("hiding the X11 and GL libraries needs a private mount namespace (root, "
                f"unshare --mount), which this machine refuses: {proc.stderr.strip()}")
    return None


def run_hidden(python, code, cwd, env):
    """Runs PROBE and then code with python, in a process where the X11 and
    GL libraries cannot load; the completed process."""
    hide = 'for f in "$@"; do mount --bind /dev/null "$f" || exit 97; done; exec "$TOBRIM_HIDDEN_PYTHON" -c "$TOBRIM_HIDDEN_CODE"'
    env = dict(env, TOBRIM_HIDDEN_PYTHON=str(python), TOBRIM_HIDDEN_CODE=PROBE + code)
    return subprocess.run(["unshare", "--mount", "--propagation", "private", "sh", "-c", hide, "sh",
                           *window_library_files()],
                          cwd=cwd, env=env, capture_output=True, text=True, timeout=120,
                          stdin=subprocess.DEVNULL)
