"""Every good `_native` call with one of the interpreter's allocations failing: for k = 0, 1, 2, ...
the k-th allocation after the call starts fails, until the call gets through. A run must get
through with the result of a run without failures, or raise MemoryError; never another error or a
crash, and its inputs stay as they were. Needs _testcapi.set_nomemory (a debug build's test
modules); skips without it.

A dynamic entry's call runs Python code in between, its writer's callbacks, and the interpreter
does not survive every allocation failing in Python code: one failing while it makes a generator
(a generator expression's, as Qiskit's code has many) corrupts its heap, and a later allocation
crashes. Its calls are split into stretches, the native code before, between and after the
callbacks, which run with no allocation failing: for each stretch s, and k = 0, 1, 2, ..., the k-th
allocation of stretch s fails, until the call gets through. Each run gets new arguments
(native_cases.calls), and must also write what a run without failures writes.

One exception besides MemoryError is Qiskit's: DAGOpNode._node_id, which the drop-in call reads
from every key of node_start_time, raises pyo3's PanicException when it cannot allocate the int.
"""

import gc

import pytest
from native_cases import GOOD, ONE_CALL_EACH, calls, inputs
from test_native_arguments import same, snapshot

try:
    import _testcapi
except ImportError:
    _testcapi = None

pytestmark = [
    pytest.mark.debug_build,
    pytest.mark.skipif(not hasattr(_testcapi, "set_nomemory"), reason="needs _testcapi.set_nomemory, from a debug build"),
]
MAX_K = 5_000
# The exception Qiskit's own getters raise when an allocation fails (see above).
QISKIT_FAILURES = tuple(
    cls for cls in BaseException.__subclasses__() if cls.__module__ == "pyo3_runtime" and cls.__name__ == "PanicException"
)


def call_failing(k, function, args, kwargs):
    _testcapi.set_nomemory(k, k + 1)
    try:
        return function(*args, **kwargs)
    finally:
        _testcapi.remove_mem_hooks()


def result_key(result):
    """What two results must share: the circuit or graph they describe."""
    if isinstance(result, tuple):  # pad: (dag, n_sequences, end, start times, first op, labelled)
        return (result[0], *result[1:])
    if hasattr(result, "get_all_nodes"):
        return result.get_all_nodes()
    return result if not type(result).__name__ == "PyCapsule" else type(result)


def outcome(function, result, kwargs):
    """What two runs must share: their results and, for an entry writing into `out`, what it wrote."""
    out = kwargs.get("out") if function in ONE_CALL_EACH else None
    return result_key(result), None if out is None else list(out)


# The writer's methods the native code calls (native/block_reader.hpp, block_writer.hpp,
# scheduled_blocks.hpp, dynamic_dd.cpp).
CALLBACKS = ("control_flow", "topological", "order", "body", "place", "labels", "unsupported", "labelled", "phase",
             "label_pulses")


class Stretches:
    """Fails allocation k of stretch s of one call of a dynamic entry (see above)."""

    def __init__(self, s, k, writer):
        self.s, self.k, self.at, self.reached = s, k, 0, False
        cls = type(writer)
        callbacks = {name: self._callback(getattr(cls, name)) for name in CALLBACKS if hasattr(cls, name)}
        writer.__class__ = type(cls.__name__, (cls,), callbacks)

    def begin(self):
        if self.at == self.s:
            self.reached = True
            _testcapi.set_nomemory(self.k, self.k + 1)

    def end(self):
        _testcapi.remove_mem_hooks()
        self.at += 1

    def _callback(self, method):
        """`method`, between the stretch it is called from and the next."""

        def callback(writer, *args):
            self.end()
            try:
                return method(writer, *args)
            finally:
                self.begin()

        return callback


def run_failing(stretches, function, args, kwargs):
    stretches.begin()
    try:
        return function(*args, **kwargs)
    finally:
        _testcapi.remove_mem_hooks()


def check_allocation_failures(make, expected):
    """The calls of make(), which gives the same arguments each time, with allocation k failing."""
    made = make()
    function, args, kwargs = made
    read = inputs(made)
    before = [snapshot(value) for value in read]
    for k in range(MAX_K):
        try:
            result = call_failing(k, function, args, kwargs)
        except (MemoryError, *QISKIT_FAILURES):
            gc.collect()
            assert all(same(b, value) for b, value in zip(before, read)), f"allocation {k} changed an input"
            continue
        assert outcome(function, result, kwargs) == expected
        return k
    pytest.fail(f"no run got through in {MAX_K} attempts")


def check_stretch_failures(make, expected):
    """The calls of a dynamic entry, with new arguments each, with allocation k of stretch s failing;
    the number of runs that failed."""
    failed = 0
    for s in range(MAX_K):
        for k in range(MAX_K):
            made = make()
            function, args, kwargs = made
            read = inputs(made)
            before = [snapshot(value) for value in read]
            stretches = Stretches(s, k, kwargs["writer"])
            try:
                result = run_failing(stretches, function, args, kwargs)
            except (MemoryError, *QISKIT_FAILURES):
                failed += 1
                gc.collect()
                assert all(same(b, value) for b, value in zip(before, read)), f"allocation {k} of stretch {s} changed an input"
                continue
            assert outcome(function, result, kwargs) == expected, f"stretch {s}, allocation {k}"
            del result
            break
        else:
            pytest.fail(f"no run got through stretch {s} in {MAX_K} attempts")
        if not stretches.reached:
            assert s > 1, "a dynamic call without a callback"
            return failed
    pytest.fail(f"more than {MAX_K} stretches")


@pytest.mark.parametrize("name", [name for name, case in GOOD.items() if case.nomemory])
def test_allocation_failures_raise_memory_error_or_get_through(name):
    make, _ = calls(GOOD[name])
    function, args, kwargs = make()
    expected = outcome(function, function(*args, **kwargs), kwargs)
    gc.collect()
    gc.disable()
    try:
        if function in ONE_CALL_EACH:
            failed = check_stretch_failures(make, expected)
        else:
            failed = check_allocation_failures(make, expected)
    finally:
        gc.enable()
    assert failed > 0, "the call allocates nothing the interpreter can make fail"
