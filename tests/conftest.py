"""Shared helpers for the _tarvex tests: other-thread calls, hooked argument objects, graph snapshots."""
import contextlib
import gc
import json
import math
import os
import struct
import subprocess
import sys
import sysconfig
import threading

import pytest
from hypothesis import HealthCheck, settings

from _tarvex import QuantumDAG

FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
free_threaded_only = pytest.mark.skipif(not FREE_THREADED, reason="needs the free-threaded build of CPython")
SENT_TO_ANOTHER_THREAD = "_tarvex::PyQuantumDAG is unsendable, but sent to another thread"
DROPPED_ON_ANOTHER_THREAD = "_tarvex::PyQuantumDAG is unsendable, but is being dropped on another thread"
FUZZ_SCALE = float(os.environ.get("TARVEX_FUZZ_SCALE", "1"))
U64_MAX = 2**64 - 1


def fuzz_settings(max_examples):
    """Settings of the generated tests: derandomized, no example database, so every run tries the
    same examples; TARVEX_FUZZ_SCALE multiplies the example count for a longer hunt by hand."""
    return settings(
        max_examples=max(1, int(max_examples * FUZZ_SCALE)),
        deadline=None,
        derandomize=True,
        database=None,
        suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
    )


def run_fresh(code, python_gil=None, cwd=None, timeout=300):
    """Runs `code` in a new interpreter, with PYTHON_GIL set to `python_gil` or unset, and returns
    the JSON value it prints last; fails the test if the interpreter fails."""
    env = dict(os.environ)
    env.pop("PYTHON_GIL", None)
    if python_gil is not None:
        env["PYTHON_GIL"] = python_gil
    done = subprocess.run([sys.executable, "-c", code], cwd=cwd, env=env, capture_output=True, text=True,
                          timeout=timeout)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout.splitlines()[-1])


def start_thread_cleanly(target):
    """Runs target on a new thread and waits for it. Collects garbage first: a cycle holding an
    instance from an earlier test, collected on the new thread, would drop the instance there."""
    gc.collect()
    thread = threading.Thread(target=target)
    thread.start()
    thread.join()


def on_new_thread(fn):
    """Runs fn() on a new thread (see start_thread_cleanly) and returns its result."""
    result = []
    start_thread_cleanly(lambda: result.append(fn()))
    assert result, "the call failed on its thread"
    return result[0]


def raised_on_other_thread(fn, *args):
    """Calls fn(*args) on a new thread and returns what it raised; fails the test if it returned."""
    outcome = {}

    def target():
        try:
            outcome["result"] = fn(*args)
        except BaseException as exc:  # PanicException derives from BaseException
            outcome["exc"] = exc

    start_thread_cleanly(target)
    assert "exc" in outcome, f"call on another thread returned {outcome.get('result')!r}"
    # Popping breaks the cycle exception -> traceback -> frame -> outcome, which the collector
    # could otherwise free on a worker thread, dropping the instance there.
    return outcome.pop("exc")


# The module's PanicException class, reached through the fault of a cross-thread call.
PANIC = type(raised_on_other_thread(QuantumDAG().node_count))


def interpreter_error(fn, *args, **kwargs):
    """The exception the interpreter itself raises for fn(*args, **kwargs): the reference for texts."""
    try:
        fn(*args, **kwargs)
    except BaseException as exc:
        return exc
    raise AssertionError(f"{fn!r}{args!r}{kwargs!r} did not raise")


@contextlib.contextmanager
def unraisable_records():
    """Collects what reaches sys.unraisablehook inside the block."""
    records = []
    previous = sys.unraisablehook
    sys.unraisablehook = lambda args: records.append((args.exc_type, args.exc_value, args.object))
    try:
        yield records
    finally:
        sys.unraisablehook = previous


def bits(x):
    """A float as its bytes, so that == tells 0.0 from -0.0 and matches NaN with NaN."""
    assert type(x) is float
    return "nan" if math.isnan(x) else struct.pack("<d", x)


def same(a, b):
    """Structural equality of results, with types checked and floats compared by `bits`."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        return bits(a) == bits(b)
    if isinstance(a, (tuple, list)):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    return a == b


def schedule_entry(entry):
    if entry is None:
        return None
    assert type(entry) is tuple and len(entry) == 2
    return bits(entry[0]), bits(entry[1])


def snapshot(dag):
    """Everything Python can observe of a graph: count, export and every node's schedule, with the
    types checked and floats compared bit for bit (see `bits`)."""
    count = dag.node_count()
    nodes = dag.get_all_nodes()
    assert len(nodes) == count
    for name, qubits, _ in nodes:
        assert type(name) is str and type(qubits) is list and all(type(q) is int for q in qubits)
    return (count, [(name, tuple(qubits), bits(duration)) for name, qubits, duration in nodes],
            [schedule_entry(dag.get_node_schedule(i)) for i in range(count + 1)])


def build(gates, schedule=True):
    """A graph of the (name, qubits, duration_ns) gates, scheduled unless told otherwise."""
    dag = QuantumDAG()
    for name, qubits, duration_ns in gates:
        dag.add_gate(name, qubits, duration_ns)
    if schedule:
        dag.build_schedule()
    return dag


def small_graph():
    """Two scheduled gates: 'a' on [0] 0-10 and 'b' on [0, 1] 10-30."""
    return build([("a", [0], 10.0), ("b", [0, 1], 20.0)])


class Hook:
    """An argument whose conversion runs `action` first (recording its result or RuntimeError),
    then converts to `value`: as a float, an index, or a sequence of `value` with hooked len/iter."""

    def __init__(self, action, value):
        self.action = action
        self.value = value
        self.outcome = None

    def run(self):
        try:
            self.outcome = ("returned", self.action())
        except RuntimeError as exc:
            self.outcome = ("RuntimeError", str(exc))

    def __float__(self):
        self.run()
        return float(self.value)

    def __index__(self):
        self.run()
        return self.value


class HookLen(Hook):
    def __len__(self):
        self.run()
        return len(self.value)

    def __getitem__(self, i):
        return self.value[i]


class HookIter(Hook):
    def __len__(self):
        return len(self.value)

    def __getitem__(self, i):
        return self.value[i]

    def __iter__(self):
        self.run()
        return iter(self.value)


def produce(value):
    """`value` raised when it is an exception, called when it is a function, else returned."""
    if isinstance(value, BaseException):
        raise value
    return value() if callable(value) else value


class Index:
    """Converts through __index__ to what `produce(value)` gives."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return produce(self.value)


class Float:
    """Converts through __float__ to what `produce(value)` gives."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        return produce(self.value)


class Qubits:
    """A sequence of `items` whose __len__, __iter__ or last __next__ first runs `produce` on its
    `on_*` argument: an exception to raise or a function to call (giving __len__ its result)."""

    def __init__(self, items, on_len=None, on_iter=None, on_next=None):
        self.items, self.on_len, self.on_iter, self.on_next = items, on_len, on_iter, on_next

    def __len__(self):
        return len(self.items) if self.on_len is None else produce(self.on_len)

    def __getitem__(self, i):
        return self.items[i]

    def __iter__(self):
        if self.on_iter is not None:
            produce(self.on_iter)
        return self.generate()

    def generate(self):
        yield from self.items
        if self.on_next is not None:
            produce(self.on_next)


# Where caller code runs while a method converts an argument: label -> (parameter, make), where
# make(value) gives a call on a graph whose conversion at that place runs `produce(value)`.
CALLER_CODE = {
    "node_id __index__": ("node_id", lambda value: lambda dag: dag.get_node_schedule(Index(value))),
    "qubit __index__": ("qubits", lambda value: lambda dag: dag.add_gate("x", [0, Index(value)], 1.0)),
    "duration_ns __float__": ("duration_ns", lambda value: lambda dag: dag.add_gate("x", [0], Float(value))),
    "min_gap_ns __float__": ("min_gap_ns", lambda value: lambda dag: dag.find_idle_windows(Float(value))),
    "qubits __iter__": ("qubits", lambda value: lambda dag: dag.add_gate("x", Qubits([0], on_iter=value), 1.0)),
    "qubits __next__": ("qubits", lambda value: lambda dag: dag.add_gate("x", Qubits([0], on_next=value), 1.0)),
    "qubits __len__": ("qubits", lambda value: lambda dag: dag.add_gate("x", Qubits([0], on_len=value), 1.0)),
}


class Touched:
    """Records every protocol call the module makes on it, as "<label>.<method>"."""

    def __init__(self, log, label):
        self.log, self.label = log, label

    def touch(self, method, result):
        self.log.append(f"{self.label}.{method}")
        return result

    def __len__(self):
        return self.touch("__len__", 1)

    def __getitem__(self, i):
        raise self.touch("__getitem__", IndexError)

    def __iter__(self):
        return self.touch("__iter__", iter([0]))

    def __index__(self):
        return self.touch("__index__", 0)

    def __float__(self):
        return self.touch("__float__", 1.0)


class Unprintable:
    def __str__(self):
        raise ValueError("no text")


class UserError(Exception):
    pass
