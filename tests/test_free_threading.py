"""Importing _tarvex on the free-threaded interpreter and from several threads at once.

Every case runs in a fresh interpreter (a subprocess), so the import it looks at is the first one
in that process.
"""

from __future__ import annotations

import json
import os
import subprocess
import sys
import sysconfig

import pytest

FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
free_threaded_only = pytest.mark.skipif(
    not FREE_THREADED, reason="needs the free-threaded build of CPython"
)

GIL_WARNING = (
    "The global interpreter lock (GIL) has been enabled to load module '_tarvex', which has not"
    " declared that it can run safely without the GIL. To override this behavior and keep the"
    " GIL disabled (at your own risk), run with PYTHON_GIL=0 or -Xgil=0."
)


def run_python(code: str, tmp_path, python_gil: str | None = None) -> dict:
    """Runs `code` in a new interpreter and returns the JSON object it prints last."""
    env = dict(os.environ)
    env.pop("PYTHON_GIL", None)
    if python_gil is not None:
        env["PYTHON_GIL"] = python_gil
    done = subprocess.run(
        [sys.executable, "-c", code],
        cwd=tmp_path,
        env=env,
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout.splitlines()[-1])


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
    state = run_python(GIL_STATE, tmp_path, python_gil)
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
    state = run_python(CONCURRENT_IMPORTS, tmp_path, python_gil)
    assert state == {
        "distinct": 1,
        "same_as_sys_modules": True,
        "still_registered": True,
        "all": ["TarvexError", "QuantumDAG"],
    }
