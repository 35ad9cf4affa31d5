"""Timing data for the native code: durations in dt from a Target or InstructionDurations.

The native passes work in whole dt. Everything here reads Qiskit's objects the way Qiskit's own
scheduling passes do, and answers None where the native path cannot reproduce them exactly; the
passes then run Qiskit's implementation instead.
"""

from __future__ import annotations

import weakref
from collections.abc import Iterable

from qiskit.circuit import ClassicalRegister, QuantumCircuit, QuantumRegister, Register
from qiskit.circuit.duration import duration_in_dt
from qiskit.dagcircuit import DAGCircuit
from qiskit.transpiler.instruction_durations import InstructionDurations
from qiskit.transpiler.target import Target
from qiskit.utils import apply_prefix

from . import _native

Entry = tuple[str, "tuple[int, ...] | None", int]


def in_dt(value: object, unit: str, dt: float) -> object:
    """A duration in `unit` as Qiskit's unit conversion gives it in dt (rounded, whole)."""
    if unit == "dt":
        return value
    seconds = value if unit == "s" else apply_prefix(value, unit)
    return duration_in_dt(seconds, dt)


# Whole numbers up to 2**53 are exact as doubles, which is what the native code computes with.
_MAX_WHOLE = 2**53


def whole(value: object) -> bool:
    """A whole, non-negative number of dt, as Qiskit's conversions give them (a Python int), small
    enough to be exact as a double."""
    return type(value) is int and 0 <= value <= _MAX_WHOLE


def duration_entries(durations: InstructionDurations | None) -> list[Entry] | None:
    """(name, qubits or None for any, duration in dt) for every duration; None unless all are
    whole numbers of dt with a known dt and none depends on gate parameters. Reads every entry:
    O(entries)."""
    if durations is None or durations.dt is None or durations.duration_by_name_qubits_params:
        return None
    entries: list[Entry] = []
    for (name, qubits), (value, unit) in durations.duration_by_name_qubits.items():
        dt_value = in_dt(value, unit, durations.dt)
        if not whole(dt_value):
            return None
        entries.append((name, tuple(qubits), dt_value))
    for name, (value, unit) in durations.duration_by_name.items():
        dt_value = in_dt(value, unit, durations.dt)
        if not whole(dt_value):
            return None
        entries.append((name, None, dt_value))
    return entries


def duration_table(durations: InstructionDurations | None) -> object | None:
    """The native table of `durations` (see duration_entries), or None. O(entries)."""
    entries = duration_entries(durations)
    return None if entries is None else _native.duration_table(entries)


# A target's durations object -> its native table (or None). Qiskit makes a new durations object
# whenever the target changes, so an object seen before still holds what its table was made
# from. An InstructionDurations given directly can change in place and is never cached.
_TARGET_TABLES: weakref.WeakKeyDictionary[InstructionDurations, object | None] = weakref.WeakKeyDictionary()


def target_table(target: Target) -> tuple[InstructionDurations, object | None]:
    """The target's durations and their native table, made once per durations object."""
    durations = target.durations()
    try:
        return durations, _TARGET_TABLES[durations]
    except KeyError:
        table = _TARGET_TABLES[durations] = duration_table(durations)
        return durations, table


def delay_durations(dag: DAGCircuit, dt: float) -> dict[int, int] | None:
    """Node id -> duration in dt of every delay, converted as Qiskit's unit conversion would;
    None when one is an expression or not a plain number."""
    delays: dict[int, int] = {}
    if "delay" not in dag.count_ops(recurse=False):  # counted natively: no walk over the nodes
        return delays
    for node in dag.named_nodes("delay"):
        op = node.op
        if op.unit == "expr" or not isinstance(op.duration, (int, float)):
            return None
        value = in_dt(op.duration, op.unit, dt)
        if not whole(value):
            return None
        delays[node._node_id] = value
    return delays


def plain_bits(dag: DAGCircuit) -> bool:
    """The DAG's bits are its registers' bits, register after register, and it has no classical
    variables: what Qiskit's padding passes rebuild their output from. Checked on each register's
    first and last bit, O(registers): reading every bit of a register costs microseconds each."""
    if dag.num_vars or dag.num_stretches:
        return False
    return _in_registers(dag, dag.qregs.values(), dag.num_qubits()) and _in_registers(
        dag, dag.cregs.values(), dag.num_clbits()
    )


def register_layout(dag: DAGCircuit) -> list[tuple[str, int, bool]] | None:
    """The DAG's registers as (name, size, quantum), qubit registers first, when they are plain
    QuantumRegister and ClassicalRegister (an AncillaRegister's bits are of their own kind); for a
    DAG whose bits plain_bits found to be exactly its registers'. O(registers)."""
    layout = []
    for registers, kind, quantum in ((dag.qregs, QuantumRegister, True), (dag.cregs, ClassicalRegister, False)):
        for reg in registers.values():
            if type(reg) is not kind:
                return None
            layout.append((reg.name, reg.size, quantum))
    return layout


def plain_circuit_bits(circuit: QuantumCircuit) -> bool:
    """plain_bits for a QuantumCircuit. O(registers)."""
    if circuit.num_vars or circuit.num_stretches:
        return False
    return _in_registers(circuit, circuit.qregs, circuit.num_qubits) and _in_registers(
        circuit, circuit.cregs, circuit.num_clbits
    )


def _in_registers(source: DAGCircuit | QuantumCircuit, registers: Iterable[Register], count: int) -> bool:
    offset = 0
    for reg in registers:
        if reg.size and (
            source.find_bit(reg[0]).index != offset or source.find_bit(reg[reg.size - 1]).index != offset + reg.size - 1
        ):
            return False
        offset += reg.size
    return offset == count
