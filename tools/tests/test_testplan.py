"""The test command's plan: it can finish, and each kind of stage runs the commands it must."""

from __future__ import annotations

import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import testplan  # noqa: E402
from lanes import check_plan  # noqa: E402

PLAN = {stage.name: stage for stage in testplan.plan()}


class RecordingRun:
    """A StageRun that records the commands a stage would run, and runs none."""

    def __init__(self, tmp_path: Path) -> None:
        self.commands: list = []
        self.tmp_path = tmp_path

    def sh(self, argv, *, log=None, env=None, cwd=None) -> bool:
        self.commands.append((list(argv), log))
        return True

    def log_path(self, name: str) -> Path:
        return self.tmp_path / f"{name}.log"


def commands_of(name: str, tmp_path: Path) -> list:
    run = RecordingRun(tmp_path)
    assert PLAN[name].run(run)
    return run.commands


def test_the_plan_can_finish():
    check_plan(list(PLAN.values()))


PIP_PLUGIN = ["-m", "pip", "install", "--disable-pip-version-check", "plugins/qiskit[test]"]
ROOT_RUN = ["tools/unstable-root.sh", "run"]


def orjson_into(venv: str) -> list:
    return [*ROOT_RUN, f"{venv}/bin/python", "tools/wheel_steps.py", "from-debian", "orjson"]


@pytest.mark.parametrize(
    ("label", "expected"),
    [
        pytest.param("CPython 3.13", [["env", "PIP_ONLY_BINARY=:all:", ".venv/bin/python", *PIP_PLUGIN]], id="host"),
        pytest.param("debug CPython 3.14",
                     [[*ROOT_RUN, "env", "PIP_ONLY_BINARY=:all:", ".venv-3.14d/bin/python", *PIP_PLUGIN]], id="root"),
        pytest.param("CPython 3.15",
                     [orjson_into(".venv-3.15"), [*ROOT_RUN, "env", "PIP_ONLY_BINARY=:all:", ".venv-3.15/bin/python",
                                                  *PIP_PLUGIN]], id="orjson-first-on-3.15"),
        pytest.param("debug CPython 3.15",
                     [orjson_into(".venv-3.15d"), [*ROOT_RUN, "env", "PIP_ONLY_BINARY=:all:", ".venv-3.15d/bin/python",
                                                   *PIP_PLUGIN]], id="orjson-first-on-debug-3.15"),
    ],
)
def test_plugin_builds(tmp_path, label, expected):
    commands = commands_of(f"build (tarvex-qiskit, {label})", tmp_path)
    assert [argv for argv, _ in commands] == expected
    venv = expected[-1][expected[-1].index("PIP_ONLY_BINARY=:all:") + 1].split("/")[0]
    assert {log for _, log in commands} == {f"build-tarvex-qiskit-{venv.lstrip('.')}"}


PYTEST = ["-m", "pytest", "-q", "-p", "no:cacheprovider"]


@pytest.mark.parametrize(
    ("stage", "expected"),
    [
        pytest.param("pytest (tarvex-qiskit, CPython 3.13)",
                     ["env", "TARVEX_FUZZ_SCALE=0.25", "TARVEX_TABLE_SHARE=1", ".venv/bin/python", *PYTEST,
                      "plugins/qiskit/tests"], id="release"),
        pytest.param("pytest (tarvex-qiskit, debug CPython 3.13)",
                     ["env", "TARVEX_FUZZ_SCALE=0.25", "TARVEX_TABLE_SHARE=0.25", ".venv-debug/bin/python", *PYTEST,
                      "plugins/qiskit/tests", "-m", "debug_build"], id="debug"),
        pytest.param("pytest (tarvex-qiskit, debug CPython 3.15)",
                     [*ROOT_RUN, "env", "TARVEX_FUZZ_SCALE=0.25", "TARVEX_TABLE_SHARE=0.25", ".venv-3.15d/bin/python",
                      *PYTEST, "plugins/qiskit/tests", "-m", "debug_build"], id="debug-in-root"),
        pytest.param("pytest (CPython 3.13)", ["env", "TARVEX_FUZZ_SCALE=1", ".venv/bin/python", *PYTEST, "tests"],
                     id="suite-in-full"),
        pytest.param("pytest (CPython 3.14)",
                     [*ROOT_RUN, "env", "TARVEX_FUZZ_SCALE=0.25", ".venv-3.14/bin/python", *PYTEST, "tests"],
                     id="suite-shortened"),
    ],
)
def test_test_stages(tmp_path, stage, expected):
    assert commands_of(stage, tmp_path) == [(expected, None)]


def test_debug_builds_run_the_leak_and_allocation_tests(tmp_path):
    (argv, _), = commands_of("leak and allocation tests (debug CPython 3.14)", tmp_path)
    tests = argv[argv.index("no:cacheprovider") + 1:]
    assert tests[0] == "tests/test_leaks.py::test_no_reference_is_left_behind"
    assert "tests/test_memory_failures.py" in tests and "tests/test_leaks.py" not in tests
    assert argv[argv.index("env") + 1] == "TARVEX_FUZZ_SCALE=1"


@pytest.mark.parametrize("label", ["CPython 3.13", "debug CPython 3.13", "CPython 3.14", "debug CPython 3.14",
                                   "CPython 3.15", "debug CPython 3.15"])
def test_the_plugin_is_tested_after_the_module_on_every_interpreter_with_a_gil(label):
    build, tests = PLAN[f"build (tarvex-qiskit, {label})"], PLAN[f"pytest (tarvex-qiskit, {label})"]
    assert [n.stage for n in build.needs] == [f"build ({label})"]
    assert [n.stage for n in tests.needs] == [build.name]


def test_the_plugin_on_3_13_waits_for_the_suite_in_the_same_venv():
    assert PLAN["build (tarvex-qiskit, CPython 3.13)"].after == ("pytest (CPython 3.13)",)


def test_the_interpreter_stage_hands_its_path_to_the_build(tmp_path):
    (tmp_path / "interpreter-ft.log").write_text("building...\n/cache/python-3.13t/bin/python3.13\n")
    commands_of("interpreter (free-threaded CPython 3.13)", tmp_path)
    (argv, log), = commands_of("build (free-threaded CPython 3.13)", tmp_path)
    assert (argv[-2:], log) == ([".venv-ft", "/cache/python-3.13t/bin/python3.13"], "build-venv-ft")
