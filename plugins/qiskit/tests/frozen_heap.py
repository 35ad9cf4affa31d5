"""What is alive once the suite is collected (Qiskit's modules, the devices, the tables of cases)
is moved out of the garbage collector's sight, so that a collection visits only what the tests
made since. The reference-count and allocation-failure tests collect after every round or failed
allocation, and a full collection on a debug build takes about half a second.
"""

from __future__ import annotations

import gc


def pytest_collection_finish(session) -> None:
    gc.collect()
    gc.freeze()
