"""The QuantumDAG type object: names, doc strings, signatures, flags and object behaviour."""
import copy
import gc
import re
import weakref

import pytest

from _tarvex import QuantumDAG
from conftest import interpreter_error

METHODS = [
    ("node_count", "($self)", "Returns the total number of nodes in the DAG."),
    ("add_gate", "($self, name, qubits, duration_ns)",
     "Adds a gate node to the graph and connects dependent edges."),
    ("build_schedule", "($self)", "Computes the schedule (start and end times) for all nodes."),
    ("get_node_schedule", "($self, node_id)",
     "Retrieves the schedule for a specific node as (start_time, end_time)."),
    ("find_idle_windows", "($self, min_gap_ns)",
     "Finds idle windows on qubits where the gap between operations is >= min_gap_ns."),
    ("apply_dd_pass", "($self)", "Dynamically inserts Dynamical Decoupling (DD) sequences on idle qubits."),
    ("get_all_nodes", "($self)",
     "Exports all operations in topological order a list of tuples (name, qubits, duration)."),
]
NO_ARGUMENT_METHODS = ["node_count", "build_schedule", "apply_dd_pass", "get_all_nodes"]

Py_TPFLAGS_DISALLOW_INSTANTIATION = 1 << 7
Py_TPFLAGS_IMMUTABLETYPE = 1 << 8
Py_TPFLAGS_HEAPTYPE = 1 << 9
Py_TPFLAGS_BASETYPE = 1 << 10
Py_TPFLAGS_HAVE_GC = 1 << 14


@pytest.mark.parametrize(
    "attribute, expected",
    [
        ("__name__", "QuantumDAG"),
        ("__qualname__", "QuantumDAG"),
        ("__module__", "builtins"),
        ("__doc__", "Python wrapper for the core QuantumDAG."),
        ("__text_signature__", "()"),
        ("__bases__", (object,)),
        ("__dictoffset__", 0),
        ("__weakrefoffset__", 0),
    ],
)
def test_class_attributes(attribute, expected):
    assert getattr(QuantumDAG, attribute) == expected


def test_class_repr_and_type_name():
    assert repr(QuantumDAG) == "<class 'builtins.QuantumDAG'>"
    with pytest.raises(AttributeError) as caught:
        QuantumDAG().missing
    assert str(caught.value) == "'builtins.QuantumDAG' object has no attribute 'missing'"


def test_class_dict_holds_only_the_methods_in_table_order():
    own = [name for name in vars(QuantumDAG) if not name.startswith("__")]
    assert own == [name for name, _, _ in METHODS]
    assert set(vars(QuantumDAG)) - set(own) == {"__doc__", "__module__", "__new__"}


@pytest.mark.parametrize("name, signature, doc", METHODS)
def test_method_signature_and_doc(name, signature, doc):
    method = getattr(QuantumDAG, name)
    assert type(method).__name__ == "method_descriptor"
    assert method.__name__ == name
    assert method.__qualname__ == f"QuantumDAG.{name}"
    assert method.__text_signature__ == signature
    assert method.__doc__ == doc


def test_type_flags():
    checked = (Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_HEAPTYPE
               | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC)
    assert QuantumDAG.__flags__ & checked == Py_TPFLAGS_HEAPTYPE


def test_not_subclassable():
    with pytest.raises(TypeError):
        type("Derived", (QuantumDAG,), {})


def test_class_object_accepts_attributes():
    QuantumDAG.set_on_class = 1
    try:
        assert QuantumDAG().set_on_class == 1
    finally:
        del QuantumDAG.set_on_class


def test_instance_has_no_dict_no_weakref_and_no_gc():
    dag = QuantumDAG()
    with pytest.raises(AttributeError):
        dag.anything = 1
    assert not hasattr(dag, "__dict__")
    with pytest.raises(TypeError):
        weakref.ref(dag)
    assert not gc.is_tracked(dag)


def test_object_behaviour_is_inherited():
    first, second = QuantumDAG(), QuantumDAG()
    assert re.fullmatch(r"<builtins\.QuantumDAG object at 0x[0-9a-f]+>", repr(first))
    assert first != second and first == first
    assert hash(first) == object.__hash__(first)
    for slot in ("__init__", "__repr__", "__eq__", "__hash__", "__reduce_ex__"):
        assert getattr(QuantumDAG, slot) is getattr(object, slot)
    with pytest.raises(TypeError):
        copy.copy(first)


def reference_no_argument_error(name, *args, **kwargs):
    """The interpreter's refusal for a no-argument method, taken from list.copy and renamed."""
    return str(interpreter_error([].copy, *args, **kwargs)).replace("list.copy", f"QuantumDAG.{name}")


@pytest.mark.parametrize("name", NO_ARGUMENT_METHODS)
@pytest.mark.parametrize("args, kwargs", [((1,), {}), ((1, 2), {}), ((), {"x": 1})], ids=["1 arg", "2 args", "keyword"])
def test_no_argument_methods_are_refused_by_the_interpreter(name, args, kwargs):
    dag = QuantumDAG()
    dag.add_gate("a", [0], 1.0)
    with pytest.raises(TypeError) as caught:
        getattr(dag, name)(*args, **kwargs)
    assert type(caught.value) is TypeError
    assert str(caught.value) == reference_no_argument_error(name, *args, **kwargs)
    assert dag.get_all_nodes() == [("a", [0], 1.0)]
    assert dag.get_node_schedule(0) is None
