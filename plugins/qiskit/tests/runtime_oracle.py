"""The oracle of the IBM scheduling tests: qiskit-ibm-runtime's passes, run where their plain faults
cannot show (tarvex_qiskit.ibm.mended holds the mended passes and lists the mends), and what the
tests read from the runtime's analyses.
"""

from __future__ import annotations

from typing import Any

from qiskit import QuantumCircuit
from qiskit.circuit import ControlFlowOp
from qiskit.converters import circuit_to_dag, dag_to_circuit
from qiskit.passmanager.compilation_status import PropertySet
from qiskit.transpiler import Target

from tarvex_qiskit.ibm.mended import (  # noqa: F401 (the tests import them from here)
    ANALYSES,
    MendedPadDelay,
    _IdleInBlock,
    MendedPadDynamicalDecoupling,
    decoupled,
    fresh_bodies,
    outcome,
    padded,
)


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
