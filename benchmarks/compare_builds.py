"""Times two builds of _tarvex against each other on the benchmark circuit, in one process.

Made to tell whether a release wheel is slower than a build from source: both extension files are
loaded side by side, and every repeat runs each operation on both, the one that goes first
alternating, so that a shared machine's changing load falls on both alike.

Usage: python benchmarks/compare_builds.py A.so B.so [--n 1e6] [--repeats 9]
  e.g. A from `pip install .` in one venv, B from a wheel installed into another venv.
Needs numpy (for the circuit). Figures: ns of CPU time of the benchmark thread per source gate,
median of the repeats, the garbage collector off while timing; the ratio is B over A, with the
lowest and highest ratio of a single repeat beside it.
"""

from __future__ import annotations

import argparse
import gc
import importlib.util
import statistics
import sys
import time
from pathlib import Path
from collections.abc import Callable
from types import ModuleType
from typing import Any

sys.path.insert(0, str(Path(__file__).resolve().parent))
import workload  # noqa: E402

OPERATIONS = ["add_gate", "build_schedule", "find_idle_windows", "apply_dd_pass", "get_all_nodes", "pipeline"]
Gates = list[list[tuple[str, list[int], float]]]


def load(label: str, path: str) -> ModuleType:
    # Its own name per build: both stay loaded, each with its own types.
    spec = importlib.util.spec_from_file_location(f"{label}._tarvex", path)
    if spec is None or spec.loader is None:
        sys.exit(f"not an extension module: {path}")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def run_once(module: ModuleType, chunks: Gates) -> dict[str, int]:
    """ns of thread CPU time of each operation, then of the whole pipeline on a fresh graph."""
    ns: dict[str, int] = {}

    def timed(name: str, call: Callable[[], object]) -> None:
        start = time.thread_time_ns()
        result = call()
        ns[name] = time.thread_time_ns() - start
        del result  # freed outside the timed region

    def add_all(dag: Any) -> None:
        add = dag.add_gate
        for chunk in chunks:
            for name, qubits, duration_ns in chunk:
                add(name, qubits, duration_ns)

    dag = module.QuantumDAG()
    timed("add_gate", lambda: add_all(dag))
    timed("build_schedule", dag.build_schedule)
    timed("find_idle_windows", lambda: dag.find_idle_windows(100.0))
    timed("apply_dd_pass", dag.apply_dd_pass)
    timed("get_all_nodes", dag.get_all_nodes)
    del dag

    def pipeline() -> None:
        dag = module.QuantumDAG()
        add_all(dag)
        dag.build_schedule()
        padded = dag.apply_dd_pass()
        padded.build_schedule()
        padded.get_all_nodes()

    timed("pipeline", pipeline)
    return ns


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("a", help="the first build's extension file (the reference)")
    parser.add_argument("b", help="the second build's extension file")
    parser.add_argument("--n", type=float, default=1e6, help="gates in the circuit")
    parser.add_argument("--repeats", type=int, default=9)
    args = parser.parse_args()
    n = int(args.n)
    chunks = list(workload.chunks(workload.generate(n, workload.DEFAULT_SEED)))
    builds = {"A": load("a", args.a), "B": load("b", args.b)}
    print(f"A: {args.a}\nB: {args.b}\nN = {n:,}, {args.repeats} repeats")
    per_gate: dict[str, dict[str, list[float]]] = {label: {op: [] for op in OPERATIONS} for label in builds}
    for module in builds.values():
        run_once(module, chunks[:1])  # first calls: caches, name tables
    for repeat in range(args.repeats):
        order = ["A", "B"] if repeat % 2 == 0 else ["B", "A"]
        for label in order:
            gc.collect()
            gc.disable()
            try:
                ns = run_once(builds[label], chunks)
            finally:
                gc.enable()
            for op, value in ns.items():
                per_gate[label][op].append(value / n)
    print(f"{'operation':<20}{'A ns/gate':>12}{'B ns/gate':>12}{'B/A':>8}   B/A of one repeat")
    for op in OPERATIONS:
        a, b = per_gate["A"][op], per_gate["B"][op]
        ratios = [y / x for x, y in zip(a, b)]
        ma, mb = statistics.median(a), statistics.median(b)
        print(f"{op:<20}{ma:>12.2f}{mb:>12.2f}{mb / ma:>8.3f}   {min(ratios):.3f} .. {max(ratios):.3f}")


if __name__ == "__main__":
    main()
