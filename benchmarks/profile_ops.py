"""Runs each operation once on the benchmark circuit, for instruction counts under callgrind.

The installed modules are stripped; build copies with symbols (same -O3 code) first:
  py=$PWD/.venv-bench/bin/python
  cmake -S . -B build/bench-profile -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g \\
      -DPython_EXECUTABLE=$py && cmake --build build/bench-profile
  cmake -S benchmarks/call_floor -B build/bench-profile-floor -DCMAKE_BUILD_TYPE=Release \\
      -DCMAKE_CXX_FLAGS=-g -DPython_EXECUTABLE=$py && cmake --build build/bench-profile-floor
Then:
  OPENBLAS_NUM_THREADS=1 PYTHONPATH=build/bench-profile:build/bench-profile-floor \\
      valgrind --tool=callgrind --callgrind-out-file=/tmp/ops.cg \\
      .venv-bench/bin/python benchmarks/profile_ops.py --gates 100000
  callgrind_annotate --inclusive=yes /tmp/ops.cg | less
  callgrind_annotate --auto=yes /tmp/ops.cg | less      (per source line)

Each method's C entry point (`add_gate`, `build_schedule`, ...) then shows its inclusive count;
divide by the number of calls (or of gates) printed here. The call floor's `add_gate` runs on the
same gates first, so the two entries can be compared line by line.
"""

from __future__ import annotations

import argparse
import gc
import os
import sys
from pathlib import Path

# numpy's BLAS threads would spin beside the timed code on a small machine; the workload needs none.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import workload  # noqa: E402


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--gates", type=float, default=1e5)
    parser.add_argument("--seed", type=int, default=workload.DEFAULT_SEED)
    args = parser.parse_args()
    n_gates = int(args.gates)

    import _call_floor
    from _tarvex import QuantumDAG

    chunks = list(workload.chunks(workload.generate(n_gates, args.seed)))
    gc.disable()
    floor_add = _call_floor.add_gate
    for chunk in chunks:
        for name, qubits, duration_ns in chunk:
            floor_add(name, qubits, duration_ns)
    dag = QuantumDAG()
    add = dag.add_gate
    for chunk in chunks:
        for name, qubits, duration_ns in chunk:
            add(name, qubits, duration_ns)
    dag.build_schedule()
    dag.build_schedule()
    n_windows = len(dag.find_idle_windows(100.0))
    padded = dag.apply_dd_pass()
    n_exported = len(dag.get_all_nodes())
    get = dag.get_node_schedule
    for node_id in range(n_gates):
        get(node_id)
    print(
        f"{n_gates} gates ({workload.entry_count(workload.generate(n_gates, args.seed))} qubit entries): "
        f"add_gate x{n_gates} (and the floor's), build_schedule x2, find_idle_windows -> {n_windows} windows, "
        f"apply_dd_pass -> {padded.node_count()} nodes, get_all_nodes -> {n_exported}, get_node_schedule x{n_gates}"
    )


if __name__ == "__main__":
    main()
