"""Borrowing of an instance's graph by calls made re-entrantly from argument conversions."""
import pytest

from _tarvex import QuantumDAG
from conftest import Hook, HookIter, HookLen, small_graph, snapshot


def outer_add_gate_via_float(dag, hook):
    return dag.add_gate("outer", [5], hook)


def outer_add_gate_via_len(dag, hook):
    return dag.add_gate("outer", hook, 1.0)


def outer_add_gate_via_iter(dag, hook):
    return dag.add_gate("outer", hook, 1.0)


def outer_add_gate_via_qubit_index(dag, hook):
    return dag.add_gate("outer", [hook], 1.0)


def outer_get_node_schedule_via_index(dag, hook):
    return dag.get_node_schedule(hook)


def outer_find_idle_windows_via_float(dag, hook):
    return dag.find_idle_windows(hook)


# (outer call, how the hook converts, value it converts to, whether the outer call borrows exclusively)
OUTER = [
    (outer_add_gate_via_float, Hook, 1.0, True),
    (outer_add_gate_via_len, HookLen, [5], True),
    (outer_add_gate_via_iter, HookIter, [5], True),
    (outer_add_gate_via_qubit_index, Hook, 5, True),
    (outer_get_node_schedule_via_index, Hook, 1, False),
    (outer_find_idle_windows_via_float, Hook, 0.0, False),
]

# (inner call on the same instance, whether it borrows exclusively)
INNER = [
    (lambda dag: dag.node_count(), False),
    (lambda dag: dag.get_all_nodes(), False),
    (lambda dag: dag.get_node_schedule(1), False),
    (lambda dag: dag.find_idle_windows(0.0), False),
    (lambda dag: dag.apply_dd_pass().get_all_nodes(), False),
    (lambda dag: dag.add_gate("inner", [0], 1.0), True),
    (lambda dag: dag.build_schedule(), True),
]
INNER_IDS = ["node_count", "get_all_nodes", "get_node_schedule", "find_idle_windows", "apply_dd_pass",
             "add_gate", "build_schedule"]


@pytest.mark.parametrize("inner, inner_exclusive", INNER, ids=INNER_IDS)
@pytest.mark.parametrize("outer, hook_type, value, outer_exclusive", OUTER, ids=lambda v: getattr(v, "__name__", None))
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
        assert nodes[2] == ("outer", [5], 1.0) and schedule[2] is None
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
