"""Times tarvex_qiskit's passes against Qiskit's own, circuit in to circuit out, and checks equality.

The circuit: layered random circuits on a 27-qubit GenericBackendV2: per layer, CX on a random
matching of the coupling map and, on about 70% of the other qubits, one of sx, x or rz; all
qubits measured at the end. Sizes of 10^4, 10^5 and 10^6 gates.

Pipelines, each a PassManager run on the circuit (so every figure includes Qiskit's own
conversions from circuit to DAG and back, which both sides pay):
- Qiskit DD: ALAPScheduleAnalysis + PadDynamicalDecoupling([x, x]), the reference;
- fused DD: tarvex_qiskit.PadDynamicalDecoupling alone (it schedules), start times not recorded;
- fused DD, recorded: the same with record_start_times=True (qc.op_start_times as Qiskit's);
- fused DD, no label scan: the same with keep_labels=False, which keeps only the barriers' labels
  and skips the walk over the instructions that finds the others (the C API does not read labels);
- drop-in DD: ALAPScheduleAnalysis + tarvex_qiskit.PadDynamicalDecoupling (records, as default);
- Qiskit delay / fused delay: the same with PadDelay.
Every native output is asserted equal to Qiskit's on the first repeat: instruction by instruction,
registers, global phase exactly, op_start_times when recorded, and Qiskit's own == up to
FULL_EQUALITY_MAX instructions.

Figures are the median of the repeats in ns of CPU time of the benchmark thread per source gate,
the garbage collector off while timing. Peak memory is the resident set's high-water mark of a
fresh process that builds the circuit and runs one pipeline once; "circuit only" builds it and runs
none (the circuit's share, which every pipeline pays). The memory Python and Qiskit freed while the
circuit was built is reused by the pipeline, so the difference to "circuit only" understates a
pipeline's own need; the comparison between pipelines is what the figure is for. "PassManager
conversions" is the part of every pipeline that no pass can avoid: Qiskit's circuit-to-DAG
conversion of the input and DAG-to-circuit conversion of the (equal) output; the ceiling is the
speed-up a pass costing nothing would reach. "DD passes alone" times the passes on a DAG with no
PassManager around them: what each side's passes cost.

Usage: python benchmarks/qiskit_passes.py [--sizes 1e4,1e5,1e6] [--repeats 5] [--report FILE]
Needs Qiskit 2.6 and the plugin in the interpreter's environment (pip install ./plugins/qiskit).
Writes benchmarks/results/qiskit-*.json and prints the tables of benchmarks/qiskit_report.py.
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import platform
import random
import statistics
import subprocess
import sys
import time
from pathlib import Path
from typing import Any

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import qiskit  # noqa: E402
from qiskit import QuantumCircuit  # noqa: E402
from qiskit.circuit.library import XGate  # noqa: E402
from qiskit.converters import circuit_to_dag, dag_to_circuit  # noqa: E402
from qiskit.passmanager.compilation_status import PropertySet  # noqa: E402
from qiskit.providers.fake_provider import GenericBackendV2  # noqa: E402
from qiskit.transpiler import PassManager  # noqa: E402
from qiskit.transpiler.passes import ALAPScheduleAnalysis  # noqa: E402
from qiskit.transpiler.passes import PadDelay as QiskitPadDelay  # noqa: E402
from qiskit.transpiler.passes import PadDynamicalDecoupling as QiskitPadDD  # noqa: E402

import tarvex_qiskit  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parent))
from qiskit_report import report  # noqa: E402

RESULTS_DIR = Path(__file__).resolve().parent / "results"
N_QUBITS = 27
SEED = 11


def backend() -> GenericBackendV2:
    return GenericBackendV2(N_QUBITS, seed=SEED)


def layered_circuit(be: GenericBackendV2, n_gates: int, seed: int = SEED) -> QuantumCircuit:
    rng = random.Random(seed)
    edges = list(be.coupling_map.get_edges())
    qc = QuantumCircuit(N_QUBITS, N_QUBITS)
    count = 0
    while count < n_gates:
        rng.shuffle(edges)
        busy: set[int] = set()
        for a, b in edges[: N_QUBITS // 4]:
            if a not in busy and b not in busy:
                busy.update((a, b))
                qc.cx(a, b)
                count += 1
        for q in range(N_QUBITS):
            if q in busy or rng.random() < 0.3:
                continue
            k = rng.random()
            if k < 0.5:
                qc.sx(q)
            elif k < 0.7:
                qc.x(q)
            else:
                qc.rz(rng.uniform(-3.0, 3.0), q)
            count += 1
    qc.measure(range(N_QUBITS), range(N_QUBITS))
    return qc


def pipelines(target) -> dict[str, object]:
    """name -> function making a fresh PassManager; the first is the reference of its family."""
    seq = [XGate(), XGate()]
    return {
        "qiskit_dd": lambda: PassManager([ALAPScheduleAnalysis(target=target), QiskitPadDD(target=target, dd_sequence=seq)]),
        "fused_dd": lambda: PassManager([tarvex_qiskit.PadDynamicalDecoupling(target=target, dd_sequence=seq)]),
        "fused_dd_recorded": lambda: PassManager(
            [tarvex_qiskit.PadDynamicalDecoupling(target=target, dd_sequence=seq, record_start_times=True)]
        ),
        "fused_dd_no_label_scan": lambda: PassManager(
            [tarvex_qiskit.PadDynamicalDecoupling(target=target, dd_sequence=seq, keep_labels=False)]
        ),
        "dropin_dd": lambda: PassManager(
            [ALAPScheduleAnalysis(target=target), tarvex_qiskit.PadDynamicalDecoupling(target=target, dd_sequence=seq)]
        ),
        "qiskit_delay": lambda: PassManager([ALAPScheduleAnalysis(target=target), QiskitPadDelay(target=target)]),
        "fused_delay": lambda: PassManager([tarvex_qiskit.PadDelay(target=target)]),
    }


REFERENCE = {
    "fused_dd": "qiskit_dd",
    "fused_dd_recorded": "qiskit_dd",
    "fused_dd_no_label_scan": "qiskit_dd",
    "dropin_dd": "qiskit_dd",
    "fused_delay": "qiskit_delay",
}
RECORDED = {"fused_dd_recorded", "dropin_dd", "qiskit_dd", "qiskit_delay"}


def timed(make, circuit) -> tuple[float, QuantumCircuit]:
    gc.collect()
    gc.disable()
    try:
        start = time.thread_time()
        out = make().run(circuit)
        return time.thread_time() - start, out
    finally:
        gc.enable()


# Qiskit's == compares the circuits' DAGs by graph isomorphism, whose cost grows faster than the
# circuit: 0.3 s at 10^4 gates, 31 s at 10^5. Above this size only the instruction-by-instruction
# comparison (stricter: the same order as well) runs.
FULL_EQUALITY_MAX = 200_000


def check_equal(name: str, got: QuantumCircuit, reference: QuantumCircuit) -> None:
    assert list(got.data) == list(reference.data), f"{name}: instructions differ from Qiskit's"
    assert (got.qregs, got.cregs) == (reference.qregs, reference.cregs), f"{name}: registers differ"
    if len(reference.data) <= FULL_EQUALITY_MAX:
        assert got == reference, f"{name}: output differs from Qiskit's"
    assert got.global_phase == reference.global_phase, f"{name}: global phase differs"
    if name in RECORDED:
        assert got.op_start_times == reference.op_start_times, f"{name}: start times differ"


def measure_size(n_gates: int, repeats: int) -> dict[str, object]:
    be = backend()
    circuit = layered_circuit(be, n_gates)
    makers = pipelines(be.target)
    seconds: dict[str, list[float]] = {name: [] for name in makers}
    outputs: dict[str, QuantumCircuit] = {}
    floor: list[float] = []
    for rep in range(repeats):
        for name, make in makers.items():
            elapsed, out = timed(make, circuit)
            seconds[name].append(elapsed)
            if rep == 0:
                outputs[name] = out
                if name in REFERENCE:
                    check_equal(name, out, outputs[REFERENCE[name]])
                if name == "qiskit_dd":
                    qiskit_output = out
        floor.append(conversions(circuit, qiskit_output))
        for name, elapsed in passes_alone(circuit, be.target).items():
            seconds.setdefault(name, []).append(elapsed)
        outputs.clear()  # the checks ran on the first repeat; keep memory flat for the rest
        print(f"  N={n_gates:.0e} repeat {rep + 1}/{repeats} done", file=sys.stderr, flush=True)
    gates = len(circuit.data)
    ns = {name: statistics.median(v) / gates * 1e9 for name, v in seconds.items()}
    ns["conversions"] = statistics.median(floor) / gates * 1e9
    memory = {name: peak_rss(name, n_gates) for name in ("none", "qiskit_dd", "fused_dd", "fused_dd_recorded")}
    return {"n_gates": gates, "ns_per_gate": ns, "peak_rss_mib": memory}


def peak_rss(name: str, n_gates: int) -> float:
    """Peak resident set in MiB of a fresh process that builds the circuit and runs `name` once
    ("none": no pipeline)."""
    out = subprocess.run(
        [sys.executable, __file__, "--peak", name, str(n_gates)], capture_output=True, text=True, check=True
    ).stdout
    return float(out.split()[0])


def peak_child(name: str, n_gates: int) -> None:
    be = backend()
    circuit = layered_circuit(be, n_gates)
    if name != "none":
        pipelines(be.target)[name]().run(circuit)
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                print(int(line.split()[1]) / 1024)
                return
    raise RuntimeError("VmHWM not in /proc/self/status")


def passes_alone(circuit: QuantumCircuit, target) -> dict[str, float]:
    """CPU seconds of the DD passes alone on a DAG, each after the passes it requires, without
    PassManager's conversions: Qiskit's ALAPScheduleAnalysis + PadDynamicalDecoupling, and the
    fused native pass."""
    seq = [XGate(), XGate()]
    seconds = {}
    for name, passes in (
        ("qiskit_dd_passes", [ALAPScheduleAnalysis(target=target), QiskitPadDD(target=target, dd_sequence=seq)]),
        ("fused_dd_pass", [tarvex_qiskit.PadDynamicalDecoupling(target=target, dd_sequence=seq)]),
    ):
        dag = circuit_to_dag(circuit)  # Qiskit's padding takes the delays out of the DAG it is given
        property_set = PropertySet()
        gc.collect()
        gc.disable()
        try:
            start = time.thread_time()
            for step in (required for p in passes for required in (*p.requires, p)):
                step.property_set = property_set
                dag = step.run(dag) or dag  # an analysis returns None
            seconds[name] = time.thread_time() - start
        finally:
            gc.enable()
    return seconds


def conversions(circuit: QuantumCircuit, output: QuantumCircuit) -> float:
    """CPU seconds of PassManager's own conversions: the input to a DAG, `output` back."""
    out_dag = circuit_to_dag(output)
    gc.collect()
    gc.disable()
    try:
        start = time.thread_time()
        circuit_to_dag(circuit, copy_operations=True)
        dag_to_circuit(out_dag, copy_operations=False)
        return time.thread_time() - start
    finally:
        gc.enable()


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--sizes", default="1e4,1e5,1e6")
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--report", type=Path, help="print the table of a saved run and exit")
    parser.add_argument("--peak", nargs=2, metavar=("PIPELINE", "N"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.peak:
        peak_child(args.peak[0], int(args.peak[1]))
        return
    if args.report:
        print(report(json.loads(args.report.read_text())))
        return
    sizes = [int(float(s)) for s in args.sizes.split(",")]
    result: dict[str, Any] = {
        "machine": {"platform": platform.platform(), "python": platform.python_version(), "qiskit": qiskit.__version__},
        "repeats": args.repeats,
        "sizes": [],
    }
    RESULTS_DIR.mkdir(exist_ok=True)
    path = RESULTS_DIR / time.strftime("qiskit-%Y%m%d-%H%M%S.json")
    for n in sizes:  # saved after each size, so a long run that stops keeps what it measured
        result["sizes"].append(measure_size(n, args.repeats))
        path.write_text(json.dumps(result, indent=1))
    print(report(result))
    print(f"\nsaved {path}")


if __name__ == "__main__":
    main()
