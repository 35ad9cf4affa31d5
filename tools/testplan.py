"""The stages of tools/test.sh: which interpreters, what each is tested with, in which lane, after what.

Three lanes run side by side, since most stages keep one core busy and the machine has two:
  main      the system packages, CPython 3.13, the tools' own tests, the core's unit tests and
            the sanitizers, then the debug 3.14 (in the root the unstable lane builds); it prints as
            it goes;
  cpython   builds the free-threaded and the debug 3.13 (tools/build-python.sh, cached) and runs
            their stages, then the Qiskit plugin on 3.13 once the suite there is done;
  unstable  builds the Debian unstable root (tools/unstable-root.sh, cached) and runs the other
            3.14 and 3.15 stages in it.
The side lanes write to build/test-logs/lane-*.log and print a line when a stage starts or ends;
their whole output follows when they finish. Quiet steps (builds) write to a log of their own.
Usage: tools/test.sh [--list] [--only NAME]...
"""

from __future__ import annotations

import argparse
import functools
import os
import re
import shlex
import shutil
import sys
from dataclasses import dataclass
from pathlib import Path
from typing import List, Optional

sys.path.insert(0, str(Path(__file__).resolve().parent))

from lanes import Matrix, Need, PlanError, Stage, StageRun, command, list_stages, select  # noqa: E402

REPO = Path(__file__).resolve().parents[1]
LOGS = REPO / "build/test-logs"
PLUGIN = "plugins/qiskit"
PYTEST_CLOSING = re.compile(r"(\d+ (passed|failed|errors?|skipped|deselected|xfailed|xpassed)|no tests ran)\b.* in [0-9.]+s")
# ctest's closing line: "97% tests passed, 3 tests failed out of 110"; this machine's ctest drops the
# failure count when it is 0 ("100% tests passed out of 110").
CTEST_CLOSING = re.compile(r"\d+% tests passed(, \d+ tests failed)? out of \d+")
NO_QISKIT = "Qiskit publishes no wheel for free-threaded CPython"
SYSTEM = "system packages"
ROOT = "Debian unstable root"



def have_build_tools() -> bool:
    return bool(shutil.which("cmake") and shutil.which("g++"))


def have_gtest() -> bool:
    return Path("/usr/include/gtest/gtest.h").is_file()


BUILD_TOOLS = Need(SYSTEM, "cmake or g++", have_build_tools)
GTEST = Need(SYSTEM, "GoogleTest", have_gtest)


@dataclass
class Interpreter:
    """An interpreter the module is tested on. `python` is filled in by the stage that makes it
    when `made_by` is an `interpreter (...)` stage."""

    label: str  # "debug CPython 3.14"
    where: str  # "host", or "root" for the Debian unstable root
    python: str  # its command; "" lets tools/dev-env.sh find a CPython 3.13 of the machine
    venv: str
    fuzz_scale: str  # the generated-input tests' length: in full once, on CPython 3.13
    table_share: str = "0.25"  # the share of the plugin's large tables run: in full once, on CPython 3.13
    debug: bool = False
    plugin: bool = True  # Qiskit publishes wheels for it
    made_by: Optional[str] = None  # the stage that provides the interpreter
    # Debian's python3-orjson, copied into the venv before the plugin's test extra: qiskit-ibm-runtime
    # needs orjson (through samplomatic), which has no wheel for CPython 3.15 on the package index,
    # and a source build needs a Rust toolchain. Debian's debug interpreters load the release build.
    orjson_from_debian: bool = False

    def within(self, *argv: str) -> List[str]:
        return ["tools/unstable-root.sh", "run", *argv] if self.where == "root" else list(argv)

    @property
    def tag(self) -> str:
        return self.venv.lstrip(".")


def pytest_in(interp: Interpreter, scale: str, *targets: str, env: tuple = ()) -> List[str]:
    return interp.within("env", f"TARVEX_FUZZ_SCALE={scale}", *env, f"{interp.venv}/bin/python", "-m", "pytest", "-q",
                         "-p", "no:cacheprovider", *targets)


def debug_tests() -> List[str]:
    """What a debug build adds to the suite: the leak test that reads the interpreter's reference
    total (the resident-size leak test runs on the release builds), and the allocation-failure
    tests, which need _testcapi: test modules named for memory or marked nomemory."""
    tests = ["tests/test_leaks.py::test_no_reference_is_left_behind"]
    for path in sorted((REPO / "tests").glob("test_*.py")):
        if path.name == "test_leaks.py":
            continue
        if "memory" in path.stem or "nomemory" in path.read_text(encoding="utf-8"):
            tests.append(f"tests/{path.name}")
    return tests


def interpreter_stages(interp: Interpreter, lane: str) -> List[Stage]:
    """The module built with warnings as errors, then the suite, or on a debug build the tests that
    need one. Only wheels are taken for the test tools: some of their newest releases have no
    wheel for the newer interpreters, and their sources need toolchains this machine lacks."""
    build = f"build ({interp.label})"
    needs = []
    if interp.made_by == ROOT:
        needs.append(Need(ROOT, interp.label.replace("debug ", "")))
    elif interp.made_by is not None:
        needs.append(Need(interp.made_by, "the interpreter"))
    if interp.where == "host":
        needs.append(BUILD_TOOLS)

    def run_build(run: StageRun) -> bool:
        return run.sh(interp.within("env", "PIP_ONLY_BINARY=:all:", "PYTHONWARNINGS=ignore::ResourceWarning",
                                    "tools/dev-env.sh", interp.venv, interp.python), log=f"build-{interp.tag}")

    if interp.debug:
        tests_name = f"leak and allocation tests ({interp.label})"
        run_tests = lambda run: run.sh(pytest_in(interp, interp.fuzz_scale, *debug_tests()))  # noqa: E731
    else:
        tests_name = f"pytest ({interp.label})"
        run_tests = command(*pytest_in(interp, interp.fuzz_scale, "tests"))
    return [
        Stage(build, lane, run_build, needs=tuple(needs)),
        Stage(tests_name, lane, run_tests, needs=(Need(build, "the module"),), summary=PYTEST_CLOSING),
    ]


def plugin_stages(interp: Interpreter, lane: str, after: tuple = ()) -> List[Stage]:
    """The Qiskit plugin installed into the interpreter's venv after the module, with its test extra
    (which pulls the pinned Qiskit series), and its tests; on a debug build only those marked
    debug_build (leaks, reference counts, failing allocations, hostile arguments). Nothing
    collected is a failure there, as pytest's exit status 5 says. The interpreter's table_share
    is the share of each large table of cases run (plugins/qiskit/tests/table_share.py)."""
    build, tests = f"build (tarvex-qiskit, {interp.label})", f"pytest (tarvex-qiskit, {interp.label})"
    if not interp.plugin:
        return [Stage(build, lane, not_applicable=NO_QISKIT), Stage(tests, lane, not_applicable=NO_QISKIT)]
    log = f"build-tarvex-qiskit-{interp.tag}"

    def run_build(run: StageRun) -> bool:
        if interp.orjson_from_debian and not run.sh(interp.within(f"{interp.venv}/bin/python", "tools/wheel_steps.py",
                                                                  "from-debian", "orjson"), log=log):
            return False
        return run.sh(interp.within("env", "PIP_ONLY_BINARY=:all:", f"{interp.venv}/bin/python", "-m", "pip", "install",
                                    "--disable-pip-version-check", f"{PLUGIN}[test]"), log=log)

    targets = [f"{PLUGIN}/tests"] + (["-m", "debug_build"] if interp.debug else [])
    run_tests = command(*pytest_in(interp, "0.25", *targets, env=(f"TARVEX_TABLE_SHARE={interp.table_share}",)))
    return [
        Stage(build, lane, run_build, needs=(Need(f"build ({interp.label})", "the module"),), after=after),
        Stage(tests, lane, run_tests, needs=(Need(build, "tarvex-qiskit"),), summary=PYTEST_CLOSING),
    ]


def built_interpreter(run: StageRun, interp: Interpreter, flavour: str) -> bool:
    """tools/build-python.sh FLAVOUR (cached after the first time); it prints the path last."""
    log = f"interpreter-{flavour}"
    if not run.sh(["tools/build-python.sh", flavour], log=log):
        return False
    interp.python = run.log_path(log).read_text().splitlines()[-1]
    return True


def core_tests(run: StageRun) -> bool:
    return run.sh(["bash", "-c", "cmake -S . -B build/cpp -DTARVEX_BUILD_EXTENSION=OFF -DTARVEX_BUILD_TESTS=ON "
                   "-DTARVEX_WERROR=ON -DCMAKE_BUILD_TYPE=Debug && cmake --build build/cpp -j2"], log="build-cpp") and \
        run.sh(["ctest", "--output-on-failure"], cwd=REPO / "build/cpp")


def plan() -> List[Stage]:
    main = Interpreter("CPython 3.13", "host", "", ".venv", "1", table_share="1")
    ft = Interpreter("free-threaded CPython 3.13", "host", "", ".venv-ft", "0.25", plugin=False,
                     made_by="interpreter (free-threaded CPython 3.13)")
    debug = Interpreter("debug CPython 3.13", "host", "", ".venv-debug", "0.25", debug=True,
                        made_by="interpreter (debug CPython 3.13)")
    build_main, suite_main = interpreter_stages(main, "main")
    stages = [
        Stage(SYSTEM, "main", command("bash", "-c", 'log() { echo "test: $*" >&2; }; . tools/debian-apt.sh && '
                                      'apt_install "$@"', "bash", "libgtest-dev", "cmake", "g++")),
        build_main,
        # Before the suite, which the plugin on 3.13 waits for to install into the same venv.
        Stage("tool tests", "main", command(".venv/bin/python", "-m", "pytest", "-q", "-p", "no:cacheprovider",
                                            "tools/tests"),
              needs=(Need(build_main.name, "pytest of .venv"),), summary=PYTEST_CLOSING),
        suite_main,
        Stage("core unit tests (ctest)", "main", core_tests, needs=(BUILD_TOOLS, GTEST), summary=CTEST_CLOSING),
        # The longest stage. Its generated-input tests repeat, much slower, what ran in full on
        # CPython 3.13, so they run at a quarter length; the typing tests run mypy on the stubs,
        # where the sanitizers have nothing to find, and run on every other interpreter.
        Stage("sanitizers (ASan, UBSan)", "main",
              command("env", "TARVEX_FUZZ_SCALE=0.25", "tools/sanitize.sh", "tests", "--ignore=tests/test_typing.py"),
              needs=(BUILD_TOOLS, GTEST), summary=PYTEST_CLOSING),
    ]
    for interp, flavour in ((ft, "ft"), (debug, "debug")):
        assert interp.made_by is not None
        stages.append(Stage(interp.made_by, "cpython", functools.partial(built_interpreter, interp=interp,
                                                                          flavour=flavour)))
        stages += interpreter_stages(interp, "cpython") + plugin_stages(interp, "cpython")
    # The plugin goes into the main lane's .venv once the suite there is done, so that nothing is
    # installed under a running suite; it runs in this lane, the shortest once the interpreters
    # are cached.
    stages += plugin_stages(main, "cpython", after=(suite_main.name,))
    stages.append(Stage(ROOT, "unstable", command("tools/unstable-root.sh", "build", log="unstable-root")))
    for version in ("3.14", "3.15"):
        for interp in (
            Interpreter(f"CPython {version}", "root", f"python{version}", f".venv-{version}", "0.25", made_by=ROOT,
                        orjson_from_debian=version == "3.15"),
            Interpreter(f"debug CPython {version}", "root", f"python{version}d", f".venv-{version}d", "1", debug=True,
                        made_by=ROOT, orjson_from_debian=version == "3.15"),
        ):
            # The debug 3.14 joins the main lane once the sanitizers are done, else the unstable lane is
            # the longest by far. Two lanes can use the root at once: each run is a mount namespace of
            # its own and each interpreter has a venv of its own.
            lane = "main" if interp.debug and version == "3.14" else "unstable"
            stages += interpreter_stages(interp, lane) + plugin_stages(interp, lane)
    return stages


def stage_table() -> str:
    """The plan as a Markdown table (docs/testing.md, filled by tools/figures.py)."""
    rows = []
    for stage in plan():
        waits = [f"'{n}'" for n in dict.fromkeys(n.stage for n in stage.needs)] + [f"after '{a}'" for a in stage.after]
        rows.append(f"| {stage.lane} | {stage.name} | "
                    f"{'not applicable: ' + stage.not_applicable if stage.not_applicable else ', '.join(waits)} |")
    return "\n".join(["| lane | stage | needs |", "|---|---|---|", *rows])


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="tools/test.sh", description=__doc__.split("\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter,
                                     epilog="\n".join(__doc__.split("\n")[2:]))
    parser.add_argument("--list", action="store_true", help="print the stages, lane by lane, and exit")
    parser.add_argument("--only", action="append", default=[], metavar="NAME",
                        help="run this stage and the stages it needs (repeatable)")
    args = parser.parse_args(argv)
    stages = plan()
    if args.list:
        sys.stdout.write(list_stages(stages))
        return 0
    try:
        chosen = select(stages, args.only)
    except PlanError as error:
        parser.error(str(error))
    os.chdir(REPO)
    shutil.rmtree(LOGS, ignore_errors=True)
    return Matrix(chosen, LOGS, command=" ".join(["tools/test.sh", *map(shlex.quote, sys.argv[1:] if argv is None else argv)])).run()


if __name__ == "__main__":
    sys.exit(main())
