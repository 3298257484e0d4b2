"""Which raylib file the key queries read.

raylib keeps its input state in the library's own memory, one state per
loaded copy.  The module calls ``IsKeyDown`` and its kin through the slots
the dynamic loader filled when it loaded the module, so the copy those
slots point into is the one whose state the queries read.  That is usually
the module's own dependency (``tobrim.libs``, or the system raylib the build
used), but a copy loaded earlier under the same SONAME, or any copy already
in the global scope (``RTLD_GLOBAL``, ``LD_PRELOAD``, a program that links
raylib and exports its symbols) takes its place.  So the slot is read, not guessed.
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
_PT_LOAD, _PF_R = 1, 4


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


class _ModuleFile:
    """What the module's file says about the slots of the bound symbol."""

    def __init__(self, path: str) -> None:
        with open(path, "rb") as f:
            data = f.read()
        if data[:4] != b"\x7fELF" or data[4] not in (1, 2) or data[5] not in (1, 2):
            raise ValueError("not an ELF file")
        wide = data[4] == 2
        e = "<" if data[5] == 1 else ">"
        if wide:
            phoff, shoff = struct.unpack_from(e + "QQ", data, 0x20)
            phentsize, phnum, shentsize, shnum = struct.unpack_from(e + "HHHH", data, 0x36)
            ph_fmt, sh_fmt, sym_fmt, rel_fmt = e + "IIQQQQQQ", e + "IIQQQQIIQQ", e + "IBBHQQ", e + "QQ"
        else:
            phoff, shoff = struct.unpack_from(e + "II", data, 0x1C)
            phentsize, phnum, shentsize, shnum = struct.unpack_from(e + "HHHH", data, 0x2A)
            ph_fmt, sh_fmt, sym_fmt, rel_fmt = e + "IIIIIIII", e + "IIIIIIIIII", e + "IIIBBH", e + "II"
        # The ELF header and the program headers, which the loader maps at
        # the start of the module: compared with memory, they show that this
        # file is the one loaded (not, say, a rebuild since).
        self.header = data[:phoff + phnum * phentsize]
        # Readable segments as (start, end), relative to the load address.
        self.readable: list[tuple[int, int]] = []
        for i in range(phnum):
            ph = struct.unpack_from(ph_fmt, data, phoff + i * phentsize)
            p_type, flags, vaddr, memsz = (ph[0], ph[1], ph[3], ph[6]) if wide else (ph[0], ph[6], ph[2], ph[5])
            if p_type == _PT_LOAD and flags & _PF_R:
                self.readable.append((vaddr, vaddr + memsz))
        self.pointer_size = 8 if wide else 4

        sections = [struct.unpack_from(sh_fmt, data, shoff + i * shentsize) for i in range(shnum)]
        # (name, type, flags, addr, offset, size, link, info, addralign, entsize)
        dynsym = next(i for i, s in enumerate(sections) if s[1] == _SHT_DYNSYM)
        sym_off: int = sections[dynsym][4]
        sym_size: int = sections[dynsym][5]
        sym_ent: int = sections[dynsym][9]
        strtab: int = sections[dynsym][6]
        str_off: int = sections[strtab][4]

        def symbol(index: int) -> tuple[bytes, int, int]:
            """(name, value, section) of a dynamic symbol."""
            fields = struct.unpack_from(sym_fmt, data, sym_off + index * sym_ent)
            start = str_off + fields[0]
            name = data[start:data.index(b"\0", start)]
            return (name, fields[4], fields[3]) if wide else (name, fields[1], fields[5])

        self.own_value = next(value for name, value, shndx in map(symbol, range(sym_size // sym_ent))
                              if name == _OWN_SYMBOL.encode() and shndx != 0)
        # Where the loader writes the bound symbol's address: its GOT and
        # PLT slots, as relocations against the symbol.
        self.slots: list[int] = []
        for s in sections:
            if s[1] not in (_SHT_RELA, _SHT_REL) or s[6] != dynsym:
                continue
            for at in range(s[4], s[4] + s[5], s[9]):
                offset, info = struct.unpack_from(rel_fmt, data, at)
                if symbol(info >> 32 if wide else info >> 8)[0] == _BOUND_SYMBOL.encode():
                    self.slots.append(offset)

    def readable_slots(self) -> list[int]:
        return [offset for offset in self.slots
                if any(low <= offset and offset + self.pointer_size <= high for low, high in self.readable)]


def _bound_address(module: ctypes.CDLL, path: str) -> int | None:
    """Where the module's calls of the bound symbol go, read from the slots
    the loader filled; None if the slots cannot be read or still point into
    the module (a lazily bound module before its first call)."""
    try:
        elf = _ModuleFile(path)
    except (OSError, ValueError, StopIteration, struct.error):
        return None
    own = ctypes.cast(getattr(module, _OWN_SYMBOL), ctypes.c_void_p).value or 0
    info = _object_at(own)
    if info is None or not info.dli_fbase or len(elf.header) > 4096:
        return None
    if ctypes.string_at(info.dli_fbase, len(elf.header)) != elf.header:
        return None
    bias = own - elf.own_value
    for offset in elf.readable_slots():
        target = ctypes.c_void_p.from_address(bias + offset).value
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
