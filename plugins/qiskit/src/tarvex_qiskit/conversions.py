"""Conversions between Qiskit circuits and `_tarvex.QuantumDAG`, native and in bulk."""

from __future__ import annotations

from typing import Any

from qiskit.circuit import QuantumCircuit
from qiskit.converters import circuit_to_dag
from qiskit.dagcircuit import DAGCircuit
from qiskit.transpiler.target import Target

from . import _messages, _native, _requests, _timing


def _require_tarvex() -> None:
    try:
        import _tarvex  # noqa: F401
    except ImportError as err:  # the plugin is installed without the root package
        raise ImportError(_messages.NEEDS_TARVEX) from err


def _check_unit(unit: str) -> None:
    if unit not in ("ns", "dt"):
        raise ValueError(_messages.unit_choice(unit))


def to_quantum_dag(circuit: QuantumCircuit | DAGCircuit, target: Target, *, unit: str = "ns") -> Any:
    """A `_tarvex.QuantumDAG` with one gate per instruction of `circuit`, in topological order:
    its Qiskit name, its qubits and its duration from `target` (delays: their own, barriers: 0),
    in ns (the target's seconds times 10^9, rounded to the femtosecond) or, with unit="dt", in
    whole dt exactly as Qiskit's scheduling passes count them.

    Raises TranspilerError naming the instruction and its qubits when the target has no duration
    for it, for control flow, and for a delay that has no duration in the unit; ValueError when
    the unit is "dt" and the target's durations or a delay are not whole dt.
    """
    _check_unit(unit)
    _require_tarvex()
    dag = circuit if isinstance(circuit, DAGCircuit) else None
    if unit == "dt":
        if target.dt is None:
            raise ValueError(_messages.UNIT_DT_NEEDS_DT)
        _, table = _timing.target_table(target)
        if table is None:
            raise ValueError(_messages.DURATIONS_NOT_WHOLE)
        if dag is None:
            dag = circuit_to_dag(circuit, copy_operations=False)
        in_dt = _timing.delay_durations(dag, target.dt)
        if in_dt is None:
            raise ValueError(_messages.DELAY_EXPRESSION)
        delays = {node_id: (float(value), "dt") for node_id, value in in_dt.items()}
        dt_ns = 1.0
    else:
        table = _native.duration_table(
            [
                (name, tuple(qargs) if qargs is not None else None, round(props.duration * 1e9, 6))
                for name in target.operation_names
                for qargs, props in target[name].items()
                if props is not None and props.duration is not None
            ]
        )
        dt_ns = round(target.dt * 1e9, 9) if target.dt is not None else None
        # Converted natively, by the same table of units as a circuit's delays.
        delays = {} if dag is None else {node._node_id: (node.op.duration, node.op.unit) for node in dag.named_nodes("delay")}
    request = _requests.ToQuantumDagRequest(
        source=dag if dag is not None else circuit._data,
        is_dag=dag is not None,
        durations=table,
        delays=delays,
        dt_ns=dt_ns,
    )
    return _requests.call(request)


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
    _check_unit(unit)
    _require_tarvex()
    request = _requests.FromQuantumDagRequest(
        graph=graph,
        source=source._data if source is not None else None,
        num_qubits=num_qubits,
        num_clbits=num_clbits,
        in_dt=unit == "dt",
    )
    return QuantumCircuit.from_circuit_data(_requests.call(request))
