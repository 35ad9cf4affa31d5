"""The Qiskit part of the demonstration: dynamical decoupling of a transpiled circuit both ways.

`compare_dd()` transpiles a quantum Fourier transform to a GenericBackendV2, pads it with an
[x, x] sequence once with Qiskit's ALAPScheduleAnalysis + PadDynamicalDecoupling and once with
the native fused pass, times both and compares the outputs; `summary_lines()` words the result
and `timeline_graph()` gives the native output as a scheduled `_tarvex.QuantumDAG` for
`tarvex.timeline`.
"""

from __future__ import annotations

import time
from dataclasses import dataclass
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
        """The native output as a `_tarvex.QuantumDAG` in ns, scheduled: its delays fill every
        gap, so the ASAP schedule keeps the output's timing."""
        graph = to_quantum_dag(self.native_output, self.target)
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


def summary_lines(result: DdComparison) -> list[str]:
    """The comparison in a few lines for the demonstration's output."""
    n_in = len(result.circuit.data)
    n_out = len(result.native_output.data)
    return [
        f"qiskit:     {result.circuit.num_qubits}-qubit GenericBackendV2, {n_in} instructions after transpile, "
        f"{n_out} after DD ([x, x], ALAP)",
        f"outputs:    {'equal' if result.equal else 'DIFFERENT'} (Qiskit's ==, global phase included)",
        f"time taken: Qiskit {result.qiskit_seconds * 1e3:.1f} ms, tarvex_qiskit {result.native_seconds * 1e3:.1f} ms "
        f"({result.qiskit_seconds / result.native_seconds:.0f}x)",
    ]
