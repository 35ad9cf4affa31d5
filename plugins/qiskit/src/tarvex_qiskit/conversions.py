"""Conversions between Qiskit circuits and `_tarvex.QuantumDAG`, native and in bulk."""

from __future__ import annotations

from typing import Any

from qiskit.circuit import QuantumCircuit
from qiskit.converters import circuit_to_dag
from qiskit.dagcircuit import DAGCircuit
from qiskit.transpiler.exceptions import TranspilerError
from qiskit.transpiler.target import Target

from . import _native, _timing


def _quantum_dag_type() -> Any:
    try:
        from _tarvex import QuantumDAG
    except ImportError as err:  # the plugin is installed without the root package
        raise ImportError("tarvex_qiskit conversions need the tarvex package: pip install . (the repository root)") from err
    return QuantumDAG


# ns per unit of a delay given in SI units; "ps" divides to stay exact for whole picoseconds.
_NS_PER_UNIT = {"s": 1e9, "ms": 1e6, "us": 1e3, "ns": 1.0}


def _delay_ns(op: Any, dt_ns: float | None) -> float:
    if op.unit == "dt":
        if dt_ns is None:
            raise TranspilerError(f"delay of {op.duration} dt: the target has no dt to give it in ns")
        return op.duration * dt_ns
    if op.unit == "ps":
        return op.duration / 1000
    if op.unit in _NS_PER_UNIT:
        return op.duration * _NS_PER_UNIT[op.unit]
    raise TranspilerError(f"a delay of duration {op.duration} ({op.unit}) has no duration in ns")


def to_quantum_dag(circuit: QuantumCircuit | DAGCircuit, target: Target, *, unit: str = "ns") -> Any:
    """A `_tarvex.QuantumDAG` with one gate per instruction of `circuit`, in topological order:
    its Qiskit name, its qubits and its duration from `target` (delays: their own, barriers: 0),
    in ns (the target's seconds times 10^9, rounded to the femtosecond) or, with unit="dt", in
    whole dt exactly as Qiskit's scheduling passes count them.

    Raises TranspilerError naming the instruction and its qubits when the target has no duration
    for it, and for control flow; ValueError for delays that have no duration in the unit.
    """
    if unit not in ("ns", "dt"):
        raise ValueError(f"unit must be 'ns' or 'dt', not {unit!r}")
    dag = circuit if isinstance(circuit, DAGCircuit) else None
    if unit == "dt":
        if target.dt is None:
            raise ValueError("unit='dt' needs a target with dt")
        entries = _timing.duration_entries(target.durations())
        if entries is None:
            raise ValueError("the target's durations are not whole numbers of dt")
        if dag is None:
            dag = circuit_to_dag(circuit, copy_operations=False)
        delays = _timing.delay_durations(dag, target.dt)
        if delays is None:
            raise ValueError("a delay given as an expression has no duration in dt")
        dt_ns = 1.0
    else:
        entries = [
            (name, tuple(qargs) if qargs is not None else None, round(props.duration * 1e9, 6))
            for name in target.operation_names
            for qargs, props in target[name].items()
            if props is not None and props.duration is not None
        ]
        dt_ns = round(target.dt * 1e9, 9) if target.dt is not None else None
        delays = {} if dag is None else {node._node_id: _delay_ns(node.op, dt_ns) for node in dag.named_nodes("delay")}
    source = dag if dag is not None else circuit._data
    return _native.to_quantum_dag(
        source, is_dag=dag is not None, factory=_quantum_dag_type(), durations=entries, delays=delays, dt_ns=dt_ns
    )


def from_quantum_dag(
    graph: Any,
    source: QuantumCircuit | None = None,
    *,
    unit: str = "ns",
    num_qubits: int | None = None,
    num_clbits: int | None = None,
) -> QuantumCircuit:
    """A QuantumCircuit from a scheduled `_tarvex.QuantumDAG`: its nodes in id order, with delays
    filling each qubit's idle time up to the circuit's end, in the graph's `unit` ("ns", or "dt"
    for a graph made with to_quantum_dag(..., unit="dt")); DD_X and DD_Y become x and y, and
    nodes named "delay" become idle time.

    With `source`, the circuit `graph` was made from (by to_quantum_dag, then passes such as
    apply_dd_pass), the other nodes are the source's instructions in order, parameters and
    classical bits included, and the output has the source's registers. Without it, the other
    nodes may be standard gates without parameters, measure (into the clbit of the qubit's index),
    reset and barrier, in registers "q" of `num_qubits` qubits and "c" of `num_clbits` clbits
    (default: as many as the graph uses), as QuantumCircuit(num_qubits, num_clbits) has.

    Raises ValueError for a node without a schedule or that cannot be made an instruction.
    """
    if unit not in ("ns", "dt"):
        raise ValueError(f"unit must be 'ns' or 'dt', not {unit!r}")
    return _native.from_quantum_dag(
        graph,
        source=source._data if source is not None else None,
        num_qubits=-1 if num_qubits is None else num_qubits,
        num_clbits=-1 if num_clbits is None else num_clbits,
        in_dt=unit == "dt",
    )
