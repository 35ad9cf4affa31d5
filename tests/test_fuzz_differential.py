"""Generated circuits, shrunk on failure, compared between `_tarvex.QuantumDAG` and the model.

Runs are derandomized and keep no example database, so every run tries the same examples.
TARVEX_FUZZ_SCALE multiplies the example counts for a longer hunt by hand.
"""

import math

from hypothesis import given
from hypothesis import strategies as st

from conftest import U64_MAX, fuzz_settings
from test_differential import HUGE_QUBITS, NAMES, SPECIAL_DURATIONS_NS, check_circuit, replay

qubits_small = st.integers(0, 4)
qubits_any = st.one_of(
    qubits_small, qubits_small, st.sampled_from(HUGE_QUBITS), st.integers(0, U64_MAX)
)
durations_any = st.one_of(
    st.sampled_from(SPECIAL_DURATIONS_NS),
    st.integers(0, 30).map(lambda tens: tens * 10.0),
    st.floats(allow_nan=True, allow_infinity=True),
)
# Durations that land idle times on and around the 100 ns mark without ties or NaN.
durations_timing = st.one_of(
    st.sampled_from((10.0, 50.0, 90.0, 100.0, 99.999, 100.000001, 150.0, 200.0)),
    st.floats(0.5, 250.0),
)
names = st.one_of(st.sampled_from(NAMES), st.text(max_size=4))


def gates(qubit, duration):
    return st.tuples(
        st.just("gate"), names, st.lists(qubit, max_size=4) | st.tuples(qubit, qubit), duration
    )


def circuits(qubit, duration, max_gates):
    """Gates with an occasional schedule step; a final one unless the draw leaves it stale."""
    step = st.one_of(gates(qubit, duration), gates(qubit, duration), st.just(("schedule",)))
    return st.tuples(st.lists(step, max_size=max_gates), st.booleans()).map(
        lambda drawn: drawn[0] + [("schedule",)] if drawn[1] else drawn[0]
    )


@fuzz_settings(2000)
@given(circuits(qubits_any, durations_any, 30))
def test_any_circuit_matches_model(ops):
    check_circuit(ops)


@fuzz_settings(1500)
@given(circuits(qubits_small, durations_timing, 40))
def test_timing_circuit_matches_model(ops):
    check_circuit(ops)


@fuzz_settings(60)
@given(circuits(st.integers(0, 7), durations_any, 30), st.integers(1, 150))
def test_long_circuit_matches_model(block, repeats):
    """A drawn block repeated up to 150 times: thousands of gates that still shrink well."""
    check_circuit(block * repeats)


def test_idle_of_exactly_100_ns_gets_a_pair():
    """Idle time counts from 0: a first gate at 100 ns gets a pair, one a double earlier none."""
    below = math.nextafter(100.0, 0.0)
    ops = [("gate", "a", [0], 100.0), ("gate", "b", [1], below),
           ("gate", "c", [2, 0], 1.0), ("gate", "d", [3, 1], 1.0), ("schedule",)]
    _, model = replay(ops)
    assert [name for name, _, _ in model.apply_dd_pass().get_all_nodes()] == [
        "a", "b", "DD_X", "DD_Y", "c", "d"]
    check_circuit(ops)
