"""The direct path: dynamical decoupling and delays from QuantumCircuit to QuantumCircuit, natively.

`decouple` and `pad_delays` give what a pass manager holding the fused `PadDynamicalDecoupling` or
`PadDelay` gives, and so Qiskit's own analysis and padding pass: the same instructions in the same
order, global phase, registers, name, metadata, duration and unit. They read the circuit through
Qiskit's C API in its own order (a topological order), schedule and plan in the core and write a
new circuit, in the order a DAG of it lists its operations, with no DAG in between. Where that path
cannot promise the same output they run the pass manager instead.
"""

from __future__ import annotations

import copy
from collections.abc import Iterable
from typing import Any

from qiskit.circuit import Gate, QuantumCircuit
from qiskit.transpiler import PassManager
from qiskit.transpiler.target import Target

from .passes import PadDelay, PadDynamicalDecoupling, _NativePadding

# Passes made for earlier calls, by their arguments, newest last; each holds its target, so that
# the identity compared below is never a new object's. A pass keeps what depends only on its
# target's durations, its options and the number of qubits from one call to the next.
_PASSES: dict[tuple[Any, ...], tuple[Target, _NativePadding]] = {}
_KEPT = 16


def _gate_key(gate: Gate) -> tuple[Any, ...]:
    return (type(gate), gate.name, gate.num_qubits, tuple(gate.params), gate.label)


def _kept_pass(kind: type[_NativePadding], target: Target, key: tuple[Any, ...], make: Any) -> _NativePadding:
    """The pass for these arguments, made by `make()` the first time. A key that cannot be
    hashed (a parameter that is an array, say) gets a new pass each call. O(1) expected."""
    full = (kind, id(target), key)
    try:
        kept = _PASSES.get(full)
    except TypeError:
        return make()
    if kept is not None and kept[0] is target:
        return kept[1]
    made = make()
    _PASSES[full] = (target, made)
    if len(_PASSES) > _KEPT:
        del _PASSES[next(iter(_PASSES))]
    return made


def _run(padding: _NativePadding, circuits: Any) -> Any:
    out = padding.run_circuits(circuits)
    return PassManager([padding]).run(circuits) if out is NotImplemented else out


def decouple(
    circuits: QuantumCircuit | list[QuantumCircuit],
    target: Target,
    dd_sequence: Iterable[Gate],
    *,
    spacing: Iterable[float] | None = None,
    qubits: Iterable[int] | None = None,
    skip_reset_qubits: bool = True,
    pulse_alignment: int = 1,
    extra_slack_distribution: str = "middle",
    scheduling: str = "alap",
    record_start_times: bool | None = None,
    keep_labels: bool = True,
) -> QuantumCircuit | list[QuantumCircuit]:
    """`PassManager([PadDynamicalDecoupling(target=target, dd_sequence=dd_sequence, <the same
    options>)]).run(circuits)`: one circuit or a list, returned the same way, in order, each
    decoupled in this process. With `keep_labels=False` only the barriers' labels are kept and no
    walk over the instructions is made in Python. O(instructions) per circuit; what depends only
    on the target, the options and the number of qubits is computed once for the same arguments."""
    sequence = list(dd_sequence)
    spacing = None if spacing is None else list(spacing)
    qubits = None if qubits is None else list(qubits)
    key = (
        tuple(_gate_key(g) for g in sequence),
        None if spacing is None else tuple(spacing),
        None if qubits is None else tuple(qubits),
        skip_reset_qubits,
        pulse_alignment,
        extra_slack_distribution,
        scheduling,
        record_start_times,
        keep_labels,
    )

    def make() -> PadDynamicalDecoupling:
        return PadDynamicalDecoupling(
            dd_sequence=copy.deepcopy(sequence),
            qubits=qubits,
            spacing=spacing,
            skip_reset_qubits=skip_reset_qubits,
            pulse_alignment=pulse_alignment,
            extra_slack_distribution=extra_slack_distribution,
            target=target,
            scheduling=scheduling,
            record_start_times=record_start_times,
            keep_labels=keep_labels,
        )

    return _run(_kept_pass(PadDynamicalDecoupling, target, key, make), circuits)


def pad_delays(
    circuits: QuantumCircuit | list[QuantumCircuit],
    target: Target,
    *,
    fill_very_end: bool = True,
    scheduling: str = "alap",
    record_start_times: bool | None = None,
    keep_labels: bool = True,
) -> QuantumCircuit | list[QuantumCircuit]:
    """`PassManager([PadDelay(fill_very_end, target=target, <the same options>)]).run(circuits)`,
    as `decouple` runs its pass. O(instructions) per circuit."""
    key = (fill_very_end, scheduling, record_start_times, keep_labels)

    def make() -> PadDelay:
        return PadDelay(
            fill_very_end,
            target=target,
            scheduling=scheduling,
            record_start_times=record_start_times,
            keep_labels=keep_labels,
        )

    return _run(_kept_pass(PadDelay, target, key, make), circuits)
