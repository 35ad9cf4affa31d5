"""The oracle of the IBM scheduling tests: qiskit-ibm-runtime's passes, run where their plain faults
cannot show.

Three mends keep the runtime's output the one it means to give, and change nothing else:
- Every control-flow body is rebuilt on fresh qubit objects. The runtime keys start times by
  DAGOpNode, equal by (node id, op, wires), so a body node equal to a node elsewhere takes its time;
  with fresh qubits no two nodes of different blocks are equal.
- The padder maps a wire it has no entry for to itself. With fresh body qubits it would otherwise
  raise KeyError where it compares a conditional's qubits with a measurement already written to the
  output (on outer qubits), and where it places a fast-path conditional inside a body.
- The padder counts, in the width of a block-terminating barrier, only the idle qubits of the block
  it writes: the runtime subtracts every idle qubit of the circuit, which inside bodies (that hold
  no idle qubit) gives a barrier narrower than its qubits, or a negative width that raises.
"""

from __future__ import annotations

import warnings
from typing import Any

from qiskit import QuantumCircuit, QuantumRegister
from qiskit.circuit import ControlFlowOp, Qubit
from qiskit.converters import circuit_to_dag, dag_to_circuit
from qiskit.passmanager.compilation_status import PropertySet
from qiskit.transpiler import PassManager, Target
from qiskit_ibm_runtime.transpiler.passes import scheduling as runtime

ANALYSES = {"alap": runtime.ALAPScheduleAnalysis, "asap": runtime.ASAPScheduleAnalysis}


class _IdleInBlock(set):
    """The idle qubits, whose size is the number of them in the block being written."""

    def __init__(self, qubits, padder):
        super().__init__(qubits)
        self._padder = padder

    def __len__(self):
        return sum(1 for q in self._padder._block_dag.qubits if q in self)


class MendedPadDelay(runtime.PadDelay):
    """The runtime's PadDelay, with wires it cannot map taken as already mapped and barrier widths
    counted in the block being written."""

    def _pre_runhook(self, dag):
        self._idle_qubits = _IdleInBlock(self._idle_qubits, self)
        super()._pre_runhook(dag)

    def _map_wires(self, wires):
        return [self._wire_map.get(w, w) for w in wires]

    def _apply_scheduled_op(self, block_idx, t_start, oper, qubits, clbits=()):
        if isinstance(qubits, Qubit):
            qubits = [qubits]
        return super()._apply_scheduled_op(block_idx, t_start, oper, self._map_wires(qubits), clbits)


def fresh_bodies(circuit: QuantumCircuit) -> QuantumCircuit:
    """A copy of `circuit` whose control-flow bodies, at every depth, use new qubit objects."""
    out = circuit.copy_empty_like()
    for inst in circuit.data:
        op = inst.operation
        if isinstance(op, ControlFlowOp):
            op = op.replace_blocks([_rebuilt_body(block) for block in op.blocks])
        out._append(inst.replace(operation=op))
    return out


def _rebuilt_body(body: QuantumCircuit) -> QuantumCircuit:
    qubit_map: dict[Qubit, Qubit] = {}
    registers = []
    for reg in body.qregs:
        fresh = QuantumRegister(reg.size, reg.name)
        registers.append(fresh)
        qubit_map.update(zip(reg, fresh))
    qubits = [qubit_map.setdefault(q, Qubit()) for q in body.qubits]
    out = QuantumCircuit(qubits, body.clbits, *registers, *body.cregs, name=body.name,
                         global_phase=body.global_phase, metadata=body.metadata)
    for inst in body.data:
        op = inst.operation
        if isinstance(op, ControlFlowOp):
            op = op.replace_blocks([_rebuilt_body(block) for block in op.blocks])
        out._append(inst.replace(operation=op, qubits=[qubit_map[q] for q in inst.qubits]))
    return out


def outcome(run) -> Any:
    """What `run` returns, or the type of the exception it raises."""
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            return run()
    except Exception as err:  # compared by type
        return type(err)


def padded(circuit: QuantumCircuit, target: Target, scheduling: str, **options: Any) -> Any:
    """The oracle for analysis + PadDelay: the mended runtime's output circuit, or the type of the
    exception the runtime raises."""
    ordering = options.get("block_ordering_callable")
    analysis = ANALYSES[scheduling](block_ordering_callable=ordering, target=target)
    pad = MendedPadDelay(**options, target=target)
    return outcome(lambda: PassManager([analysis, pad]).run(fresh_bodies(circuit)))


def analysed(circuit: QuantumCircuit, target: Target, scheduling: str, ordering=None) -> tuple[Any, PropertySet]:
    """The runtime's analysis on a fresh-bodied copy: (its DAG, its property set), or an exception
    type and None."""
    dag = circuit_to_dag(fresh_bodies(circuit))
    analysis = ANALYSES[scheduling](block_ordering_callable=ordering, target=target)
    analysis.property_set = PropertySet()
    result = outcome(lambda: analysis.run(dag))
    if isinstance(result, type):
        return result, None
    return result, analysis.property_set


def start_time_table(dag, node_start_time, node_block_dags) -> list:
    """Every node's (block, t) in the analysed DAG and its bodies, as nested lists in topological
    order: [(name, (block, t)) or (name, (block, t), [body tables])]. Comparable across runs whose
    node objects differ."""
    rows = []
    for node in dag.topological_op_nodes():
        row = (node.name, node_start_time.get(node))
        if isinstance(node.op, ControlFlowOp):
            bodies = [start_time_table(body, node_start_time, node_block_dags) for body in node_block_dags[node]]
            row = (*row, bodies)
        rows.append(row)
    return rows


def as_circuit(dag_or_circuit) -> QuantumCircuit:
    return dag_or_circuit if isinstance(dag_or_circuit, QuantumCircuit) else dag_to_circuit(dag_or_circuit)
