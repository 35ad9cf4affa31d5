"""What a decoupled circuit must keep whatever pass wrote it, and the targets the DD tests share.

- `same_operator`: the circuits act alike on the qubits they use, global phase included.
- `qubit_durations`: each qubit's total duration in dt, which padding (delays or DD) must not change.
- `dd_target`: a line of qubits with durations in whole dt and dt = 1 ns, so that a duration read
  in seconds and taken as dt shows.
"""

from __future__ import annotations

import numpy as np
from qiskit import QuantumCircuit
from qiskit.circuit import Parameter
from qiskit.circuit.library import (CXGate, HGate, IGate, Measure, Reset, RXGate, RZGate, SXGate, U3Gate, UGate,
                                    XGate, YGate, ZGate)
from qiskit.quantum_info import Operator
from qiskit.transpiler import InstructionProperties, Target

DT = 1e-9


def dd_target(n_qubits: int = 3, one: int = 48, cx: int = 320, measure: int = 1600, dt: float = DT) -> Target:
    """x, y, z, id, sx, h, rx, u, u3 `one` dt, rz 0, cx `cx` dt on the line 0-1-..., measure and reset
    `measure` dt, each duration `dt` times its count."""
    target = Target(num_qubits=n_qubits, dt=dt)
    angle = [Parameter(p) for p in "abc"]
    singles = [XGate(), YGate(), ZGate(), IGate(), SXGate(), HGate(), RXGate(angle[0]), UGate(*angle), U3Gate(*angle)]
    for op, d in [(g, one) for g in singles] + [(RZGate(angle[0]), 0), (Measure(), measure), (Reset(), measure)]:
        target.add_instruction(op, {(q,): InstructionProperties(duration=d * dt) for q in range(n_qubits)})
    pairs = [(q, q + 1) for q in range(n_qubits - 1)] + [(q + 1, q) for q in range(n_qubits - 1)]
    target.add_instruction(CXGate(), {p: InstructionProperties(duration=cx * dt) for p in pairs})
    return target


def _used(circuit: QuantumCircuit) -> QuantumCircuit:
    """The circuit on the qubits its non-delay operations touch, without delays and barriers."""
    used = sorted({circuit.find_bit(q).index for inst in circuit.data if inst.operation.name not in ("delay", "barrier")
                   for q in inst.qubits})
    index = {q: i for i, q in enumerate(used)}
    out = QuantumCircuit(len(used), global_phase=circuit.global_phase)
    for inst in circuit.data:
        if inst.operation.name in ("delay", "barrier", "measure"):
            continue
        out.append(inst.operation, [index[circuit.find_bit(q).index] for q in inst.qubits])
    return out, used


def same_operator(got: QuantumCircuit, expected: QuantumCircuit) -> bool:
    """Both act alike, global phase included, on the qubits `expected` uses (final measurements
    left out; the circuits must have no other non-unitary operation)."""
    a, used_a = _used(got)
    b, used_b = _used(expected)
    if not set(used_a) <= set(used_b):
        return False
    if used_a != used_b:  # DD touched no qubit the input leaves alone; pad `a` to `b`'s qubits
        padded = QuantumCircuit(len(used_b), global_phase=a.global_phase)
        where = [used_b.index(q) for q in used_a]
        for inst in a.data:
            padded.append(inst.operation, [where[a.find_bit(q).index] for q in inst.qubits])
        a = padded
    return np.allclose(Operator(a).data, Operator(b).data, atol=1e-9)


def qubit_durations(circuit: QuantumCircuit, target: Target) -> dict[int, int]:
    """Each qubit's summed operation durations in dt (delays their own, barriers 0), bodies of
    control flow not entered."""
    totals: dict[int, int] = {}
    for inst in circuit.data:
        op = inst.operation
        qubits = tuple(circuit.find_bit(q).index for q in inst.qubits)
        if op.name == "barrier" or not qubits:
            continue
        if op.name == "delay":
            d = op.duration
        else:
            d = target.seconds_to_dt(target[op.name][qubits].duration)
        for q in qubits:
            totals[q] = totals.get(q, 0) + d
    return totals
