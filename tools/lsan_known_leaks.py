"""Sorts sanitizer reports of interpreter processes into those that count
and those that hold only the interpreter's own known leak:

    python tools/lsan_known_leaks.py REPORT...

prints one line per report, "counted <file>" or "known <file>", and exits 1
when any report counts.

The known leak: when a module's create slot hands back a module object that
was executed before (a re-import after its entry left sys.modules), the
interpreter clears the object's state pointer and executes it again, which
allocates a new state without freeing the old one.  With no per-module
storage that is PyMem_Malloc(0): one block of 1 byte, allocated by the
interpreter's module-exec code itself (PyModule_ExecDef on 3.14; a helper
without a symbol called from PyModule_Exec on 3.15).  A leak is taken for
it only when it is that block and every frame down to the exec function
lies in the interpreter's own files, so no leak made by a module's code,
which runs under the same exec function, is ever hidden.  Any other leak
and any error report counts.
"""
import re
import sys

EXEC_FUNCTIONS = ("PyModule_ExecDef", "PyModule_Exec")
# The frames from the allocator to the exec function: the allocator, at
# most one helper of the interpreter's, the exec function.
MAX_EXEC_FRAME = 2
LEAK = re.compile(r"^(Direct|Indirect) leak of (\d+) byte\(s\) in (\d+) object\(s\) allocated from:$")
# "#1 0x5cd1e2 in PyModule_ExecDef (/usr/bin/python3.14+0x5cd1e2)": the
# function may be missing, and the file too when a source line is shown.
FRAME = re.compile(r"^\s*#(\d+) 0x[0-9a-f]+(?: in (\S+))?(?:.*\(([^()+]+)\+0x[0-9a-f]+\))?")
INTERPRETER_FILE = re.compile(r"(^|/)(python3\.\d+d?|libpython3\.\d+d?\.so[.\d]*)$")


def leak_blocks(text):
    """[(header match, [(index, function, file)])] of each leak in a report;
    None when the report is anything but leaks (an error report)."""
    if "ERROR: LeakSanitizer: detected memory leaks" not in text or \
            len(re.findall(r"ERROR: ", text)) != 1 or "runtime error:" in text:
        return None
    blocks = []
    for line in text.splitlines():
        header = LEAK.match(line)
        if header:
            blocks.append((header, []))
            continue
        frame = FRAME.match(line)
        if frame and blocks:
            blocks[-1][1].append((int(frame[1]), frame[2] or "", frame[3] or ""))
    return blocks


def is_known(header, frames):
    if header[1] != "Direct" or (header[2], header[3]) != ("1", "1"):
        return False
    for index, function, path in frames:
        if not 1 <= index <= MAX_EXEC_FRAME:
            continue
        if not INTERPRETER_FILE.search(path):
            return False
        if function in EXEC_FUNCTIONS:
            return True
    return False


def counts(text):
    """Whether a report counts as a finding."""
    blocks = leak_blocks(text)
    return blocks is None or not blocks or not all(is_known(h, f) for h, f in blocks)


def main(paths):
    status = 0
    for path in paths:
        with open(path, errors="replace") as f:
            counted = counts(f.read())
        print("counted" if counted else "known", path)
        status |= counted
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
