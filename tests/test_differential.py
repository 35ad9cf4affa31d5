"""Random circuits run through `_tarvex.QuantumDAG` and the pure-Python reference model, compared.

A circuit is a list of operations, each ("gate", name, qubits, duration_ns) or ("schedule",), run
in order on both graphs; gates after the last "schedule" leave the schedule stale. The checks
cover the export, every node's schedule, idle windows for several thresholds and the decoupling
pass with its rescheduled result. The helpers here also serve test_fuzz_differential.py.
"""

import math
import random
from bisect import bisect_left

import pytest

import _tarvex
from conftest import U64_MAX, same
from reference_model import ReferenceDAG, schedule_missing_message

IDLE_THRESHOLDS_NS = (0.0, 100.0, -math.inf, math.nan)
HUGE_QUBITS = (U64_MAX, U64_MAX - 1, 2**63, 2**63 - 1, 2**32, 2**32 - 1)
SPECIAL_DURATIONS_NS = (
    0.0, -0.0, 50.0, 100.0, 99.999, 100.000001, -10.0, math.nan, math.inf, -math.inf, 5e-324, 1e308,
)
NAMES = ("h", "x", "cx", "measure", "", "\x00", "a\x00b", "DD_X", "DD_Y", "ü", "量子", "\U0001f600")

# ---------------------------------------------------------------------------------------------
# Comparison helpers


def assert_same(got, expected, what):
    if not same(got, expected):
        raise AssertionError(f"{what}: module gave {got!r}, model gives {expected!r}")


def replay(ops):
    """Runs `ops` on a fresh module graph and a fresh model; checks every returned id."""
    dag = _tarvex.QuantumDAG()
    model = ReferenceDAG()
    for op in ops:
        if op[0] == "schedule":
            assert dag.build_schedule() is None
            model.build_schedule()
        else:
            _, name, qubits, duration_ns = op
            assert_same(dag.add_gate(name, qubits, duration_ns),
                        model.add_gate(name, qubits, duration_ns), f"add_gate{op[1:]!r}")
    return dag, model


def check_store(dag, model):
    """Node count, export and the schedule lookup of every id (and of ids past the end)."""
    n_gates = model.node_count()
    assert dag.node_count() == n_gates
    assert_same(dag.get_all_nodes(), model.get_all_nodes(), "get_all_nodes()")
    for node_id in [*range(n_gates), n_gates, n_gates + 1, U64_MAX]:
        assert_same(dag.get_node_schedule(node_id), model.get_node_schedule(node_id),
                    f"get_node_schedule({node_id})")


def unclear_starts(model):
    """qubit -> sorted distinct start times, and the set of those whose intervals differ.

    Intervals on one qubit with equal start times but different ends stay in an unspecified
    order after sorting, so the windows next to them are not fixed; equal intervals (a qubit
    repeated within one gate) can be swapped without effect and are fine.
    """
    by_qubit = {}
    for node in model.nodes.values():
        interval = model.schedule.get(node.id)
        if interval is None:
            continue
        for qubit in node.qubits:
            by_qubit.setdefault(qubit, {}).setdefault(interval[0], []).append(interval)
    result = {}
    for qubit, by_start in by_qubit.items():
        unclear = {start_ns for start_ns, intervals in by_start.items()
                   if any(not same(interval, intervals[0]) for interval in intervals)}
        if unclear:
            result[qubit] = (sorted(by_start), unclear)
    return result


def specified_windows(windows, unclear):
    """The windows whose two intervals are both fixed by the data, in their given order.

    A window's end is the later interval's start; it is fixed when neither that start nor the
    start just before it is shared by differing intervals.
    """
    kept = []
    for window in windows:
        qubit, _, later_start_ns = window
        if qubit in unclear:
            starts, unclear_set = unclear[qubit]
            if later_start_ns in unclear_set:
                continue
            position = bisect_left(starts, later_start_ns)
            if position and starts[position - 1] in unclear_set:
                continue
        kept.append(window)
    return kept


def check_idle_windows(dag, model):
    unclear = unclear_starts(model)
    for min_gap_ns in IDLE_THRESHOLDS_NS:
        got = dag.find_idle_windows(min_gap_ns)
        expected = model.find_idle_windows(min_gap_ns)
        what = f"find_idle_windows({min_gap_ns})"
        assert all(type(w) is tuple and len(w) == 3 for w in got), f"{what}: {got!r}"
        if not unclear:
            assert_same(got, expected, what)
            continue
        assert_same(specified_windows(got, unclear), specified_windows(expected, unclear), what)


def check_dd_pass(dag, model, passes=2):
    """The pass on both: the same refusal, or equal results before and after scheduling; then
    the pass again on the scheduled results, `passes` times in all."""
    source_export = dag.get_all_nodes()
    try:
        expected = model.apply_dd_pass()
    except Exception as error:  # the model's refusal of a stale schedule
        with pytest.raises(_tarvex.TarvexError) as raised:
            dag.apply_dd_pass()
        assert type(raised.value) is _tarvex.TarvexError
        assert str(raised.value) == str(error)
        return
    got = dag.apply_dd_pass()
    assert type(got) is _tarvex.QuantumDAG and got is not dag
    assert_same(dag.get_all_nodes(), source_export, "source export after apply_dd_pass()")
    check_store(got, expected)  # a fresh graph: nothing scheduled yet
    assert got.find_idle_windows(-math.inf) == []
    got.build_schedule()
    expected.build_schedule()
    check_store(got, expected)
    check_idle_windows(got, expected)
    if passes > 1:
        check_dd_pass(got, expected, passes - 1)


def check_circuit(ops):
    dag, model = replay(ops)
    check_store(dag, model)
    check_idle_windows(dag, model)
    check_dd_pass(dag, model)
    check_store(dag, model)  # the pass left the source as it was


# ---------------------------------------------------------------------------------------------
# Seeded random circuits


def random_duration(rng, profile):
    if profile == "plain" or rng.random() < 0.6:
        return rng.choice((rng.uniform(0.0, 250.0), float(rng.randrange(0, 300, 10))))
    return rng.choice(SPECIAL_DURATIONS_NS)


def random_qubit(rng, profile):
    if profile == "huge" or rng.random() < 0.1:
        return rng.choice((rng.choice(HUGE_QUBITS), rng.randrange(U64_MAX + 1)))
    return rng.randrange(6)


def random_circuit(seed, n_gates, profile, schedule_every=None):
    """`n_gates` random gates; a schedule step after roughly every `schedule_every` gates and at
    the end unless `profile` is "stale" (which leaves the last gates unscheduled)."""
    rng = random.Random(seed)
    ops = []
    for _ in range(n_gates):
        width = rng.choices((0, 1, 2, 3, 4), weights=(1, 8, 6, 2, 1))[0]
        qubits = [random_qubit(rng, profile) for _ in range(width)]
        if width and rng.random() < 0.05:
            qubits.append(rng.choice(qubits))
        if rng.random() < 0.1:
            qubits = tuple(qubits)
        name = rng.choice(NAMES) if rng.random() < 0.9 else "g" + "\x00" * rng.randrange(3)
        ops.append(("gate", name, qubits, random_duration(rng, profile)))
        if schedule_every and rng.randrange(schedule_every) == 0:
            ops.append(("schedule",))
    if profile == "stale":
        ops.insert(len(ops) * 3 // 4, ("schedule",))
    else:
        ops.append(("schedule",))
    return ops


@pytest.mark.parametrize(
    ("seed", "n_gates", "profile", "schedule_every"),
    [
        (0, 0, "plain", None),
        (1, 1, "special", None),
        (2, 12, "special", None),
        (3, 40, "plain", None),
        (4, 200, "special", 50),
        (5, 200, "huge", None),
        (6, 300, "stale", 40),
        (7, 1000, "plain", None),
        (8, 3000, "special", 500),
        (9, 3000, "stale", None),
        *[(seed, 25, profile, 5) for seed in range(100, 140) for profile in ("special", "stale")],
    ],
)
def test_random_circuit_matches_model(seed, n_gates, profile, schedule_every):
    check_circuit(random_circuit(seed, n_gates, profile, schedule_every))


def test_never_scheduled_graph():
    ops = random_circuit(11, 50, "special")[:-1]
    dag, model = replay(ops)
    check_store(dag, model)
    assert dag.find_idle_windows(-math.inf) == []
    check_dd_pass(dag, model)


def test_gates_added_after_schedule_are_not_seen():
    ops = [("gate", "a", [0], 10.0), ("gate", "b", [0], 10.0), ("schedule",),
           ("gate", "c", [0, 1], 500.0), ("gate", "d", [0], 10.0)]
    dag, model = replay(ops)
    assert model.find_idle_windows(-math.inf) == [(0, 10.0, 10.0)]
    check_idle_windows(dag, model)
    with pytest.raises(_tarvex.TarvexError) as raised:
        dag.apply_dd_pass()
    assert str(raised.value) == schedule_missing_message(2, 4)


# ---------------------------------------------------------------------------------------------
# The model against the documented worked examples


def model_of(*gates):
    model = ReferenceDAG()
    for gate in gates:
        model.add_gate(*gate)
    return model


def schedules(model):
    return [model.get_node_schedule(i) for i in range(model.node_count())]


def test_model_insertion_examples():
    model = model_of(("a", [0, 1], 1.0), ("b", [1, 0], 1.0), ("c", [3], 1.0), ("d", [3, 3], 1.0))
    assert model.edges == {0: [(1, 1), (1, 0)], 2: [(3, 3)], 3: [(3, 3)]}
    assert model.last_on_qubit == {0: 1, 1: 1, 3: 3}
    assert model.get_all_nodes()[3] == ("d", [3, 3], 1.0)


def test_model_schedule_examples():
    model = model_of(("g0", [0], 20.0), ("g1", [1], 30.0), ("g2", [0, 1], 10.0), ("e", [], 4.0))
    model.build_schedule()
    assert schedules(model) == [(0.0, 20.0), (0.0, 30.0), (30.0, 40.0), (0.0, 4.0)]
    model = model_of(("n", [0], -10.0), ("p", [0], 5.0))
    model.build_schedule()
    assert schedules(model) == [(0.0, -10.0), (0.0, 5.0)]
    model = model_of(("nan", [0], math.nan), ("g", [1], 7.0), ("cx", [0, 1], 5.0))
    model.build_schedule()
    assert math.isnan(model.get_node_schedule(0)[1])
    assert model.get_node_schedule(2) == (7.0, 12.0)
    model.add_gate("late", [0], 1.0)
    assert model.get_node_schedule(3) is None
    model.build_schedule()
    assert model.get_node_schedule(2) == (7.0, 12.0) and model.get_node_schedule(3) == (12.0, 13.0)


def test_model_idle_window_example():
    model = model_of(("a", [0], 10.0), ("b", [1], 30.0), ("c", [0, 1], 5.0), ("d", [0], 10.0))
    assert model.find_idle_windows(0.0) == []
    model.build_schedule()
    assert schedules(model) == [(0.0, 10.0), (0.0, 30.0), (30.0, 35.0), (35.0, 45.0)]
    assert model.find_idle_windows(20.0) == [(0, 10.0, 30.0)]
    assert model.find_idle_windows(20.000001) == []
    assert model.find_idle_windows(0.0) == [(0, 10.0, 30.0), (0, 35.0, 35.0), (1, 30.0, 30.0)]
    assert model.find_idle_windows(math.nan) == []


def test_model_dd_example():
    model = model_of(("h", [0], 10.0), ("x", [1], 200.0), ("cx", [0, 1], 20.0))
    with pytest.raises(Exception) as raised:
        model.apply_dd_pass(error_type=LookupError)
    assert type(raised.value) is LookupError
    assert str(raised.value) == (
        "QuantumDAG.apply_dd_pass() needs a schedule for every gate: 0 of 3 gates are scheduled; "
        "call build_schedule() first"
    )
    model.build_schedule()
    result = model.apply_dd_pass()
    assert result.get_all_nodes() == [
        ("h", [0], 10.0), ("x", [1], 200.0), ("DD_X", [0], 50.0), ("DD_Y", [0], 50.0),
        ("cx", [0, 1], 20.0),
    ]
    assert result.schedule == {}
    result.build_schedule()
    assert schedules(result) == [(0.0, 10.0), (0.0, 200.0), (10.0, 60.0), (60.0, 110.0),
                                 (200.0, 220.0)]
    assert ReferenceDAG().apply_dd_pass().node_count() == 0
