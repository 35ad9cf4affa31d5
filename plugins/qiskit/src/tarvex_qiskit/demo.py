"""The Qiskit part of the demonstration: dynamical decoupling of a transpiled circuit both ways.

`compare_dd()` transpiles a quantum Fourier transform to a GenericBackendV2, pads it with an
[x, x] sequence once with Qiskit's ALAPScheduleAnalysis + PadDynamicalDecoupling and once with
the native fused pass, times both and compares the outputs; `DdComparison.timeline_graph()`
gives the native output as a scheduled `_tarvex.QuantumDAG` for `tarvex.timeline`.
`compare_dynamic_dd()` decouples a repeated syndrome measurement (ancillas measured, corrections
conditioned on them) on FakeTorino with staggered [x, x], once with qiskit-ibm-runtime's passes
with their plain faults mended (`tarvex_qiskit.ibm.mended`, which needs the `ibm` extra) and once
with the native fused pass. `qiskit_part` and `dynamic_part` are the parts `python -m tarvex.demo`
runs.
"""

from __future__ import annotations

import argparse
import time
import warnings
from dataclasses import dataclass
from pathlib import Path
from typing import Any

from qiskit import ClassicalRegister, QuantumCircuit, QuantumRegister, transpile
from qiskit.circuit.library import QFTGate, XGate
from qiskit.providers.fake_provider import GenericBackendV2
from qiskit.transpiler import PassManager, Target
from qiskit.transpiler.passes import ALAPScheduleAnalysis
from qiskit.transpiler.passes import PadDynamicalDecoupling as QiskitPadDynamicalDecoupling

from .conversions import to_quantum_dag
from .passes import PadDynamicalDecoupling


@dataclass
class DdComparison:
    """Both outputs, their times in seconds and whether they are equal (Qiskit's ==)."""

    circuit: QuantumCircuit
    target: Target
    qiskit_output: QuantumCircuit
    native_output: QuantumCircuit
    qiskit_seconds: float
    native_seconds: float

    @property
    def equal(self) -> bool:
        return self.native_output == self.qiskit_output

    def timeline_graph(self) -> Any:
        """The native output as a scheduled `_tarvex.QuantumDAG` in ns for drawing: its delays fill
        every gap, so the ASAP schedule keeps the output's timing. Delays on qubits the circuit
        leaves unused are left out, and where the input has no x gate, the output's x gates are
        the DD pulses and are named DD_X."""
        from _tarvex import QuantumDAG

        nodes = to_quantum_dag(self.native_output, self.target).get_all_nodes()
        used = {q for name, qubits, _ in nodes if name != "delay" for q in qubits}
        renamed = {} if "x" in self.circuit.count_ops() else {"x": "DD_X"}
        graph = QuantumDAG()
        for name, qubits, duration_ns in nodes:
            if used.issuperset(qubits):
                graph.add_gate(renamed.get(name, name), qubits, duration_ns)
        graph.build_schedule()
        return graph


def _best_of(runs: int, run: Any) -> tuple[float, Any]:
    best, out = float("inf"), None
    for _ in range(runs):
        start = time.perf_counter()
        out = run()
        best = min(best, time.perf_counter() - start)
    return best, out


def compare_dd(n_qubits: int = 27, qft_qubits: int = 12, seed: int = 1, runs: int = 3) -> DdComparison:
    """Transpiles a `qft_qubits`-qubit QFT with measurements to an `n_qubits`-qubit
    GenericBackendV2 and decouples it with [x, x] both ways; each time is the best of `runs`
    pass manager runs (the first run of either side sets up per-target data)."""
    backend = GenericBackendV2(n_qubits, seed=seed)
    source = QuantumCircuit(qft_qubits)
    source.append(QFTGate(qft_qubits), range(qft_qubits))
    source.measure_all()
    circuit = transpile(source, backend, optimization_level=1, seed_transpiler=seed)
    target = backend.target
    sequence = [XGate(), XGate()]
    qiskit_pm = PassManager([ALAPScheduleAnalysis(target=target), QiskitPadDynamicalDecoupling(target=target, dd_sequence=sequence)])
    native_pm = PassManager([PadDynamicalDecoupling(target=target, dd_sequence=sequence)])
    qiskit_seconds, qiskit_output = _best_of(runs, lambda: qiskit_pm.run(circuit))
    native_seconds, native_output = _best_of(runs, lambda: native_pm.run(circuit))
    return DdComparison(circuit, target, qiskit_output, native_output, qiskit_seconds, native_seconds)


def qiskit_part(args: argparse.Namespace, out_dir: Path) -> list[tuple[str, str]]:
    """The demonstration's Qiskit part: `compare_dd()` with its defaults, the native output drawn
    into `out_dir`/timeline-qiskit.svg (delays left blank), and its summary as (label, value)
    lines. `args` gives the drawing's width and shaded idle windows. Raises `OSError` when the
    timeline cannot be written."""
    from tarvex.timeline import write_svg

    result = compare_dd()
    n_in, n_out = len(result.circuit.data), len(result.native_output.data)
    svg = write_svg(
        result.timeline_graph(),
        out_dir / "timeline-qiskit.svg",
        min_idle_ns=args.min_idle_ns,
        plot_width_px=args.width,
        hidden_names={"delay"},
        title=f"{result.circuit.num_qubits}-qubit GenericBackendV2: transpiled QFT after [x, x] DD "
        f"by tarvex_qiskit ({n_out} instructions, delays blank)",
    )
    speed_up = result.qiskit_seconds / result.native_seconds
    return [
        (
            "circuit",
            f"QFT transpiled to a {result.circuit.num_qubits}-qubit GenericBackendV2: "
            f"{n_in} instructions, {n_out} after DD ([x, x], ALAP)",
        ),
        ("outputs", f"{'equal' if result.equal else 'DIFFERENT'} (Qiskit's ==, global phase included)"),
        (
            "time taken",
            f"Qiskit {result.qiskit_seconds * 1e3:.1f} ms, tarvex_qiskit "
            f"{result.native_seconds * 1e3:.1f} ms ({speed_up:.0f}x)",
        ),
        ("timeline", str(svg)),
    ]


@dataclass
class DynamicDdComparison:
    """Both outputs of the syndrome-measurement circuit, their times in seconds and whether they
    are equal (Qiskit's ==, bodies and global phase included)."""

    circuit: QuantumCircuit
    runtime_output: QuantumCircuit
    native_output: QuantumCircuit
    runtime_seconds: float
    native_seconds: float

    @property
    def equal(self) -> bool:
        return self.native_output == self.runtime_output


def syndrome_circuit(rounds: int = 10, n_data: int = 5) -> QuantumCircuit:
    """A repetition code of `n_data` data qubits with an ancilla between each two: per round, each
    ancilla takes the parity of its neighbours, is measured, flips its left data qubit where it
    read 1 (a conditional correction) and is reset."""
    data = QuantumRegister(n_data, "d")
    ancillas = QuantumRegister(n_data - 1, "a")
    syndromes = ClassicalRegister(rounds * (n_data - 1), "s")
    qc = QuantumCircuit(data, ancillas, syndromes)
    qc.h(data[0])
    for q in range(n_data - 1):
        qc.cx(data[q], data[q + 1])
    for r in range(rounds):
        for a in range(n_data - 1):
            qc.cx(data[a], ancillas[a])
            qc.cx(data[a + 1], ancillas[a])
        for a in range(n_data - 1):
            bit = syndromes[r * (n_data - 1) + a]
            qc.measure(ancillas[a], bit)
            with qc.if_test((bit, 1)):
                qc.x(data[a])
            qc.reset(ancillas[a])
    return qc


def compare_dynamic_dd(rounds: int = 10, seed: int = 1, runs: int = 3, runtime_runs: int = 1) -> DynamicDdComparison:
    """`syndrome_circuit(rounds)` transpiled to FakeTorino on a line of its qubits, decoupled with
    staggered [x, x] (the device's coupling map) by the mended runtime (its ALAPScheduleAnalysis +
    PadDynamicalDecoupling) and by our fused pass; each time the best of `runtime_runs` and `runs`
    (the first run of ours sets up per-target data; the runtime's takes seconds). Needs
    qiskit-ibm-runtime (ImportError without it)."""
    from qiskit_ibm_runtime.fake_provider import FakeTorino

    from .ibm import mended
    from .ibm.scheduling import PadDynamicalDecoupling as NativeDynamicDd

    backend = FakeTorino()
    source = syndrome_circuit(rounds)
    layout = [0, 1, 2, 3, 4, 5, 6, 7, 8]  # d0 a0 d1 a1 ... on the device's first row
    interleaved = [layout[2 * q] for q in range(5)] + [layout[2 * q + 1] for q in range(4)]
    circuit = transpile(source, backend, initial_layout=interleaved, optimization_level=1, seed_transpiler=seed)
    target = backend.target
    options = {"dd_sequences": [XGate(), XGate()], "coupling_map": backend.coupling_map}
    native_pm = PassManager([NativeDynamicDd(**options, target=target)])
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # the device's durations round to whole dt, with a warning each
        runtime_seconds, runtime_output = _best_of(runtime_runs, lambda: mended.decoupled(circuit, target, "alap", **options))
        native_seconds, native_output = _best_of(runs, lambda: native_pm.run(circuit))
    if isinstance(runtime_output, type):
        raise RuntimeError(f"the mended runtime raised {runtime_output.__name__}")
    return DynamicDdComparison(circuit, runtime_output, native_output, runtime_seconds, native_seconds)


def dynamic_part(args: argparse.Namespace, out_dir: Path) -> list[tuple[str, str]]:
    """The demonstration's dynamic-circuit part: `compare_dynamic_dd()` with its defaults, as
    (label, value) lines; a line saying it was skipped where qiskit-ibm-runtime is missing. `args`
    and `out_dir` are not used (the part draws nothing)."""
    try:
        result = compare_dynamic_dd()
    except ImportError as error:
        return [("dynamic", f"skipped, qiskit-ibm-runtime is missing ({error}; pip install "
                            "\"tarvex-qiskit[ibm]\" adds it)")]
    n_in, n_out = len(result.circuit.data), len(result.native_output.data)
    n_if = sum(1 for inst in result.circuit.data if inst.operation.name == "if_else")
    speed_up = result.runtime_seconds / result.native_seconds
    return [
        ("circuit", f"repeated syndrome measurement on FakeTorino: {n_in} instructions ({n_if} conditional "
                    f"corrections), {n_out} after DD (staggered [x, x], ALAP)"),
        ("outputs", f"{'equal' if result.equal else 'DIFFERENT'} (Qiskit's ==, bodies and global phase included; "
                    "the runtime's plain faults mended, docs/dynamic-circuits.md)"),
        ("time taken", f"qiskit-ibm-runtime {result.runtime_seconds * 1e3:.1f} ms, tarvex_qiskit "
                       f"{result.native_seconds * 1e3:.1f} ms ({speed_up:.0f}x)"),
    ]
