"""The Qiskit part of the demonstration: dynamical decoupling of a transpiled circuit both ways.

`compare_dd()` transpiles a quantum Fourier transform to a GenericBackendV2, pads it with an
[x, x] sequence once with Qiskit's ALAPScheduleAnalysis + PadDynamicalDecoupling and once with
the native fused pass, times both and compares the outputs; `DdComparison.timeline_graph()`
gives the native output as a scheduled `_tarvex.QuantumDAG` for `tarvex.timeline`.
`qiskit_part` is the part `python -m tarvex.demo` runs.
"""

from __future__ import annotations

import argparse
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Any

from qiskit import QuantumCircuit, transpile
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
