"""Instruction labels across the native passes, which Qiskit's C API neither reads nor writes.

Qiskit's padding passes keep every instruction's label. The native output is written without
them, so the labelled instructions are found in the input and their copies in the output are
relabelled. Qiskit offers no way to find labelled instructions short of a Python object per
instruction: for gates that costs a node object each (about 250 ns, `dag.op_nodes()`). Barriers
alone are found by name (`dag.named_nodes`), at a cost per barrier only. A QuantumCircuit has no
such lookup by name: its labels take a walk over its instructions (about 190 ns each); its barriers
are found by the native code, which reports where each went.
"""

from __future__ import annotations

from qiskit.circuit import QuantumCircuit
from qiskit.dagcircuit import DAGCircuit


def labelled_nodes(dag: DAGCircuit, every_instruction: bool) -> tuple[list[int], list[str]]:
    """The op node ids and labels of `dag`'s labelled instructions: of every instruction, or only
    of its barriers. O(instructions), or O(barriers)."""
    if every_instruction:
        nodes = dag.op_nodes()
    elif "barrier" in dag.count_ops(recurse=False):  # counted natively: no walk over the nodes
        nodes = dag.named_nodes("barrier")
    else:
        return [], []
    ids: list[int] = []
    labels: list[str] = []
    for node in nodes:
        label = node.label
        if label is not None:
            ids.append(node._node_id)
            labels.append(label)
    return ids, labels


def relabel(out: DAGCircuit, labels: list[str], out_ids: list[int | None]) -> None:
    """Gives op node `out_ids[k]` of `out` the label `labels[k]` (None: the instruction was not
    copied, as the delays of the input are not). Node ids stay as they are. O(labels)."""
    for label, node_id in zip(labels, out_ids):
        if node_id is None:
            continue
        node = out.node(node_id)
        op = node.op.to_mutable()
        op.label = label
        out.substitute_node(node, op)



def labelled_instructions(circuit: QuantumCircuit) -> tuple[list[int], list[str]]:
    """The indices and labels of every labelled instruction of `circuit`. O(instructions)."""
    indices: list[int] = []
    labels: list[str] = []
    for i, instruction in enumerate(circuit._data):
        label = instruction.label
        if label is not None:
            indices.append(i)
            labels.append(label)
    return indices, labels


def relabel_circuit(data: object, labels: list[str], out_indices: list[int | None]) -> None:
    """Gives instruction `out_indices[k]` of the CircuitData `data` the label `labels[k]` (None:
    not copied). O(labels)."""
    for label, index in zip(labels, out_indices):
        if index is None:
            continue
        instruction = data[index]
        op = instruction.operation.to_mutable()
        op.label = label
        data[index] = instruction.replace(operation=op)


def relabel_barriers(circuit: QuantumCircuit, data: object, barriers: list[tuple[int, int]]) -> None:
    """Gives each barrier of `data` the label of its source in `circuit`, from the native result's
    (source index, output index) pairs. O(barriers)."""
    source = circuit._data
    labelled = [(source[i].label, k) for i, k in barriers]
    relabel_circuit(data, [label for label, _ in labelled if label is not None],
                    [k for label, k in labelled if label is not None])
