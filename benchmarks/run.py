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
do not count). The garbage collector is off while timing, as timeit does, for every peer.
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

RESULTS_DIR = HERE / "results"
PAGE_BYTES = os.sysconf("SC_PAGE_SIZE")
IDLE_MIN_GAP_NS = 100.0

# Targets at N = 1e6 unless noted: (what, peer, bound, kind). "max_ratio": tarvex / peer at most
# bound; "min_speedup": peer / tarvex at least bound.
TARGETS = [
    ("add_gate", "call floor", 1.3, "max_ratio"),
    ("build_schedule", "reference", 100.0, "min_speedup"),
    ("find_idle_windows", "reference", 30.0, "min_speedup"),
    ("apply_dd_pass", "reference", 30.0, "min_speedup"),
    ("get_all_nodes", "reference", 3.0, "min_speedup"),
]
PIPELINE_TARGET_N = 100_000
PIPELINE_MIN_SPEEDUP = 30.0
SCALING_MAX = 1.5
GRAPH_BYTES_MAX = 80.0
SCHEDULE_BYTES_MAX = 16.0
RSS_SLACK_BYTES = 2 * 4096
# Rows that explain others; no target refers to them.
DIAGNOSTIC_ONLY = ("build_schedule rerun",)


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


def measure_size(n_gates: int, repeats: int, args, peers: dict) -> dict:
    """Median CPU seconds per figure for one N; every repeat runs all peers side by side."""
    from _tarvex import QuantumDAG

    indices = workload.generate(n_gates, args.seed)
    chunks = list(workload.chunks(indices))
    ReferenceDAG = peers["reference"] if n_gates <= args.ref_max_n else None
    qiskit = peers["qiskit"] if n_gates <= args.qiskit_max_n else None
    floor = peers["floor"]
    times: dict[str, list[float]] = {}
    faults: dict[str, list[int]] = {}
    facts: dict[str, int] = {}

    def record(key, seconds, n_faults):
        times.setdefault(key, []).append(seconds)
        faults.setdefault(key, []).append(n_faults)

    for rep in range(repeats):
        gc.collect()
        dag = QuantumDAG()
        ref = ReferenceDAG() if ReferenceDAG is not None else None
        adders = {"tarvex": (add_chunk, dag.add_gate), "loop_overhead": (empty_chunk, None)}
        if floor is not None:
            adders["call floor"] = (add_chunk, floor.add_gate)
            adders["call floor + id"] = (add_chunk, floor.add_gate_returning_id)
        if ref is not None:
            adders["reference"] = (add_chunk, ref.add_gate)
        for peer, (seconds, n_faults) in add_side_by_side(adders, chunks).items():
            record("loop_overhead" if peer == "loop_overhead" else f"add_gate/{peer}", seconds, n_faults)
        for peer, graph in (("tarvex", dag), ("reference", ref)):
            if graph is None:
                continue
            record(f"build_schedule/{peer}", *clock(graph.build_schedule)[:2])
            # Again on the same graph: the schedule's storage is there already.
            record(f"build_schedule rerun/{peer}", *clock(graph.build_schedule)[:2])
            seconds, n_faults, windows = clock(graph.find_idle_windows, IDLE_MIN_GAP_NS)
            record(f"find_idle_windows/{peer}", seconds, n_faults)
            facts[f"idle_windows/{peer}"] = n_windows = len(windows)
            del windows
            gc.collect()
            if peer == "tarvex" and floor is not None:
                # The same result objects made from values at hand: all of the time but the walk.
                record("find_idle_windows/objects only", *clock(floor.make_windows, n_windows)[:2])
                gc.collect()
            seconds, n_faults, padded = clock(graph.apply_dd_pass)
            record(f"apply_dd_pass/{peer}", seconds, n_faults)
            facts[f"dd_result_nodes/{peer}"] = padded.node_count()
            del padded
            gc.collect()
            seconds, n_faults, nodes = clock(graph.get_all_nodes)
            record(f"get_all_nodes/{peer}", seconds, n_faults)
            del nodes
            gc.collect()
            if peer == "tarvex" and floor is not None:
                n_two_qubit = workload.entry_count(indices) - n_gates
                record("get_all_nodes/objects only", *clock(floor.make_export, n_gates, n_two_qubit)[:2])
                gc.collect()
            record(f"get_node_schedule/{peer}", *clock(lookup_all, graph.get_node_schedule, n_gates)[:2])
        if floor is not None:
            # build_schedule's own writes, 8 bytes per gate, into memory the process does not hold.
            record("fresh memory/8 bytes per gate", *clock(floor.touch_fresh, 8 * n_gates)[:2])
        facts["nodes"] = dag.node_count()
        del dag, ref
        gc.collect()
        seconds, n_faults, exported = clock(pipeline, QuantumDAG, chunks)
        record("pipeline/tarvex", seconds, n_faults)
        facts["pipeline_nodes/tarvex"] = len(exported)
        del exported
        gc.collect()
        if ReferenceDAG is not None:
            seconds, n_faults, exported = clock(pipeline, ReferenceDAG, chunks)
            record("pipeline/reference", seconds, n_faults)
            del exported
            gc.collect()
        if qiskit is not None:
            seconds, n_faults, circuit = clock(qiskit.run, chunks)
            record("pipeline/qiskit", seconds, n_faults)
            facts["pipeline_instructions/qiskit"] = len(circuit.data)
            del circuit
            gc.collect()
        print(f"  N={n_gates:.0e} repeat {rep + 1}/{repeats} done", file=sys.stderr, flush=True)

    return {
        "n_gates": n_gates,
        "n_entries": workload.entry_count(indices),
        "repeats": repeats,
        "seconds": times,
        "minor_faults": faults,
        "median_ns_per_gate": {k: median(v) * 1e9 / n_gates for k, v in times.items()},
        "median_faults_per_gate": {k: median(v) / n_gates for k, v in faults.items()},
        "facts": facts,
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


def fmt_ns(v):
    if v is None:
        return "-"
    if v >= 1e5:
        return f"{v:,.0f}"
    return f"{v:.1f}" if v < 100 else f"{v:.0f}"


def fmt_ratio(r):
    return f"{r:.1f}x" if r < 10 else f"{r:.0f}x"


def fmt_n(n):
    return f"10^{len(str(n)) - 1}" if str(n).strip("0") == "1" else f"{n:,}"


OPERATIONS = (
    "add_gate",
    "build_schedule",
    "build_schedule rerun",
    "find_idle_windows",
    "apply_dd_pass",
    "get_all_nodes",
    "get_node_schedule",
    "pipeline",
)


def speed_rows(sizes: list[dict]) -> list[list[str]]:
    rows = []
    for op in OPERATIONS:
        for s in sizes:
            m = s["median_ns_per_gate"]
            ours = m.get(f"{op}/tarvex")
            if ours is None:
                continue
            faults = s["median_faults_per_gate"].get(f"{op}/tarvex", 0.0)
            cells = [op, fmt_n(s["n_gates"]), fmt_ns(ours), f"{faults * 1000:.0f}"]
            for peer in ("call floor", "reference", "qiskit"):
                theirs = m.get(f"{op}/{peer}")
                if theirs is None:
                    cells.append("-")
                elif peer == "call floor":
                    cells.append(f"{fmt_ns(theirs)} ({ours / theirs:.2f}x)")
                else:
                    cells.append(f"{fmt_ns(theirs)} ({fmt_ratio(theirs / ours)} faster)")
            rows.append(cells)
    return rows


def check_targets(sizes: list[dict], memory: list[dict]) -> list[list[str]]:
    by_n = {s["n_gates"]: s["median_ns_per_gate"] for s in sizes}
    checks = []

    def verdict(ok):
        return "met" if ok else "MISSED"

    m6 = by_n.get(1_000_000)
    for op, peer, bound, kind in TARGETS:
        if m6 is None or f"{op}/{peer}" not in m6:
            continue
        ours, theirs = m6[f"{op}/tarvex"], m6[f"{op}/{peer}"]
        if kind == "max_ratio":
            value = ours / theirs
            checks.append([f"{op} / {peer} at 10^6", f"<= {bound}x", f"{value:.2f}x", verdict(value <= bound)])
        else:
            value = theirs / ours
            checks.append([f"{op}: {peer} / tarvex at 10^6", f">= {bound:.0f}x", fmt_ratio(value), verdict(value >= bound)])
    m5 = by_n.get(PIPELINE_TARGET_N)
    if m5 is not None and "pipeline/qiskit" in m5:
        value = m5["pipeline/qiskit"] / m5["pipeline/tarvex"]
        checks.append(
            ["pipeline: qiskit / tarvex at 10^5", f">= {PIPELINE_MIN_SPEEDUP:.0f}x", fmt_ratio(value), verdict(value >= PIPELINE_MIN_SPEEDUP)]
        )
    small, large = by_n.get(100_000), by_n.get(10_000_000)
    if small is not None and large is not None:
        for op in OPERATIONS:
            if op in DIAGNOSTIC_ONLY:
                continue
            key = f"{op}/tarvex"
            if key in small and key in large:
                value = large[key] / small[key]
                checks.append([f"{op} per gate, 10^7 / 10^5", f"<= {SCALING_MAX}x", f"{value:.2f}x", verdict(value <= SCALING_MAX)])
    for mem in memory:
        if mem["peer"] != "tarvex":
            continue
        n = fmt_n(mem["n_gates"])
        g, s = mem["graph_bytes_per_gate"], mem["schedule_bytes_per_gate"]
        # RSS moves in pages: growth within RSS_SLACK_BYTES of the bound counts as meeting it.
        slack = RSS_SLACK_BYTES / mem["n_gates"]
        checks.append(
            [f"graph memory at {n}", f"<= {GRAPH_BYTES_MAX:.0f} B/gate", f"{g:.2f} B/gate", verdict(g <= GRAPH_BYTES_MAX + slack)]
        )
        checks.append(
            [f"schedule memory at {n}", f"<= {SCHEDULE_BYTES_MAX:.0f} B/gate", f"{s:.2f} B/gate", verdict(s <= SCHEDULE_BYTES_MAX + slack)]
        )
        if mem["n_gates"] == 10_000_000:
            gib = mem["peak_rss"] / 2**30
            checks.append(["peak RSS, 10^7 gates scheduled", "< 1 GiB (well under 2)", f"{gib:.2f} GiB", verdict(gib < 1.0)])
    return checks


def render(header: list[str], rows: list[list[str]]) -> str:
    lines = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    lines += ["| " + " | ".join(r) + " |" for r in rows]
    return "\n".join(lines)


def report(result: dict) -> str:
    sizes, memory = result["sizes"], result["memory"]
    parts = [
        f"ns per gate of the source circuit, median of {result['repeats']} repeats "
        "(more for N < 10^5); "
        f"reference model up to N = {fmt_n(result['ref_max_n'])}, Qiskit {result['qiskit_version'] or 'not installed'} "
        f"up to N = {fmt_n(result['qiskit_max_n'])}.",
        "",
        render(
            ["operation", "N", "tarvex", "page faults / 1000 gates", "call floor", "reference model", "Qiskit"],
            speed_rows(sizes),
        ),
    ]
    loop_rows = []
    for s in sizes:
        m = s["median_ns_per_gate"]
        if "add_gate/call floor" in m:
            loop, floor, ours = m["loop_overhead"], m["add_gate/call floor"], m["add_gate/tarvex"]
            with_id = m["add_gate/call floor + id"]
            loop_rows.append(
                [
                    fmt_n(s["n_gates"]),
                    fmt_ns(loop),
                    fmt_ns(floor),
                    f"{fmt_ns(with_id)} ({with_id / floor:.2f}x)",
                    f"{fmt_ns(ours)} ({ours / floor:.2f}x)",
                    f"{(ours - loop) / (floor - loop):.2f}x",
                ]
            )
    if loop_rows:
        header = [
            "N",
            "empty loop",
            "call floor",
            "call floor returning an int",
            "add_gate",
            "add_gate / call floor, loop subtracted",
        ]
        parts += ["", "add_gate's loop, ns per call:", "", render(header, loop_rows)]
    object_rows, fresh_rows = [], []
    for op in ("find_idle_windows", "get_all_nodes"):
        for s in sizes:
            m = s["median_ns_per_gate"]
            if f"{op}/objects only" not in m:
                continue
            ours, objects, model = m[f"{op}/tarvex"], m[f"{op}/objects only"], m.get(f"{op}/reference")
            object_rows.append(
                [
                    op,
                    fmt_n(s["n_gates"]),
                    fmt_ns(ours),
                    fmt_ns(objects),
                    fmt_ns(ours - objects),
                    fmt_ns(model),
                    "-" if model is None else fmt_ratio(model / objects),
                ]
            )
    for s in sizes:
        m = s["median_ns_per_gate"]
        if "fresh memory/8 bytes per gate" in m:
            fresh_rows.append(
                [
                    fmt_n(s["n_gates"]),
                    fmt_ns(m["build_schedule/tarvex"]),
                    fmt_ns(m["build_schedule rerun/tarvex"]),
                    fmt_ns(m["fresh memory/8 bytes per gate"]),
                ]
            )
    if object_rows:
        header = [
            "operation",
            "N",
            "tarvex",
            "its result objects alone",
            "the rest",
            "reference model",
            "model / objects alone (the best ratio possible)",
        ]
        parts += ["", "Result objects made from values at hand, ns per gate:", "", render(header, object_rows)]
    if fresh_rows:
        header = ["N", "build_schedule", "build_schedule rerun", "writing 8 bytes per gate into new memory"]
        parts += ["", "New memory, ns per gate:", "", render(header, fresh_rows)]
    if memory:
        mem_rows = [
            [
                m["peer"],
                fmt_n(m["n_gates"]),
                f"{m['graph_bytes_per_gate']:.2f}",
                f"{m['schedule_bytes_per_gate']:.2f}",
                f"{m['total_peak_bytes_per_gate']:.2f}",
                f"{m['peak_rss'] / 2**20:,.0f}",
            ]
            for m in memory
        ]
        parts += [
            "",
            render(["memory", "N", "graph B/gate", "schedule B/gate", "peak growth B/gate", "peak RSS MiB"], mem_rows),
        ]
    checks = check_targets(sizes, memory)
    if checks:
        parts += ["", render(["target", "bound", "measured", "verdict"], checks)]
    return "\n".join(parts)


def parse_sizes(text: str) -> list[int]:
    return [int(float(s)) for s in text.split(",") if s]


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
