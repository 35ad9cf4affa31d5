"""The stage scheduler: dependencies skip, lanes run side by side, statuses, CPU time, the table."""

from __future__ import annotations

import io
import re
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

from lanes import Matrix, Need, PlanError, Skip, Stage, check_plan, command, list_stages, select  # noqa: E402

PY = sys.executable


def py(code: str, **kwargs):
    return command(PY, "-c", code, **kwargs)


PASS, FAIL = py("pass"), py("raise SystemExit(1)")


def run_matrix(tmp_path: Path, stages, tick_s: float = 30.0):
    out = io.StringIO()
    matrix = Matrix(stages, tmp_path / "logs", out=out, tick_s=tick_s)
    code = matrix.run()
    return code, {name: (r.status, r.note) for name, r in matrix.results.items()}, out.getvalue(), matrix


@pytest.mark.parametrize(
    ("first", "check", "expected"),
    [
        pytest.param(PASS, None, ("passed", ""), id="passed"),
        pytest.param(FAIL, None, ("skipped", "the thing missing because 'a' failed"), id="failed"),
        # a check decides for itself: what the stage provides may be there although it failed
        pytest.param(FAIL, lambda: True, ("passed", ""), id="failed-but-there"),
        pytest.param(PASS, lambda: False, ("skipped", "the thing missing after 'a' passed"), id="passed-but-absent"),
    ],
)
def test_a_dependant_runs_or_is_skipped_with_its_reason(tmp_path, first, check, expected):
    stages = [Stage("a", "one", first), Stage("b", "two", PASS, needs=(Need("a", "the thing", check),))]
    _, results, _, _ = run_matrix(tmp_path, stages)
    assert results["b"] == expected


def test_skips_cascade_and_name_the_stage_before(tmp_path):
    stages = [
        Stage("root", "one", FAIL),
        Stage("build", "two", PASS, needs=(Need("root", "the interpreter"),)),
        Stage("tests", "two", PASS, needs=(Need("build", "the module"),)),
        Stage("plugin", "two", PASS, needs=(Need("x", "the plugin"),)),
        Stage("x", "one", not_applicable="nothing to do here"),
    ]
    _, results, out, _ = run_matrix(tmp_path, stages)
    assert results == {
        "root": ("FAILED", ""),
        "build": ("skipped", "the interpreter missing because 'root' failed"),
        "tests": ("skipped", "the module missing because 'build' was skipped"),
        "x": ("n/a", "nothing to do here"),
        "plugin": ("skipped", "the plugin missing because 'x' is not applicable here"),
    }
    assert "[two] ==> tests: skipped: the module missing because 'build' was skipped\n" in out


def test_a_stage_that_finds_it_cannot_run_is_skipped_with_its_reason(tmp_path):
    def absent(run):
        raise Skip("no CPython 3.99 here")

    code, results, out, _ = run_matrix(tmp_path, [Stage("a", "one", absent), Stage("b", "one", PASS,
                                                                                   needs=(Need("a", "the wheel"),))])
    assert (code, results) == (1, {"a": ("skipped", "no CPython 3.99 here"),
                                   "b": ("skipped", "the wheel missing because 'a' was skipped")})
    assert "<== a: skipped: no CPython 3.99 here\n" in out


@pytest.mark.parametrize(
    ("commands", "code"),
    [
        pytest.param([PASS, PASS], 0, id="all-passed"),
        pytest.param([PASS, FAIL], 1, id="one-failed"),
        pytest.param([FAIL, PASS], 1, id="dependency-failed-so-skipped"),
        # pytest's status when it collected nothing: a failure, like any status but 0
        pytest.param([PASS, py("raise SystemExit(5)")], 1, id="nothing-collected"),
    ],
)
def test_exit_status(tmp_path, commands, code):
    stages = [Stage("a", "one", commands[0]), Stage("b", "one", commands[1], needs=(Need("a", "a"),))]
    assert run_matrix(tmp_path, stages)[0] == code


def test_not_applicable_alone_is_success(tmp_path):
    assert run_matrix(tmp_path, [Stage("a", "one", PASS), Stage("b", "two", not_applicable="why")])[0] == 0


def test_lanes_run_side_by_side(tmp_path):
    # Each stage waits for the other's file: only lanes that run at the same time both pass.
    handshake = ("import pathlib, sys, time\n"
                 "d = pathlib.Path(sys.argv[1]); (d / sys.argv[2]).touch()\n"
                 "end = time.time() + 20\n"
                 "while not (d / sys.argv[3]).exists():\n"
                 "    if time.time() > end: raise SystemExit('alone')\n"
                 "    time.sleep(0.02)\n")
    stages = [Stage("a", "one", command(PY, "-c", handshake, str(tmp_path), "a", "b")),
              Stage("b", "two", command(PY, "-c", handshake, str(tmp_path), "b", "a"))]
    code, results, _, _ = run_matrix(tmp_path, stages)
    assert (code, results) == (0, {"a": ("passed", ""), "b": ("passed", "")})


def test_a_stage_waits_for_a_dependency_in_another_lane(tmp_path):
    marker = tmp_path / "made"
    stages = [
        Stage("slow", "one", py(f"import pathlib, time; time.sleep(0.5); pathlib.Path({str(marker)!r}).touch()")),
        Stage("after slow", "two", py(f"import pathlib; assert pathlib.Path({str(marker)!r}).exists()"),
              after=("slow",)),
    ]
    assert run_matrix(tmp_path, stages)[1]["after slow"] == ("passed", "")


def test_cpu_time_counts_to_the_stage_that_spent_it(tmp_path):
    burn = py("import time\nend = time.process_time() + 0.6\nwhile time.process_time() < end: pass")
    stages = [Stage("burns", "one", burn), Stage("sleeps", "two", py("import time; time.sleep(0.6)"))]
    _, _, _, matrix = run_matrix(tmp_path, stages)
    assert 0.5 <= matrix.results["burns"].cpu_s < 3
    assert matrix.results["sleeps"].cpu_s < 0.3


def test_a_quiet_command_ticks_and_shows_the_end_of_its_log_when_it_fails(tmp_path):
    noisy_failure = py("import time\nfor i in range(60): print('line', i)\ntime.sleep(0.35)\nraise SystemExit(3)",
                       log="quiet")
    _, _, out, _ = run_matrix(tmp_path, [Stage("quiet step", "one", noisy_failure)], tick_s=0.1)
    log = tmp_path / "logs/quiet.log"
    assert re.search(rf"\.\.\. quiet step: still running after 0 s \(log: {re.escape(str(log))}\)\n", out)
    shown = out.split(f"---- the last lines of {log}:\n")[1].split("<== ")[0]
    assert shown == "".join(f"line {i}\n" for i in range(20, 60))
    assert "<== quiet step: FAILED after 0 s\n" in out


def test_side_lanes_log_and_print_their_output_at_the_end(tmp_path):
    stages = [Stage("a", "main", py("print('from main')")), Stage("b", "side", py("print('from side')"))]
    _, _, out, _ = run_matrix(tmp_path, stages)
    side_log = tmp_path / "logs/lane-side.log"
    assert side_log.read_text() == "==> b\nfrom side\n<== b: passed in 0 s\n"
    assert out.index("from main") < out.index(f"======== lane side ({side_log})\n==> b\nfrom side\n")


def test_a_fault_of_the_plan_fails_its_stage_only(tmp_path):
    def broken(run):
        raise RuntimeError("a bug in the plan")

    code, results, out, _ = run_matrix(tmp_path, [Stage("a", "one", broken), Stage("b", "one", PASS)])
    assert (code, results["a"], results["b"]) == (1, ("FAILED", ""), ("passed", ""))
    assert "RuntimeError: a bug in the plan" in out


def test_the_closing_table_and_the_closing_line(tmp_path):
    summary = re.compile(r"\d+ passed")
    stages = [
        Stage("tests", "one", py("print('3 passed in 0.1s')\nprint('bye')"), summary=summary),
        Stage("broken", "one", FAIL),
        Stage("later", "two", PASS, needs=(Need("broken", "it"),)),
        Stage("elsewhere", "two", not_applicable="not here"),
    ]
    _, _, out, matrix = run_matrix(tmp_path, stages)
    assert "<== tests: passed in 0 s (3 passed in 0.1s)\n" in out
    # times of one digit, each column as wide as five
    assert re.sub(r"\d s\b", "N s", matrix.table(7.2)) == (
        "\n======== stages: wall time, CPU time (N s in all)\n"
        "  lane one:\n"
        "    passed       N s     N s  tests: 3 passed in 0.1s\n"
        "    FAILED       N s     N s  broken\n"
        "  lane two:\n"
        "    skipped      N s     N s  later: it missing because 'broken' failed\n"
        "    n/a          N s     N s  elsewhere: not here\n"
        "stages: 1 passed, 1 failed, 1 skipped, 1 not applicable\n"
    )


@pytest.mark.parametrize(
    ("stages", "message"),
    [
        pytest.param([Stage("a", "x"), Stage("a", "y")], "two stages are named 'a'", id="twice"),
        pytest.param([Stage("a", "x", needs=(Need("nope", "it"),))], "'a' waits for 'nope', which is no stage",
                     id="unknown"),
        pytest.param([Stage("a", "x", after=("b",)), Stage("b", "x")], "stages wait for each other: 'a' -> 'b' -> 'a'",
                     id="later-in-own-lane"),
        pytest.param(
            [Stage("a", "x", after=("d",)), Stage("b", "x"), Stage("c", "y", after=("b",)), Stage("d", "y")],
            "stages wait for each other: 'a' -> 'd' -> 'c' -> 'b' -> 'a'", id="across-lanes",
        ),
    ],
)
def test_a_plan_that_could_not_finish_is_refused(stages, message):
    with pytest.raises(PlanError) as error:
        check_plan(stages)
    assert str(error.value) == message


PLAN = [
    Stage("tools", "main"),
    Stage("build", "main", needs=(Need("tools", "t"),)),
    Stage("tests", "main", needs=(Need("build", "b"),)),
    Stage("other", "side", after=("tests",)),
    Stage("plugin", "side", needs=(Need("build", "b"),), after=("tests",)),
]


@pytest.mark.parametrize(
    ("only", "chosen", "after_plugin"),
    [
        pytest.param([], ["tools", "build", "tests", "other", "plugin"], ("tests",), id="all"),
        pytest.param(["tests"], ["tools", "build", "tests"], None, id="with-what-it-needs"),
        # an order kept with a stage that does not run is dropped
        pytest.param(["plugin"], ["tools", "build", "plugin"], (), id="order-dropped"),
        pytest.param(["plugin", "tests"], ["tools", "build", "tests", "plugin"], ("tests",), id="order-kept"),
    ],
)
def test_select(only, chosen, after_plugin):
    selected = select(PLAN, only)
    assert [s.name for s in selected] == chosen
    if after_plugin is not None:
        assert next(s for s in selected if s.name == "plugin").after == after_plugin
    check_plan(selected)


def test_select_refuses_an_unknown_name_and_offers_the_closest():
    with pytest.raises(PlanError) as error:
        select(PLAN, ["test"])
    assert str(error.value) == "no stage is named 'test'; did you mean 'tests'? (--list shows them)"


def test_list_stages():
    assert list_stages(PLAN + [Stage("nothing", "side", not_applicable="why")]) == (
        "lane main:\n"
        "  tools\n"
        "  build  (needs 'tools')\n"
        "  tests  (needs 'build')\n"
        "lane side:\n"
        "  other  (after 'tests')\n"
        "  plugin  (needs 'build'; after 'tests')\n"
        "  nothing  (not applicable: why)\n"
    )
