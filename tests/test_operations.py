"""The graph operations through Python: insertion, export, schedule, idle windows and the DD pass."""
import math

import pytest

from _tarvex import QuantumDAG, TarvexError
from conftest import U64_MAX, build, same, snapshot

NAN, INF = math.nan, math.inf


def test_ids_and_count():
    dag = QuantumDAG()
    assert dag.node_count() == 0
    ids = [dag.add_gate(name, qubits, duration) for name, qubits, duration in
           [("h", [0], 10.0), ("", [], -1.0), ("h", [0], 10.0), ("x", [U64_MAX, U64_MAX], NAN)]]
    assert ids == [0, 1, 2, 3]
    assert dag.node_count() == 4


def test_values_are_stored_unchanged():
    gates = [("", [], 0.0), ("neg", [U64_MAX], -5.0), ("inf", [3, 3], INF), ("nan", [2, 0, 1], NAN),
             ("a\x00é", [0], -INF)]
    assert same(build(gates, schedule=False).get_all_nodes(), gates)


EXPORT_CASES = {
    "empty": ([], []),
    "chain": ([("X", [0], 1.0), ("CX", [0, 1], 2.0), ("H", [1], 3.0)], None),
    "interleaved": ([("a", [5], 1.0), ("b", [1], 1.0), ("c", [5], 1.0), ("d", [0], 1.0)], None),
    "no qubits and repeats": ([("empty", [], 4.0), ("repeat", [3, 3], 1.0)], None),
}


@pytest.mark.parametrize("gates, expected", EXPORT_CASES.values(), ids=EXPORT_CASES)
@pytest.mark.parametrize("schedule", [False, True], ids=["unscheduled", "scheduled"])
def test_export_in_id_order(gates, expected, schedule):
    dag = build(gates, schedule)
    exported = dag.get_all_nodes()
    assert same(exported, [tuple(gate) for gate in gates] if expected is None else expected)
    assert dag.get_all_nodes() == exported


def test_export_is_a_copy():
    dag = build([("a", [0, 1], 1.0)])
    exported = dag.get_all_nodes()
    exported[0][1].append(9)
    exported.clear()
    assert dag.get_all_nodes() == [("a", [0, 1], 1.0)]


SCHEDULE_CASES = {
    "empty": ([], []),
    "one gate": ([("a", [0], 20.0)], [(0.0, 20.0)]),
    "join": ([("a", [0], 20.0), ("b", [1], 30.0), ("c", [0, 1], 10.0)], [(0.0, 20.0), (0.0, 30.0), (30.0, 40.0)]),
    "parallel": ([("a", [2], 5.0), ("b", [1], 7.0), ("c", [0], 9.0)], [(0.0, 5.0), (0.0, 7.0), (0.0, 9.0)]),
    "no qubits": ([("a", [0], 50.0), ("b", [0], 50.0), ("e", [], 3.0)], [(0.0, 50.0), (50.0, 100.0), (0.0, 3.0)]),
    "repeated qubit": ([("a", [2], 4.0), ("b", [2, 2], 1.0)], [(0.0, 4.0), (4.0, 5.0)]),
    "negative": ([("a", [0], -10.0), ("b", [0], 5.0)], [(0.0, -10.0), (0.0, 5.0)]),
    "nan": ([("a", [0], NAN), ("b", [1], 7.0), ("c", [0, 1], 5.0)], [(0.0, NAN), (0.0, 7.0), (7.0, 12.0)]),
    "inf": ([("a", [0], INF), ("b", [0, 1], 1.0)], [(0.0, INF), (INF, INF)]),
    "tie": ([("a", [0], 10.0), ("b", [1], 10.0), ("c", [1, 0], 1.0)], [(0.0, 10.0), (0.0, 10.0), (10.0, 11.0)]),
}


@pytest.mark.parametrize("gates, expected", SCHEDULE_CASES.values(), ids=SCHEDULE_CASES)
def test_schedule(gates, expected):
    dag = build(gates, schedule=False)
    assert dag.build_schedule() is None
    assert same([dag.get_node_schedule(i) for i in range(len(gates) + 1)], expected + [None])
    dag.build_schedule()
    assert same([dag.get_node_schedule(i) for i in range(len(gates))], expected)


def test_schedule_is_stale_until_rebuilt():
    dag = build([("a", [0], 20.0), ("b", [0], 5.0)], schedule=False)
    assert dag.get_node_schedule(0) is None
    dag.build_schedule()
    assert dag.add_gate("c", [0], 1.0) == 2
    assert [dag.get_node_schedule(i) for i in range(3)] == [(0.0, 20.0), (20.0, 25.0), None]
    dag.build_schedule()
    assert [dag.get_node_schedule(i) for i in range(3)] == [(0.0, 20.0), (20.0, 25.0), (25.0, 26.0)]
    assert dag.get_node_schedule(U64_MAX) is None


WORKED_WINDOWS = [("a", [0], 10.0), ("b", [1], 30.0), ("c", [0, 1], 5.0), ("d", [0], 10.0)]
# first uses: qubit 7 by node 0, 3 by node 1, 2**64-1 by node 2, 0 by node 3, 5 by the blocker
FIRST_USE = [("q7", [7], 10.0), ("q3", [3], 20.0), ("qmax", [U64_MAX], 30.0), ("q0", [0], 40.0),
             ("blocker", [5], 100.0), ("all", [0, 5, U64_MAX, 3, 7], 1.0)]

WINDOW_CASES = {
    "worked 20": (WORKED_WINDOWS, 20.0, [(0, 10.0, 30.0)]),
    "worked just above 20": (WORKED_WINDOWS, 20.000001, []),
    "worked 0": (WORKED_WINDOWS, 0.0, [(0, 10.0, 30.0), (0, 35.0, 35.0), (1, 30.0, 30.0)]),
    "worked nan": (WORKED_WINDOWS, NAN, []),
    "worked -inf": (WORKED_WINDOWS, -INF, [(0, 10.0, 30.0), (0, 35.0, 35.0), (1, 30.0, 30.0)]),
    "first use 0": (FIRST_USE, 0.0,
                    [(7, 10.0, 100.0), (3, 20.0, 100.0), (U64_MAX, 30.0, 100.0), (0, 40.0, 100.0), (5, 100.0, 100.0)]),
    "first use 65": (FIRST_USE, 65.0, [(7, 10.0, 100.0), (3, 20.0, 100.0), (U64_MAX, 30.0, 100.0)]),
    "empty": ([], 0.0, []),
    "late first use": ([("late", [4], 1.0), ("other", [1], 500.0), ("on4", [1, 4], 1.0)], 0.0,
                       [(4, 1.0, 500.0), (1, 500.0, 500.0)]),
    "none before first": ([("w", [9], 500.0), ("only", [9, 4], 1.0)], -INF, [(9, 500.0, 500.0)]),
    "nan end": ([("nan", [0], NAN), ("b", [1], 50.0), ("c", [0, 1], 1.0), ("d", [0], 1.0)], -INF,
                [(0, 51.0, 51.0), (1, 50.0, 50.0)]),
    "repeat zero duration": ([("z", [4, 4], 0.0)], 0.0, [(4, 0.0, 0.0)]),
    "repeat 0": ([("twice", [4, 4], 5.0)], 0.0, []),
    "repeat -5": ([("twice", [4, 4], 5.0)], -5.0, [(4, 5.0, 0.0)]),
}


@pytest.mark.parametrize("gates, min_gap_ns, expected", WINDOW_CASES.values(), ids=WINDOW_CASES)
def test_idle_windows(gates, min_gap_ns, expected):
    dag = build(gates)
    before = snapshot(dag)
    assert same(dag.find_idle_windows(min_gap_ns), expected)
    assert same(dag.find_idle_windows(min_gap_ns), expected)
    assert snapshot(dag) == before


def test_idle_windows_read_only_the_stored_schedule():
    dag = build(WORKED_WINDOWS, schedule=False)
    assert dag.find_idle_windows(-INF) == []
    dag.build_schedule()
    dag.add_gate("late", [1], 1.0)
    dag.add_gate("late", [2], 1.0)
    assert dag.find_idle_windows(0.0) == [(0, 10.0, 30.0), (0, 35.0, 35.0), (1, 30.0, 30.0)]


WORKED_DD = [("h", [0], 10.0), ("x", [1], 200.0), ("cx", [0, 1], 20.0)]
WORKED_DD_RESULT = [("h", [0], 10.0), ("x", [1], 200.0), ("DD_X", [0], 50.0), ("DD_Y", [0], 50.0),
                    ("cx", [0, 1], 20.0)]


def dd(q):
    return [("DD_X", [q], 50.0), ("DD_Y", [q], 50.0)]


DD_CASES = [
    (WORKED_DD, WORKED_DD_RESULT),
    ([], []),
    ([("a", [0], 10.0), ("w", [1], 110.0), ("b", [0, 1], 1.0)],
     [("a", [0], 10.0), ("w", [1], 110.0), *dd(0), ("b", [0, 1], 1.0)]),
    ([("a", [0], 10.0), ("w", [1], 109.999), ("b", [0, 1], 1.0)],
     [("a", [0], 10.0), ("w", [1], 109.999), ("b", [0, 1], 1.0)]),
    ([("w", [1], 100.0), ("b", [0, 1], 1.0)], [("w", [1], 100.0), *dd(0), ("b", [0, 1], 1.0)]),
    ([("w", [1], 99.999), ("b", [0, 1], 1.0)], [("w", [1], 99.999), ("b", [0, 1], 1.0)]),
    ([("w", [9], 150.0), ("b", [2, 0, 9], 1.0)], [("w", [9], 150.0), *dd(2), *dd(0), ("b", [2, 0, 9], 1.0)]),
    ([("w", [1], 150.0), ("b", [0, 0, 1], 1.0)], [("w", [1], 150.0), *dd(0), ("b", [0, 0, 1], 1.0)]),
    ([("w", [0], 500.0), ("e", [], 5.0)], [("w", [0], 500.0), ("e", [], 5.0)]),
    ([("n", [0], NAN), ("w", [1], 200.0), ("b", [0, 1], 1.0)],
     [("n", [0], NAN), ("w", [1], 200.0), ("b", [0, 1], 1.0)]),
    ([("w", [1], 300.0), ("é\x00", [U64_MAX, 1], -3.5), ("i", [U64_MAX], INF)],
     [("w", [1], 300.0), *dd(U64_MAX), ("é\x00", [U64_MAX, 1], -3.5), ("i", [U64_MAX], INF)]),
]
DD_IDS = ["worked", "empty", "idle 100 after a gate", "idle under 100 after a gate", "idle 100 from the start",
          "idle under 100 from the start", "gate order", "repeated qubit", "no qubits", "nan end", "odd values"]


@pytest.mark.parametrize("gates, expected", DD_CASES, ids=DD_IDS)
def test_dd_pass(gates, expected):
    source = build(gates)
    before = snapshot(source)
    result = source.apply_dd_pass()
    assert type(result) is QuantumDAG and result is not source
    assert same(result.get_all_nodes(), expected)
    assert [result.get_node_schedule(i) for i in range(len(expected))] == [None] * len(expected)
    assert snapshot(source) == before


def test_dd_worked_example_scheduled():
    result = build(WORKED_DD).apply_dd_pass()
    result.build_schedule()
    assert [result.get_node_schedule(i) for i in range(5)] == [
        (0.0, 10.0), (0.0, 200.0), (10.0, 60.0), (60.0, 110.0), (200.0, 220.0)
    ]
    assert result.find_idle_windows(0.0)[0] == (0, 10.0, 10.0)
    again = result.apply_dd_pass()
    assert again.get_all_nodes() == WORKED_DD_RESULT
    assert again.add_gate("more", [0], 1.0) == 5 and result.node_count() == 5


@pytest.mark.parametrize(
    "scheduled, added, message_counts",
    [([], [("a", [0], 1.0), ("b", [1], 1.0)], "0 of 2"),
     (WORKED_DD, [("late", [0], 1.0), ("later", [], 1.0)], "3 of 5"),
     ([("a", [0], 1.0)], [("b", [0], 1.0)], "1 of 2")],
    ids=["never scheduled", "two added after", "one added after"],
)
def test_dd_pass_needs_a_complete_schedule(scheduled, added, message_counts):
    dag = build(scheduled, schedule=bool(scheduled))
    for gate in added:
        dag.add_gate(*gate)
    before = snapshot(dag)
    with pytest.raises(TarvexError) as caught:
        dag.apply_dd_pass()
    assert type(caught.value) is TarvexError
    assert str(caught.value) == (
        f"QuantumDAG.apply_dd_pass() needs a schedule for every gate: {message_counts} gates are scheduled; "
        "call build_schedule() first"
    )
    assert snapshot(dag) == before
    dag.build_schedule()
    assert [node[0] for node in dag.apply_dd_pass().get_all_nodes()][-len(added):] == [g[0] for g in added]


def test_typical_run():
    dag = QuantumDAG()
    assert dag.add_gate("h", [0], 10.0) == 0
    dag.add_gate("x", [1], 200.0)
    dag.add_gate("cx", [0, 1], 20.0)
    dag.build_schedule()
    assert dag.find_idle_windows(100.0) == [(0, 10.0, 200.0)]
    decoupled = dag.apply_dd_pass()
    decoupled.build_schedule()
    assert decoupled.get_all_nodes() == WORKED_DD_RESULT
    assert decoupled.find_idle_windows(100.0) == []
    assert decoupled.find_idle_windows(90.0) == [(0, 110.0, 200.0)]
