"""Installing: the README's Installing commands run as written in a copy of
the repository, the search for raylib across configures, a raylib whose
SONAME is not 6.0's, and the Python files the build picks up by itself.

These build the module with pip or CMake, so they run in each version's
release run and in the musl run (with musl's compiler driver and raylib);
those that only exercise the scripts, once."""
import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

import headless
from conftest import (BUILD_ENV, EXT_SUFFIX, LIBC, RAYLIB_DIR, VARIANT, VERSION, bundled_raylib, c_library,
                      needed, once, per_version_and_musl)
from test_headless import answers_without_a_window

ROOT = pathlib.Path(__file__).resolve().parents[1]
# The versions the test command runs, whose wheels scripts/dist makes.
VERSIONS = os.environ.get("TOBRIM_VERSIONS", "3.13 3.14 3.15").split()
PACKAGE_VERSION = re.search(r'__version__ = "(.+)"', (ROOT / "src/tobrim/key/_version.py").read_text())[1]

# Builds for this interpreter run in each version's release run and in the
# musl run (the source distribution's route in the debug runs too).
builds_here = per_version_and_musl
from_source_here = pytest.mark.skipif(VARIANT not in ("release", "debug", "musl"),
                                      reason="runs in the release, debug and musl runs")
pytestmark = [
    pytest.mark.skipif(not RAYLIB_DIR, reason="needs TOBRIM_RAYLIB_DIR, or TOBRIM_RAYLIB_MUSL_DIR on "
                       "musl (scripts/test sets them)"),
]


def clean_env(**extra):
    """The environment of a user who has set nothing up: no TOBRIM_*
    variables (but the bootstrap's cache where the test command found it);
    for a musl interpreter, musl's compiler driver as CC."""
    env = {k: v for k, v in os.environ.items()
           if not k.startswith("TOBRIM_") and k not in ("PYTHONPATH", "PKG_CONFIG_PATH", "CC", "CXX")}
    if "TOBRIM_CACHE" in os.environ:
        env["TOBRIM_CACHE"] = os.environ["TOBRIM_CACHE"]
    env.update(BUILD_ENV)
    env.update(extra)
    return env


def run(args, cwd, env, timeout=600, check=True):
    proc = subprocess.run(args, cwd=cwd, env=env, capture_output=True, text=True, timeout=timeout,
                          stdin=subprocess.DEVNULL)
    if check and proc.returncode != 0:
        raise AssertionError(f"{args} failed ({proc.returncode}):\n{proc.stdout}\n{proc.stderr}")
    return proc


def copy_repo(dest):
    """The repository as a fresh clone has it: no build output."""
    def ignore(folder, names):
        top = {"build", "dist", ".venv", ".git"} if pathlib.Path(folder) == ROOT else set()
        return {n for n in names if n in top or n == "__pycache__"}
    shutil.copytree(ROOT, dest, ignore=ignore)
    return dest


def venv(path):
    """An offline virtual environment of this interpreter (pip and
    scikit-build-core come from the interpreter's own site-packages)."""
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", "--without-pip",
                    str(path)], check=True)
    return path / "bin/python"


def import_elsewhere(python, folder, env):
    """Imports the installed module from a folder that holds no sources; its
    file, version (the distribution's) and an answer."""
    folder.mkdir(exist_ok=True)
    out = run([str(python), "-c", "import importlib.metadata, tobrim.key, tobrim.key.key as k;"
               "print(k.__file__, tobrim.key.__version__, importlib.metadata.version('tobrim-key'),"
               " k.pressed(65))"], folder, env).stdout
    path, version, distribution, answer = out.split()
    assert version == distribution
    return pathlib.Path(path), version, answer


def raylib_copy(prefix, soname):
    """An install prefix holding a copy of the test command's raylib whose
    SONAME is changed, linked as an install lays it out."""
    (prefix / "include").mkdir(parents=True)
    (prefix / "lib").mkdir()
    shutil.copy(pathlib.Path(RAYLIB_DIR) / "include/raylib.h", prefix / "include")
    real = prefix / "lib" / (soname + ".0")
    shutil.copy(os.path.realpath(pathlib.Path(RAYLIB_DIR) / "lib/libraylib.so"), real)
    subprocess.run(["patchelf", "--set-soname", soname, str(real)], check=True)
    (prefix / "lib" / soname).symlink_to(real.name)
    (prefix / "lib/libraylib.so").symlink_to(soname)
    return prefix


def doc_blocks(doc, heading):
    """The shell blocks of a section of one of the documents."""
    text = (ROOT / doc).read_text()
    section = text.split(f"\n## {heading}\n", 1)[1].split("\n## ", 1)[0]
    return re.findall(r"```sh\n(.*?)```", section, re.S)


def readme_blocks():
    """The README's Installing routes: the wheels, the source distribution."""
    return doc_blocks("README.md", "Installing")


def checkout_blocks():
    """CONTRIBUTING's: the install after the bootstrap, the release files."""
    return doc_blocks("CONTRIBUTING.md", "Installing from the checkout, and the release files")


def commands(block):
    """A block's commands without their comments."""
    return [line.split("#")[0].strip() for line in block.splitlines() if line.split("#")[0].strip()]


@once
def test_docs_name_the_routes():
    """A wheel per interpreter and the source distribution for users; after
    the bootstrap and the release files for contributors: each is run by a
    test below."""
    wheels, sdist = readme_blocks()
    assert [c.split()[0] for c in commands(wheels)] == ["python3.13", "python3.14", "python3.15", "python3.14",
                                                        "python3.14t", "python3.13", "python3.14", "python3.15"]
    assert commands(sdist) == ["python3.14 -m pip install tobrim_key-*.tar.gz"]
    after_bootstrap, dist = checkout_blocks()
    assert commands(after_bootstrap)[0] == "scripts/bootstrap" and commands(dist) == ["scripts/dist"]


def bootstrap_default():
    """The test command's interpreter and raylib are the bootstrap's own, so
    the route after the bootstrap (which runs it with no variables) reaches
    the same cache."""
    cache = os.environ.get("TOBRIM_CACHE", "")
    return bool(cache) and os.environ.get("TOBRIM_PYTHON", "").startswith(cache + "/python/") \
        and os.path.realpath(os.environ.get("TOBRIM_RAYLIB_DIR", "")) == os.path.realpath(cache + "/raylib")


@once
@pytest.mark.skipif(not bootstrap_default(), reason="the test command runs on an interpreter or "
                    "raylib of the user's, not the bootstrap's")
def test_route_after_the_bootstrap(tmp_path):
    repo = copy_repo(tmp_path / "repo")
    proc = run(["bash", "-euo", "pipefail", "-c", checkout_blocks()[0]], repo, clean_env())
    assert proc.stdout.splitlines()[-1] == f"{PACKAGE_VERSION} False", proc.stdout
    path, version, answer = import_elsewhere(repo / ".venv/bin/python", tmp_path / "elsewhere",
                                             clean_env())
    assert path.is_relative_to(repo / ".venv") and (version, answer) == (PACKAGE_VERSION, "False")


def sdist_of(repo, folder):
    """The source distribution of a copy of the repository, in folder."""
    folder.mkdir()
    out = run([sys.executable, "-c", "import sys, scikit_build_core.build as b; print(b.build_sdist(sys.argv[1]))",
               str(folder)], repo, clean_env()).stdout
    return folder / out.splitlines()[-1]


@from_source_here
def test_readme_route_from_the_sdist(tmp_path):
    """pythonX.Y on the path is an interpreter of the user's (a debug build
    too), raylib is found only through pkg-config (the bootstrap's cache is
    out of reach), and pip is told by its variables to stay offline; the
    README's line for this version, run where the sdist is."""
    pc = pathlib.Path(RAYLIB_DIR) / "lib/pkgconfig"
    if not (pc / "raylib.pc").exists():
        pytest.skip("the test command's raylib has no raylib.pc")
    sdist = sdist_of(copy_repo(tmp_path / "repo"), tmp_path / "files")
    python = venv(tmp_path / "user")
    assert (python.parent / f"python{VERSION}").exists()
    env = clean_env(PATH=f"{python.parent}:{os.environ['PATH']}", PKG_CONFIG_PATH=str(pc),
                    TOBRIM_CACHE=str(tmp_path / "no-cache"), PIP_NO_INDEX="1",
                    PIP_NO_BUILD_ISOLATION="0")
    (line,) = commands(readme_blocks()[1])
    run(["bash", "-euo", "pipefail", "-c", line.replace("python3.14", f"python{VERSION}")], sdist.parent, env)
    path, version, answer = import_elsewhere(python, tmp_path / "elsewhere", clean_env())
    assert path.is_relative_to(tmp_path / "user") and (version, answer) == (PACKAGE_VERSION, "False")
    # Built for this interpreter: a debug build's module has its own suffix.
    assert path.name == "key" + EXT_SUFFIX


# The README's wheel lines by the interpreter they name: its variable in
# the bootstrap's env.sh.
WHEEL_LINES = {"manylinux": {f"python{v}": f"TOBRIM_PYTHON_{v.replace('.', '_')}" for v in VERSIONS},
               "musllinux": {"python3.14": "TOBRIM_PYTHON_MUSL"},
               "aarch64": {f"python{v}": f"TOBRIM_PYTHON_ARM64_{v.replace('.', '_')}"
                           for v in ("3.13", "3.14", "3.15")}}
WHEEL_LINES["manylinux"]["python3.14t"] = "TOBRIM_PYTHON_3_14T"


@once
def test_readme_dist(tmp_path):
    """scripts/dist leaves an sdist, a manylinux wheel for each version,
    when the bootstrap has a musl interpreter a musllinux wheel for 3.14, and
    when it has the arm64 interpreters a manylinux aarch64 wheel for each
    version, named last (it checks them itself: licences, layout, what the
    musl and aarch64 wheels' files need, install and import elsewhere, the
    aarch64 ones under qemu).  Then the README's
    line for each wheel, run where they are with its interpreter first on
    the path, installs the wheel that interpreter can use, which imports
    and answers from another folder, also where X11 and GL cannot load."""
    repo = copy_repo(tmp_path / "repo")
    proc = run(["bash", "-euo", "pipefail", "-c", checkout_blocks()[1]], repo, clean_env(), timeout=1800)
    lines = proc.stdout.splitlines()
    musl = bool(os.environ.get("TOBRIM_PYTHON_MUSL"))
    tags = [("cp" + v.replace(".", ""), r"manylinux_2_\d+_x86_64") for v in VERSIONS]
    if musl:
        tags.append(("cp314", r"musllinux_1_2_x86_64"))
    else:
        assert any(line.startswith("dist: no musllinux wheel: no musl interpreter: ") for line in lines), lines
    # The free-threaded wheel (cp314-cp314t), then the aarch64 ones.
    if os.environ.get("TOBRIM_PYTHON_3_14T"):
        tags.append(("cp314t", r"manylinux_2_\d+_x86_64"))
    if os.environ.get("TOBRIM_PYTHON_ARM64_3_14"):
        tags += [(f"cp{v.replace('.', '')}", r"manylinux_2_\d+_aarch64")
                 for v in os.environ["TOBRIM_VERSIONS"].split()]
    else:
        assert any(line.startswith("dist: no aarch64 wheels: no arm64 interpreter: ") for line in lines), lines
    sdist, wheels = lines[-1 - len(tags)], lines[-len(tags):]
    assert sdist == str(repo / f"dist/tobrim_key-{PACKAGE_VERSION}.tar.gz")
    for (python, platform), wheel in zip(tags, wheels):
        assert re.fullmatch(re.escape(str(repo / f"dist/tobrim_key-{PACKAGE_VERSION}-{python.rstrip('t')}-{python}-"))
                            + platform + r"\.whl", wheel), wheel
    assert sorted(os.listdir(repo / "dist")) == sorted(os.path.basename(f) for f in [sdist, *wheels])

    for n, line in enumerate(commands(readme_blocks()[0])):
        # An aarch64 line names manylinux too.
        platform = "aarch64" if "aarch64" in line else re.search(r"(many|musl)linux", line)[0]
        name = line.split()[0]
        interpreter = os.environ.get(WHEEL_LINES[platform][name], "")
        if not interpreter:
            continue
        folder = tmp_path / f"user{n}"
        subprocess.run([interpreter, "-m", "venv", "--system-site-packages", "--without-pip", str(folder)],
                       check=True)
        env = clean_env(PATH=f"{folder}/bin:{os.environ['PATH']}", PIP_NO_INDEX="1")
        run(["bash", "-euo", "pipefail", "-c", line], repo / "dist", env)
        path, version, answer = import_elsewhere(folder / "bin/python", tmp_path / "elsewhere", env)
        assert path.is_relative_to(folder) and (version, answer) == (PACKAGE_VERSION, "False"), line
        if headless.refused() is None:
            proc = headless.run_hidden(folder / "bin/python", headless.QUERIES, tmp_path / "elsewhere", env)
            assert proc.returncode == 0, (line, proc.stdout + proc.stderr)
            assert answers_without_a_window(proc.stdout)[0] == str(path), line


@pytest.mark.skipif(VARIANT != "musl", reason="runs in the musl run")
@pytest.mark.parametrize("n", [0, 1])
def test_contributing_route_with_musl_gcc_beside_gcc(tmp_path, n):
    """With the musl interpreter as python3.14, pip told by its variables to
    stay offline and no other variable set, each of the musl-gcc lines of
    docs/musl.md (the musl page of CONTRIBUTING) as written, from the repository's top folder: the build finds the
    bootstrap's musl raylib by itself."""
    (block,) = doc_blocks("docs/musl.md", "Building for musl beside glibc's gcc")
    line = commands(block)[n]
    repo = copy_repo(tmp_path / "repo")
    python = venv(tmp_path / "user")
    env = {k: v for k, v in clean_env(PATH=f"{python.parent}:{os.environ['PATH']}", PIP_NO_INDEX="1",
                                      PIP_NO_BUILD_ISOLATION="0").items() if k not in ("CC", "CXX")}
    run(["bash", "-euo", "pipefail", "-c", line], repo, env)
    path, version, answer = import_elsewhere(python, tmp_path / "elsewhere", clean_env())
    assert path.is_relative_to(tmp_path / "user") and (version, answer) == (PACKAGE_VERSION, "False")
    assert sorted(needed(path)) == sorted([c_library(), bundled_raylib().name])


@builds_here
def test_raylib_with_another_soname(tmp_path):
    """The module asks for the SONAME of the raylib it was linked with, and
    the wheel bundles raylib under that name: the install imports from
    another folder with no variables set.  The prefix is given the way the
    README shows, as a CMake definition through pip."""
    prefix = raylib_copy(tmp_path / "raylib", "libraylib.so.610")
    repo = copy_repo(tmp_path / "repo")
    python = venv(tmp_path / "venv")
    run([str(python), "-m", "pip", "install", "--no-index", "--no-build-isolation", "-q",
         "-C", f"cmake.define.TOBRIM_RAYLIB_DIR={prefix}", "."], repo, clean_env())
    path, version, answer = import_elsewhere(python, tmp_path / "elsewhere", clean_env())
    site = path.parents[2]
    assert bundled_raylib(site).name == "libraylib.so.610"
    assert sorted(needed(path)) == sorted([c_library(), "libraylib.so.610"])
    assert answer == "False"


def configure(build, env, check=True):
    return run(["cmake", "-S", str(ROOT), "-B", str(build), f"-DPython_EXECUTABLE={sys.executable}",
                "-DTOBRIM_BUILD_TEST_MODULES=OFF", "-DTOBRIM_BUILD_BENCH_MODULES=OFF"],
               ROOT, env, check=check)


@builds_here
def test_raylib_search_across_configures_of_one_build_folder(tmp_path):
    """Each configure looks afresh, in order: the variable, pkg-config, the
    bootstrap's cache; a failure or an earlier find is never kept."""
    other = raylib_copy(tmp_path / "other", "libraylib.so.610")
    cache = tmp_path / "cache"
    # The bootstrap's raylib for this C library: a musl interpreter's is the
    # musl prefix's.
    cached = cache / ("musl/raylib" if LIBC == "musl" else "raylib")
    cached.mkdir(parents=True)
    for part in ("include", "lib"):
        (cached / part).symlink_to(pathlib.Path(RAYLIB_DIR) / part)
    nothing = dict(TOBRIM_CACHE=str(tmp_path / "empty"), PKG_CONFIG_LIBDIR=str(tmp_path / "empty"))
    build = tmp_path / "build"

    proc = configure(build, clean_env(**nothing), check=False)
    assert proc.returncode != 0
    (line,) = [l for l in proc.stderr.splitlines() if "raylib 6 not found" in l]
    assert "-DTOBRIM_RAYLIB_DIR=" in line and "TOBRIM_RAYLIB_DIR" in line and "scripts/bootstrap" in line

    steps = [  # environment, where raylib must be found, its SONAME
        (dict(nothing, TOBRIM_RAYLIB_DIR=RAYLIB_DIR), "raylib from TOBRIM_RAYLIB_DIR", bundled_raylib().name),
        (dict(nothing, TOBRIM_RAYLIB_DIR=str(other)), "raylib from TOBRIM_RAYLIB_DIR", "libraylib.so.610"),
        (dict(nothing, PKG_CONFIG_LIBDIR=str(pathlib.Path(RAYLIB_DIR) / "lib/pkgconfig")),
         "found by pkg-config", bundled_raylib().name),
        (dict(nothing, TOBRIM_CACHE=str(cache)), "scripts/bootstrap's cache", bundled_raylib().name),
    ]
    for env, where, soname in steps:
        if where == "found by pkg-config" and not (pathlib.Path(RAYLIB_DIR) / "lib/pkgconfig/raylib.pc").exists():
            continue
        out = configure(build, clean_env(**env)).stdout
        assert where in out and f"(SONAME {soname})" in out, (env, out)

    proc = configure(build, clean_env(TOBRIM_RAYLIB_DIR=str(tmp_path / "empty")), check=False)
    assert proc.returncode != 0 and "has no include/raylib.h" in proc.stderr


@once
def test_python_files_come_and_go_with_the_sources(tmp_path):
    """Every *.py, *.pyi and py.typed under src/tobrim is laid out in the
    build tree and installed, including files added after the first
    configure; files removed from the sources leave the tree."""
    repo = copy_repo(tmp_path / "repo")
    build = tmp_path / "build"
    env = dict(os.environ)
    run(["cmake", "-S", str(repo), "-B", str(build), f"-DPython_EXECUTABLE={sys.executable}",
         f"-DTOBRIM_RAYLIB_DIR={RAYLIB_DIR}", "-DTOBRIM_BUILD_TEST_MODULES=OFF",
         "-DTOBRIM_BUILD_BENCH_MODULES=OFF"], repo, env)
    run(["cmake", "--build", str(build), "-j2"], repo, env)
    tree = build / "tree"
    sources = {p.relative_to(repo / "src") for p in (repo / "src/tobrim").rglob("*")
               if p.suffix in (".py", ".pyi") or p.name == "py.typed"}
    assert sources <= {p.relative_to(tree) for p in tree.rglob("*")}

    (repo / "src/tobrim/key/extra").mkdir()
    (repo / "src/tobrim/key/extra/__init__.py").write_text("ANSWER = 42\n")
    (repo / "src/tobrim/key/extra/__init__.pyi").write_text("ANSWER: int\n")
    (repo / "src/tobrim/key/_version.py").rename(repo / "src/tobrim/key/_release.py")
    run(["cmake", "--build", str(build), "-j2"], repo, env)
    run(["cmake", "--install", str(build), "--prefix", str(tmp_path / "inst")], repo, env)
    for root in (tree, tmp_path / "inst"):
        assert (root / "tobrim/key/extra/__init__.py").read_text() == "ANSWER = 42\n"
        assert (root / "tobrim/key/extra/__init__.pyi").exists()
        assert (root / "tobrim/key/_release.py").exists()
    assert not (tree / "tobrim/key/_version.py").exists()


@once
@pytest.mark.skipif(not shutil.which("python3.11"), reason="needs an interpreter of an unsupported "
                    "version (the system's python3.11)")
def test_configure_refuses_other_versions(tmp_path):
    """An interpreter of another version is refused in one line that names
    the versions the module builds for."""
    proc = run(["cmake", "-S", str(ROOT), "-B", str(tmp_path / "build"),
                f"-DPython_EXECUTABLE={shutil.which('python3.11')}"], ROOT, clean_env(), check=False)
    assert proc.returncode != 0
    (line,) = [l for l in proc.stderr.splitlines() if "tobrim.key builds for" in l]
    assert "CPython 3.13, 3.14 or 3.15 with its headers, and found none" in line, proc.stderr
