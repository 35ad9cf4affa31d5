"""Borrowing of an instance's graph by calls made re-entrantly from argument conversions."""
import pytest

from _tarvex import QuantumDAG
from conftest import Hook, HookIter, HookLen, bits, small_graph, snapshot

# (outer call, how the hook converts, value it converts to, whether the outer call borrows exclusively)
OUTER = [
    pytest.param(lambda dag, hook: dag.add_gate("outer", [5], hook), Hook, 1.0, True, id="add_gate duration_ns"),
    pytest.param(lambda dag, hook: dag.add_gate("outer", hook, 1.0), HookLen, [5], True, id="add_gate qubits len"),
    pytest.param(lambda dag, hook: dag.add_gate("outer", hook, 1.0), HookIter, [5], True, id="add_gate qubits iter"),
    pytest.param(lambda dag, hook: dag.add_gate("outer", [hook], 1.0), Hook, 5, True, id="add_gate qubit"),
    pytest.param(lambda dag, hook: dag.get_node_schedule(hook), Hook, 1, False, id="get_node_schedule"),
    pytest.param(lambda dag, hook: dag.find_idle_windows(hook), Hook, 0.0, False, id="find_idle_windows"),
]

# inner call on the same instance -> whether it borrows exclusively
INNER = {
    "node_count": (lambda dag: dag.node_count(), False),
    "get_all_nodes": (lambda dag: dag.get_all_nodes(), False),
    "get_node_schedule": (lambda dag: dag.get_node_schedule(1), False),
    "find_idle_windows": (lambda dag: dag.find_idle_windows(0.0), False),
    "apply_dd_pass": (lambda dag: dag.apply_dd_pass().get_all_nodes(), False),
    "add_gate": (lambda dag: dag.add_gate("inner", [0], 1.0), True),
    "build_schedule": (lambda dag: dag.build_schedule(), True),
}


@pytest.mark.parametrize("inner, inner_exclusive", INNER.values(), ids=INNER)
@pytest.mark.parametrize("outer, hook_type, value, outer_exclusive", OUTER)
def test_reentrant_call(outer, hook_type, value, outer_exclusive, inner, inner_exclusive):
    dag = small_graph()
    before = snapshot(dag)
    expected_inner_result = inner(small_graph())
    hook = hook_type(lambda: inner(dag), value)

    assert outer(dag, hook) == outer(small_graph(), value)

    if inner_exclusive:
        assert hook.outcome == ("RuntimeError", "Already borrowed")
    elif outer_exclusive:
        assert hook.outcome == ("RuntimeError", "Already mutably borrowed")
    else:
        assert hook.outcome == ("returned", expected_inner_result)
    count, nodes, schedule = snapshot(dag)
    if outer_exclusive:
        assert (count, nodes[:2], schedule[:2]) == (3, before[1], before[2][:2])
        assert nodes[2] == ("outer", (5,), bits(1.0)) and schedule[2] is None
    else:
        assert (count, nodes, schedule) == before
    assert dag.add_gate("after", [0], 1.0) == count


def test_borrow_error_from_a_conversion_reaches_the_caller_unchanged():
    dag = small_graph()
    before = snapshot(dag)
    raised = []

    class Reraise:
        def __float__(self):
            try:
                dag.node_count()
            except RuntimeError as exc:
                raised.append(exc)
                raise
            return 1.0

    with pytest.raises(RuntimeError) as caught:
        dag.add_gate("x", [0], Reraise())
    assert [caught.value] == raised
    assert str(caught.value) == "Already mutably borrowed"
    assert snapshot(dag) == before


def test_nested_shared_borrows_and_release():
    dag = small_graph()
    depth_two = Hook(lambda: (dag.node_count(), dag.add_gate("no", [0], 1.0)), 0.0)
    depth_one = Hook(lambda: dag.find_idle_windows(depth_two), 1)
    assert dag.get_node_schedule(depth_one) == (10.0, 30.0)
    assert depth_one.outcome == ("returned", [(0, 10.0, 10.0)])
    assert depth_two.outcome == ("RuntimeError", "Already borrowed")
    depth_two.action = lambda: dag.node_count()
    assert dag.get_node_schedule(depth_one) == (10.0, 30.0)
    assert depth_one.outcome == ("returned", [(0, 10.0, 10.0)])
    assert depth_two.outcome == ("returned", 2)
    assert dag.add_gate("after", [0], 1.0) == 2


def test_borrow_belongs_to_one_instance():
    dag, other = small_graph(), QuantumDAG()
    hook = Hook(lambda: (other.add_gate("o", [0], 1.0), other.build_schedule(), other.node_count()), 1.0)
    dag.add_gate("x", [0], hook)
    assert hook.outcome == ("returned", (0, None, 1))
    assert dag.node_count() == 3


def test_no_argument_call_with_arguments_takes_no_borrow():
    dag = small_graph()
    refusals = []

    class Probe:
        def __float__(self):
            try:
                dag.get_all_nodes(1)
            except (TypeError, RuntimeError) as exc:
                refusals.append(type(exc))
            return 1.0

    dag.add_gate("x", [0], Probe())
    assert refusals == [TypeError]
    assert dag.node_count() == 3
