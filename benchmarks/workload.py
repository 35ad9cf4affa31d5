"""The benchmark circuit: N timed gates on 100 qubits, kept compact and handed out in chunks.

About 70% of the gates act on one qubit and 30% on two neighbouring qubits of a 10 x 10 grid.
Each gate's duration is a function of its name and qubits (20 to 600 ns), as a backend's
calibration table would give it, so the same circuit can be described to other tools by a table
of (name, qubits) -> duration. Two-qubit gates of 280 to 600 ns keep their partner qubit waiting,
and the slow single-qubit gate leaves its neighbours behind, so the schedule has many idle windows
of 100 ns and more, and the DD pass has work to do.

Every distinct gate is one pre-built (name, qubits, duration_ns) tuple in `GATE_POOL` (about
1,500 of them); the circuit itself is an array of 16-bit pool indices, two bytes per gate. The
timed loops iterate over chunks, lists of pool tuples that are built outside the timed region, so
neither the generator nor the workload's Python objects grow with N.
"""

from __future__ import annotations

from collections.abc import Iterator

import numpy as np

N_QUBITS = 100
GRID_SIDE = 10
TWO_QUBIT_FRACTION = 0.30
CHUNK_GATES = 1 << 16
DEFAULT_SEED = 20240611

# (name, share among gates of its arity, base duration in ns, added ns per step of the qubit's
# calibration class 0..4). Names run from 1 to 15 bytes.
ONE_QUBIT_GATES = (
    ("rz", 0.40, 20.0, 0.0),
    ("sx", 0.35, 36.0, 2.0),
    ("h", 0.15, 56.0, 2.0),
    ("sy_drag_slow", 0.10, 120.0, 10.0),
)
TWO_QUBIT_GATES = (
    ("cx", 0.45, 280.0, 20.0),
    ("ecr", 0.45, 400.0, 20.0),
    ("cr_echo_long_90", 0.10, 560.0, 10.0),
)


def _calibration_class(qubits: tuple[int, ...]) -> int:
    return sum(qubits) * 7 % 5


def coupling_pairs() -> list[tuple[int, int]]:
    """Ordered neighbour pairs of the 10 x 10 grid, both directions: 360 pairs."""
    pairs = []
    for q in range(N_QUBITS):
        row, col = divmod(q, GRID_SIDE)
        if col + 1 < GRID_SIDE:
            pairs += [(q, q + 1), (q + 1, q)]
        if row + 1 < GRID_SIDE:
            pairs += [(q, q + GRID_SIDE), (q + GRID_SIDE, q)]
    return pairs


def gate_table() -> list[tuple[str, tuple[int, ...], float]]:
    """Every distinct gate (name, qubits, duration_ns), in pool order."""
    table = []
    for name, _share, base_ns, step_ns in ONE_QUBIT_GATES:
        for q in range(N_QUBITS):
            table.append((name, (q,), base_ns + step_ns * _calibration_class((q,))))
    pairs = coupling_pairs()
    for name, _share, base_ns, step_ns in TWO_QUBIT_GATES:
        for pair in pairs:
            table.append((name, pair, base_ns + step_ns * _calibration_class(pair)))
    return table


GATE_TABLE = gate_table()
# The objects the timed loops pass: one str per name, one list per qubit tuple, one float per gate.
GATE_POOL: list[tuple[str, list[int], float]] = [
    (name, list(qubits), duration_ns) for name, qubits, duration_ns in GATE_TABLE
]
N_ONE_QUBIT = len(ONE_QUBIT_GATES) * N_QUBITS
N_PAIRS = len(coupling_pairs())


def generate(n_gates: int, seed: int = DEFAULT_SEED) -> np.ndarray:
    """The circuit of `n_gates` gates as pool indices (uint16), the same for the same seed."""
    rng = np.random.default_rng(seed)
    two_qubit = rng.random(n_gates) < TWO_QUBIT_FRACTION
    one_shares = np.array([g[1] for g in ONE_QUBIT_GATES])
    two_shares = np.array([g[1] for g in TWO_QUBIT_GATES])
    one_idx = rng.choice(len(ONE_QUBIT_GATES), size=n_gates, p=one_shares) * N_QUBITS + rng.integers(
        0, N_QUBITS, size=n_gates
    )
    two_idx = (
        N_ONE_QUBIT
        + rng.choice(len(TWO_QUBIT_GATES), size=n_gates, p=two_shares) * N_PAIRS
        + rng.integers(0, N_PAIRS, size=n_gates)
    )
    indices = np.where(two_qubit, two_idx, one_idx).astype(np.uint16)
    assert int(indices.max(initial=0)) < len(GATE_POOL)
    return indices


def chunks(indices: np.ndarray, chunk_gates: int = CHUNK_GATES) -> Iterator[list[tuple[str, list[int], float]]]:
    """The circuit as lists of at most `chunk_gates` pool tuples, in program order."""
    get = GATE_POOL.__getitem__
    for begin in range(0, len(indices), chunk_gates):
        yield list(map(get, indices[begin : begin + chunk_gates].tolist()))


def entry_count(indices: np.ndarray) -> int:
    """Total number of qubit-list entries of the circuit."""
    return int(len(indices) + np.count_nonzero(indices >= N_ONE_QUBIT))
