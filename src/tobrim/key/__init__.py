"""Keyboard queries for Python games, answered by raylib 6.

``pressed``, ``released``, ``pressed_repeat``, ``down`` and ``up`` take one
key code (a ``Key`` member or raylib's number for it) and answer True or
False for the current frame.  ``raylib_path()`` names the raylib file they
read: open the window through that file, so that the queries see its keys.
``python -m tobrim.key`` shows them live in a window.
"""
from ._version import __version__ as __version__
from . import key
from .key import down, pressed, pressed_repeat, released, up


def _stub_source(name: str) -> str:
    """The typing stub beside the module: the source its code objects name.

    They name their file as it lies in the source tree,
    ``src/tobrim/key/key.pyi``, so that a traceback through a query shows
    the stub's line for it.  linecache reads a file of that relative name
    when there is one (from the top of a checkout, where it is the stub the
    build was made from); elsewhere, as for an installed package, it asks
    the loader of the module whose globals the failing frame has, the
    extension module's, for its source: this, when a line is first wanted.
    """
    with open(__path__[0] + "/key.pyi", encoding="utf-8", errors="replace") as f:
        return f.read()


if key.__spec__ is not None and key.__spec__.loader is not None:
    setattr(key.__spec__.loader, "get_source", _stub_source)

# Key is made on first use (``__getattr__``): the enum module alone costs a
# fresh interpreter several times the extension module's own import.  Type
# checkers read this block as where it comes from.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from ._keys import Key as Key

__all__ = ["pressed", "released", "pressed_repeat", "down", "up", "Key", "raylib_path"]


def raylib_path() -> str:
    """The absolute path of the raylib shared library whose keyboard state
    the queries read.

    Found at run time from the library the dynamic loader bound the
    extension module to, so it is right whichever copy that is: the bundled
    one in ``tobrim.libs``, a system raylib, or a copy of the same SONAME
    that was loaded before this package was imported.  The path is the file's
    canonical one, symbolic links and ``..`` resolved, not the name the
    loader was given; loading it again (``ctypes.CDLL(raylib_path())``,
    cffi's ``ffi.dlopen(raylib_path())``) gives the library already loaded,
    as the loader knows a loaded file by its device and inode.  Open the
    window through it: another copy of raylib keeps its own keyboard state,
    which the queries never see.
    """
    from ._raylib import bound_raylib_path
    return bound_raylib_path()


if not TYPE_CHECKING:
    def __getattr__(name):
        if name != "Key":
            raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
        from ._keys import Key
        globals()["Key"] = Key
        return Key

    # The module's attributes with Key, less these two hooks: pydoc takes
    # its list of functions from dir(), and they are no part of the API.
    def __dir__():
        return sorted({*globals(), "Key"} - {"__getattr__", "__dir__"})

del TYPE_CHECKING
