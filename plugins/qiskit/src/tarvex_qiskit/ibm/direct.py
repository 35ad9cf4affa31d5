"""The direct path of the dynamic-circuit passes: from QuantumCircuit to QuantumCircuit natively.

`pad_delays` gives what a pass manager holding only the fused `PadDelay` of
`tarvex_qiskit.ibm.scheduling` gives, and so the runtime's ALAP or ASAP analysis and PadDelay: the
same instructions in the same order, bodies included, global phase, registers, name, metadata,
duration and unit. The pass manager's two conversions (circuit to DAG and back) and the pass's own
two are skipped: the circuit is read through Qiskit's C API in its own order, the core finds the
order its DAG would list, and the root of the output is written in that order. Where this path
cannot promise the same output it runs the pass manager instead.
"""

from __future__ import annotations

from typing import Any

from qiskit.circuit import QuantumCircuit
from qiskit.transpiler import PassManager
from qiskit.transpiler.target import Target

from .scheduling import PadDelay


def _each(step: Any, circuits: QuantumCircuit | list[QuantumCircuit]) -> Any:
    def one(circuit: QuantumCircuit) -> QuantumCircuit:
        out = step.run_circuit(circuit)
        return PassManager([step]).run(circuit) if out is None else out

    if isinstance(circuits, list):
        return [one(c) for c in circuits]
    return one(circuits)


def pad_delays(
    circuits: QuantumCircuit | list[QuantumCircuit],
    target: Target,
    *,
    fill_very_end: bool = True,
    schedule_idle_qubits: bool = False,
    scheduling: str = "alap",
    keep_labels: bool = True,
) -> QuantumCircuit | list[QuantumCircuit]:
    """`PassManager([PadDelay(fill_very_end, schedule_idle_qubits, target=target, scheduling=...,
    keep_labels=...)]).run(circuits)`: one circuit or a list, returned the same way, in order.
    O(instructions) per circuit."""
    step = PadDelay(fill_very_end, schedule_idle_qubits, target=target, scheduling=scheduling, keep_labels=keep_labels)
    return _each(step, circuits)
