"""Runs a circuit of 10,000,000 gates through every stage and reports time per gate and peak memory.

Stages: add_gate for every gate, build_schedule, find_idle_windows(100.0), apply_dd_pass,
build_schedule on the padded graph, get_all_nodes on it. The export is checked against the
workload: the source gates in order, unchanged, with DD_X/DD_Y pairs between them.

Usage: .venv-bench/bin/python benchmarks/scale_10m.py [--gates N]
Run it as its own process: ru_maxrss counts the whole life of the process.
"""

from __future__ import annotations

import argparse
import ctypes
import gc
import json
import os
import resource
import sys
import time
from pathlib import Path

# numpy's BLAS threads would spin beside the timed code on a small machine; the workload needs none.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import workload  # noqa: E402

PAGE_BYTES = os.sysconf("SC_PAGE_SIZE")


def rss_bytes() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE_BYTES


def maxrss_bytes() -> int:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--gates", type=float, default=1e7)
    parser.add_argument("--seed", type=int, default=workload.DEFAULT_SEED)
    parser.add_argument("--out", type=Path, help="JSON file (default: benchmarks/results/scale-<time>.json)")
    args = parser.parse_args()
    n_gates = int(args.gates)

    from _tarvex import QuantumDAG

    gc.disable()
    indices = workload.generate(n_gates, args.seed)
    # The generator's freed temporaries go back to the system, so the graph cannot reuse them unseen.
    ctypes.CDLL(None).malloc_trim(0)
    stages = []
    base_rss = rss_bytes()

    def stage(name, clock, **facts):
        """Records one stage; `clock` is (CPU seconds, wall seconds) as from `timed`."""
        cpu_s, wall_s = clock
        stages.append(
            {
                "stage": name,
                "cpu_seconds": cpu_s,
                "wall_seconds": wall_s,
                "cpu_ns_per_gate": cpu_s * 1e9 / n_gates,
                "rss_bytes": rss_bytes(),
                "maxrss_bytes": maxrss_bytes(),
                **facts,
            }
        )
        print(
            f"{name:<26} {cpu_s:7.2f} s CPU {wall_s:7.2f} s wall {cpu_s * 1e9 / n_gates:7.1f} ns/gate "
            f"RSS {rss_bytes() / 2**20:6.0f} MiB  peak {maxrss_bytes() / 2**20:6.0f} MiB  {facts or ''}",
            flush=True,
        )

    def timed(fn, *args):
        c0, w0 = time.thread_time(), time.perf_counter()
        result = fn(*args)
        return (time.thread_time() - c0, time.perf_counter() - w0), result

    def add_chunk(add, chunk):
        for name, qubits, duration_ns in chunk:
            add(name, qubits, duration_ns)

    # The circuit never exists whole as Python objects: each chunk is built outside the clock.
    dag = QuantumDAG()
    add = dag.add_gate
    cpu_s = wall_s = 0.0
    for chunk in workload.chunks(indices):
        (c, w), _ = timed(add_chunk, add, chunk)
        cpu_s, wall_s = cpu_s + c, wall_s + w
    del add, chunk
    assert dag.node_count() == n_gates
    stage("add_gate", (cpu_s, wall_s), graph_bytes_per_gate=(rss_bytes() - base_rss) / n_gates)

    rss_before = rss_bytes()
    clock, _ = timed(dag.build_schedule)
    stage("build_schedule", clock, schedule_bytes_per_gate=(rss_bytes() - rss_before) / n_gates)
    assert dag.get_node_schedule(n_gates - 1) is not None

    clock, windows = timed(dag.find_idle_windows, 100.0)
    stage("find_idle_windows(100.0)", clock, windows=len(windows))
    assert windows and all(end - start >= 100.0 for _, start, end in windows[:1000])
    n_windows = len(windows)
    del windows

    clock, padded = timed(dag.apply_dd_pass)
    stage("apply_dd_pass", clock, result_nodes=padded.node_count())
    n_padded = padded.node_count()
    del dag
    stage("source graph dropped", (0.0, 0.0))

    clock, _ = timed(padded.build_schedule)
    stage("build_schedule (padded)", clock)

    clock, exported = timed(padded.get_all_nodes)
    stage("get_all_nodes (padded)", clock, exported=len(exported))

    # The export holds the source gates in order, unchanged, and DD pairs of 50 ns on one qubit.
    assert len(exported) == n_padded
    pool = workload.GATE_POOL
    source = iter(indices.tolist())
    n_dd = 0
    pending_x = None
    for name, qubits, duration_ns in exported:
        if name == "DD_X":
            assert pending_x is None and len(qubits) == 1 and duration_ns == 50.0
            pending_x = qubits[0]
        elif name == "DD_Y":
            assert qubits == [pending_x] and duration_ns == 50.0
            pending_x = None
            n_dd += 2
        else:
            assert pending_x is None
            assert (name, qubits, duration_ns) == pool[next(source)]
    assert next(source, None) is None and n_dd == n_padded - n_gates
    del exported
    print(f"export verified: {n_gates:,} source gates in order, {n_dd // 2:,} DD pairs", flush=True)

    summary = {
        "n_gates": n_gates,
        "n_entries": workload.entry_count(indices),
        "idle_windows": n_windows,
        "padded_nodes": n_padded,
        "baseline_rss_bytes": base_rss,
        "maxrss_bytes": maxrss_bytes(),
        "stages": stages,
        "total_cpu_ns_per_gate": sum(s["cpu_ns_per_gate"] for s in stages),
    }
    print(
        f"total {summary['total_cpu_ns_per_gate']:.0f} ns/gate of CPU time; peak RSS (ru_maxrss) {summary['maxrss_bytes'] / 2**30:.2f} GiB, "
        f"of which {base_rss / 2**20:.0f} MiB before the first gate"
    )
    out = args.out or HERE / "results" / time.strftime("scale-%Y%m%d-%H%M%S.json")
    out.parent.mkdir(parents=True, exist_ok=True)
    out.write_text(json.dumps(summary, indent=1))
    print(f"written: {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
