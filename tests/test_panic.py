"""PanicException: cross-thread calls, panics resumed from Python code and drops on a foreign thread."""
import re
import sys

import pytest

import _tarvex
from _tarvex import QuantumDAG
from conftest import (CALLER_CODE, DROPPED_ON_ANOTHER_THREAD, FREE_THREADED, PANIC, SENT_TO_ANOTHER_THREAD, Index,
                      Unprintable, on_new_thread, raised_on_other_thread, small_graph, snapshot, unraisable_records)

THREAD_CHECK = re.compile(
    re.escape(f"assertion `left == right` failed: {SENT_TO_ANOTHER_THREAD}") + r"\n  left: (\d+)\n right: (\d+)"
)
RESUMPTION_NOTICE = "tarvex: resuming an internal fault after a PanicException was fetched from Python code"
PANIC_DOC = (
    "\nThe exception raised when native code called from Python fails internally (panics).\n\n"
    "Like SystemExit, this exception is derived from BaseException so that it will typically\n"
    "propagate all the way through the stack and cause the Python interpreter to exit.\n"
)


def thread_numbers(exc):
    """(calling thread, owner thread) from a thread-check fault."""
    match = THREAD_CHECK.fullmatch(str(exc))
    assert match, f"unexpected message {str(exc)!r}"
    assert exc.args == (str(exc),)
    return int(match[1]), int(match[2])


@pytest.mark.parametrize(
    "attribute, expected",
    [("__name__", "PanicException"), ("__qualname__", "PanicException"), ("__module__", "tarvex_runtime"),
     ("__bases__", (BaseException,)), ("__doc__", PANIC_DOC)],
)
def test_class_shape(attribute, expected):
    assert getattr(PANIC, attribute) == expected
    assert not issubclass(PANIC, Exception)
    assert PANIC not in vars(_tarvex).values()


CROSS_THREAD_CALLS = {
    "node_count": lambda dag: dag.node_count(),
    "add_gate": lambda dag: dag.add_gate("x", [0], 1.0),
    "build_schedule": lambda dag: dag.build_schedule(),
    "get_node_schedule": lambda dag: dag.get_node_schedule(0),
    "find_idle_windows": lambda dag: dag.find_idle_windows(0.0),
    "apply_dd_pass": lambda dag: dag.apply_dd_pass(),
    "get_all_nodes": lambda dag: dag.get_all_nodes(),
}


@pytest.mark.parametrize("make", [small_graph, lambda: small_graph().apply_dd_pass()], ids=["new", "from dd pass"])
@pytest.mark.parametrize("method", CROSS_THREAD_CALLS)
def test_call_from_another_thread(capfd, make, method):
    dag = make()
    before = snapshot(dag)
    fault = raised_on_other_thread(CROSS_THREAD_CALLS[method], dag)
    assert type(fault) is PANIC
    calling, owner = thread_numbers(fault)
    assert calling != owner
    assert SENT_TO_ANOTHER_THREAD in capfd.readouterr().err
    assert snapshot(dag) == before
    assert dag.add_gate("owner", [0], 1.0) == before[0]


def test_not_caught_by_except_exception():
    dag = QuantumDAG()

    def attempt():
        try:
            dag.node_count()
        except Exception:
            return "caught as Exception"

    assert type(raised_on_other_thread(attempt)) is PANIC


def test_thread_numbers_identify_threads_and_are_not_reused():
    main_owned = QuantumDAG()
    first_caller, main = thread_numbers(raised_on_other_thread(main_owned.node_count))
    second_caller, main_again = thread_numbers(raised_on_other_thread(main_owned.get_all_nodes))
    assert main_again == main
    with unraisable_records():
        worker_owned = on_new_thread(QuantumDAG)
        with pytest.raises(BaseException) as caught:
            worker_owned.node_count()
        del worker_owned
    caller, worker = thread_numbers(caught.value)
    assert caller == main
    assert len({first_caller, second_caller, main, worker}) == 4


@pytest.mark.parametrize("raiser", [make for _, make in CALLER_CODE.values()], ids=CALLER_CODE)
@pytest.mark.parametrize(
    "argument, message",
    [("resumed in Python", "resumed in Python"), (Unprintable(), "Unwrapped panic from Python code")],
    ids=["message", "unprintable"],
)
def test_panic_from_python_code_is_resumed(capfd, monkeypatch, raiser, argument, message):
    sentinel = ValueError("last exception before the call")
    for name in ("last_exc", "last_type", "last_value", "last_traceback"):
        monkeypatch.setattr(sys, name, sentinel, raising=False)
    dag = small_graph()
    before = snapshot(dag)
    original = PANIC(argument)
    capfd.readouterr()

    with pytest.raises(BaseException) as caught:
        raiser(original)(dag)

    resumed = caught.value
    assert type(resumed) is PANIC and resumed is not original
    assert resumed.args == (message,)
    lines = capfd.readouterr().err.splitlines()
    assert lines[:3] == [RESUMPTION_NOTICE, "Python stack trace below:", "Traceback (most recent call last):"]
    if message != "Unwrapped panic from Python code":
        assert lines[-1] == f"tarvex_runtime.PanicException: {message}"
    assert all(getattr(sys, name) is sentinel for name in ("last_exc", "last_type", "last_value", "last_traceback"))
    assert snapshot(dag) == before
    assert dag.add_gate("after", [0], 1.0) == 2


def test_panic_subclass_from_python_code_is_passed_on():
    derived = type("DerivedPanic", (PANIC,), {})("not the module's own")
    with pytest.raises(BaseException) as caught:
        small_graph().get_node_schedule(Index(derived))
    assert caught.value is derived


@pytest.mark.parametrize("owner", ["main", "worker"])
def test_drop_on_another_thread_is_reported_unraisable(owner):
    with unraisable_records() as records:
        if owner == "main":
            box = [small_graph()]
            on_new_thread(box.clear)
        else:
            dag = on_new_thread(small_graph)
            assert dag.__class__ is QuantumDAG
            del dag
    reports = [(kind, str(value), obj) for kind, value, obj in records]
    if FREE_THREADED and owner == "main":
        # biased reference counting hands the worker's last decref back to the owner thread
        assert reports == []
    else:
        assert reports == [(RuntimeError, DROPPED_ON_ANOTHER_THREAD, None)]
