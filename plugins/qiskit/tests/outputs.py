"""Whole-output comparison of circuits: what Qiskit's == leaves out, compared exactly.

Qiskit's == compares circuits up to graph isomorphism with a tolerance on parameters; a pass that
claims Qiskit's output must give the same instructions in the same order with the same parameters
and labels, and the same name, metadata, global phase, registers, timing and layout.
"""

import numpy as np
from qiskit import QuantumCircuit

ATTRIBUTES = (
    "name",
    "metadata",
    "global_phase",
    "qregs",
    "cregs",
    "_duration",
    "_unit",
    "_op_start_times",
    "_layout",
    "_clbit_write_latency",
    "_conditional_latency",
)


def exact(param: object) -> object:
    """A parameter as == compares it exactly: a matrix (a unitary's) by its entries."""
    return param.tolist() if isinstance(param, np.ndarray) else param


def instructions(circuit: QuantumCircuit) -> list[tuple]:
    return [
        (i.operation.name, [exact(p) for p in i.operation.params], i.operation.label, i.qubits, i.clbits)
        for i in circuit.data
    ]


def assert_same_circuit(got: object, expected: QuantumCircuit) -> None:
    assert isinstance(got, QuantumCircuit), got
    assert instructions(got) == instructions(expected)
    for name in ATTRIBUTES:
        assert getattr(got, name, None) == getattr(expected, name, None), name
    assert got == expected
