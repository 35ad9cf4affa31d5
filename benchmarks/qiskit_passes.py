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

`--table fez` times the passes, the direct path and the executor's DD pass manager on IBM's
156-qubit FakeFez snapshot instead: see FEZ_DOC below.

Usage: python benchmarks/qiskit_passes.py [--table generic|fez] [--sizes 1e4,1e5,1e6] [--repeats 5]
       [--report FILE]
Needs Qiskit 2.6 and the plugin in the interpreter's environment (pip install ./plugins/qiskit);
the fez table also needs qiskit-ibm-runtime 0.51 (benchmarks/setup.sh installs both).
Writes benchmarks/results/qiskit-*.json (qiskit-fez-*.json) and prints the tables of
benchmarks/qiskit_report.py (qiskit_fez_report.py).
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
from qiskit.transpiler.basepasses import AnalysisPass  # noqa: E402
from qiskit.transpiler.passes import ALAPScheduleAnalysis  # noqa: E402
from qiskit.transpiler.passes import PadDelay as QiskitPadDelay  # noqa: E402
from qiskit.transpiler.passes import PadDynamicalDecoupling as QiskitPadDD  # noqa: E402

import tarvex_qiskit  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parent))
import qiskit_fez_report  # noqa: E402
from qiskit_report import report  # noqa: E402

RESULTS_DIR = Path(__file__).resolve().parent / "results"
N_QUBITS = 27
SEED = 11


def backend() -> GenericBackendV2:
    return GenericBackendV2(N_QUBITS, seed=SEED)


def layered_circuit(be: Any, n_gates: int, seed: int = SEED, two_qubit: str = "cx") -> QuantumCircuit:
    """About `n_gates` gates in layers on the backend's qubits (per layer, `two_qubit` on a random
    matching of a quarter of the coupling map's edges, one of sx, x, rz on about 70% of the other
    qubits), then every qubit measured."""
    rng = random.Random(seed)
    n_qubits = be.num_qubits
    edges = list(be.coupling_map.get_edges())
    qc = QuantumCircuit(n_qubits, n_qubits)
    count = 0
    while count < n_gates:
        rng.shuffle(edges)
        busy: set[int] = set()
        for a, b in edges[: n_qubits // 4]:
            if a not in busy and b not in busy:
                busy.update((a, b))
                getattr(qc, two_qubit)(a, b)
                count += 1
        for q in range(n_qubits):
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
    qc.measure(range(n_qubits), range(n_qubits))
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


FEZ_DOC = """The FakeFez table: the passes on IBM's 156-qubit device snapshot (qiskit-ibm-runtime's
FakeFez: CZ, dt 4 ns), the XX sequence throughout.

Circuits: layered circuits in FakeFez's own gates (per layer, CZ on a random matching of the
coupling map and one of sx, x or rz on about 70% of the other qubits; all qubits measured at the
end) from 10^2 to 10^6 instructions; for the fixed cost, GHZ circuits transpiled to FakeFez at
optimization level 1 (13 to 797 instructions).

Columns, ns of CPU per instruction (median of the repeats), each speed-up against its peer timed in
the same repeat; every pass manager and pass is built once per table, run once untimed, then on
every repeat; a repeat times one call, or for circuits under 20,000 instructions a batch of calls
on the same circuit (20,000 instructions in all), after a garbage collection:
- Qiskit: PassManager([ALAPScheduleAnalysis, PadDynamicalDecoupling([X, X])]), the peer of the next two;
- fused in a PassManager: PassManager([tarvex_qiskit.PadDynamicalDecoupling(..., [X, X])]);
- direct: tarvex_qiskit.decouple(circuit, target, [X, X]), circuit to circuit with no DAG, keeping
  every instruction's label as Qiskit does (a walk over the instructions in Python, about 200 ns
  each); direct, keep_labels=False: the same keeping only the barriers' labels, which are found
  natively;
- executor: tarvex_qiskit.ibm.generate_dd_pass_manager(FakeFez(), XX options).run, against
  qiskit_ibm_runtime.executor.dynamical_decoupling.generate_dd_pass_manager's (the runtime's).
Fixed cost, us of CPU per call on the GHZ circuits: "empty PassManager" is a PassManager holding one
pass that does nothing, i.e. the circuit-to-DAG-and-back conversions every PassManager run pays (a
PassManager with no pass at all returns its input untouched); "pass alone" runs the fused pass on a
DAG with no PassManager around it.
Outputs are asserted equal on the first repeat: fused and direct against Qiskit's instruction by
instruction, with registers, global phase and duration; direct against fused wholly (name,
metadata, start times, layout, latencies too), and without labels against with them; the
executor's against the runtime's wholly, start times included.
"""

FEZ_COLUMNS = {
    "qiskit": "PassManager([ALAPScheduleAnalysis, PadDynamicalDecoupling([x, x])]).run, Qiskit's own",
    "fused_pm": "PassManager([tarvex_qiskit.PadDynamicalDecoupling([x, x])]).run",
    "direct": "tarvex_qiskit.decouple(circuit, target, [x, x])",
    "direct_unlabelled": "tarvex_qiskit.decouple(circuit, target, [x, x], keep_labels=False)",
    "runtime": "qiskit_ibm_runtime.executor.dynamical_decoupling.generate_dd_pass_manager(FakeFez(), XX).run",
    "executor": "tarvex_qiskit.ibm.generate_dd_pass_manager(FakeFez(), XX).run (the direct path)",
    "empty_pm": "PassManager([a pass that does nothing]).run: the circuit-to-DAG-and-back conversions",
    "pass_alone": "tarvex_qiskit.PadDynamicalDecoupling([x, x]).run(dag), no PassManager",
}
GHZ_QUBITS = (2, 5, 20, 100)  # 13, 37, 157 and 797 instructions once transpiled


def fez_backend():
    from qiskit_ibm_runtime.fake_provider import FakeFez

    return FakeFez()


def fez_layered(be: Any, n_instructions: int, seed: int = SEED) -> QuantumCircuit:
    """A layered circuit of about `n_instructions` in FakeFez's gates, measurements included."""
    return layered_circuit(be, n_instructions - be.num_qubits, seed, two_qubit="cz")


def fez_ghz(be, n_qubits: int) -> QuantumCircuit:
    from qiskit.transpiler import generate_preset_pass_manager

    qc = QuantumCircuit(n_qubits)
    qc.h(0)
    for q in range(n_qubits - 1):
        qc.cx(q, q + 1)
    qc.measure_all()
    return generate_preset_pass_manager(1, be, seed_transpiler=SEED).run(qc)


class _Nothing(AnalysisPass):
    """A pass that does nothing: a PassManager holding it costs only its conversions."""

    def run(self, dag):
        return None


def fez_runners(be) -> dict[str, Any]:
    """name -> function of a circuit; the pass managers and passes are built here, once."""
    from qiskit_ibm_runtime.executor.dynamical_decoupling import generate_dd_pass_manager
    from qiskit_ibm_runtime.options_models.dynamical_decoupling import DynamicalDecouplingOptions

    import tarvex_qiskit.ibm

    target, seq = be.target, [XGate(), XGate()]
    options = DynamicalDecouplingOptions(enable=True, sequence_type="XX")
    qiskit_pm = PassManager([ALAPScheduleAnalysis(target=target), QiskitPadDD(target=target, dd_sequence=seq)])
    fused_pm = PassManager([tarvex_qiskit.PadDynamicalDecoupling(target=target, dd_sequence=seq)])
    runtime_pm = generate_dd_pass_manager(be, options)
    executor_pm = tarvex_qiskit.ibm.generate_dd_pass_manager(be, options)
    return {
        "qiskit": qiskit_pm.run,
        "fused_pm": fused_pm.run,
        "direct": lambda c: tarvex_qiskit.decouple(c, target, seq),
        "direct_unlabelled": lambda c: tarvex_qiskit.decouple(c, target, seq, keep_labels=False),
        "runtime": runtime_pm.run,
        "executor": executor_pm.run,
    }


def same_instructions(name: str, got: QuantumCircuit, reference: QuantumCircuit) -> None:
    assert list(got.data) == list(reference.data), f"{name}: instructions differ"
    assert (got.qregs, got.cregs) == (reference.qregs, reference.cregs), f"{name}: registers differ"
    assert got.global_phase == reference.global_phase, f"{name}: global phase differs"
    assert (got._duration, got._unit) == (reference._duration, reference._unit), f"{name}: duration differs"


def same_circuit(name: str, got: QuantumCircuit, reference: QuantumCircuit) -> None:
    same_instructions(name, got, reference)
    for attr in ("name", "metadata", "_op_start_times", "_layout", "_clbit_write_latency", "_conditional_latency"):
        assert getattr(got, attr) == getattr(reference, attr), f"{name}: {attr} differs"


def check_fez_outputs(outputs: dict[str, QuantumCircuit]) -> None:
    same_instructions("fused_pm", outputs["fused_pm"], outputs["qiskit"])
    same_instructions("direct", outputs["direct"], outputs["qiskit"])
    same_circuit("direct", outputs["direct"], outputs["fused_pm"])
    same_circuit("direct_unlabelled", outputs["direct_unlabelled"], outputs["direct"])
    same_circuit("executor", outputs["executor"], outputs["runtime"])


def cpu_seconds(run, *args) -> tuple[float, Any]:
    gc.collect()
    gc.disable()
    try:
        start = time.thread_time()
        out = run(*args)
        return time.thread_time() - start, out
    finally:
        gc.enable()


FEZ_BATCH = 20_000  # instructions per timed batch: small circuits are timed over several calls


def fez_size(be, runners, n: int, repeats: int) -> dict[str, Any]:
    circuit = fez_layered(be, n)
    calls = max(1, FEZ_BATCH // n)
    seconds: dict[str, list[float]] = {name: [] for name in runners}
    for rep in range(repeats):
        outputs = {}
        for name, run in runners.items():
            elapsed, out = cpu_seconds(lambda c: [run(c) for _ in range(calls)][-1], circuit)
            seconds[name].append(elapsed / calls)
            if rep == 0:
                outputs[name] = out
        if rep == 0:
            check_fez_outputs(outputs)
        del outputs
        print(f"  fez N={n:.0e} repeat {rep + 1}/{repeats} done", file=sys.stderr, flush=True)
    count = len(circuit.data)
    ns = {name: statistics.median(v) / count * 1e9 for name, v in seconds.items()}
    speedup = {
        "fused_pm": ns["qiskit"] / ns["fused_pm"],
        "direct": ns["qiskit"] / ns["direct"],
        "executor": ns["runtime"] / ns["executor"],
    }
    return {"n_instructions": count, "ns_per_instruction": ns, "speedup": speedup}


def per_call_us(run, arg, repeats: int) -> float:
    """Median over `repeats` rounds of the CPU time per call, each round enough calls for 50 ms."""
    run(arg)
    elapsed, _ = cpu_seconds(run, arg)
    calls = max(1, int(0.05 / max(elapsed, 1e-7)))
    rounds = []
    for _ in range(repeats):
        total, _ = cpu_seconds(lambda a: [run(a) for _ in range(calls)], arg)
        rounds.append(total / calls)
    return statistics.median(rounds) * 1e6


def fez_fixed_cost(be, runners, repeats: int) -> list[dict[str, Any]]:
    rows = []
    target, seq = be.target, [XGate(), XGate()]
    empty_pm = PassManager([_Nothing()])
    alone = tarvex_qiskit.PadDynamicalDecoupling(target=target, dd_sequence=seq)

    def run_alone(dag):
        alone.property_set = PropertySet()
        return alone.run(dag)

    for n_qubits in GHZ_QUBITS:
        circuit = fez_ghz(be, n_qubits)
        outputs = {name: run(circuit) for name, run in runners.items()}
        check_fez_outputs(outputs)
        us = {name: per_call_us(run, circuit, repeats) for name, run in runners.items()}
        us["empty_pm"] = per_call_us(empty_pm.run, circuit, repeats)
        us["pass_alone"] = per_call_us(run_alone, circuit_to_dag(circuit), repeats)
        ratios = {
            "fused_pm_over_empty_pm": us["fused_pm"] / us["empty_pm"],
            "speedup_fused_pm": us["qiskit"] / us["fused_pm"],
            "speedup_direct": us["qiskit"] / us["direct"],
            "speedup_executor": us["runtime"] / us["executor"],
        }
        rows.append({"n_instructions": len(circuit.data), "us_per_call": us, "ratios": ratios})
        print(f"  fez fixed cost at {len(circuit.data)} instructions done", file=sys.stderr, flush=True)
    return rows


def fez_main(sizes: list[int], repeats: int, command: str) -> None:
    be = fez_backend()
    runners = fez_runners(be)
    result: dict[str, Any] = {
        "benchmark": qiskit_fez_report.BENCHMARK,
        "command": command,
        "description": FEZ_DOC,
        "backend": {"name": be.name, "num_qubits": be.num_qubits, "dt_s": be.target.dt},
        "machine": {
            "platform": platform.platform(),
            "python": platform.python_version(),
            "qiskit": qiskit.__version__,
            "qiskit_ibm_runtime": __import__("qiskit_ibm_runtime").__version__,
        },
        "repeats": repeats,
        "units": {"sizes": "ns of CPU per instruction", "fixed_cost": "us of CPU per call"},
        "columns": FEZ_COLUMNS,
        "sizes": [],
        "fixed_cost": [],
        "targets": [],
    }
    RESULTS_DIR.mkdir(exist_ok=True)
    path = RESULTS_DIR / time.strftime("qiskit-fez-%Y%m%d-%H%M%S.json")
    warm_up = fez_ghz(be, 2)
    for run in runners.values():  # what each runner makes on its first call is not timed
        run(warm_up)
    result["fixed_cost"] = fez_fixed_cost(be, runners, repeats)
    path.write_text(json.dumps(result, indent=1))
    for n in sizes:  # saved after each size, so a long run that stops keeps what it measured
        result["sizes"].append(fez_size(be, runners, n, repeats))
        result["targets"] = qiskit_fez_report.targets(result)
        path.write_text(json.dumps(result, indent=1))
    result["targets"] = qiskit_fez_report.targets(result)
    path.write_text(json.dumps(result, indent=1))
    print(qiskit_fez_report.report(result))
    print(f"\nsaved {path}")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--table", choices=("generic", "fez"), default="generic")
    parser.add_argument("--sizes", help="default: 1e4,1e5,1e6 (generic), 1e2,1e3,1e4,1e5,1e6 (fez)")
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--report", type=Path, help="print the table of a saved run and exit")
    parser.add_argument("--peak", nargs=2, metavar=("PIPELINE", "N"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.peak:
        peak_child(args.peak[0], int(args.peak[1]))
        return
    if args.report:
        saved = json.loads(args.report.read_text())
        print(qiskit_fez_report.report(saved) if saved.get("benchmark") == qiskit_fez_report.BENCHMARK else report(saved))
        return
    default_sizes = "1e2,1e3,1e4,1e5,1e6" if args.table == "fez" else "1e4,1e5,1e6"
    sizes = [int(float(s)) for s in (args.sizes or default_sizes).split(",")]
    if args.table == "fez":
        fez_main(sizes, args.repeats, " ".join(["python", "benchmarks/qiskit_passes.py", *sys.argv[1:]]))
        return
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
