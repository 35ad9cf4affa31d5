"""Importing _tarvex on the free-threaded interpreter and from several threads at once.

Every case runs in a fresh interpreter (a subprocess), so the import it looks at is the first one
in that process.
"""

import pytest

from conftest import free_threaded_only, run_fresh

GIL_WARNING = (
    "The global interpreter lock (GIL) has been enabled to load module '_tarvex', which has not"
    " declared that it can run safely without the GIL. To override this behavior and keep the"
    " GIL disabled (at your own risk), run with PYTHON_GIL=0 or -Xgil=0."
)

GIL_STATE = """
import json, sys, warnings
before = sys._is_gil_enabled()
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always")
    import _tarvex
print(json.dumps({
    "before": before,
    "after": sys._is_gil_enabled(),
    "warnings": [[w.category.__name__, str(w.message)] for w in caught],
}))
"""


@free_threaded_only
@pytest.mark.parametrize(
    ("python_gil", "gil_after", "expected_warnings"),
    [
        pytest.param(None, True, [["RuntimeWarning", GIL_WARNING]], id="default"),
        pytest.param("0", False, [], id="forced-off"),
    ],
)
def test_import_turns_the_gil_on_unless_forced_off(
    tmp_path, python_gil, gil_after, expected_warnings
):
    state = run_fresh(GIL_STATE, python_gil, cwd=tmp_path, timeout=120)
    assert state == {"before": False, "after": gil_after, "warnings": expected_warnings}


CONCURRENT_IMPORTS = """
import importlib, json, sys, threading

N_THREADS = 8
barrier = threading.Barrier(N_THREADS)
seen = [None] * N_THREADS

def worker(index):
    barrier.wait()
    module = importlib.import_module("_tarvex")
    seen[index] = (module, module.QuantumDAG, module.TarvexError)

def race():
    threads = [threading.Thread(target=worker, args=(i,)) for i in range(N_THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return seen[:]

first = race()
module = sys.modules["_tarvex"]
# A re-import after the module left sys.modules runs the initialisation function again.
del sys.modules["_tarvex"]
second = race()
print(json.dumps({
    "distinct": len({tuple(map(id, triple)) for triple in first + second}),
    "same_as_sys_modules": all(triple[0] is module for triple in first + second),
    "still_registered": sys.modules["_tarvex"] is module,
    "all": module.__all__,
}))
"""


@pytest.mark.parametrize(
    "python_gil",
    [
        pytest.param(None, id="default"),
        pytest.param("0", id="gil-forced-off", marks=free_threaded_only),
    ],
)
def test_concurrent_imports_share_one_module(tmp_path, python_gil):
    state = run_fresh(CONCURRENT_IMPORTS, python_gil, cwd=tmp_path, timeout=120)
    assert state == {
        "distinct": 1,
        "same_as_sys_modules": True,
        "still_registered": True,
        "all": ["TarvexError", "QuantumDAG"],
    }
