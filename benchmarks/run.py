"""Times _tarvex against its peers on the benchmark circuit, prints a table and writes JSON.

Peers, each measured side by side with _tarvex in the same repeat:
- the call floor (benchmarks/call_floor): a function that binds and converts add_gate's three
  arguments with the module's own code and stores nothing; from the same extension, the result
  objects of find_idle_windows and get_all_nodes made from values at hand, and the cost of
  writing 8 bytes per gate into memory the process does not hold yet;
- the pure-Python reference model (tests/reference_model.py), per operation;
- Qiskit, for the whole pipeline: build the circuit, ASAP scheduling and X/Y dynamical
  decoupling, against add_gate + build_schedule + apply_dd_pass + build_schedule + get_all_nodes.
Memory is measured in a fresh subprocess per N (resident-set growth per gate).

Usage: .venv-bench/bin/python benchmarks/run.py [--sizes 1e4,1e5,1e6,1e7] [--repeats 5]
Set up first with benchmarks/setup.sh. Every figure is the median of the repeats, in ns of CPU
time of the benchmark thread per gate of the source circuit (other processes on a shared machine
do not count). The garbage collector is off while timing, as timeit does, for every peer. The
tables and the targets' verdicts are made in benchmarks/run_report.py.
"""

from __future__ import annotations

import argparse
import ctypes
import gc
import json
import os
import platform
import resource
import statistics
import subprocess
import sys
import time
from pathlib import Path

# numpy's BLAS threads would spin beside the timed code on a small machine; the workload needs none.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

HERE = Path(__file__).resolve().parent
sys.path[:0] = [str(HERE), str(HERE.parent / "tests")]

import workload  # noqa: E402
from run_report import check_targets, report  # noqa: E402

RESULTS_DIR = HERE / "results"
PAGE_BYTES = os.sysconf("SC_PAGE_SIZE")
IDLE_MIN_GAP_NS = 100.0


def rss_bytes() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE_BYTES


def peak_rss_bytes() -> int:
    """The process's resident-set high-water mark (VmHWM), in bytes."""
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    raise RuntimeError("no VmHWM in /proc/self/status")


def release_free_memory() -> None:
    """Hands freed heap memory (the workload generator's temporaries) back to the system, so that
    the graph cannot reuse it unseen after the baseline is taken."""
    ctypes.CDLL(None).malloc_trim(0)


def reset_peak_rss() -> None:
    """Lowers the high-water mark to the current RSS (Linux 4.0 and later)."""
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")


def minor_faults() -> int:
    return resource.getrusage(resource.RUSAGE_SELF).ru_minflt


def clock(fn, *args):
    """(CPU seconds of this thread, minor page faults, result) of one call.

    Thread CPU time rather than wall time: on a shared machine the time other processes hold the
    cores does not count. Page faults show what fresh memory an operation touched.
    """
    f0 = minor_faults()
    t0 = time.thread_time_ns()
    result = fn(*args)
    t1 = time.thread_time_ns()
    return (t1 - t0) / 1e9, minor_faults() - f0, result


# The loop a user writes; chunks are built before any clock starts.
def add_chunk(add, chunk) -> None:
    for name, qubits, duration_ns in chunk:
        add(name, qubits, duration_ns)


def empty_chunk(_add, chunk) -> None:
    for name, qubits, duration_ns in chunk:
        pass


def add_side_by_side(peers: dict, chunks) -> dict:
    """Adds every chunk with each peer in turn, chunk by chunk, so that all of them meet the same
    conditions on the machine. Returns {peer: (CPU seconds, minor faults)} summed over chunks."""
    totals = {name: [0, 0] for name in peers}
    for chunk in chunks:
        for name, (run, add) in peers.items():
            f0 = minor_faults()
            t0 = time.thread_time_ns()
            run(add, chunk)
            t1 = time.thread_time_ns()
            totals[name][0] += t1 - t0
            totals[name][1] += minor_faults() - f0
    return {name: (ns / 1e9, faults) for name, (ns, faults) in totals.items()}


def lookup_all(get, n_gates: int) -> None:
    for node_id in range(n_gates):
        get(node_id)


def pipeline(dag_type, chunks):
    """add every gate, schedule, DD pass, schedule the result, export it."""
    dag = dag_type()
    add = dag.add_gate
    for chunk in chunks:
        for name, qubits, duration_ns in chunk:
            add(name, qubits, duration_ns)
    dag.build_schedule()
    padded = dag.apply_dd_pass()
    padded.build_schedule()
    return padded.get_all_nodes()


class QiskitPipeline:
    """The same job done with Qiskit: build the circuit, ASAP schedule, pad X/Y DD sequences.

    Durations go in through InstructionDurations in dt = 1 ns. Qiskit requires a DD sequence that
    composes to the identity, so it inserts X Y X Y of 25 ns each (100 ns, the same minimum idle
    as our DD_X/DD_Y pair of 50 ns each) plus the delays around them. Its output is not read back.
    """

    def __init__(self) -> None:
        from qiskit.circuit import Gate
        from qiskit.circuit.library import XGate, YGate
        from qiskit.transpiler import InstructionDurations

        table = [(name, list(qubits), int(d)) for name, qubits, d in workload.GATE_TABLE]
        assert all(float(d) == dd for (_, _, d), (*_, dd) in zip(table, workload.GATE_TABLE))
        table += [(g, [q], 25) for g in ("x", "y") for q in range(workload.N_QUBITS)]
        self.durations = InstructionDurations(table, dt=1e-9)
        self.dd_sequence = [XGate(), YGate(), XGate(), YGate()]
        self.custom = {
            name: Gate(name, len(qubits), [])
            for name, qubits, _ in workload.GATE_TABLE
            if name not in ("rz", "sx", "h", "cx", "ecr")
        }
        import qiskit

        self.version = qiskit.__version__

    def build(self, chunks):
        from qiskit import QuantumCircuit

        qc = QuantumCircuit(workload.N_QUBITS)
        rz, sx, h, cx, ecr, append = qc.rz, qc.sx, qc.h, qc.cx, qc.ecr, qc.append
        apply = {
            "rz": lambda q: rz(0.25, q[0]),
            "sx": lambda q: sx(q[0]),
            "h": lambda q: h(q[0]),
            "cx": lambda q: cx(q[0], q[1]),
            "ecr": lambda q: ecr(q[0], q[1]),
        }
        for name, gate in self.custom.items():
            apply[name] = lambda q, gate=gate: append(gate, q, copy=False)
        for chunk in chunks:
            for name, qubits, _duration_ns in chunk:
                apply[name](qubits)
        return qc

    def run(self, chunks):
        from qiskit.transpiler import PassManager
        from qiskit.transpiler.passes import ASAPScheduleAnalysis, PadDynamicalDecoupling

        qc = self.build(chunks)
        pm = PassManager(
            [ASAPScheduleAnalysis(self.durations), PadDynamicalDecoupling(self.durations, list(self.dd_sequence))]
        )
        return pm.run(qc)


def median(values):
    return statistics.median(values) if values else None


class Samples:
    """What the repeats of one N measured: CPU seconds and minor page faults per figure, one entry
    per repeat, under keys "<operation>/<peer>"; and counts of what the operations returned."""

    def __init__(self) -> None:
        self.seconds: dict[str, list[float]] = {}
        self.faults: dict[str, list[int]] = {}
        self.facts: dict[str, int] = {}

    def record(self, key: str, seconds: float, n_faults: int) -> None:
        self.seconds.setdefault(key, []).append(seconds)
        self.faults.setdefault(key, []).append(n_faults)


def measure_adds(samples: Samples, chunks, dag, ref, floor) -> None:
    """add_gate of every gate into `dag` (and into the model's `ref`, if any), side by side with
    the call floor and its id-returning variant (if built) and an empty loop over the same chunks."""
    adders = {"tarvex": (add_chunk, dag.add_gate), "loop_overhead": (empty_chunk, None)}
    if floor is not None:
        adders["call floor"] = (add_chunk, floor.add_gate)
        adders["call floor + id"] = (add_chunk, floor.add_gate_returning_id)
    if ref is not None:
        adders["reference"] = (add_chunk, ref.add_gate)
    for peer, (seconds, n_faults) in add_side_by_side(adders, chunks).items():
        samples.record("loop_overhead" if peer == "loop_overhead" else f"add_gate/{peer}", seconds, n_faults)


def measure_operations(samples: Samples, peer: str, graph, floor, indices, n_gates: int) -> None:
    """Every operation of one peer on its built, unscheduled `graph`, in pipeline order:
    build_schedule, build_schedule again, find_idle_windows, apply_dd_pass, get_all_nodes and one
    get_node_schedule per gate. With `floor` (ours only), also the same result objects made from
    values at hand. Each result is dropped and collected before the next clock starts, so no
    figure pays for freeing another's objects."""
    record = samples.record
    record(f"build_schedule/{peer}", *clock(graph.build_schedule)[:2])
    # Again on the same graph: the schedule's storage is there already.
    record(f"build_schedule rerun/{peer}", *clock(graph.build_schedule)[:2])
    seconds, n_faults, windows = clock(graph.find_idle_windows, IDLE_MIN_GAP_NS)
    record(f"find_idle_windows/{peer}", seconds, n_faults)
    samples.facts[f"idle_windows/{peer}"] = n_windows = len(windows)
    del windows
    gc.collect()
    if floor is not None:
        # The same result objects made from values at hand: all of the time but the walk.
        record("find_idle_windows/objects only", *clock(floor.make_windows, n_windows)[:2])
        gc.collect()
    seconds, n_faults, padded = clock(graph.apply_dd_pass)
    record(f"apply_dd_pass/{peer}", seconds, n_faults)
    samples.facts[f"dd_result_nodes/{peer}"] = padded.node_count()
    del padded
    gc.collect()
    seconds, n_faults, nodes = clock(graph.get_all_nodes)
    record(f"get_all_nodes/{peer}", seconds, n_faults)
    del nodes
    gc.collect()
    if floor is not None:
        n_two_qubit = workload.entry_count(indices) - n_gates
        record("get_all_nodes/objects only", *clock(floor.make_export, n_gates, n_two_qubit)[:2])
        gc.collect()
    record(f"get_node_schedule/{peer}", *clock(lookup_all, graph.get_node_schedule, n_gates)[:2])


def measure_graphs(samples: Samples, chunks, indices, n_gates: int, reference_type, floor) -> None:
    """One repeat's graph figures: adds side by side, then each peer's operations on the graph it
    built, then (with the call floor) the cost of new memory. Both graphs are freed on return."""
    from _tarvex import QuantumDAG

    gc.collect()
    dag = QuantumDAG()
    ref = reference_type() if reference_type is not None else None
    measure_adds(samples, chunks, dag, ref, floor)
    measure_operations(samples, "tarvex", dag, floor, indices, n_gates)
    if ref is not None:
        measure_operations(samples, "reference", ref, None, indices, n_gates)
    if floor is not None:
        # build_schedule's own writes, 8 bytes per gate, into memory the process does not hold.
        samples.record("fresh memory/8 bytes per gate", *clock(floor.touch_fresh, 8 * n_gates)[:2])
    samples.facts["nodes"] = dag.node_count()
    del dag, ref
    gc.collect()


def measure_pipelines(samples: Samples, chunks, reference_type, qiskit) -> None:
    """One repeat's whole pipeline, from the gates to the exported result, with ours, the model
    (if given) and Qiskit (if given), each result freed before the next starts."""
    from _tarvex import QuantumDAG

    seconds, n_faults, exported = clock(pipeline, QuantumDAG, chunks)
    samples.record("pipeline/tarvex", seconds, n_faults)
    samples.facts["pipeline_nodes/tarvex"] = len(exported)
    del exported
    gc.collect()
    if reference_type is not None:
        seconds, n_faults, exported = clock(pipeline, reference_type, chunks)
        samples.record("pipeline/reference", seconds, n_faults)
        del exported
        gc.collect()
    if qiskit is not None:
        seconds, n_faults, circuit = clock(qiskit.run, chunks)
        samples.record("pipeline/qiskit", seconds, n_faults)
        samples.facts["pipeline_instructions/qiskit"] = len(circuit.data)
        del circuit
        gc.collect()


def measure_size(n_gates: int, repeats: int, args, peers: dict) -> dict:
    """Median CPU seconds per figure for one N; every repeat runs all peers side by side. The model
    runs up to --ref-max-n gates, Qiskit up to --qiskit-max-n."""
    indices = workload.generate(n_gates, args.seed)
    chunks = list(workload.chunks(indices))
    reference_type = peers["reference"] if n_gates <= args.ref_max_n else None
    qiskit = peers["qiskit"] if n_gates <= args.qiskit_max_n else None
    samples = Samples()
    for rep in range(repeats):
        measure_graphs(samples, chunks, indices, n_gates, reference_type, peers["floor"])
        measure_pipelines(samples, chunks, reference_type, qiskit)
        print(f"  N={n_gates:.0e} repeat {rep + 1}/{repeats} done", file=sys.stderr, flush=True)
    return {
        "n_gates": n_gates,
        "n_entries": workload.entry_count(indices),
        "repeats": repeats,
        "seconds": samples.seconds,
        "minor_faults": samples.faults,
        "median_ns_per_gate": {k: median(v) * 1e9 / n_gates for k, v in samples.seconds.items()},
        "median_faults_per_gate": {k: median(v) / n_gates for k, v in samples.faults.items()},
        "facts": samples.facts,
    }


def memory_child(n_gates: int, seed: int, peer: str) -> None:
    """Run in a fresh process: RSS growth per gate after adding N gates and after scheduling."""
    if peer == "tarvex":
        from _tarvex import QuantumDAG as DagType
    else:
        from reference_model import ReferenceDAG as DagType
    indices = workload.generate(n_gates, seed)
    gc.disable()
    release_free_memory()
    # One chunk exists at any time; the first is built before the baseline so it is not counted.
    chunk_iter = workload.chunks(indices)
    chunk = next(chunk_iter, [])
    dag = DagType()
    add = dag.add_gate
    reset_peak_rss()
    base_rss = rss_bytes()
    while chunk:
        for name, qubits, duration_ns in chunk:
            add(name, qubits, duration_ns)
        chunk = next(chunk_iter, [])
    added_rss, added_peak = rss_bytes(), peak_rss_bytes()
    dag.build_schedule()
    scheduled_rss, scheduled_peak = rss_bytes(), peak_rss_bytes()
    json.dump(
        {
            "n_gates": n_gates,
            "peer": peer,
            "baseline_rss": base_rss,
            "graph_bytes_per_gate": (added_rss - base_rss) / n_gates,
            "schedule_bytes_per_gate": (scheduled_rss - added_rss) / n_gates,
            "graph_peak_bytes_per_gate": (added_peak - base_rss) / n_gates,
            "total_peak_bytes_per_gate": (scheduled_peak - base_rss) / n_gates,
            "peak_rss": scheduled_peak,
            "peak_growth": scheduled_peak - base_rss,
        },
        sys.stdout,
    )


def measure_memory(n_gates: int, seed: int, peer: str) -> dict:
    out = subprocess.run(
        [sys.executable, __file__, "--memory-child", str(n_gates), "--memory-peer", peer, "--seed", str(seed)],
        check=True,
        capture_output=True,
        text=True,
    )
    return json.loads(out.stdout)


def parse_sizes(text: str) -> list[int]:
    return [int(float(s)) for s in text.split(",") if s]


def load_peers() -> dict:
    """The peers this environment has: the call floor module, the model's class and the Qiskit
    pipeline, None for one that is not installed (said on stderr)."""
    peers = {"floor": None, "reference": None, "qiskit": None}
    try:
        import _call_floor

        peers["floor"] = _call_floor
    except ImportError:
        print("call floor not built (run benchmarks/setup.sh): skipped", file=sys.stderr)
    from reference_model import ReferenceDAG

    peers["reference"] = ReferenceDAG
    try:
        peers["qiskit"] = QiskitPipeline()
    except ImportError:
        print("qiskit not installed (run benchmarks/setup.sh): skipped", file=sys.stderr)
    return peers


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--sizes", default="1e4,1e5,1e6,1e7", help="comma-separated gate counts")
    parser.add_argument("--repeats", type=int, default=5, help="repeats per figure (median quoted)")
    parser.add_argument("--ref-max-n", type=float, default=1e6, help="largest N for the reference model")
    parser.add_argument("--qiskit-max-n", type=float, default=1e6, help="largest N for Qiskit")
    parser.add_argument("--no-memory", action="store_true", help="skip the memory subprocesses")
    parser.add_argument("--seed", type=int, default=workload.DEFAULT_SEED)
    parser.add_argument("--out", type=Path, help="JSON file (default: benchmarks/results/run-<time>.json)")
    parser.add_argument("--report", type=Path, help="print the tables of an earlier JSON result and exit")
    parser.add_argument("--memory-child", type=int, help=argparse.SUPPRESS)
    parser.add_argument("--memory-peer", default="tarvex", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.memory_child is not None:
        memory_child(args.memory_child, args.seed, args.memory_peer)
        return
    if args.report is not None:
        print(report(json.loads(args.report.read_text())))
        return
    args.ref_max_n, args.qiskit_max_n = int(args.ref_max_n), int(args.qiskit_max_n)
    peers = load_peers()
    sizes = parse_sizes(args.sizes)
    gc.disable()
    measured = []
    for n in sizes:
        # Small circuits take microseconds per figure: more repeats steady their medians.
        repeats = args.repeats * max(1, min(10, 100_000 // n))
        measured.append(measure_size(n, repeats, args, peers))
    gc.enable()
    memory = []
    if not args.no_memory:
        for n in sizes:
            memory.append(measure_memory(n, args.seed, "tarvex"))
            if n <= args.ref_max_n:
                memory.append(measure_memory(n, args.seed, "reference"))
    result = {
        "python": sys.version,
        "machine": platform.machine(),
        "processor": platform.processor(),
        "qiskit_version": peers["qiskit"].version if peers["qiskit"] else None,
        "repeats": args.repeats,
        "ref_max_n": args.ref_max_n,
        "qiskit_max_n": args.qiskit_max_n,
        "seed": args.seed,
        "sizes": measured,
        "memory": memory,
    }
    text = report(result)
    result["targets"] = check_targets(measured, memory)
    print(text)
    out = args.out or RESULTS_DIR / time.strftime("run-%Y%m%d-%H%M%S.json")
    out.parent.mkdir(parents=True, exist_ok=True)
    out.write_text(json.dumps(result, indent=1))
    print(f"\nwritten: {out}")


if __name__ == "__main__":
    main()
