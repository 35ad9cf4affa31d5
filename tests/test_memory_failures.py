"""Every method with one of the interpreter's allocations failing: for k = 0, 1, 2, ... the k-th
allocation after the call starts fails, until the call gets through. Each run must get through with
the result of a run without failures, or raise MemoryError; never SystemError, another error or a
crash. A run that raised leaves the graph as it was, and on a debug build no run leaks a reference.

Allocations are made to fail with _testcapi.set_nomemory, which interpreters built without their
test modules lack; the module skips itself there.

Only the method call runs while an allocation is armed to fail, from one small function that arms
and disarms around it; graphs, arguments and snapshots are made outside, and the collector is off.
Python code run by an argument (__index__, __float__, __len__, __iter__) only returns here, never
raises: CPython 3.13.5 itself can lose an exception that Python code raises while an allocation
fails (an assertion in a debug build, SystemError in a release build), with or without this module.
"""

import gc
import sys
import textwrap

import pytest

from _tarvex import QuantumDAG
from conftest import Float, Index, Qubits, build, run_fresh, snapshot

try:
    import _testcapi
except ImportError:
    _testcapi = None

HAS_TOTAL = hasattr(sys, "gettotalrefcount")
pytestmark = pytest.mark.skipif(
    not hasattr(_testcapi, "set_nomemory"),
    reason="needs _testcapi.set_nomemory, from an interpreter built with its test modules",
)
MAX_K = 20_000  # a guard against a call that never gets through; none here makes 2,000 allocations
LEAK_RUNS = 100  # failed runs per round of the leak test: a reference lost per run shows as >= this


def call_failing(k, method, args, kwargs):
    """method(*args, **kwargs) with the interpreter's k-th allocation from here on failing."""
    _testcapi.set_nomemory(k, k + 1)
    try:
        return method(*args, **kwargs)
    finally:
        _testcapi.remove_mem_hooks()


# 300 gates, so that ids and counts are not the interpreter's cached small ints, with names old and
# new (some not ASCII) and dense, hashed and near-2**64 qubits; the first 201 get scheduled.
GROWING_GATES = [
    (f"g{i % 17}" if i % 4 else f"gäte{i % 9}", [i % 7, 65536 + i % 5] if i % 3 else [2**64 - 1 - i % 3],
     float(10 + i * 7 % 200))
    for i in range(300)
]

# 40 gates with idle windows, on dense and hashed qubits.
SCHEDULED_GATES = [
    ("cx" if i % 4 == 0 else f"u{i % 3}",
     [i % 5, (i + 1) % 5] if i % 4 == 0 else [70000 + i % 3] if i % 4 == 1 else [i % 5],
     float(35 + i * 53 % 400))
    for i in range(40)
]


def growing_graph():
    dag = build(GROWING_GATES[:201])
    for gate in GROWING_GATES[201:]:
        dag.add_gate(*gate)
    return dag


def scheduled_graph():
    return build(SCHEDULED_GATES)


def call(graph, name, *args, **kwargs):
    """A case: graph() then graph.name(*args, **kwargs); the arguments are made anew for every run."""
    return lambda: (lambda dag: (dag, getattr(dag, name), args, kwargs))(graph())


def fresh(make_args):
    """A case for add_gate on a growing graph, with arguments made by make_args() for every run: a
    str caches its UTF-8 form, so one not ASCII and reused would allocate in the first run only."""

    def make():
        dag = growing_graph()
        args, kwargs = make_args()
        return dag, dag.add_gate, args, kwargs

    return make


def no_graph(method, *args):
    return lambda: (None, method, args, {})


def unique(text):
    """A new str equal to `text` (not ASCII, of two or more characters) with no UTF-8 form cached."""
    return "".join(list(text))


CASES = {
    "QuantumDAG()": no_graph(QuantumDAG),
    "QuantumDAG(1)": no_graph(QuantumDAG, 1),
    "node_count": call(growing_graph, "node_count"),
    "add_gate list": fresh(lambda: (("cx", [3, 65536 + 7, 2**64 - 1], 12.5), {})),
    "add_gate tuple": fresh(lambda: (("h", (0,), 35.0), {})),
    "add_gate range": fresh(lambda: (("r", range(5), 1.0), {})),
    "add_gate bytes": fresh(lambda: (("b", b"\x00\x05", 2.0), {})),
    "add_gate sequence": fresh(lambda: (("s", Qubits([1, 2**40]), 2.0), {})),
    "add_gate long list": fresh(lambda: (("wide", list(range(100, 1100)), 2.0), {})),
    "add_gate __index__ items": fresh(lambda: (("i", [Index(4), Index(2**40)], 1.0), {})),
    "add_gate big int items": fresh(lambda: (("big", [2**63, 2**64 - 2], 1.0), {})),
    "add_gate new name": fresh(lambda: (("a_new_and_rather_long_gate_name", [1], 1.0), {})),
    "add_gate name not ASCII": fresh(lambda: ((unique("ゲート"), [1], 1.0), {})),
    "add_gate int duration": fresh(lambda: (("x", [1], 300), {})),
    "add_gate __float__ duration": fresh(lambda: (("x", [1], Float(2.5)), {})),
    "add_gate keywords": fresh(lambda: ((), {"duration_ns": 1.0, "qubits": [2], "name": "k"})),
    "add_gate qubits int": fresh(lambda: (("x", 5, 1.0), {})),
    "add_gate qubit float": fresh(lambda: (("x", [1, 1.5], 1.0), {})),
    "add_gate qubit negative": fresh(lambda: (("x", [-1], 1.0), {})),
    "add_gate name int": fresh(lambda: ((5, [1], 1.0), {})),
    "add_gate duration huge int": fresh(lambda: (("x", [1], 10**400), {})),
    "add_gate missing argument": fresh(lambda: (("x",), {})),
    "build_schedule": call(growing_graph, "build_schedule"),
    "get_node_schedule": call(growing_graph, "get_node_schedule", 150),
    "get_node_schedule unscheduled": call(growing_graph, "get_node_schedule", 250),
    "get_node_schedule __index__": call(growing_graph, "get_node_schedule", Index(3)),
    "get_node_schedule negative": call(growing_graph, "get_node_schedule", -1),
    "find_idle_windows": call(scheduled_graph, "find_idle_windows", 0.0),
    "find_idle_windows partial schedule": call(growing_graph, "find_idle_windows", 50),
    "find_idle_windows str": call(scheduled_graph, "find_idle_windows", "x"),
    "apply_dd_pass": call(scheduled_graph, "apply_dd_pass"),
    "apply_dd_pass partial schedule": call(growing_graph, "apply_dd_pass"),
    "get_all_nodes": call(scheduled_graph, "get_all_nodes"),
}


def summary(value):
    return ("graph", snapshot(value)) if isinstance(value, QuantumDAG) else value


def attempt(make, k, observe=True):
    """One run on a fresh graph and fresh arguments, with allocation k failing (None: none).
    Returns what the call returned or raised, and (if `observe`) the graph's snapshots before and
    after."""
    dag, method, args, kwargs = make()
    observed = observe and dag is not None
    before = snapshot(dag) if observed else None
    try:
        outcome = ("returned", summary(call_failing(k, method, args, kwargs) if k is not None
                                       else method(*args, **kwargs)))
    except BaseException as exc:
        outcome = ("raised", type(exc), str(exc))
    return outcome, before, (snapshot(dag) if observed else None)


def sweep(make, expected, observe=True):
    """Runs with k = 0, 1, 2, ... failing until one gets through; returns the number of runs that
    raised MemoryError. `expected` is what a run without failures gives (outcome, graph after);
    with `observe` off, only the outcomes are compared."""
    gc.disable()
    try:
        failed = 0
        for k in range(MAX_K):
            outcome, before, after = attempt(make, k, observe)
            if outcome[:2] == ("raised", MemoryError):
                assert after == before, f"k = {k}: MemoryError, but the graph changed"
                failed += 1
                continue
            assert outcome == expected[0], f"k = {k}: {outcome}, without failures {expected[0]}"
            assert after == expected[1] or not observe, f"k = {k}: the graph differs from one without failures"
            return failed
        pytest.fail(f"no run got through in {MAX_K}")
    finally:
        gc.enable()


def without_failures(make):
    outcome, _, after = attempt(make, None)
    assert outcome[:2] != ("raised", MemoryError)
    return outcome, after


@pytest.mark.parametrize("make", CASES.values(), ids=CASES.keys())
def test_a_failed_allocation_raises_memory_error_and_changes_nothing(make):
    sweep(make, without_failures(make))


@pytest.mark.skipif(not HAS_TOTAL, reason="needs sys.gettotalrefcount, from a debug build")
@pytest.mark.parametrize("make", CASES.values(), ids=CASES.keys())
def test_failed_allocations_leak_no_reference(make):
    expected = without_failures(make)
    failed = sweep(make, expected)
    if failed == 0:
        pytest.skip("the call allocates nothing through the interpreter")
    repeats = -(-LEAK_RUNS // failed)
    totals = []
    for _ in range(3):
        gc.collect()
        total = sys.gettotalrefcount()
        for _ in range(repeats):
            sweep(make, expected, observe=False)
        gc.collect()
        totals.append(sys.gettotalrefcount() - total)
    assert min(totals) < LEAK_RUNS // 10, f"total reference count grew by {totals} per {repeats * failed} failed runs"


def test_first_lookup_of_the_sequence_class_fails_cleanly():
    """The class named in the message for a non-sequence is looked up at its first use, once per
    process, so a fresh interpreter runs that first use with each allocation failing in turn. Out
    of memory there is MemoryError like anywhere else, the cell stays empty and the next call
    looks again. collections.abc is imported beforehand, as nearly
    every program has it: CPython 3.13.5 crashes when an import of a module not loaded yet meets
    failing allocations a few times over, with or without this module."""
    outcomes = run_fresh(textwrap.dedent("""
        import collections.abc
        import json
        import _testcapi
        from _tarvex import QuantumDAG

        def call_failing(k, method, *args):
            _testcapi.set_nomemory(k, k + 1)
            try:
                return method(*args)
            finally:
                _testcapi.remove_mem_hooks()

        outcomes = []
        for k in range(5000):
            dag = QuantumDAG()
            try:
                call_failing(k, dag.add_gate, "x", 5, 1.0)
            except BaseException as exc:
                outcomes.append(f"{type(exc).__name__}: {exc}")
            else:
                outcomes.append("returned")
            assert dag.node_count() == 0 and dag.get_all_nodes() == [], dag.get_all_nodes()
            if not outcomes[-1].startswith("MemoryError"):
                break
        print(json.dumps(outcomes))
    """))
    *failed, through = outcomes
    assert through == "TypeError: argument 'qubits': 'int' object cannot be cast as 'Sequence'"
    assert failed, "no allocation of the first use failed"
    assert set(failed) == {"MemoryError: "}, set(failed)
