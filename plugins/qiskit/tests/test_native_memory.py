"""Every good `_native` call with one of the interpreter's allocations failing: for k = 0, 1, 2, ...
the k-th allocation after the call starts fails, until the call gets through. A run must get
through with the result of a run without failures, or raise MemoryError; never another error or a
crash, and its inputs stay as they were. Needs _testcapi.set_nomemory (a debug build's test
modules); skips without it.

One exception besides MemoryError is Qiskit's: DAGOpNode._node_id, which the drop-in call reads
from every key of node_start_time, raises pyo3's PanicException when it cannot allocate the int.
"""

import gc

import pytest
from native_cases import GOOD, REPEATABLE
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


@pytest.mark.parametrize("name", [name for name, case in GOOD.items() if case.nomemory and name in REPEATABLE])
def test_allocation_failures_raise_memory_error_or_get_through(name):
    function, args, kwargs = GOOD[name].make()
    expected = result_key(function(*args, **kwargs))
    inputs = [*args, *kwargs.values()]
    before = [snapshot(value) for value in inputs]
    gc.collect()
    gc.disable()
    try:
        for k in range(MAX_K):
            try:
                result = call_failing(k, function, args, kwargs)
            except (MemoryError, *QISKIT_FAILURES):
                gc.collect()
                assert all(same(b, value) for b, value in zip(before, inputs)), f"allocation {k} changed an input"
                continue
            assert result_key(result) == expected
            del result
            break
        else:
            pytest.fail(f"no run got through in {MAX_K} attempts")
    finally:
        gc.enable()
    assert k > 0, "the call allocates nothing the interpreter can make fail"
