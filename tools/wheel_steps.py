"""The steps of a release that run on the interpreter a wheel is for, on this machine or inside the
Debian unstable root: the wheels' compiler, the build of a wheel, and its tests against a fresh
install with no compiler reachable. Run as `PYTHON tools/wheel_steps.py STEP ...` by
tools/release.py (and `toolchain` by cibuildwheel, see pyproject.toml); standard library only.

The compiler: clang from the `ziglang` package on the package index, aimed at glibc 2.28. It links
its own C++ runtime (libc++) statically into the module and sees only the symbols of glibc 2.28,
whatever the machine's glibc and GCC are; the system GCC with -static-libstdc++ would pull in
symbols of the build machine's glibc (2.36 on Debian 12), so its wheel could not be older than
the machine. Its first use compiles that runtime (about 10 minutes on 2 cores), cached in
DIR/cache.
"""

from __future__ import annotations

import argparse
import os
import platform
import re
import shutil
import subprocess
import sys
import sysconfig
import venv
from pathlib import Path
from typing import List

ZIG_VERSION = "0.17.1"
GLIBC_FLOOR = "2.28"
# Code generation as close as clang gets to the GCC -O3 of a development build: no frame pointer
# (zig keeps one by default), external calls through the GOT instead of the PLT, and inlining
# that reaches the inserts of the DD pass. Counted with callgrind on the benchmark circuit, these
# take the wheel from +6.6% to +2.3% of the development build's instructions in add_gate and from
# +36% to +1% in apply_dd_pass.
CXX_OPTIONS = "-fomit-frame-pointer -fno-plt -mllvm -inline-threshold=500"
ARCH = platform.machine()
TOOLS = ("c++", "cc", "ar", "ranlib")
# Programs a wheel's tests must not find: compilers, assemblers, linkers and build drivers.
COMPILER = re.compile(r"cc|c\+\+|cpp|c89|c99|gcc|g\+\+|(gcc|g\+\+|cpp)-.*|.*-(gcc|g\+\+|cpp)(-.*)?|.*-(cc|c\+\+|ld|as)"
                      r"|.*-ld\..*|clang.*|zig|ld|ld\..*|as|tcc|icc|icpx|nvcc|cmake|ninja|meson")
DEBIAN_SITE = Path("/usr/lib/python3/dist-packages")


def run(*argv: str, **kwargs) -> None:
    print("+", " ".join(argv), flush=True)
    subprocess.run(list(argv), check=True, **kwargs)


def pip_python(scratch: Path) -> str:
    """An interpreter with pip: this one, or a venv of it (Debian's interpreters come without pip)."""
    if subprocess.run([sys.executable, "-m", "pip", "--version"], capture_output=True).returncode == 0:
        return sys.executable
    venv.create(scratch, with_pip=True)
    return str(scratch / "bin/python")


def toolchain(folder: Path) -> None:
    """Installs zig into FOLDER (unless the same recipe is there) and writes FOLDER/c++, cc, ar and
    ranlib: wrappers with absolute paths that any build takes as CXX, CC, CMAKE_AR, CMAKE_RANLIB."""
    folder = folder.resolve()
    stamp = folder / ".complete"
    recipe = f"ziglang=={ZIG_VERSION} {ARCH}-linux-gnu.{GLIBC_FLOOR} {CXX_OPTIONS}: {' '.join(TOOLS)}"
    if stamp.is_file() and stamp.read_text().strip() == recipe:
        return
    folder.mkdir(parents=True, exist_ok=True)
    shutil.rmtree(folder / "pkg", ignore_errors=True)
    shutil.rmtree(folder / "pip-venv", ignore_errors=True)
    run(pip_python(folder / "pip-venv"), "-m", "pip", "install", "--quiet", "--disable-pip-version-check",
        "--target", str(folder / "pkg"), f"ziglang=={ZIG_VERSION}")
    shutil.rmtree(folder / "pip-venv", ignore_errors=True)
    zig = folder / "pkg/ziglang/zig"
    if not os.access(zig, os.X_OK):
        sys.exit(f"no zig binary in {zig.parent}")
    for tool in TOOLS:
        flags = f" -target {ARCH}-linux-gnu.{GLIBC_FLOOR} {CXX_OPTIONS}" if tool in ("c++", "cc") else ""
        what = f", for glibc {GLIBC_FLOOR} and later, with a static libc++" if flags else ""
        wrapper = folder / tool
        wrapper.write_text(
            "#!/bin/sh\n"
            f"# {tool} of tarvex's wheels: zig {ZIG_VERSION}{what} (tools/wheel_steps.py)\n"
            f'export ZIG_GLOBAL_CACHE_DIR="{folder}/cache" ZIG_LOCAL_CACHE_DIR="{folder}/cache"\n'
            f'exec "{zig}" {tool}{flags} "$@"\n'
        )
        wrapper.chmod(0o755)
    stamp.write_text(recipe + "\n")


def build(source: str, out: Path, tc: Path, work: Path, defines: List[str]) -> None:
    """Builds the wheel of SOURCE (an sdist or a project folder) with this interpreter and the
    toolchain TC into OUT, in a venv in WORK and building in WORK/cmake, so that a project folder
    is left as it was."""
    shutil.rmtree(work, ignore_errors=True)
    (work / "include").mkdir(parents=True)
    out.mkdir(parents=True, exist_ok=True)
    venv.create(work / "venv", with_pip=True)
    # Debian's interpreters split pyconfig.h by architecture and find the second half on the system
    # include path, which a compiler aimed at another glibc does not search. Only that folder is
    # made visible, after the compiler's own headers.
    include = Path(sysconfig.get_path("include"))
    for sub in re.findall(r"^#\s*include <([^>]*-linux-gnu[^>]*)/pyconfig\.h>", (include / "pyconfig.h").read_text(),
                          re.MULTILINE):
        link = work / "include" / sub
        link.parent.mkdir(parents=True, exist_ok=True)
        link.symlink_to(include.parent / sub)
    env = {**os.environ, "CXX": str(tc / "c++"), "CC": str(tc / "cc"),
           "CXXFLAGS": f"-idirafter {work}/include", "CFLAGS": f"-idirafter {work}/include",
           "CMAKE_BUILD_PARALLEL_LEVEL": "2"}
    settings = [f"-Ccmake.define.{d}" for d in ["TARVEX_WHEEL=ON", f"CMAKE_AR={tc}/ar", f"CMAKE_RANLIB={tc}/ranlib",
                                                 *defines]]
    run(str(work / "venv/bin/python"), "-m", "pip", "wheel", "--no-deps", "--disable-pip-version-check", "-w", str(out),
        f"-Cbuild-dir={work}/cmake", *settings, source, env=env)


def no_compiler_path(folder: Path) -> str:
    """A folder of links to every program on the usual PATH but compilers, assemblers and linkers."""
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    for directory in ("/usr/local/sbin", "/usr/local/bin", "/usr/sbin", "/usr/bin", "/sbin", "/bin"):
        if not os.path.isdir(directory):
            continue
        for name in sorted(os.listdir(directory)):
            if not COMPILER.fullmatch(name) and not (folder / name).exists():
                (folder / name).symlink_to(os.path.join(directory, name))
    found = [name for name in ("cc", "c++", "gcc", "g++", "clang", "clang++", "zig", "ld", "as")
             if shutil.which(name, path=str(folder))]
    if found:
        sys.exit(f"compilers still reachable: {' '.join(found)}")
    return str(folder)


def copy_from_debian(site: Path, names: List[str]) -> None:
    """Copies Debian's build of each package NAME (its folder and its dist-info) from
    /usr/lib/python3/dist-packages into SITE, where pip then finds it installed. For what the
    package index has no wheel of on this interpreter, and whose source needs a toolchain that is
    not here (orjson on CPython 3.15: Rust)."""
    for name in names:
        found = [DEBIAN_SITE / name, *DEBIAN_SITE.glob(f"{name}-*.dist-info")]
        if not all(p.exists() for p in found) or len(found) < 2:
            sys.exit(f"no {name} in {DEBIAN_SITE} (Debian's python3-{name} package)")
        for path in found:
            shutil.rmtree(site / path.name, ignore_errors=True)
            shutil.copytree(path, site / path.name, symlinks=True)
        print(f"{name}: copied from {DEBIAN_SITE} into {site}")


def test(work: Path, suite: Path, modules: List[str], wheels: List[str], from_debian: List[str],
         command: List[str]) -> None:
    """Installs WHEELS (binaries only) into a fresh venv in WORK with no compiler on PATH, checks
    that each of MODULES is imported from that venv, and runs COMMAND (the tests) in SUITE, a
    folder with the tests and no package sources."""
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    path = no_compiler_path(work / "no-compiler/bin")
    venv.create(work / "venv", with_pip=True)
    root = (work / "venv").resolve()
    env = {k: v for k, v in os.environ.items() if k not in ("CC", "CXX", "PYTHONPATH")}
    env.update(PYTHONNOUSERSITE="1", PYTHONSAFEPATH="1", PATH=f"{root}/bin:{path}")
    python = str(root / "bin/python")
    if from_debian:
        site = subprocess.run([python, "-c", "import sysconfig; print(sysconfig.get_path('platlib'))"],
                              capture_output=True, text=True, check=True, env=env).stdout.strip()
        copy_from_debian(Path(site), from_debian)
    run(python, "-m", "pip", "install", "--quiet", "--disable-pip-version-check", "--only-binary=:all:", *wheels,
        env=env)
    check_origin = ("import importlib, os, sys\n"
                    "for name in sys.argv[2:]:\n"
                    "    where = os.path.realpath(importlib.import_module(name).__file__)\n"
                    "    print(f'{name} from {where}')\n"
                    "    if not where.startswith(sys.argv[1] + os.sep):\n"
                    "        sys.exit(f'{name} was imported from {where}, not from the venv {sys.argv[1]}')\n")
    run(python, "-c", check_origin, str(root), *modules, cwd=suite, env=env)
    run(*command, cwd=suite, env=env)


def main(argv: List[str]) -> None:
    parser = argparse.ArgumentParser(prog="wheel_steps.py", description=__doc__.split("\n")[0])
    steps = parser.add_subparsers(dest="step", required=True)
    p = steps.add_parser("toolchain", help="install the wheels' compiler into DIR")
    p.add_argument("dir", type=Path)
    p = steps.add_parser("build", help="build one wheel with this interpreter")
    p.add_argument("source")
    p.add_argument("out", type=Path)
    p.add_argument("toolchain", type=Path)
    p.add_argument("work", type=Path)
    p.add_argument("defines", nargs="*", help="CMake definitions NAME=VALUE")
    p = steps.add_parser("test", help="install wheels into a fresh venv of this interpreter and test them")
    p.add_argument("work", type=Path)
    p.add_argument("suite", type=Path)
    p.add_argument("--modules", required=True, help="comma-separated modules that must come from the venv")
    p.add_argument("--from-debian", default="", help="comma-separated packages copied from Debian first")
    p.add_argument("--wheel", action="append", required=True, dest="wheels")
    p.add_argument("command", nargs=argparse.REMAINDER, help="the test command, after --")
    p = steps.add_parser("from-debian", help="copy Debian's build of packages into this interpreter's site-packages")
    p.add_argument("names", nargs="+")
    args = parser.parse_args(argv)
    if args.step == "toolchain":
        toolchain(args.dir)
    elif args.step == "build":
        build(args.source, args.out, args.toolchain.resolve(), args.work.resolve(), args.defines)
    elif args.step == "test":
        command = args.command[1:] if args.command[:1] == ["--"] else args.command
        test(args.work.resolve(), args.suite, args.modules.split(","), args.wheels,
             [n for n in args.from_debian.split(",") if n], command)
    else:
        copy_from_debian(Path(sysconfig.get_path("platlib")), args.names)


if __name__ == "__main__":
    try:
        main(sys.argv[1:])
    except subprocess.CalledProcessError as error:
        sys.exit(f"wheel_steps: {' '.join(map(str, error.cmd))} exited with status {error.returncode}")
