"""Generated hostile arguments: objects whose conversion hooks raise, return the wrong thing, call
back into the same instance or mutate their container, in every parameter of every method.

Each example is described by plain data. The test builds it twice: once as the real arguments, and
once as a twin that runs against a model of the conversion rules (with the interpreter's own
protocol functions for the texts it words). The real call must then fail or succeed exactly as the
model did, run the same hooks in the same order, leave a failed call without a trace on the graph,
and store a successful gate exactly as the model converted it.

Runs are derandomized and keep no example database; TARVEX_FUZZ_SCALE multiplies the example
counts for a longer hunt by hand.
"""

import array
import collections
import ctypes
import decimal
import fractions
import math
import operator
import sys
import warnings

import pytest
from hypothesis import event, given
from hypothesis import strategies as st

from _tarvex import QuantumDAG
from conftest import PANIC, U64_MAX, UserError, bits, fuzz_settings, schedule_entry, snapshot

# The interpreter's own protocol functions, for the model: the sequence test and the unsigned
# conversion (whose OverflowError texts the module passes on).
_sequence_check = ctypes.pythonapi.PySequence_Check
_sequence_check.argtypes = [ctypes.py_object]
_sequence_check.restype = ctypes.c_int
_as_u64 = ctypes.pythonapi.PyLong_AsUnsignedLongLong
_as_u64.argtypes = [ctypes.py_object]
_as_u64.restype = ctypes.c_ulonglong


class UserTypeError(TypeError):
    pass


class UserBaseError(BaseException):
    pass


class DerivedPanic(PANIC):
    pass


EXCEPTIONS = {
    cls.__name__: cls
    for cls in (ValueError, TypeError, OverflowError, RuntimeError, IndexError, StopIteration,
                KeyboardInterrupt, SystemExit, GeneratorExit, UserError, UserTypeError, UserBaseError,
                PANIC, DerivedPanic)
}
SHARED_CALLS = {
    "node_count": lambda dag: dag.node_count(),
    "get_all_nodes": lambda dag: dag.get_all_nodes(),
    "get_node_schedule": lambda dag: dag.get_node_schedule(0),
    "find_idle_windows": lambda dag: dag.find_idle_windows(0.0),
    "apply_dd_pass": lambda dag: dag.apply_dd_pass(),
}
EXCLUSIVE_CALLS = {
    "add_gate": lambda dag: dag.add_gate("callback", [0], 1.0),
    "build_schedule": lambda dag: dag.build_schedule(),
}


class Run:
    """One build of an example's arguments: the instance hooks call back into (None for the twin),
    the borrow the outer method holds, and what the hooks did. The twin predicts a callback's own
    failure (a shared method that fails on this graph) from `failures`, observed outside any borrow."""

    def __init__(self, dag, exclusive, failures=None):
        self.dag, self.exclusive, self.failures = dag, exclusive, failures or {}
        self.trace, self.raised, self.caught = [], [], []
        self._labels = 0

    def label(self):
        self._labels += 1
        return self._labels


def act(run, label, hook, behaviour, build=None):
    """Runs one hook: returns a value, raises a new exception, or calls a method of the instance
    (the twin predicts the borrow error instead) and then returns a value."""
    run.trace.append((label, hook))
    build = build or plain
    kind = behaviour[0]
    if kind == "return":
        return build(behaviour[1])
    if kind == "raise":
        name, message, with_cause = behaviour[1]
        exc = EXCEPTIONS[name](message)
        if with_cause:
            exc.__cause__ = KeyError("cause")
        run.raised.append(exc)
        raise exc
    _, method, swallow, returned = behaviour
    try:
        if run.dag is not None:
            (SHARED_CALLS | EXCLUSIVE_CALLS)[method](run.dag)
        elif method in EXCLUSIVE_CALLS:
            raise RuntimeError("Already borrowed")
        elif run.exclusive:
            raise RuntimeError("Already mutably borrowed")
        elif method in run.failures:
            raise type(run.failures[method])(*run.failures[method].args)
    except Exception as exc:
        if not swallow:
            run.raised.append(exc)
            raise
        run.caught.append((type(exc), str(exc)))
    return build(returned)


class Hostile:
    """Namespace, so the classes' __qualname__ differs from their __name__."""

    class IntSub(int):
        def __index__(self):
            raise AssertionError("an int subclass is converted without __index__")

        __int__ = __index__

    class FloatSub(float):
        def __float__(self):
            raise AssertionError("a float subclass is converted without __float__")

        __index__ = __float__

    class StrSub(str):
        def __str__(self):
            return "replaced by __str__"

        def encode(self, *args, **kwargs):
            return b"replaced by encode"

        def __eq__(self, other):
            return False

        __hash__ = str.__hash__

    class ListSub(list):
        """A list whose __len__ runs a hook and whose iteration may run backwards."""

        def __len__(self):
            return act(self.run, self.label, "len", self.len_behaviour)

        def __iter__(self):
            self.run.trace.append((self.label, "iter"))
            return list.__reversed__(self) if self.backwards else list.__iter__(self)

    class Index:
        def __init__(self, run, behaviour):
            self.run, self.label, self.behaviour = run, run.label(), behaviour

        def __index__(self):
            return act(self.run, self.label, "index", self.behaviour)

    class Float:
        def __init__(self, run, behaviour):
            self.run, self.label, self.behaviour = run, run.label(), behaviour

        def __float__(self):
            return act(self.run, self.label, "float", self.behaviour)

    class FloatAndIndex(Float):
        def __init__(self, run, behaviour, index_behaviour):
            super().__init__(run, behaviour)
            self.index_behaviour = index_behaviour

        def __index__(self):
            return act(self.run, self.label, "index", self.index_behaviour)

    class Mutator:
        """An item whose __index__ changes the container it sits in, then converts to `value`."""

        def __init__(self, run, container, operation, value):
            self.run, self.label = run, run.label()
            self.container, self.operation, self.value = container, operation, value

        def __index__(self):
            self.run.trace.append((self.label, self.operation))
            if self.container is not None and self.operation == "append":
                self.container.append(4)
            elif self.container is not None:
                getattr(self.container, self.operation)()
            return self.value

    class LiarStr:
        __class__ = property(lambda self: str)

    class LiarInt:
        __class__ = property(lambda self: int)

    class LiarFloat:
        __class__ = property(lambda self: float)

    class LiarList:
        __class__ = property(lambda self: list)


def _seq_len(self):
    return act(self.run, self.label, "len", self.len_behaviour)


def _seq_getitem(self, i):
    self.run.trace.append((self.label, "getitem", i))
    if i < len(self.items):
        return self.items[i]
    if i == len(self.items) and self.end is not None:
        return act(self.run, self.label, "end", self.end, self.build_item)
    raise IndexError(i)


def _seq_iter(self):
    if self.mode == "hooked iter":
        return act(self.run, self.label, "iter", self.iter_behaviour, self.build_iterator)
    self.run.trace.append((self.label, "iter"))
    return self.generate() if self.mode == "generator" else SeqIterator(self)


class SeqIterator:
    def __init__(self, seq):
        self.seq, self.position = seq, 0

    def __iter__(self):
        return self

    def __next__(self):
        seq, i = self.seq, self.position
        self.position += 1
        seq.run.trace.append((seq.label, "next", i))
        if i < len(seq.items):
            return seq.items[i]
        if i == len(seq.items) and seq.end is not None:
            return act(seq.run, seq.label, "end", seq.end, seq.build_item)
        raise StopIteration


class SeqBase:
    """A sequence (it has __getitem__) with hooks; subclasses add __len__ and __iter__ or not."""

    def __init__(self, run, len_behaviour, mode, iter_behaviour, items, end):
        self.run, self.label = run, run.label()
        self.len_behaviour, self.mode, self.iter_behaviour, self.end = len_behaviour, mode, iter_behaviour, end
        self.items = [build_item(d, run, None) for d in items]

    def build_item(self, descriptor):
        return build_item(descriptor, self.run, None)

    def build_iterator(self, descriptor):
        return SeqIterator(self) if descriptor == ("iterator",) else plain(descriptor)

    def generate(self):
        yield from self.items
        if self.end is not None:
            yield act(self.run, self.label, "end", self.end, self.build_item)

    __getitem__ = _seq_getitem


SEQ_CLASSES = {}
for _has_len in (False, True):
    for _has_iter in (False, True):
        _namespace = {"__qualname__": f"Hostile.Seq{'Len' if _has_len else ''}{'Iter' if _has_iter else ''}"}
        if _has_len:
            _namespace["__len__"] = _seq_len
        if _has_iter:
            _namespace["__iter__"] = _seq_iter
        SEQ_CLASSES[_has_len, _has_iter] = type("Seq", (SeqBase,), _namespace)


def plain(descriptor):
    """A value without hooks, as a hook returns it."""
    kind = descriptor[0]
    if kind == "intsub":
        return Hostile.IntSub(descriptor[1])
    if kind == "floatsub":
        return Hostile.FloatSub(descriptor[1])
    if kind == "none":
        return None
    return descriptor[1]  # int, bool, float, str


def build_item(descriptor, run, container):
    """A qubit index (or node id), possibly with hooks."""
    kind = descriptor[0]
    if kind == "index":
        return Hostile.Index(run, descriptor[1])
    if kind == "mutator":
        return Hostile.Mutator(run, container, descriptor[1], descriptor[2])
    if kind == "nested":
        return list(descriptor[1])
    if kind == "liar":
        return Hostile.LiarInt()
    return plain(descriptor)


def build_qubits(descriptor, run):
    kind = descriptor[0]
    if kind in ("list", "tuple", "deque"):
        container = [] if kind == "list" else collections.deque() if kind == "deque" else None
        items = [build_item(d, run, container) for d in descriptor[1]]
        if container is None:
            return tuple(items)
        container.extend(items)
        return container
    if kind == "listsub":
        seq = Hostile.ListSub()
        seq.run, seq.label, seq.len_behaviour, seq.backwards = run, run.label(), descriptor[2], descriptor[3]
        list.extend(seq, [build_item(d, run, seq) for d in descriptor[1]])
        return seq
    if kind == "bytes":
        return bytes(descriptor[1])
    if kind == "bytearray":
        return bytearray(descriptor[1])
    if kind == "memoryview":
        return memoryview_of(descriptor[1], descriptor[2])
    if kind == "range":
        start, count, step = descriptor[1:]
        return range(start, start + count * step, step)
    if kind == "array":
        return array.array(descriptor[1], descriptor[2])
    if kind == "str":
        return descriptor[1]
    if kind == "strsub":
        return Hostile.StrSub(descriptor[1])
    if kind == "custom":
        has_len, len_behaviour, mode, iter_behaviour, items, end = descriptor[1:]
        cls = SEQ_CLASSES[has_len, mode != "getitem"]
        return cls(run, len_behaviour, mode, iter_behaviour, items, end)
    return NON_SEQUENCES[descriptor[1]]()


def memoryview_of(fmt, values):
    if fmt == "released":
        view = memoryview(bytes(values))
        view.release()
        return view
    if fmt == "2d":
        return memoryview(bytes(6)).cast("B", (2, 3))
    if fmt == "B":
        return memoryview(bytes(v % 256 for v in values))
    if fmt in "bq":
        return memoryview(array.array(fmt, [v - 64 for v in values]))
    if fmt == "d":
        return memoryview(array.array("d", [float(v) for v in values]))
    return memoryview(array.array(fmt, values))


NON_SEQUENCES = {
    "set": lambda: {1, 2},
    "frozenset": lambda: frozenset([0]),
    "dict": lambda: {0: 1},
    "dict_keys": lambda: {0: 1}.keys(),
    "generator": lambda: (i for i in [0, 1]),
    "iterator": lambda: iter([0, 1]),
    "none": lambda: None,
    "int": lambda: 3,
    "float": lambda: 1.0,
    "liar": lambda: Hostile.LiarList(),
}


def build_name(descriptor):
    kind = descriptor[0]
    if kind == "strsub":
        return Hostile.StrSub(descriptor[1])
    if kind == "bytes":
        return bytes(descriptor[1])
    if kind == "bytearray":
        return bytearray(descriptor[1])
    if kind == "liar":
        return Hostile.LiarStr()
    return plain(descriptor)


def build_float(descriptor, run):
    kind = descriptor[0]
    if kind == "floatobj":
        return Hostile.Float(run, descriptor[1])
    if kind == "indexobj":
        return Hostile.Index(run, descriptor[1])
    if kind == "both":
        return Hostile.FloatAndIndex(run, descriptor[1], descriptor[2])
    if kind == "decimal":
        return decimal.Decimal(descriptor[1])
    if kind == "fraction":
        return fractions.Fraction(descriptor[1], descriptor[2])
    if kind == "complex":
        return complex(1, 2)
    if kind == "liar":
        return Hostile.LiarFloat()
    return plain(descriptor)


# --- the model of the conversions, run on the twin -------------------------------------------------


def model_str(obj):
    if not issubclass(type(obj), str):
        raise TypeError(f"'{type(obj).__qualname__}' object cannot be cast as 'str'")
    text = str.__str__(obj)
    text.encode("utf-8")
    return text


def model_u64(obj):
    value = int.__index__(obj) if issubclass(type(obj), int) else operator.index(obj)
    return _as_u64(value)


def model_f64(obj):
    return obj if type(obj) is float else math.ldexp(obj, 0)


def model_u64_list(obj):
    if issubclass(type(obj), str):
        raise TypeError("Can't extract `str` to `Vec`")
    if not _sequence_check(obj):
        raise TypeError(f"'{type(obj).__qualname__}' object cannot be cast as 'Sequence'")
    try:
        len(obj)
    except BaseException as exc:
        if type(exc) is PANIC or not isinstance(exc, Exception):
            raise
    iterator = iter(obj)
    out = []
    while True:
        try:
            item = next(iterator)
        except StopIteration:
            break
        out.append(model_u64(item))
    return out


CONVERSIONS = {"name": model_str, "qubits": model_u64_list, "duration_ns": model_f64,
               "node_id": model_u64, "min_gap_ns": model_f64}


def model_call(twin, arguments):
    """What the module must do with these (twin) arguments: ("ok", converted values) or the error."""
    values = []
    for parameter, obj in arguments:
        try:
            values.append(CONVERSIONS[parameter](obj))
        except BaseException as exc:
            from_hook = any(exc is r for r in twin.raised)
            if type(exc) is PANIC:
                return ("panic", str(exc))
            if type(exc) is TypeError:
                return ("renamed", f"argument '{parameter}': {exc}", from_hook)
            return ("passed on", type(exc), str(exc), from_hook)
    return ("ok", values)


def outcome(fn):
    try:
        return "returned", fn()
    except BaseException as exc:  # the hooks raise KeyboardInterrupt, SystemExit, PanicException...
        return "raised", exc


def check_outcome(expected, got, run):
    if expected[0] == "ok":
        assert got[0] == "returned", f"expected success, got {got[1]!r}"
        return
    assert got[0] == "raised", f"expected {expected}, got the result {got[1]!r}"
    exc = got[1]
    assert not isinstance(exc, MemoryError) or any(exc is r for r in run.raised)
    if expected[0] == "panic":
        assert type(exc) is PANIC and exc.args == (expected[1],), repr(exc)
        assert all(exc is not r for r in run.raised)
    elif expected[0] == "renamed":
        assert type(exc) is TypeError and str(exc) == expected[1], repr(exc)
        assert exc.__suppress_context__ is True
        if expected[2]:
            assert exc is not run.raised[-1] and exc.__cause__ is run.raised[-1].__cause__
        else:
            assert exc.__cause__ is None
    else:
        assert type(exc) is expected[1] and str(exc) == expected[2], repr(exc)
        if expected[3]:
            assert exc is run.raised[-1]


def windows(found):
    assert type(found) is list
    for window in found:
        assert type(window) is tuple and len(window) == 3 and type(window[0]) is int
    return sorted((q, bits(start), bits(end)) for q, start, end in found)


def split_call(form, parameters, values):
    """Positional arguments for the first n parameters, the rest as keywords in a drawn order."""
    n_positional, order = form
    keywords = {parameters[i]: values[i] for i in order if i >= n_positional}
    return values[:n_positional], keywords


def run_both(dag, exclusive, descriptors, builders, warning_action, call):
    """Builds the twin and the real arguments, runs the model and the real call, and checks that
    both agree. Returns the model's expectation and the real outcome."""
    failures = {}
    for method, invoke in SHARED_CALLS.items():
        result = outcome(lambda: invoke(dag))
        if result[0] == "raised":
            failures[method] = result[1]
    twin, real = Run(None, exclusive, failures), Run(dag, exclusive)
    twin_arguments = [(p, builders[p](d, twin)) for p, d in descriptors]
    real_values = [builders[p](d, real) for p, d in descriptors]
    with warnings.catch_warnings():
        warnings.simplefilter(warning_action)
        expected = model_call(twin, twin_arguments)
        got = outcome(lambda: call(real_values))
    event(expected[0] if expected[0] in ("ok", "panic") else
          f"renamed TypeError, {expected[1].split(':')[0]}" if expected[0] == "renamed" else
          f"passed on {expected[1].__name__}")
    check_outcome(expected, got, real)
    assert real.trace == twin.trace
    assert real.caught == twin.caught
    return expected, got


# --- strategies ------------------------------------------------------------------------------------

def weighted(*choices):
    """Picks one of the (weight, strategy) choices; unlike nested one_of, weights survive."""
    return st.sampled_from([strategy for weight, strategy in choices for _ in range(weight)]).flatmap(lambda s: s)


def behaviours(returned):
    return weighted(
        (2, st.tuples(st.just("return"), returned)),
        (1, st.tuples(st.just("raise"), exceptions)),
        (1, st.tuples(st.just("call"), methods, st.booleans(), returned)),
    )


INTERESTING_INTS = [0, 1, 2, 3, 2**32, 2**62, sys.maxsize, 2**63, U64_MAX, U64_MAX + 1, -1, -(2**63), 10**30]
ints = st.one_of(st.sampled_from(INTERESTING_INTS), st.integers(0, 5), st.integers(0, U64_MAX))
floats = st.one_of(st.floats(), st.sampled_from([0.0, -0.0, 1.0, 20.0, 100.0, math.inf, -math.inf, math.nan]))
texts = weighted(
    (4, st.text(max_size=6)),
    (1, st.sampled_from(["", "a\x00b", "é漢😀", "\ud800", "x\udc80y", "\udfff"])),
)
exceptions = st.tuples(weighted((5, st.sampled_from(sorted(EXCEPTIONS))), (1, st.just(PANIC.__name__))),
                       st.text("aé✓ ", max_size=4), st.booleans())
methods = st.sampled_from(sorted(SHARED_CALLS) + sorted(EXCLUSIVE_CALLS))
plain_values = weighted(
    (3, st.tuples(st.just("int"), ints)),
    (1, st.tuples(st.just("intsub"), ints)),
    (1, st.tuples(st.just("bool"), st.booleans())),
    (3, st.tuples(st.just("float"), floats)),
    (1, st.tuples(st.just("floatsub"), floats)),
    (1, st.sampled_from([("str", "3"), ("none",)])),
)
items = weighted(
    (3, st.tuples(st.just("int"), ints)),
    (3, st.tuples(st.just("int"), st.integers(0, 7))),
    (1, st.tuples(st.just("intsub"), ints)),
    (1, st.tuples(st.just("bool"), st.booleans())),
    (2, st.tuples(st.just("index"), behaviours(plain_values))),
    (1, st.tuples(st.just("mutator"), st.sampled_from(["clear", "append", "pop"]), st.integers(0, 7))),
    (1, st.one_of(
        st.tuples(st.just("float"), floats),
        st.tuples(st.just("nested"), st.lists(st.integers(0, 3), max_size=2)),
        st.sampled_from([("str", "1"), ("none",), ("liar",)]),
    )),
)
item_lists = st.lists(items, max_size=5)
lengths = behaviours(st.one_of(plain_values, st.sampled_from([("int", 2**32), ("int", 2**40), ("int", -5)])))
qubit_sequences = weighted(
    (4, st.tuples(st.just("list"), item_lists)),
    (1, st.tuples(st.just("tuple"), item_lists)),
    (1, st.tuples(st.just("deque"), item_lists)),
    (2, st.tuples(st.just("listsub"), item_lists, lengths, st.booleans())),
    (1, st.tuples(st.sampled_from(["bytes", "bytearray"]), st.binary(max_size=6))),
    (1, st.tuples(st.just("memoryview"), st.sampled_from(["B", "b", "Q", "q", "d", "released", "2d"]),
                  st.lists(st.integers(0, 127), max_size=4))),
    (1, st.tuples(st.just("range"), st.one_of(st.integers(-2, 4), st.integers(U64_MAX - 3, U64_MAX + 1)),
                  st.integers(0, 5), st.sampled_from([1, 2, -1]))),
    (1, st.tuples(st.just("array"), st.sampled_from("bBhHiIlLqQ"), st.lists(st.integers(0, 100), max_size=4))),
    (1, st.one_of(st.tuples(st.sampled_from(["str", "strsub"]), st.text("01 ", max_size=3)),
                  st.tuples(st.just("nonseq"), st.sampled_from(sorted(NON_SEQUENCES))))),
    (4, st.tuples(
        st.just("custom"),
        st.booleans(),
        lengths,
        st.sampled_from(["getitem", "next", "generator", "hooked iter"]),
        weighted((2, st.just(("return", ("iterator",)))), (1, st.tuples(st.just("return"), plain_values)),
                 (1, st.tuples(st.just("raise"), exceptions)),
                 (2, st.tuples(st.just("call"), methods, st.booleans(), st.just(("iterator",))))),
        item_lists,
        st.none() | behaviours(st.tuples(st.just("int"), ints)),
    )),
)
names = weighted(
    (6, st.tuples(st.just("str"), texts)),
    (1, st.tuples(st.just("strsub"), texts)),
    (1, st.one_of(
        st.tuples(st.sampled_from(["bytes", "bytearray"]), st.binary(max_size=3)),
        st.tuples(st.just("int"), ints),
        st.sampled_from([("none",), ("liar",), ("float", 1.0)]),
    )),
)
float_arguments = weighted(
    (4, st.tuples(st.just("float"), floats)),
    (1, st.tuples(st.just("floatsub"), floats)),
    (1, st.tuples(st.just("int"), st.one_of(ints, st.sampled_from([10**400, -(10**400), 2**1023, 2**1024])))),
    (1, st.tuples(st.just("bool"), st.booleans())),
    (2, st.tuples(st.just("floatobj"), behaviours(plain_values))),
    (1, st.tuples(st.just("indexobj"), behaviours(plain_values))),
    (1, st.tuples(st.just("both"), behaviours(plain_values), behaviours(plain_values))),
    (1, st.sampled_from([("str", "1.5"), ("none",), ("complex",), ("decimal", "2.5"), ("decimal", "sNaN"),
                         ("fraction", 1, 3), ("liar",)])),
)
gates = st.tuples(
    st.sampled_from(["h", "x", "cx", "", "ü\x00"]),
    st.lists(st.integers(0, 3), max_size=3),
    st.sampled_from([0.0, 10.0, 100.0, 250.0, -5.0, math.nan, math.inf]),
)
# Gates, and after how many of them the graph was scheduled (None: never), so that schedules are
# absent, complete or stale.
base_graphs = st.tuples(st.lists(gates, max_size=6), st.none() | st.integers(0, 6))
warning_actions = st.sampled_from(["ignore", "error"])


def call_forms(n):
    return st.tuples(st.integers(0, n), st.permutations(range(n)))


def build_graph(base):
    gate_list, scheduled_after = base
    dag = QuantumDAG()
    for i, gate in enumerate(gate_list):
        if scheduled_after == i:
            dag.build_schedule()
        dag.add_gate(*gate)
    if scheduled_after is not None and scheduled_after >= len(gate_list):
        dag.build_schedule()
    return dag


BUILDERS = {
    "name": lambda d, run: build_name(d),
    "qubits": build_qubits,
    "duration_ns": build_float,
    "node_id": lambda d, run: build_item(d, run, None),
    "min_gap_ns": build_float,
}


# --- the properties --------------------------------------------------------------------------------

ADD_GATE_PARAMETERS = ["name", "qubits", "duration_ns"]


@fuzz_settings(600)
@given(base=base_graphs, name=names, qubits=qubit_sequences, duration=float_arguments,
       form=call_forms(3), warning_action=warning_actions)
def test_add_gate(base, name, qubits, duration, form, warning_action):
    dag = build_graph(base)
    before = snapshot(dag)

    def call(values):
        positional, keywords = split_call(form, ADD_GATE_PARAMETERS, values)
        return dag.add_gate(*positional, **keywords)

    expected, got = run_both(dag, True, list(zip(ADD_GATE_PARAMETERS, (name, qubits, duration))), BUILDERS,
                             warning_action, call)
    after = snapshot(dag)
    if expected[0] == "ok":
        stored_name, stored_qubits, stored_duration = expected[1]
        assert got[1] == before[0] and type(got[1]) is int
        assert after == (before[0] + 1, before[1] + [(stored_name, tuple(stored_qubits), bits(stored_duration))],
                         before[2] + [None])
    else:
        assert after == before
    assert dag.add_gate("after", [0], 1.0) == after[0]


@fuzz_settings(300)
@given(base=base_graphs, node_id=items, keyword=st.booleans(), warning_action=warning_actions)
def test_get_node_schedule(base, node_id, keyword, warning_action):
    dag = build_graph(base)
    before = snapshot(dag)

    def call(values):
        return dag.get_node_schedule(node_id=values[0]) if keyword else dag.get_node_schedule(values[0])

    expected, got = run_both(dag, False, [("node_id", node_id)], BUILDERS, warning_action, call)
    if expected[0] == "ok":
        node = expected[1][0]
        assert schedule_entry(got[1]) == (before[2][node] if node <= before[0] else None)
    assert snapshot(dag) == before
    assert dag.add_gate("after", [0], 1.0) == before[0]


@fuzz_settings(300)
@given(base=base_graphs, min_gap=float_arguments, keyword=st.booleans(), warning_action=warning_actions)
def test_find_idle_windows(base, min_gap, keyword, warning_action):
    dag = build_graph(base)
    before = snapshot(dag)

    def call(values):
        return dag.find_idle_windows(min_gap_ns=values[0]) if keyword else dag.find_idle_windows(values[0])

    expected, got = run_both(dag, False, [("min_gap_ns", min_gap)], BUILDERS, warning_action, call)
    if expected[0] == "ok":
        assert windows(got[1]) == windows(dag.find_idle_windows(expected[1][0]))
    assert snapshot(dag) == before
    assert dag.add_gate("after", [0], 1.0) == before[0]


# --- length hints ----------------------------------------------------------------------------------


class ClaimsLength:
    def __init__(self, length, items):
        self.length, self.items = length, items

    def __len__(self):
        return self.length

    def __getitem__(self, i):
        return self.items[i]


@pytest.mark.parametrize("length", [sys.maxsize, 2**62, 2**40, 2**33, 2**32 + 1, 0])
def test_absurd_length_hint_reserves_nothing_huge(length):
    dag = QuantumDAG()
    assert dag.add_gate("g", ClaimsLength(length, [3, 1, 4]), 1.0) == 0
    assert dag.get_all_nodes() == [("g", [3, 1, 4], 1.0)]


@pytest.mark.parametrize("length", [sys.maxsize, 2**40])
def test_absurd_length_hint_on_a_list_subclass(length):
    qubits = type("Claims", (list,), {"__len__": lambda self: length})([5, 6])
    dag = QuantumDAG()
    dag.add_gate("g", qubits, 1.0)
    assert dag.get_all_nodes() == [("g", [5, 6], 1.0)]
