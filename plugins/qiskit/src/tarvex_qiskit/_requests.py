"""The typed requests of the native entry points, each mirroring its struct in native/requests.hpp
field for field: the one place where a call's arguments are named and typed."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any

from . import _native


@dataclass
class PadOptions:
    """One call of `_native.pad_options`: what a padding call needs that depends only on the pass,
    its durations and the number of qubits, bound once into the opaque object that PadRequest and
    PadCircuitRequest take as `options`. A pass keeps that object from one run to the next while
    its durations stay the same, so that a run binds none of it again.

    `qubits` holds one byte per qubit of the DAG (bit 0: pad it, bit 1: it may take a sequence);
    `pulse_durations[q * len(sequence) + k]` is pulse k on qubit q, in dt. `split` other than
    "middle" or "edges" is refused where the first sequence would be placed, as Qiskit refuses it.
    """

    qubits: bytes
    decouple: bool
    fill_to_end: bool
    skip_reset: bool
    alignment: float
    split: str
    spacing: list[float]
    sequence: list[tuple[int, tuple[float, ...]]]  # (QkGate value, params)
    pulse_durations: list[float]
    phase: float


@dataclass
class PadRequest:
    """One call of `_native.pad`: pad `dag` (never modified) with delays or DD sequences, with the
    pass's options. Times are whole numbers of dt. `labelled` lists op node ids whose output node
    ids the result reports. `registers`, the DAG's registers as (name, size, quantum) in order when
    its bits are exactly theirs, lets the output start from a kept empty circuit; None: from an
    empty copy of the DAG."""

    dag: Any
    durations: Any  # a table made by _native.duration_table
    delays: dict[int, int]
    scheduling: str  # "alap", "asap" or "given"
    start_times: Any  # with "given": node_start_time; else None
    options: Any  # made by _native.pad_options, one qubit entry per qubit of the DAG
    record: bool
    labelled: list[int]
    registers: list[tuple[str, int, bool]] | None


@dataclass
class PadCircuitRequest:
    """One call of `_native.pad_circuit`, the direct path: pad the CircuitData `circuit` (never
    modified) into a new one whose instructions come in the order a DAG of it lists them. `dt` is
    one dt in seconds (for delays in SI units) or None; `labelled` lists instruction indices whose
    output indices the result reports; `barriers` asks for where every barrier went."""

    circuit: Any
    durations: Any  # a table made by _native.duration_table
    dt: float | None
    scheduling: str  # "alap" or "asap"
    options: Any  # made by _native.pad_options, one qubit entry per qubit of the circuit
    record: bool
    labelled: list[int]
    barriers: bool


@dataclass
class ToQuantumDagRequest:
    """One call of `_native.to_quantum_dag`: durations in the output's unit, a DAG's delays as
    {op node id: (duration, unit)}, `dt_ns` the length of one dt in that unit (or None)."""

    source: Any  # a DAGCircuit, or a QuantumCircuit's CircuitData
    is_dag: bool
    durations: Any
    delays: dict[int, tuple[float, str]]
    dt_ns: float | None


@dataclass
class FromQuantumDagRequest:
    """One call of `_native.from_quantum_dag`."""

    graph: Any  # a scheduled _tarvex.QuantumDAG
    source: Any  # a QuantumCircuit's CircuitData, or None
    num_qubits: int | None
    num_clbits: int | None
    in_dt: bool


@dataclass
class DynamicRequest:
    """One call of `_native.dynamic`: read `top` (the CircuitData of a DAG's root, in topological
    order) and its bodies as blocks, schedule them ("alap", "asap") or take `given` start times, and
    write the padded output into `out` (None: return the schedule). `writer` answers the native
    side's questions and places each control-flow operation (ibm/scheduling.py). With
    `in_own_order`, `top` is a circuit in its own instruction order and the root is written in the
    order its DAG would list (the call returns None where it cannot be)."""

    top: Any
    out: Any
    durations: Any
    dt: float
    scheduling: str | None
    given: tuple[bytes, bytes] | None
    fill_very_end: bool
    schedule_idle_qubits: bool
    custom_order: bool
    writer: Any
    keep_labels: bool = False
    in_own_order: bool = False


@dataclass
class DecouplingRequest:
    """One call of `_native.dynamic_decoupling`: as DynamicRequest, with the idle stretches filled
    with pulse sequences (ibm/decoupling.py). Per sequence: its pulse count, ratio (and whether it
    is an int), spacings and alt spacings (flat, with counts), the phase one cycle adds (one period
    for a one-pulse sequence), the U3 angles and phase of a one-pulse sequence's inverse (4 floats)
    and its period (the fewest cycles that multiply to the identity up to phase; 0: none).
    Per qubit: whether it may take sequences, its colour (empty: no staggering), and the pulses'
    durations in dt."""

    top: Any
    out: Any
    durations: Any
    dt: float
    scheduling: str | None
    given: tuple[bytes, bytes] | None
    schedule_idle_qubits: bool
    custom_order: bool
    writer: Any
    n_pulses: list[int]
    ratios: list[float]
    integral_ratios: bytes
    spacings: list[float]
    spacing_counts: list[int]
    alt_spacings: list[float]
    alt_counts: list[int]
    gates: list[tuple[int, tuple[float, ...]]]
    selected: bytes
    pulse_durations: list[int]
    colours: bytes
    dd_barrier: bool
    alignment: float
    split: str
    skip_reset: bool
    multiple_cycles: bool
    phases: list[float]
    inverses: list[float]
    periods: list[int]
    keep_labels: bool
    in_own_order: bool = False


def call(
    request: PadOptions | PadRequest | PadCircuitRequest | ToQuantumDagRequest | FromQuantumDagRequest
    | DynamicRequest | DecouplingRequest,
) -> Any:
    """The native entry point of `request`, called with its fields."""
    return _CALLS[type(request)](**vars(request))


_CALLS = {
    PadOptions: _native.pad_options,
    PadRequest: _native.pad,
    PadCircuitRequest: _native.pad_circuit,
    ToQuantumDagRequest: _native.to_quantum_dag,
    FromQuantumDagRequest: _native.from_quantum_dag,
    DynamicRequest: _native.dynamic,
    DecouplingRequest: _native.dynamic_decoupling,
}

