"""IBM device snapshots and circuits transpiled to them, shared by the tests that compare on real targets.

The snapshots come from qiskit-ibm-runtime's fake provider; a test module that uses them skips as a
whole when qiskit-ibm-runtime is not installed (`pytest.importorskip` before importing this).
"""

import functools

from qiskit import QuantumCircuit
from qiskit.circuit.library import QFTGate, efficient_su2
from qiskit.transpiler import generate_preset_pass_manager
from qiskit_ibm_runtime import fake_provider

# ECR with dt 2/9 ns and 16-dt pulse alignment (Sherbrooke, Kyiv); CZ with dt 4 ns (Torino, Fez).
BACKENDS = {
    "sherbrooke": fake_provider.FakeSherbrooke,
    "kyiv": fake_provider.FakeKyiv,
    "torino": fake_provider.FakeTorino,
    "fez": fake_provider.FakeFez,
}


@functools.cache
def backend(name: str):
    return BACKENDS[name]()


def ghz(n_qubits: int) -> QuantumCircuit:
    qc = QuantumCircuit(n_qubits)
    qc.h(0)
    for q in range(n_qubits - 1):
        qc.cx(q, q + 1)
    qc.measure_all()
    return qc


def _qft() -> QuantumCircuit:
    qc = QuantumCircuit(4)
    qc.append(QFTGate(4), range(4))
    qc.measure_all()
    return qc


def _su2() -> QuantumCircuit:
    qc = efficient_su2(6, reps=1)
    qc = qc.assign_parameters([0.1 * (k + 1) for k in range(qc.num_parameters)])
    qc.measure_all()
    return qc


def _mid_circuit() -> QuantumCircuit:
    """Mid-circuit measurement and reset, a labelled barrier on some qubits and delays in dt and in
    SI units, every one a multiple of 16 dt on the ECR devices."""
    qc = QuantumCircuit(4, 3)
    qc.h(0)
    qc.cx(0, 1)
    qc.measure(1, 0)
    qc.reset(1)
    qc.delay(320, 2)
    qc.barrier(0, 1, label="mid")
    qc.x(2)
    qc.delay(0.32, 3, unit="us")
    qc.cx(1, 3)
    qc.measure(0, 1)
    qc.sx(0)
    qc.measure(3, 2)
    return qc


SOURCES = {"ghz": lambda: ghz(5), "qft": _qft, "su2": _su2, "mid-circuit": _mid_circuit}


@functools.cache
def transpiled(backend_name: str, source: str, level: int) -> QuantumCircuit:
    """`source` transpiled to the device with generate_preset_pass_manager at `level`."""
    pm = generate_preset_pass_manager(level, backend(backend_name), seed_transpiler=5)
    return pm.run(SOURCES[source]())


# (backend, source, optimization level): every device and source at level 1, level 3 on two.
CASES = [(b, s, 1) for b in BACKENDS for s in SOURCES] + [(b, s, 3) for b in ("sherbrooke", "fez") for s in SOURCES]


def case_id(case) -> str:
    return "-".join(map(str, case))
