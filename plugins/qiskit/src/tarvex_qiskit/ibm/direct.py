"""The direct path of the dynamic-circuit passes: from QuantumCircuit to QuantumCircuit natively.

`pad_delays` and `decouple` give what a pass manager holding only the fused `PadDelay` or
`PadDynamicalDecoupling` of `tarvex_qiskit.ibm.scheduling` gives, and so the runtime's ALAP or ASAP
analysis and its padder: the same instructions in the same order, bodies included, global phase,
registers, name, metadata, duration and unit. The pass manager's two conversions (circuit to DAG and back) and the pass's own
two are skipped: the circuit is read through Qiskit's C API in its own order, the core finds the
order its DAG would list, and the root of the output is written in that order. Where this path
cannot promise the same output it runs the pass manager instead.
"""

from __future__ import annotations

import copy
from typing import Any

from qiskit.circuit import Gate, QuantumCircuit
from qiskit.transpiler import PassManager
from qiskit.transpiler.target import Target

from ..direct import _gate_key, _kept_pass
from .scheduling import PadDelay, PadDynamicalDecoupling


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
    keep_labels=...)]).run(circuits)`: one circuit or a list, returned the same way, in order. The
    pass is kept from earlier calls with the same arguments. O(instructions) per circuit."""
    key = (bool(fill_very_end), bool(schedule_idle_qubits), scheduling, bool(keep_labels))

    def make() -> PadDelay:
        return PadDelay(fill_very_end, schedule_idle_qubits, target=target, scheduling=scheduling,
                        keep_labels=keep_labels)

    return _each(_kept_pass(PadDelay, target, key, make), circuits)


def _frozen(value: Any) -> Any:
    """An option as a key: lists as tuples and gates by their key, nested."""
    if isinstance(value, Gate):
        return _gate_key(value)
    if isinstance(value, (list, tuple)):
        return tuple(_frozen(v) for v in value)
    return value


def decouple(
    circuits: QuantumCircuit | list[QuantumCircuit],
    target: Target,
    dd_sequences: Any,
    **options: Any,
) -> QuantumCircuit | list[QuantumCircuit]:
    """`PassManager([PadDynamicalDecoupling(dd_sequences, target=target, **options)]).run(circuits)`:
    one circuit or a list, returned the same way, in order. `options` are PadDynamicalDecoupling's
    other parameters (scheduling and keep_labels included). What depends only on the target, the
    options and the qubits is kept from earlier calls with the same arguments. O(instructions) per
    circuit."""
    key = (_frozen(dd_sequences), tuple(sorted((name, _frozen(v)) for name, v in options.items())))

    def make() -> PadDynamicalDecoupling:
        # Copies: the pass is kept for later calls, which must not see a list the caller changes.
        return PadDynamicalDecoupling(copy.deepcopy(dd_sequences), target=target, **copy.deepcopy(options))

    return _each(_kept_pass(PadDynamicalDecoupling, target, key, make), circuits)
