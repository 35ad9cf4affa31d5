"""Argument binding and conversion: parser messages, conversion messages, pass-through and order of checks."""
import array
import math
import operator

import pytest

from _tarvex import QuantumDAG
from conftest import (CALLER_CODE, PANIC, U64_MAX, Float, Hook, Index, Qubits, Touched, Unprintable, interpreter_error,
                      raised_on_other_thread, small_graph, snapshot, unraisable_records)

try:
    from _testlimitedcapi import pylong_asunsignedlonglong
except ImportError:
    pylong_asunsignedlonglong = None

REPLACED_SURROGATE = "\ufffd" * 3  # one lone surrogate, encoded with surrogatepass, decoded with replace


class Holder:
    class Nested:
        pass


class SurrogateNamed:
    pass


SurrogateNamed.__qualname__ = "S\udc80"


def call(method, *args, **kwargs):
    """dag.<method>(*args, **kwargs) as a function of dag, named after the call for test ids."""

    def invoke(dag):
        return getattr(dag, method)(*args, **kwargs)

    def shown(value):  # plain values as written, other objects by their type
        plain = (str, bytes, bytearray, int, float, complex, list, set, frozenset, dict, type(None))
        return ascii(value) if type(value) in plain else ascii(type(value).__qualname__)[1:-1] + "()"

    words = [*map(shown, args), *(f"{ascii(key)[1:-1]}={shown(value)}" for key, value in kwargs.items())]
    invoke.__name__ = f"{method}({', '.join(words)})"
    return invoke


ADD = "QuantumDAG.add_gate()"
GET = "QuantumDAG.get_node_schedule()"
FIND = "QuantumDAG.find_idle_windows()"

PARSER_CASES = [
    (call("add_gate"), f"{ADD} missing 3 required positional arguments: 'name', 'qubits', and 'duration_ns'"),
    (call("add_gate", "x"), f"{ADD} missing 2 required positional arguments: 'qubits' and 'duration_ns'"),
    (call("add_gate", qubits=[0]), f"{ADD} missing 2 required positional arguments: 'name' and 'duration_ns'"),
    (call("add_gate", "x", duration_ns=1.0), f"{ADD} missing 1 required positional argument: 'qubits'"),
    (call("add_gate", "x", [0]), f"{ADD} missing 1 required positional argument: 'duration_ns'"),
    (call("add_gate", "x", [0], 1.0, 2), f"{ADD} takes 3 positional arguments but 4 were given"),
    (call("add_gate", "x", [0], 1.0, 2, bogus=1), f"{ADD} takes 3 positional arguments but 4 were given"),
    (call("add_gate", "x", [0], 1.0, 2, 3, name="y"), f"{ADD} takes 3 positional arguments but 5 were given"),
    (call("add_gate", bogus=1), f"{ADD} got an unexpected keyword argument 'bogus'"),
    (call("add_gate", Name="x", qubits=[0], duration_ns=1.0), f"{ADD} got an unexpected keyword argument 'Name'"),
    (call("add_gate", "x", [0], 1.0, name="y"), f"{ADD} got multiple values for argument 'name'"),
    (call("add_gate", "x", [0], qubits=[1], duration_ns=1.0), f"{ADD} got multiple values for argument 'qubits'"),
    (call("add_gate", "x", bogus=1, name="y"), f"{ADD} got an unexpected keyword argument 'bogus'"),
    (call("add_gate", "x", name="y", bogus=1), f"{ADD} got multiple values for argument 'name'"),
    (call("add_gate", **{"é": 1}), f"{ADD} got an unexpected keyword argument 'é'"),
    (call("add_gate", **{"k\udc80": 1}), f"{ADD} got an unexpected keyword argument 'k{REPLACED_SURROGATE}'"),
    (call("get_node_schedule"), f"{GET} missing 1 required positional argument: 'node_id'"),
    (call("get_node_schedule", 1, 2), f"{GET} takes 1 positional arguments but 2 were given"),
    (call("get_node_schedule", ID=1), f"{GET} got an unexpected keyword argument 'ID'"),
    (call("get_node_schedule", 1, node_id=1), f"{GET} got multiple values for argument 'node_id'"),
    (call("find_idle_windows"), f"{FIND} missing 1 required positional argument: 'min_gap_ns'"),
    (call("find_idle_windows", 1.0, 2.0, 3.0), f"{FIND} takes 1 positional arguments but 3 were given"),
    (call("find_idle_windows", min_gap=1.0), f"{FIND} got an unexpected keyword argument 'min_gap'"),
]


@pytest.mark.parametrize("invoke, message", PARSER_CASES, ids=[invoke.__name__ for invoke, _ in PARSER_CASES])
def test_parser_messages(invoke, message):
    dag = small_graph()
    before = snapshot(dag)
    with pytest.raises(TypeError) as caught:
        invoke(dag)
    assert type(caught.value) is TypeError
    assert str(caught.value) == message
    assert snapshot(dag) == before


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((1,), {}, "QuantumDAG.__new__() takes 0 positional arguments but 1 was given"),
        ((1, 2), {}, "QuantumDAG.__new__() takes 0 positional arguments but 2 were given"),
        ((1,), {"a": 1}, "QuantumDAG.__new__() takes 0 positional arguments but 1 was given"),
        ((), {"a": 1}, "QuantumDAG.__new__() got an unexpected keyword argument 'a'"),
        ((), {"b": 1, "a": 2}, "QuantumDAG.__new__() got an unexpected keyword argument 'b'"),
    ],
    ids=["one positional", "two positional", "positional and keyword", "keyword", "two keywords"],
)
def test_constructor_messages(args, kwargs, message):
    with pytest.raises(TypeError) as caught:
        QuantumDAG(*args, **kwargs)
    assert type(caught.value) is TypeError
    assert str(caught.value) == message


def test_keywords_in_any_order():
    dag = QuantumDAG()
    assert dag.add_gate(duration_ns=2.0, name="x", qubits=[1]) == 0
    assert dag.add_gate("y", duration_ns=3.0, qubits=[1]) == 1
    dag.build_schedule()
    assert dag.get_node_schedule(node_id=1) == (2.0, 5.0)
    assert dag.find_idle_windows(min_gap_ns=0.0) == [(1, 2.0, 2.0)]
    assert dag.get_all_nodes() == [("x", [1], 2.0), ("y", [1], 3.0)]


def index_message(value):
    return str(interpreter_error(operator.index, value))


def float_message(value):
    return str(interpreter_error(math.sqrt, value))  # math.sqrt converts with PyFloat_AsDouble


CONVERSION_CASES = [
    (call("add_gate", 5, [0], 1.0), "argument 'name': 'int' object cannot be cast as 'str'"),
    (call("add_gate", b"x", [0], 1.0), "argument 'name': 'bytes' object cannot be cast as 'str'"),
    (call("add_gate", bytearray(b"x"), [0], 1.0), "argument 'name': 'bytearray' object cannot be cast as 'str'"),
    (call("add_gate", None, [0], 1.0), "argument 'name': 'NoneType' object cannot be cast as 'str'"),
    (call("add_gate", 1.5, [0], 1.0), "argument 'name': 'float' object cannot be cast as 'str'"),
    (call("add_gate", Holder.Nested(), [0], 1.0),
     "argument 'name': 'Holder.Nested' object cannot be cast as 'str'"),
    (call("add_gate", SurrogateNamed(), [0], 1.0),
     f"argument 'name': 'S{REPLACED_SURROGATE}' object cannot be cast as 'str'"),
    (call("add_gate", "x", "01", 1.0), "argument 'qubits': Can't extract `str` to `Vec`"),
    (call("add_gate", "x", "", 1.0), "argument 'qubits': Can't extract `str` to `Vec`"),
    (call("add_gate", "x", type("Text", (str,), {})("01"), 1.0), "argument 'qubits': Can't extract `str` to `Vec`"),
    (call("add_gate", "x", {0, 1}, 1.0), "argument 'qubits': 'set' object cannot be cast as 'Sequence'"),
    (call("add_gate", "x", frozenset(), 1.0), "argument 'qubits': 'frozenset' object cannot be cast as 'Sequence'"),
    (call("add_gate", "x", {0: 1}, 1.0), "argument 'qubits': 'dict' object cannot be cast as 'Sequence'"),
    (call("add_gate", "x", (q for q in [0]), 1.0),
     "argument 'qubits': 'generator' object cannot be cast as 'Sequence'"),
    (call("add_gate", "x", iter([0]), 1.0), "argument 'qubits': 'list_iterator' object cannot be cast as 'Sequence'"),
    (call("add_gate", "x", None, 1.0), "argument 'qubits': 'NoneType' object cannot be cast as 'Sequence'"),
    (call("add_gate", "x", 3, 1.0), "argument 'qubits': 'int' object cannot be cast as 'Sequence'"),
    (call("add_gate", "x", Holder.Nested(), 1.0),
     "argument 'qubits': 'Holder.Nested' object cannot be cast as 'Sequence'"),
    (call("add_gate", "x", [1.5], 1.0), "argument 'qubits': " + index_message(1.5)),
    (call("add_gate", "x", [0, "1"], 1.0), "argument 'qubits': " + index_message("1")),
    (call("add_gate", "x", [None], 1.0), "argument 'qubits': " + index_message(None)),
    (call("add_gate", "x", [0], "1"), "argument 'duration_ns': " + float_message("1")),
    (call("add_gate", "x", [0], None), "argument 'duration_ns': " + float_message(None)),
    (call("add_gate", "x", [0], [1.0]), "argument 'duration_ns': " + float_message([1.0])),
    (call("get_node_schedule", 1.0), "argument 'node_id': " + index_message(1.0)),
    (call("get_node_schedule", "1"), "argument 'node_id': " + index_message("1")),
    (call("find_idle_windows", "1"), "argument 'min_gap_ns': " + float_message("1")),
    (call("find_idle_windows", 1j), "argument 'min_gap_ns': " + float_message(1j)),
]


@pytest.mark.parametrize("invoke, message", CONVERSION_CASES, ids=[invoke.__name__ for invoke, _ in CONVERSION_CASES])
def test_conversion_messages(invoke, message):
    dag = small_graph()
    before = snapshot(dag)
    with pytest.raises(TypeError) as caught:
        invoke(dag)
    assert type(caught.value) is TypeError
    assert str(caught.value) == message
    assert caught.value.__cause__ is None
    assert caught.value.__suppress_context__ is True
    assert snapshot(dag) == before


overflow = pytest.mark.skipif(pylong_asunsignedlonglong is None, reason="no _testlimitedcapi")


def u64_overflow(value):
    return interpreter_error(pylong_asunsignedlonglong, value) if pylong_asunsignedlonglong else None


PASSED_ON_CASES = [
    pytest.param(call("add_gate", "x", [-1], 1.0), u64_overflow(-1), marks=overflow, id="qubit -1"),
    pytest.param(call("add_gate", "x", [0, 2**64], 1.0), u64_overflow(2**64), marks=overflow, id="qubit 2**64"),
    pytest.param(call("get_node_schedule", -1), u64_overflow(-1), marks=overflow, id="node_id -1"),
    pytest.param(call("get_node_schedule", 2**64), u64_overflow(2**64), marks=overflow, id="node_id 2**64"),
    pytest.param(call("add_gate", "x", [0], 10**400), interpreter_error(float, 10**400), id="duration 10**400"),
    pytest.param(call("find_idle_windows", -(10**400)), interpreter_error(float, -(10**400)), id="min_gap -10**400"),
    pytest.param(call("add_gate", "a\udc80", [0], 1.0), interpreter_error(str.encode, "a\udc80"),
                 id="lone surrogate name"),
]


@pytest.mark.parametrize("invoke, reference", PASSED_ON_CASES)
def test_interpreter_errors_are_passed_on_unprefixed(invoke, reference):
    dag = small_graph()
    before = snapshot(dag)
    with pytest.raises(BaseException) as caught:
        invoke(dag)
    assert type(caught.value) is type(reference)
    assert str(caught.value) == str(reference)
    assert snapshot(dag) == before


class TypeErrorKind(TypeError):
    pass


ORDINARY_ERRORS = [ValueError("v"), TypeErrorKind("sub"), RuntimeError("r"), OverflowError("o")]
NON_EXCEPTION_ERRORS = [KeyboardInterrupt(), SystemExit(3), GeneratorExit(), type("Direct", (BaseException,), {})("d")]
# An Exception from a sequence's __len__ is ignored: the sequence is iterated anyway.
RAISED_ON = {label: path for label, path in CALLER_CODE.items() if label != "qubits __len__"}


@pytest.mark.parametrize(
    "raiser, error",
    [pytest.param(make, error, id=f"{label}-{type(error).__name__}")
     for label, (_, make) in CALLER_CODE.items()
     for error in (ORDINARY_ERRORS if label in RAISED_ON else []) + NON_EXCEPTION_ERRORS],
)
def test_other_errors_from_caller_code_are_the_same_object(raiser, error):
    dag = small_graph()
    before = snapshot(dag)
    with pytest.raises(BaseException) as caught:
        raiser(error)(dag)
    assert caught.value is error
    assert snapshot(dag) == before


@pytest.mark.parametrize("parameter, raiser", RAISED_ON.values(), ids=RAISED_ON)
def test_exact_type_error_from_caller_code_is_renamed(parameter, raiser):
    cause = KeyError("k")
    original = TypeError("first", "second")
    original.__cause__ = cause
    dag = small_graph()
    with pytest.raises(TypeError) as caught:
        raiser(original)(dag)
    renamed = caught.value
    assert type(renamed) is TypeError and renamed is not original
    assert str(renamed) == f"argument '{parameter}': {original}"
    assert renamed.__cause__ is cause
    assert renamed.__suppress_context__ is True
    assert renamed.__context__ is not original


@pytest.mark.parametrize(
    "message, expected",
    [("plain", "argument 'node_id': plain"), ("a\udc80b", f"argument 'node_id': a{REPLACED_SURROGATE}b")],
    ids=["plain", "lone surrogate"],
)
def test_renamed_type_error_text(message, expected):
    with pytest.raises(TypeError) as caught:
        small_graph().get_node_schedule(Index(TypeError(message)))
    assert str(caught.value) == expected


def test_unprintable_type_error():
    with unraisable_records() as records:
        with pytest.raises(TypeError) as caught:
            small_graph().get_node_schedule(Index(TypeError(Unprintable())))
    assert str(caught.value) == "argument 'node_id': <unprintable TypeError object>"
    assert [(kind, str(value)) for kind, value, _ in records] == [(ValueError, "no text")]


@pytest.mark.parametrize(
    "qubits, expected",
    [
        ([], []),
        ([0, 2], [0, 2]),
        ([3, 3], [3, 3]),
        ([U64_MAX], [U64_MAX]),
        ((True, 3), [1, 3]),
        (b"\x00\x02", [0, 2]),
        (bytearray(b"\x05\xff"), [5, 255]),
        (range(2), [0, 1]),
        (array.array("Q", [7, U64_MAX]), [7, U64_MAX]),
        ([Index(7), Index(U64_MAX)], [7, U64_MAX]),
        ([type("Int", (int,), {"__index__": lambda self: 99})(5)], [5]),
        (Qubits([4, 1], on_len=ValueError("len")), [4, 1]),
        (Qubits([4, 1], on_len=TypeError("len")), [4, 1]),
        (Qubits([4, 1], on_len=RuntimeError("len")), [4, 1]),
        (type("Huge", (Qubits,), {"__len__": lambda self: 2**62})([8, 9]), [8, 9]),
    ],
    ids=["empty", "list", "repeat", "u64 max", "bools", "bytes", "bytearray", "range", "array",
         "__index__", "int subclass", "len ValueError", "len TypeError", "len RuntimeError", "huge len"],
)
def test_accepted_qubits(qubits, expected):
    dag = QuantumDAG()
    assert dag.add_gate("g", qubits, 1.0) == 0
    assert dag.get_all_nodes() == [("g", expected, 1.0)]


@pytest.mark.parametrize(
    "duration, expected",
    [
        (5, 5.0), (True, 1.0), (-1.0, -1.0), (Float(-1.0), -1.0), (Float(3.25), 3.25), (Index(7), 7.0),
        (type("F", (float,), {"__float__": lambda self: 99.0})(2.5), 2.5), (2**53, 2.0**53),
        (-0.0, -0.0), (math.inf, math.inf), (-math.inf, -math.inf), (math.nan, math.nan),
    ],
    ids=["int", "bool", "negative", "__float__ negative", "__float__", "__index__", "float subclass", "2**53",
         "-0.0", "inf", "-inf", "nan"],
)
def test_accepted_durations(duration, expected):
    dag = QuantumDAG()
    dag.add_gate("g", [0], duration)
    stored = dag.get_all_nodes()[0][2]
    assert type(stored) is float
    assert repr(stored) == repr(expected)


@pytest.mark.parametrize(
    "node_id, expected",
    [(U64_MAX, None), (Index(U64_MAX), None), (True, (10.0, 30.0)), (Index(0), (0.0, 10.0)),
     (type("Int", (int,), {"__index__": lambda self: 0})(1), (10.0, 30.0)), (2, None)],
    ids=["u64 max", "__index__ u64 max", "bool", "__index__", "int subclass", "past the end"],
)
def test_accepted_node_ids(node_id, expected):
    assert small_graph().get_node_schedule(node_id) == expected


@pytest.mark.parametrize(
    "name", ["", "a\x00b\x00", "é漢😀", type("Text", (str,), {"__str__": lambda s: "other"})("own")],
    ids=["empty", "nul characters", "non-ascii", "str subclass"],
)
def test_names_round_trip(name):
    dag = QuantumDAG()
    dag.add_gate(name, [0], 1.0)
    stored = dag.get_all_nodes()[0][0]
    assert type(stored) is str
    assert stored == str.__str__(name)


@pytest.mark.parametrize(
    "name, qubits_ok, expected_log, error",
    [
        (5, True, [], TypeError),
        ("a\udc80", True, [], UnicodeEncodeError),
        ("x", False, [], TypeError),
        ("x", True, ["qubits.__len__", "qubits.__iter__", "duration.__float__"], None),
    ],
    ids=["name not a str", "name not encodable", "qubits a str", "all converted"],
)
def test_parameters_are_converted_in_order_and_stop_at_the_first_failure(name, qubits_ok, expected_log, error):
    log = []
    qubits = Touched(log, "qubits") if qubits_ok else "01"
    duration = Touched(log, "duration")
    dag = QuantumDAG()
    if error is None:
        dag.add_gate(name, qubits, duration)
        assert dag.get_all_nodes() == [("x", [0], 1.0)]
    else:
        with pytest.raises(error):
            dag.add_gate(name, qubits, duration)
        assert dag.node_count() == 0
    assert log == expected_log


def test_parser_errors_come_before_the_borrow_and_the_borrow_before_conversion():
    dag = small_graph()
    outcomes = []

    def inner():
        for invoke in (call("add_gate"), call("add_gate", 5, [0], 1.0), call("get_node_schedule", 1, 2),
                       call("get_node_schedule", "bad")):
            try:
                invoke(dag)
            except (TypeError, RuntimeError) as exc:
                outcomes.append((type(exc), str(exc)))

    dag.add_gate("c", [2], Hook(inner, 1.0))
    assert outcomes == [
        (TypeError, f"{ADD} missing 3 required positional arguments: 'name', 'qubits', and 'duration_ns'"),
        (RuntimeError, "Already borrowed"),
        (TypeError, f"{GET} takes 1 positional arguments but 2 were given"),
        (RuntimeError, "Already mutably borrowed"),
    ]


def test_parser_errors_come_before_the_thread_check():
    dag = QuantumDAG()
    missing = raised_on_other_thread(dag.add_gate)
    assert type(missing) is TypeError
    assert str(missing) == f"{ADD} missing 3 required positional arguments: 'name', 'qubits', and 'duration_ns'"
    assert type(raised_on_other_thread(dag.add_gate, 5, [0], 1.0)) is PANIC
