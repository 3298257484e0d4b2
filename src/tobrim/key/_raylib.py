"""Which raylib file the key queries read.

raylib keeps its input state in the library's own memory, one state per
loaded copy.  The module calls ``IsKeyDown`` and its kin through the slots
the dynamic loader filled when it loaded the module, so the copy those
slots point into is the one whose state the queries read.  That is usually
the module's own dependency (``tobrim.libs``, or the system raylib the build
used), but a copy loaded earlier under the same SONAME, or any copy already
in the global scope (``RTLD_GLOBAL``, ``LD_PRELOAD``, a program linking
raylib itself) takes its place.  So the slot is read, not guessed.
"""
import ctypes
import os
import struct

from . import key as _module

# A function the module calls, and the module's own entry, whose address in
# memory against its value in the file gives where the module was mapped.
_BOUND_SYMBOL = "IsKeyDown"
_OWN_SYMBOL = "PyInit_key"

_SHT_RELA, _SHT_DYNSYM, _SHT_REL = 4, 11, 9


class _DlInfo(ctypes.Structure):
    # The fields' types, for type checkers and stubtest, which do not read _fields_.
    dli_fname: bytes | None
    dli_fbase: int | None
    dli_sname: bytes | None
    dli_saddr: int | None
    _fields_ = [("dli_fname", ctypes.c_char_p), ("dli_fbase", ctypes.c_void_p),
                ("dli_sname", ctypes.c_char_p), ("dli_saddr", ctypes.c_void_p)]


def _object_at(address: int) -> _DlInfo | None:
    """dladdr: the loaded object that holds an address."""
    try:
        dladdr = ctypes.CDLL(None).dladdr
    except AttributeError:  # a C library that keeps it in libdl
        dladdr = ctypes.CDLL("libdl.so.2").dladdr
    dladdr.argtypes = [ctypes.c_void_p, ctypes.POINTER(_DlInfo)]
    dladdr.restype = ctypes.c_int
    info = _DlInfo()
    return info if address and dladdr(address, ctypes.byref(info)) else None


def _relocated_slots(path: str) -> tuple[int, list[int]]:
    """From the module's file: the value of its entry symbol, and the offsets
    of the slots the loader fills with the address of the bound symbol."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"\x7fELF" or data[4] not in (1, 2) or data[5] not in (1, 2):
        raise ValueError("not an ELF file")
    wide = data[4] == 2
    e = "<" if data[5] == 1 else ">"
    if wide:
        shoff, = struct.unpack_from(e + "Q", data, 0x28)
        shentsize, shnum = struct.unpack_from(e + "HH", data, 0x3A)
        sh_fmt, sym_fmt, rel_fmt = e + "IIQQQQIIQQ", e + "IBBHQQ", e + "QQ"
    else:
        shoff, = struct.unpack_from(e + "I", data, 0x20)
        shentsize, shnum = struct.unpack_from(e + "HH", data, 0x2E)
        sh_fmt, sym_fmt, rel_fmt = e + "IIIIIIIIII", e + "IIIBBH", e + "II"
    sections = [struct.unpack_from(sh_fmt, data, shoff + i * shentsize) for i in range(shnum)]
    # (name, type, flags, addr, offset, size, link, info, addralign, entsize)
    dynsym = next(i for i, s in enumerate(sections) if s[1] == _SHT_DYNSYM)
    _, _, _, _, sym_off, sym_size, strtab, _, _, sym_ent = sections[dynsym]
    str_off = sections[strtab][4]

    def name(index: int) -> bytes:
        start = str_off + index
        return data[start:data.index(b"\0", start)]

    def symbol(index: int) -> tuple[bytes, int, int]:
        fields = struct.unpack_from(sym_fmt, data, sym_off + index * sym_ent)
        if wide:
            return name(fields[0]), fields[4], fields[3]
        return name(fields[0]), fields[1], fields[5]

    own = next(value for n, value, shndx in map(symbol, range(sym_size // sym_ent))
               if n == _OWN_SYMBOL.encode() and shndx != 0)
    slots = []
    for s in sections:
        if s[1] not in (_SHT_RELA, _SHT_REL) or s[6] != dynsym:
            continue
        for at in range(s[4], s[4] + s[5], s[9]):
            offset, info = struct.unpack_from(rel_fmt, data, at)
            if symbol(info >> 32 if wide else info >> 8)[0] == _BOUND_SYMBOL.encode():
                slots.append(offset)
    return own, slots


def _bound_address(module: ctypes.CDLL, path: str) -> int | None:
    """Where the module's calls of the bound symbol go, read from the slots
    the loader filled; None if the slots cannot be read or still point into
    the module (a lazily bound module before its first call)."""
    try:
        own_value, slots = _relocated_slots(path)
    except (OSError, ValueError, StopIteration, struct.error):
        return None
    own = ctypes.cast(getattr(module, _OWN_SYMBOL), ctypes.c_void_p).value or 0
    info = _object_at(own)
    if info is None:
        return None
    for offset in slots:
        target = ctypes.c_void_p.from_address(own - own_value + offset).value
        found = _object_at(target or 0)
        if found is not None and found.dli_fbase != info.dli_fbase:
            return target
    return None


def _mapped_file(address: int) -> str | None:
    """The file mapped at an address, as the kernel names it."""
    try:
        with open("/proc/self/maps") as maps:
            for line in maps:
                fields = line.split(maxsplit=5)
                low, high = (int(x, 16) for x in fields[0].split("-"))
                if low <= address < high and len(fields) == 6:
                    return fields[5].rstrip("\n")
    except OSError:
        pass
    return None


def bound_raylib_path() -> str:
    """``tobrim.key.raylib_path()``."""
    path = _module.__file__
    if path is None:
        raise OSError("the key module was not loaded from a file")
    module = ctypes.CDLL(path, mode=os.RTLD_NOLOAD | os.RTLD_LAZY)
    address = _bound_address(module, path)
    if address is None:
        # The module's own dependencies, as dlsym on its handle searches them.
        address = ctypes.cast(getattr(module, _BOUND_SYMBOL), ctypes.c_void_p).value or 0
    info = _object_at(address)
    if info is None or not info.dli_fname:
        raise OSError("the raylib the key queries are bound to is not a loaded file")
    name = os.fsdecode(info.dli_fname)
    if not os.path.isabs(name):
        # Loaded by a relative name (or the program itself, named by argv[0]):
        # relative to a folder that may since have changed.
        name = _mapped_file(address) or name
    return os.path.realpath(name)
