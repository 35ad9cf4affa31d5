"""Many threads at once: each builds, schedules and passes graphs of its own and must get what one
thread alone gets; they also misuse each other's instances and race the module's first-use cells.

The parallel run is repeated in a fresh free-threaded interpreter with the GIL forced off, where the
threads really run at the same time and reach the process-wide cells first.
"""

import gc
import os
import random
import sys
import threading

import pytest

from _tarvex import QuantumDAG
from conftest import DROPPED_ON_ANOTHER_THREAD, SENT_TO_ANOTHER_THREAD, Touched, free_threaded_only, run_fresh

N_THREADS = 6
ROUNDS = 12


def schedule_of(dag):
    return [dag.get_node_schedule(i) for i in range(dag.node_count() + 1)]


def workload(seed):
    """Builds a random circuit, schedules it (with a stale schedule on the way), runs every read and
    the DD pass, and returns everything observed, in a form that compares with ==."""
    rng = random.Random(seed)
    dag = QuantumDAG()
    n_gates = rng.randint(1, 60)
    stale = None
    for i in range(n_gates):
        qubits = rng.sample(range(6), rng.randint(0, 3))
        assert dag.add_gate(rng.choice(["h", "x", "cx", "rz"]), qubits, rng.choice([10.0, 20.0, 50.0, 150.0, 250.0])) == i
        if i == n_gates // 2:
            dag.build_schedule()
            stale = (schedule_of(dag), sorted(dag.find_idle_windows(0.0)))
    refusal = None
    try:
        dag.add_gate("bad", {1, 2}, 1.0)
    except TypeError as exc:
        refusal = str(exc)
    dag.build_schedule()
    dd = dag.apply_dd_pass()
    dd_before = (dd.node_count(), schedule_of(dd))
    dd.build_schedule()
    return {
        "stale": stale,
        "nodes": dag.get_all_nodes(),
        "schedule": schedule_of(dag),
        "windows": sorted(dag.find_idle_windows(rng.choice([0.0, 50.0, 100.0]))),
        "refusal": refusal,
        "dd_before": dd_before,
        "dd_nodes": dd.get_all_nodes(),
        "dd_schedule": schedule_of(dd),
        "dd_windows": sorted(dd.find_idle_windows(100.0)),
    }


def run_parallel():
    """Runs the workloads of N_THREADS threads at once. Each thread also calls a method of an
    instance owned by the main thread and leaves one instance of its own behind for the main thread
    to drop. Returns a list of problems (empty when all is well) and the faults and unraisable
    reports seen."""
    foreign = [QuantumDAG() for _ in range(N_THREADS)]
    for dag in foreign:
        dag.add_gate("owned by main", [0], 1.0)
    left_behind = [None] * N_THREADS
    results = [None] * N_THREADS
    faults = [None] * N_THREADS
    barrier = threading.Barrier(N_THREADS)

    def worker(index):
        barrier.wait()
        try:
            faults[index] = foreign[index].add_gate("from a worker", [0], 1.0)
        except BaseException as exc:  # PanicException derives from BaseException
            faults[index] = exc
        results[index] = [workload(index * 1000 + r) for r in range(ROUNDS)]
        left_behind[index] = QuantumDAG()

    reports = []
    previous_hook = sys.unraisablehook
    sys.unraisablehook = lambda args: reports.append((args.exc_type.__name__, str(args.exc_value)))
    # Garbage left by earlier code may hold instances; collected on a worker, they would be reported too.
    gc.collect()
    gc.disable()
    try:
        threads = [threading.Thread(target=worker, args=(i,)) for i in range(N_THREADS)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        left_behind.clear()
    finally:
        gc.enable()
        sys.unraisablehook = previous_hook

    problems = []
    for index, got in enumerate(results):
        expected = [workload(index * 1000 + r) for r in range(ROUNDS)]
        if got != expected:
            problems.append(f"thread {index} got other results than one thread alone")
    for index, fault in enumerate(faults):
        if type(fault).__name__ != "PanicException" or SENT_TO_ANOTHER_THREAD not in str(fault):
            problems.append(f"thread {index}: {fault!r}")
    if len({type(fault) for fault in faults}) != 1:
        problems.append("the faults of the threads are of different classes")
    for dag in foreign:
        if dag.get_all_nodes() != [("owned by main", [0], 1.0)] or dag.add_gate("again", [1], 1.0) != 1:
            problems.append("an instance changed or stayed borrowed after a call from another thread")
    if reports != [("RuntimeError", DROPPED_ON_ANOTHER_THREAD)] * N_THREADS:
        problems.append(f"unraisable reports: {reports!r}")
    return problems


def test_parallel_work_matches_one_thread():
    assert run_parallel() == []


PARALLEL_IN_FRESH_INTERPRETER = f"""
import json, sys
sys.path.insert(0, {os.path.dirname(__file__)!r})
import test_threads
problems = test_threads.run_parallel()
print(json.dumps({{"gil": sys._is_gil_enabled(), "problems": problems}}))
"""


@free_threaded_only
def test_parallel_work_without_the_gil():
    assert run_fresh(PARALLEL_IN_FRESH_INTERPRETER, "0") == {"gil": False, "problems": []}


# Runs the initialisation function from several threads at once, past the import system's
# per-module lock: creating the module straight from what the finder found calls it in every thread.
CONCURRENT_INITIALISATION = """
import importlib.util, json, sys, threading
found = importlib.util.find_spec("_tarvex")
n_threads = 8
barrier = threading.Barrier(n_threads)
modules = [None] * n_threads

def worker(index):
    barrier.wait()
    modules[index] = importlib.util.module_from_spec(found)

threads = [threading.Thread(target=worker, args=(i,)) for i in range(n_threads)]
for thread in threads:
    thread.start()
for thread in threads:
    thread.join()
import _tarvex
modules.append(_tarvex)
print(json.dumps({
    "modules": len({id(m) for m in modules}),
    "classes": len({(id(m.QuantumDAG), id(m.TarvexError)) for m in modules}),
    "all": _tarvex.__all__,
    "works": _tarvex.QuantumDAG().add_gate("g", [0], 1.0),
}))
"""


@pytest.mark.parametrize(
    "python_gil",
    [None, pytest.param("0", marks=free_threaded_only)],
    ids=["default", "gil-forced-off"],
)
def test_concurrent_initialisation_creates_one_module(python_gil):
    assert run_fresh(CONCURRENT_INITIALISATION, python_gil) == {
        "modules": 1, "classes": 1, "all": ["TarvexError", "QuantumDAG"], "works": 0,
    }


@pytest.mark.parametrize(
    "invoke",
    [
        lambda dag, hooked: dag.add_gate("x", hooked, hooked),
        lambda dag, hooked: dag.get_node_schedule(hooked),
        lambda dag, hooked: dag.find_idle_windows(hooked),
    ],
    ids=["add_gate", "get_node_schedule", "find_idle_windows"],
)
def test_call_from_another_thread_runs_no_conversion(invoke):
    dag = QuantumDAG()
    dag.add_gate("a", [0], 10.0)
    log, caught = [], []

    def other_thread():
        try:
            invoke(dag, Touched(log, "hooked"))
        except BaseException as exc:
            caught.append(exc)

    thread = threading.Thread(target=other_thread)
    thread.start()
    thread.join()
    assert [type(exc).__name__ for exc in caught] == ["PanicException"]
    assert log == []
    invoke(dag, Touched(log, "hooked"))
    assert log != []
