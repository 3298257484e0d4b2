"""scripts/sanitize's sorting of the interpreter processes' reports: the
interpreter's own leak of a re-executed module's state block, as each
version reports it, is not counted; every leak a module's code makes, and
every error, is."""
import pathlib
import subprocess
import sys

import pytest

from conftest import once

TOOL = pathlib.Path(__file__).resolve().parents[1] / "tools" / "lsan_known_leaks.py"

MALLOC = "    #0 0x7f5e546b89cf in __interceptor_malloc ../../../../src/libsanitizer/asan/asan_malloc_linux.cpp:69\n"


def report(*blocks):
    body = "".join(f"{header}\n{MALLOC}{frames}\n" for header, frames in blocks)
    return ("\n=================================================================\n"
            "==python3.14==17584==ERROR: LeakSanitizer: detected memory leaks\n\n"
            f"{body}SUMMARY: AddressSanitizer: 1 byte(s) leaked in 1 allocation(s).\n")


ONE_BYTE = "Direct leak of 1 byte(s) in 1 object(s) allocated from:"
# The interpreter's allocation of the state block, on 3.14 and on 3.15.
EXEC_DEF_314 = "    #1 0x5cd1e2 in PyModule_ExecDef (/c/python/usr/bin/python3.14+0x5cd1e2)\n"
EXEC_315 = ("    #1 0x75f434  (/c/python/usr/bin/python3.15+0x75f434)\n"
            "    #2 0x75f3c4 in PyModule_Exec (/c/python/usr/bin/python3.15+0x75f3c4)\n"
            "    #3 0x768153  (/c/python/usr/bin/python3.15+0x768153)\n")
SHARED_LIBPYTHON = "    #1 0x1234 in PyModule_ExecDef (/usr/lib/libpython3.14.so.1.0+0x1234)\n"
# A block a module's execute step loses: it runs under the same exec function.
MODULE_EXEC = ("    #1 0x5c0000 in PyUnicode_New (/c/python/usr/bin/python3.14+0x5c0000)\n"
               "    #2 0x7f00 in __pyx_pymod_exec_key (/t/tobrim/key/key.cpython-314-x86_64-linux-gnu.so+0x7f00)\n"
               "    #3 0x5cd1e2 in PyModule_ExecDef (/c/python/usr/bin/python3.14+0x5cd1e2)\n")
MODULE_MALLOC_UNDER_EXEC = (
    "    #1 0x7f00 in __pyx_pymod_exec_key (/t/tobrim/key/key.cpython-315-x86_64-linux-gnu.so+0x7f00)\n"
    "    #2 0x75f3c4 in PyModule_Exec (/c/python/usr/bin/python3.15+0x75f3c4)\n")
DEEP_EXEC = ("    #1 0x1 in _PyMem_RawMalloc (/c/python/usr/bin/python3.14+0x1)\n"
             "    #2 0x2 in PyMem_Malloc (/c/python/usr/bin/python3.14+0x2)\n"
             "    #3 0x5cd1e2 in PyModule_ExecDef (/c/python/usr/bin/python3.14+0x5cd1e2)\n")

CASES = [
    ("3.14's state block", report((ONE_BYTE, EXEC_DEF_314)), False),
    ("3.15's state block", report((ONE_BYTE, EXEC_315)), False),
    ("one block per re-import", report((ONE_BYTE, EXEC_315), (ONE_BYTE, EXEC_DEF_314)), False),
    ("a shared libpython's", report((ONE_BYTE, SHARED_LIBPYTHON)), False),
    ("a larger block there", report(("Direct leak of 16 byte(s) in 1 object(s) allocated from:",
                                     EXEC_DEF_314)), True),
    ("two blocks there", report(("Direct leak of 2 byte(s) in 2 object(s) allocated from:",
                                 EXEC_DEF_314)), True),
    ("an indirect leak", report(("Indirect leak of 1 byte(s) in 1 object(s) allocated from:",
                                 EXEC_DEF_314)), True),
    ("a module's exec step", report((ONE_BYTE, MODULE_EXEC)), True),
    ("a module's malloc under exec", report((ONE_BYTE, MODULE_MALLOC_UNDER_EXEC)), True),
    ("an allocation deeper under exec", report((ONE_BYTE, DEEP_EXEC)), True),
    ("the known block beside a module's", report((ONE_BYTE, EXEC_315), (ONE_BYTE, MODULE_EXEC)), True),
    ("an error report",
     "==python3.14==1==ERROR: AddressSanitizer: heap-use-after-free on address 0x6020\n"
     + MALLOC + EXEC_DEF_314, True),
    ("a UBSan finding", "runtime/keywords.cpp:40:5: runtime error: load of misaligned address\n", True),
    ("an empty leak report", report(), True),
]


@once
@pytest.mark.parametrize("text, counted", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_reports_that_count(tmp_path, text, counted):
    path = tmp_path / "asan.python3.14.1"
    path.write_text(text)
    proc = subprocess.run([sys.executable, str(TOOL), str(path)], capture_output=True, text=True)
    assert (proc.returncode, proc.stdout) == (int(counted), f"{'counted' if counted else 'known'} {path}\n")
