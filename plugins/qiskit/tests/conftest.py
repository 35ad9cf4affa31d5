"""Circuits and targets the plugin's tests share: GenericBackendV2 targets, one with 16-dt alignment."""

import copy
import functools
import math
import random

from qiskit import QuantumCircuit, transpile
from qiskit.circuit import Parameter
from qiskit.circuit.library import QFTGate, UnitaryGate
from qiskit.providers.fake_provider import GenericBackendV2

from frozen_heap import pytest_collection_finish  # noqa: F401  (hooks pytest finds here)
from table_share import pytest_collection_modifyitems  # noqa: F401

BASIS = ["cx", "id", "rz", "sx", "x", "y"]


@functools.cache
def backend() -> GenericBackendV2:
    return GenericBackendV2(7, seed=3, basis_gates=BASIS)


@functools.cache
def aligned_target(alignment: int = 16):
    """The backend's target with every duration rounded up to whole multiples of `alignment` dt and
    that pulse alignment, so that scheduled idle stretches are multiples of it."""
    target = copy.deepcopy(backend().target)
    step = alignment * target.dt
    for name in list(target.operation_names):
        for qargs, props in list(target[name].items()):
            if props is not None and props.duration:
                props = copy.copy(props)
                props.duration = math.ceil(round(props.duration / step, 6)) * step
                target.update_instruction_properties(name, qargs, props)
    target.pulse_alignment = alignment
    return target


def random_circuit(seed: int, n_qubits: int = 5, n_ops: int = 70, si_delays: bool = True) -> QuantumCircuit:
    """Gates with measurements into shared classical bits, resets, partial barriers and delays in
    dt (multiples of 16) and, with `si_delays`, in ns and us."""
    rng = random.Random(seed)
    qc = QuantumCircuit(n_qubits, 3)
    for _ in range(n_ops):
        k = rng.random()
        q = rng.randrange(n_qubits)
        if k < 0.35:
            rng.choice([qc.sx, qc.x, qc.h])(q)
        elif k < 0.4:
            qc.rz(rng.random(), q)
        elif k < 0.65:
            qc.cx(*rng.sample(range(n_qubits), 2))
        elif k < 0.75:
            qc.measure(q, rng.randrange(3))
        elif k < 0.82:
            qc.reset(q)
        elif k < 0.88:
            qc.barrier(*rng.sample(range(n_qubits), rng.randint(1, n_qubits)))
        elif si_delays and k < 0.92:
            qc.delay(rng.choice([100.0, 0.5]), q, unit=rng.choice(["ns", "us"]))
        else:
            qc.delay(rng.choice([160, 480, 3200]), q)
    return qc


def qft_circuit(n_qubits: int = 5) -> QuantumCircuit:
    qc = QuantumCircuit(n_qubits)
    qc.append(QFTGate(n_qubits), range(n_qubits))
    qc.measure_all()
    return qc


def labelled(circuit: QuantumCircuit, every: int = 3) -> QuantumCircuit:
    """A copy of `circuit` with every `every`-th instruction labelled ("L0", "L1", ...), barriers,
    measurements and delays among them."""
    out = circuit.copy_empty_like()
    for i, inst in enumerate(circuit.data):
        op = inst.operation
        if i % every == 0:
            op = op.to_mutable()
            op.label = f"L{i}"
        out.append(op, inst.qubits, inst.clbits)
    return out


@functools.cache
def transpiled(name: str) -> QuantumCircuit:
    """Physical circuits on the backend: a QFT, random circuits with and without SI delays, and a
    random circuit with labels."""
    if name == "random-labelled":
        return labelled(transpiled("random"))
    source = {
        "qft": lambda: qft_circuit(),
        "random": lambda: random_circuit(1),
        "random-dt-delays": lambda: random_circuit(2, si_delays=False),
    }[name]()
    return transpile(source, backend(), optimization_level=1, seed_transpiler=7)


def labels(circuit: QuantumCircuit) -> list[tuple[str, str | None]]:
    """(name, label) of every instruction in order: Qiskit's == does not compare labels."""
    return [(inst.operation.name, inst.operation.label) for inst in circuit.data]


CIRCUITS = ["qft", "random", "random-dt-delays", "random-labelled"]


def symbolic_circuit() -> QuantumCircuit:
    """A symbolic rotation, a unitary gate and a measurement: what the native passes copy as they are."""
    theta = Parameter("theta")
    qc = QuantumCircuit(3, 1)
    qc.rz(theta, 0)
    qc.x(1)
    qc.append(UnitaryGate([[0, 1], [1, 0]]), [2])
    qc.cx(0, 1)
    qc.measure(1, 0)
    qc.rz(2 * theta + 1, 2)
    return qc
