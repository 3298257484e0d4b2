"""The modules built for musl, the C library they are meant for, on this
glibc machine: Debian's musl-gcc compiles every source as C++ against
musl's headers and the interpreter's, with the project's flags, and links
each module against musl's libc alone.  Any compiler or linker message, any
header of glibc or libstdc++, any C++ runtime symbol and any C-library
symbol that musl's libc does not export fails.  And the CMake build takes
musl-gcc for C++ when it is the only compiler given."""
import concurrent.futures
import os
import pathlib
import re
import shutil
import subprocess
import sys
import sysconfig

import pytest

from conftest import EXT_SUFFIX, bundled_raylib, interpreter_files, needed, once

ROOT = pathlib.Path(__file__).resolve().parents[1]

# Each module's sources as CMakeLists.txt links them.
MODULES = {
    "key": ["src/tobrim/key/*.cpp", "runtime/*.cpp"],
    "_runtime_test": ["tests/ext/*.cpp", "runtime/*.cpp"],
    "_bench_baseline": ["bench/ext/*.cpp"],
}
VERSION_SCRIPTS = {"key": ROOT / "src/tobrim/key/exports.map"}
CXX_RUNTIME = ("_Z", "__cxa_", "__gxx_", "_Unwind_", "__dynamic_cast")


def run(*args, **kwargs):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, **kwargs)


def musl_gcc():
    path = shutil.which("musl-gcc")
    if path is None:
        pytest.fail("musl-gcc not found: scripts/bootstrap installs it (Debian's musl-tools)")
    return path


def cmake_list(name):
    """The words of `set(NAME ...)` in CMakeLists.txt."""
    (words,) = re.findall(r"set\(%s\s+([^)]*)\)" % name, (ROOT / "CMakeLists.txt").read_text())
    return words.split()


def loaded_libraries(map_file):
    """The shared libraries a link took, from its -Map file."""
    text = pathlib.Path(map_file).read_text()
    return sorted({p for p in re.findall(r"^LOAD (.+)$", text, re.M) if ".so" in os.path.basename(p)})


def musl_libc(cc, folder):
    """The C library musl-gcc links against (-print-file-name would name
    glibc's: it asks the compiler's own library path, not musl's)."""
    so, map_file = pathlib.Path(folder) / "empty.so", pathlib.Path(folder) / "empty.map"
    run(cc, "-shared", "-x", "c", "-", "-o", so, f"-Wl,-Map={map_file}", input="", check=True)
    (libc,) = loaded_libraries(map_file)
    return libc


def soname(path):
    """The name a module linked against the library records as NEEDED."""
    found = re.findall(r"\(SONAME\)\s+Library soname: \[(.+?)\]", run("readelf", "-d", path, check=True).stdout)
    return found[0] if found else os.path.basename(path)


def symbols(*args):
    """(name, nm type) pairs of `nm -P args`, without version suffixes."""
    out = run("nm", "-P", *args, check=True).stdout
    fields = [line.split() for line in out.splitlines()]
    # With several files, each file's list starts with its name alone.
    return {(f[0].split("@")[0], f[1]) for f in fields if len(f) >= 2}


def exported(path):
    return {name for name, _ in symbols("-D", "--defined-only", path)}


def headers(dep_file):
    """The headers a compilation read, from its -MD dependency file."""
    text = pathlib.Path(dep_file).read_text().replace("\\\n", " ")
    return text.split(":", 1)[1].split()[1:]


def under(path, folder):
    return os.path.commonpath([os.path.normpath(path), os.path.normpath(folder)]) == os.path.normpath(folder)


@pytest.fixture(scope="module")
def musl(tmp_path_factory):
    cc = musl_gcc()
    out = tmp_path_factory.mktemp("musl")
    raylib_include = pathlib.Path(os.environ.get("TOBRIM_RAYLIB_DIR", "/nonexistent")) / "include"
    if not (raylib_include / "raylib.h").exists():
        pytest.fail("no raylib.h in $TOBRIM_RAYLIB_DIR/include: run under scripts/test")
    python_include = sorted({sysconfig.get_path("include"), sysconfig.get_path("platinclude")})
    # What CMake adds to TOBRIM_CXX_FLAGS for this build: C++20 without
    # extensions, Release, position-independent, hidden symbols, and the
    # GCC-only flag that keeps a debug interpreter's own pyconfig.h.
    flags = cmake_list("TOBRIM_CXX_FLAGS") + [
        "-std=c++20", "-O3", "-DNDEBUG", "-fPIC", "-fvisibility=hidden",
        "-fvisibility-inlines-hidden", "-fno-canonical-system-headers"]
    includes = ["-I", ROOT, "-I", out, "-I", raylib_include]
    for folder in python_include:
        includes += ["-isystem", folder]

    # The string table's header, generated as the build does.
    gen = run(sys.executable, ROOT / "tools/gen_string_table.py", ROOT / "src/tobrim/key/string_table.txt",
              out / "string_table_data.h")
    assert gen.returncode == 0, gen.stderr

    sources = sorted({s for patterns in MODULES.values() for p in patterns for s in ROOT.glob(p)})

    def compile(source):
        stem = out / str(source.relative_to(ROOT)).replace("/", "_")
        proc = run(cc, "-x", "c++", *flags, *includes, "-MD", "-MF", f"{stem}.d",
                   "-c", source, "-o", f"{stem}.o")
        return source, pathlib.Path(f"{stem}.o"), pathlib.Path(f"{stem}.d"), proc

    with concurrent.futures.ThreadPoolExecutor(os.cpu_count() or 2) as pool:
        compiled = list(pool.map(compile, sources))
    messages = {str(s.relative_to(ROOT)): p.stdout + p.stderr for s, _, _, p in compiled if p.stdout + p.stderr}
    if any(p.returncode for *_, p in compiled):
        pytest.fail("musl-gcc failed to compile:\n" + "\n".join(messages.values()))
    objects = {source: obj for source, obj, _, _ in compiled}

    modules = {}
    for name, patterns in MODULES.items():
        objs = [objects[s] for p in patterns for s in sorted(ROOT.glob(p))]
        so = out / f"{name}.so"
        script = [f"-Wl,--version-script={VERSION_SCRIPTS[name]}"] if name in VERSION_SCRIPTS else []
        proc = run(cc, "-shared", *cmake_list("TOBRIM_LINK_FLAGS"), *script, f"-Wl,-Map={so}.map",
                   "-o", so, *objs)
        if proc.stdout + proc.stderr:
            messages[so.name] = proc.stdout + proc.stderr
        if proc.returncode:
            pytest.fail(f"musl-gcc failed to link {so.name}:\n{proc.stderr}")
        modules[name] = (so, objs)
    # Where musl-gcc looks for system headers: musl's own and the compiler's.
    search = run(cc, "-x", "c++", "-E", "-v", "-", input="", check=True).stderr
    system = re.search(r"#include <\.\.\.> search starts here:\n(.*?)End of search list", search, re.S).group(1)
    return {
        "dep_files": [d for _, _, d, _ in compiled],
        "messages": messages,
        "modules": modules,
        "libc": musl_libc(cc, out),
        "header_folders": [ROOT, out, *python_include, *system.split()],
        "system_folders": system.split(),
        "raylib_h": raylib_include / "raylib.h",
    }


def test_compiles_and_links_without_a_message(musl):
    assert all(objs for _, objs in musl["modules"].values())
    assert musl["messages"] == {}


def test_reads_no_glibc_or_libstdcxx_header(musl):
    # musl-gcc searches only musl's headers and the compiler's own (stddef.h,
    # stdint.h, ...), not Debian's glibc or libstdc++ folders, and every
    # header read comes from there, the project or the interpreter: its
    # headers include only C headers in C++ mode too.
    for folder in musl["system_folders"]:
        assert "c++" not in pathlib.Path(folder).parts, folder
        assert os.path.normpath(folder) not in ("/usr/include", "/usr/include/x86_64-linux-gnu"), folder
    outside = {h for d in musl["dep_files"] for h in headers(d)
               if not any(under(h, f) for f in musl["header_folders"])}
    assert outside - {str(musl["raylib_h"])} == set()


def test_needs_only_musl_libc(musl):
    # musl's libc, which has no glibc symbol versions, is the one library
    # each module was linked against: no libstdc++, libgcc_s or libm.
    assert "GLIBC_" not in run("readelf", "-V", musl["libc"], check=True).stdout
    linked = {name: loaded_libraries(f"{so}.map") for name, (so, _) in musl["modules"].items()}
    assert linked == {name: [musl["libc"]] for name in musl["modules"]}
    libc = soname(musl["libc"])
    found = {name: needed(so) for name, (so, _) in musl["modules"].items()}
    assert found["key"] == [libc]
    assert {name: n for name, n in found.items() if set(n) - {libc}} == {}


def test_every_outside_symbol_is_the_interpreter_raylib_or_musl_libc(musl):
    interpreter = set().union(*(exported(f) for f in interpreter_files()))
    raylib = exported(bundled_raylib())
    libc = exported(musl["libc"])
    wrong = {}
    for name, (so, objs) in musl["modules"].items():
        # What the objects need from outside, before the linker could pull
        # anything from libgcc, and what the module needs at load time
        # (weak references of the start files may stay unresolved).
        in_objects = symbols(*objs)
        needs = {s for s, t in in_objects if t in "Uvw"} - {
            s for s, t in in_objects if t not in "Uvw"} - {"_GLOBAL_OFFSET_TABLE_"}
        needs |= {s for s, t in symbols("-D", "--undefined-only", so) if t == "U"}
        cxx = sorted(s for s in needs if s.startswith(CXX_RUNTIME))
        unknown = sorted(needs - interpreter - raylib - libc - set(cxx))
        if cxx or unknown:
            wrong[name] = {"C++ runtime": cxx, "not in musl, the interpreter or raylib": unknown}
        print(name, "uses from musl's libc:", " ".join(sorted(needs & libc)))
    assert wrong == {}


MUSL_PYTHON = os.environ.get("TOBRIM_PYTHON_MUSL", "")
MUSL_RAYLIB = os.environ.get("TOBRIM_RAYLIB_MUSL_DIR", "")
needs_musl_python = pytest.mark.skipif(
    not MUSL_PYTHON, reason="needs the musl interpreter, which scripts/bootstrap builds from the CPython source")


def configure(build, env, *args, python=None):
    """Configures a build for an interpreter (the musl one by default) with
    only the compilers `env` and `args` name; the C++ compiler's name, or
    the process of a configure that failed."""
    python = python or MUSL_PYTHON
    raylib = MUSL_RAYLIB if python == MUSL_PYTHON else os.environ.get("TOBRIM_RAYLIB_DIR", "")
    env = {k: v for k, v in os.environ.items() if k not in ("CC", "CXX")} | env
    proc = run("cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
               f"-DPython_EXECUTABLE={python}", f"-DTOBRIM_RAYLIB_DIR={raylib}",
               "-DTOBRIM_BUILD_TEST_MODULES=OFF", "-DTOBRIM_BUILD_BENCH_MODULES=OFF", *args, env=env)
    if proc.returncode != 0:
        return proc
    (cxx,) = re.findall(r"^CMAKE_CXX_COMPILER:\w+=(.*)$", (build / "CMakeCache.txt").read_text(), re.M)
    return os.path.basename(cxx)


@once  # CMake's choice of compiler does not depend on the interpreter
@needs_musl_python
def test_cmake_with_cc_musl_gcc_alone_builds_for_musl(tmp_path):
    # As `CC=musl-gcc pip install .` under a musl interpreter configures it.
    cc = musl_gcc()
    assert configure(tmp_path, {"CC": "musl-gcc"}) == "musl-gcc"
    proc = run("cmake", "--build", tmp_path, "-j2", "--target", "key")
    assert proc.returncode == 0, proc.stdout + proc.stderr
    (so,) = tmp_path.rglob("key.cpython-*-linux-musl.so")
    libc = soname(musl_libc(cc, tmp_path))
    assert sorted(needed(so)) == sorted([libc, bundled_raylib().name])


@once  # CMake's choice of compiler does not depend on the interpreter
@needs_musl_python
@pytest.mark.parametrize("env, args, cxx", [
    ({}, ["-DCMAKE_C_COMPILER=musl-gcc"], "musl-gcc"),
    ({"CC": "musl-gcc", "CXX": "musl-gcc"}, [], "musl-gcc"),
], ids=["CMAKE_C_COMPILER", "CXX-given"])
def test_cmake_cxx_compiler_with_musl_gcc_for_c(tmp_path, env, args, cxx):
    musl_gcc()
    assert configure(tmp_path, env, *args) == cxx


# Compilers that do not target the interpreter's C library, and the line
# the configure fails with.
REFUSED = [
    ("musl", {}, "built against musl, but the C compiler /usr/bin/cc targets glibc"),
    ("musl", {"CC": "musl-gcc", "CXX": "g++"}, "built against musl, but the CXX compiler /usr/bin/g++ targets glibc"),
    ("glibc", {"CC": "musl-gcc"}, "built against glibc, but the C compiler /usr/bin/musl-gcc does not target it"),
]


@once
@needs_musl_python
@pytest.mark.parametrize("libc, env, line", REFUSED, ids=["musl-no-compiler", "musl-g++", "glibc-musl-gcc"])
def test_cmake_refuses_compilers_of_the_other_c_library(tmp_path, libc, env, line):
    musl_gcc()
    proc = configure(tmp_path, env, python=MUSL_PYTHON if libc == "musl" else sys.executable)
    assert not isinstance(proc, str)
    assert line in proc.stderr and "configure a new build folder" in proc.stderr, proc.stderr


@once
@needs_musl_python
def test_a_build_folder_for_glibc_refuses_a_musl_interpreter_later(tmp_path):
    # As pip's folder per wheel tag serves both C libraries' CPython 3.14.
    assert configure(tmp_path, {}, python=sys.executable) == "c++"
    proc = configure(tmp_path, {"CC": "musl-gcc"})
    assert not isinstance(proc, str)
    assert f"remove {tmp_path}" in proc.stderr and "targets glibc" in proc.stderr, proc.stderr
