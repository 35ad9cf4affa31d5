"""Shared helpers for the _tarvex tests: other-thread calls, re-entrant argument objects, graph snapshots."""
import contextlib
import gc
import os
import sys
import sysconfig
import threading

import pytest
from hypothesis import HealthCheck, settings

from _tarvex import QuantumDAG

FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
SENT_TO_ANOTHER_THREAD = "_tarvex::PyQuantumDAG is unsendable, but sent to another thread"
DROPPED_ON_ANOTHER_THREAD = "_tarvex::PyQuantumDAG is unsendable, but is being dropped on another thread"
FUZZ_SCALE = float(os.environ.get("TARVEX_FUZZ_SCALE", "1"))


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


def start_thread_cleanly(target):
    """Runs target on a new thread and waits for it. Collects garbage first: a cycle holding an
    instance from an earlier test, collected on the new thread, would drop the instance there."""
    gc.collect()
    thread = threading.Thread(target=target)
    thread.start()
    thread.join()


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


@pytest.fixture(scope="session")
def panic_exception():
    """The module's PanicException class, reached through the fault of a cross-thread call."""
    return type(raised_on_other_thread(QuantumDAG().node_count))


def interpreter_error(fn, *args):
    """The exception the interpreter itself raises for fn(*args): the reference for passed-on texts."""
    try:
        fn(*args)
    except BaseException as exc:
        return exc
    raise AssertionError(f"{fn!r}{args!r} did not raise")


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


def snapshot(dag):
    """Everything Python can observe of a graph: count, export and every node's schedule."""
    count = dag.node_count()
    return count, dag.get_all_nodes(), [dag.get_node_schedule(i) for i in range(count + 1)]


def small_graph():
    """Two scheduled gates: 'a' on [0] 0-10 and 'b' on [0, 1] 10-30."""
    dag = QuantumDAG()
    dag.add_gate("a", [0], 10.0)
    dag.add_gate("b", [0, 1], 20.0)
    dag.build_schedule()
    return dag


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


class Index:
    """Converts through __index__ to `value`, or raises it when it is an exception."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


class Float:
    """Converts through __float__ to `value`, or raises it when it is an exception."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


class Qubits:
    """A sequence of `items` whose __len__, __iter__ or __next__ can be made to raise."""

    def __init__(self, items, len_error=None, iter_error=None, next_error=None):
        self.items, self.len_error, self.iter_error, self.next_error = items, len_error, iter_error, next_error

    def __len__(self):
        if self.len_error is not None:
            raise self.len_error
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]

    def __iter__(self):
        if self.iter_error is not None:
            raise self.iter_error
        return self.generate()

    def generate(self):
        yield from self.items
        if self.next_error is not None:
            raise self.next_error
