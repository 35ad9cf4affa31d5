"""Every `_native` function with good and hostile arguments: wrong types, negative and huge values,
mismatched lengths, a DAG of another Qiskit object. A hostile call raises the expected exception
with its whole message (where the text is ours; where the interpreter's or Qiskit's text follows
our argument prefix, the prefix), never crashes, and leaves its inputs as they were."""

import copy

import pytest
from native_cases import CASES, GOOD, HOSTILE, inputs, pad_request, scheduled_graph
from qiskit.circuit import CircuitData
from qiskit.dagcircuit import DAGCircuit

from tarvex_qiskit import _native

pytestmark = pytest.mark.debug_build


def snapshot(value):
    """What a call must leave unchanged: DAGs by equality and ops, circuits by their bits and
    instructions, graphs by their export."""
    if isinstance(value, DAGCircuit):
        return value.copy_empty_like(), copy.deepcopy(value), value.count_ops()
    if isinstance(value, CircuitData):
        return value.qubits, value.clbits, list(value)
    if hasattr(value, "get_all_nodes") and hasattr(value, "node_count"):
        return value.get_all_nodes(), [value.get_node_schedule(i) for i in range(value.node_count())]
    return None


def same(before, value):
    if isinstance(value, DAGCircuit):
        return value == before[1] and value.count_ops() == before[2]
    return before is None or snapshot(value) == before


@pytest.mark.parametrize("name", CASES)
def test_call_raises_what_it_should_and_leaves_its_inputs(name):
    case = CASES[name]
    made = case.make()
    function, args, kwargs = made
    read = inputs(made)
    before = [snapshot(value) for value in read]
    if case.error is None:
        function(*args, **kwargs)
    else:
        with pytest.raises(case.error) as raised:
            function(*args, **kwargs)
        assert type(raised.value) is case.error
        text = getattr(raised.value, "message", None) if case.error.__name__ == "TranspilerError" else str(raised.value)
        if case.message is not None and case.message.endswith(": "):
            assert text.startswith(case.message)
        elif case.message is not None:
            assert text == case.message
    assert all(same(b, value) for b, value in zip(before, read))


def test_every_hostile_case_has_an_error():
    assert all(case.error is not None for case in HOSTILE.values())
    assert all(case.error is None for case in GOOD.values())


def test_labelled_nodes_map_to_their_copies_and_others_to_none():
    request = pad_request(labelled=[])
    dag = request["dag"]
    ids = [node._node_id for node in dag.op_nodes()]
    out, *_, labelled = _native.pad(**{**request, "labelled": [*ids, 2**31]})
    assert labelled[-1] is None
    for in_id, out_id in zip(ids, labelled):
        assert out.node(out_id).name == dag.node(in_id).name


def test_a_graph_is_read_with_its_stored_schedule():
    graph = scheduled_graph()
    graph.add_gate("x", [0], 1.0)  # after the schedule: the stored one covers the first four only
    with pytest.raises(ValueError) as raised:
        _native.from_quantum_dag(graph, source=None, num_qubits=None, num_clbits=None, in_dt=False)
    assert str(raised.value) == "node 4 has no start time: call build_schedule() first"
