"""Every method, on its success path and on each of its error paths, called many times in a loop:
no reference may be left behind (the arguments' own counts, and the interpreter's total on a debug
build) and no memory (the process's resident size stays put).

Payloads are large on purpose (long names, long qubit lists, long type names in messages), so that
a value leaked once per call adds up to megabytes over the loop.
"""

import contextlib
import gc
import os
import sys

import pytest

from _tarvex import QuantumDAG, TarvexError
from conftest import CALLER_CODE, PANIC, Float, Index, Qubits, UserError, build, on_new_thread

HAS_TOTAL = hasattr(sys, "gettotalrefcount")
REFCOUNT_CALLS = 1000  # per round; a leak of one reference per call shows as >= this many
RSS_CALLS = 20_000
RSS_BOUND = 1024 * 1024
PAGE = os.sysconf("SC_PAGE_SIZE")
with open("/proc/self/maps") as _maps:
    # AddressSanitizer keeps freed memory in quarantine, so the resident size says nothing there.
    UNDER_ASAN = "libasan" in _maps.read()


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE


@contextlib.contextmanager
def quiet():
    """Sends fault reports and resumed-panic tracebacks to /dev/null instead of a growing capture."""
    sys.stderr.flush()
    saved_fd, devnull = os.dup(2), os.open(os.devnull, os.O_WRONLY)
    saved_stderr = sys.stderr
    os.dup2(devnull, 2)
    sys.stderr = open(os.devnull, "w")
    try:
        yield
    finally:
        sys.stderr.close()
        sys.stderr = saved_stderr
        os.dup2(saved_fd, 2)
        os.close(saved_fd)
        os.close(devnull)


def checked(call, expected):
    """call(), asserting that it raises exactly `expected` (or nothing when that is None)."""

    def attempt():
        try:
            call()
        except BaseException as exc:
            if type(exc) is not expected:
                raise AssertionError(f"expected {expected}, got {exc!r}") from None
            return
        if expected is not None:
            raise AssertionError(f"expected {expected}, got no error")

    return attempt


def on_thread(fn, other_thread):
    return on_new_thread(fn) if other_thread else fn()


def refcount_deltas(attempt, watched):
    """Counts of the watched objects before and after, and the interpreter's total growth per round."""
    for _ in range(100):
        attempt()
    gc.collect()
    before = [sys.getrefcount(obj) for obj in watched]
    totals = []
    for _ in range(3):
        total = sys.gettotalrefcount() if HAS_TOTAL else 0
        for _ in range(REFCOUNT_CALLS):
            attempt()
        gc.collect()
        totals.append(sys.gettotalrefcount() - total if HAS_TOTAL else 0)
    return before, [sys.getrefcount(obj) for obj in watched], totals


def rss_growth(attempt):
    for _ in range(2000):
        attempt()
    gc.collect()
    before = resident_bytes()
    for _ in range(RSS_CALLS):
        attempt()
    gc.collect()
    return resident_bytes() - before


# --- arguments that make every message and every converted value large -----------------------------


class Long:
    """An object whose type name is 4000 characters long."""


Long.__qualname__ = Long.__name__ = "L" * 4000


class UserInterrupt(BaseException):
    pass


def raiser(cls, message="m" * 1000, cause=False):
    """An action that raises a new `cls` each time (a reused exception would grow its traceback)."""

    def action():
        if cause:
            raise cls(message) from UserError("cause")
        raise cls(message)

    return action


def scheduled():
    return build([("a", [0], 10.0), ("b", [1], 300.0), ("c", [0, 1], 20.0), ("d", [0], 5.0)])


def unscheduled():
    return build([("a", [0], 10.0)], schedule=False)


via_index, via_float, via_min_gap = (CALLER_CODE[place][1] for place in
                                     ("node_id __index__", "duration_ns __float__", "min_gap_ns __float__"))


def conflicting(via, inner):
    """A call on a graph whose argument's hook (placed by a CALLER_CODE `via`) calls `inner` on the
    same graph; the hook lets the borrow error through, so the outer call fails with it."""
    dag = scheduled()
    outer = via(lambda: inner(dag))
    return (lambda: outer(dag)), [dag]


def swallowed(via, inner, then):
    """As `conflicting`, but the hook catches the borrow error and goes on with `then`."""
    dag = scheduled()

    def hook():
        try:
            inner(dag)
        except RuntimeError:
            pass
        return then()

    outer = via(hook)
    return (lambda: outer(dag)), [dag]


NAME = "n" * 2000
QUBITS = list(range(1000, 1200))
BIG = 2**64
SURROGATE_KEYWORD = "k\udc80" * 500


def method(make_dag, method_name, /, *args, **kwargs):
    """dag.<method_name>(*args, **kwargs) on one graph, watching the graph and every argument."""
    dag = make_dag()
    bound = getattr(dag, method_name)
    return (lambda: bound(*args, **kwargs)), [dag, *args, *kwargs.values()]


def fresh(method_name, /, *args, **kwargs):
    """dag.<method_name>(*args, **kwargs) on a new graph every time (for calls that add to it)."""
    return (lambda: getattr(QuantumDAG(), method_name)(*args, **kwargs)), [QuantumDAG, *args, *kwargs.values()]


def case(case_id, make, expected=None, other_thread=False):
    return pytest.param(make, expected, other_thread, id=case_id)


CASES = [
    # constructor and deallocation
    case("new", lambda: ((lambda: QuantumDAG()), [QuantumDAG])),
    case("new positional", lambda: ((lambda: QuantumDAG(NAME)), [NAME]), TypeError),
    case("new keyword", lambda: ((lambda: QuantumDAG(**{NAME: 1})), [NAME]), TypeError),
    # methods without parameters
    case("node_count", lambda: method(scheduled, "node_count")),
    case("node_count argument", lambda: method(scheduled, "node_count", NAME), TypeError),
    case("get_all_nodes", lambda: method(scheduled, "get_all_nodes")),
    case("get_all_nodes argument", lambda: method(scheduled, "get_all_nodes", NAME), TypeError),
    case("build_schedule", lambda: method(scheduled, "build_schedule")),
    case("build_schedule argument", lambda: method(scheduled, "build_schedule", NAME), TypeError),
    case("apply_dd_pass", lambda: method(scheduled, "apply_dd_pass")),
    case("apply_dd_pass unscheduled", lambda: method(unscheduled, "apply_dd_pass"), TarvexError),
    case("apply_dd_pass empty", lambda: method(QuantumDAG, "apply_dd_pass")),
    case("apply_dd_pass argument", lambda: method(scheduled, "apply_dd_pass", NAME), TypeError),
    # add_gate
    case("add_gate", lambda: fresh("add_gate", NAME, QUBITS, float("12.5"))),
    case("add_gate keywords", lambda: fresh("add_gate", duration_ns=float("2.5"), qubits=QUBITS, name=NAME)),
    case("add_gate bytes qubits", lambda: fresh("add_gate", NAME, bytes(range(200)), 1.0)),
    case("add_gate len ValueError", lambda: fresh("add_gate", NAME, Qubits(QUBITS, on_len=raiser(ValueError)), 1.0)),
    case("add_gate len huge", lambda: fresh("add_gate", NAME, Qubits(QUBITS, on_len=lambda: sys.maxsize), 1.0)),
    case("add_gate missing", lambda: method(scheduled, "add_gate", NAME), TypeError),
    case("add_gate too many", lambda: method(scheduled, "add_gate", NAME, QUBITS, 1.0, NAME), TypeError),
    case("add_gate twice", lambda: method(scheduled, "add_gate", NAME, QUBITS, 1.0, name=NAME), TypeError),
    case("add_gate unknown keyword", lambda: method(scheduled, "add_gate", **{NAME: 1}), TypeError),
    case("add_gate surrogate keyword", lambda: method(scheduled, "add_gate", **{SURROGATE_KEYWORD: 1}), TypeError),
    case("add_gate name type", lambda: method(scheduled, "add_gate", Long(), QUBITS, 1.0), TypeError),
    case("add_gate name surrogate", lambda: method(scheduled, "add_gate", "\udc80" + NAME, QUBITS, 1.0),
         UnicodeEncodeError),
    case("add_gate qubits str", lambda: method(scheduled, "add_gate", NAME, NAME, 1.0), TypeError),
    case("add_gate qubits type", lambda: method(scheduled, "add_gate", NAME, Long(), 1.0), TypeError),
    case("add_gate qubit float", lambda: method(scheduled, "add_gate", NAME, QUBITS + [1.5], 1.0), TypeError),
    case("add_gate qubit negative", lambda: method(scheduled, "add_gate", NAME, QUBITS + [-1], 1.0), OverflowError),
    case("add_gate qubit 2**64", lambda: method(scheduled, "add_gate", NAME, QUBITS + [BIG], 1.0), OverflowError),
    case("add_gate qubit __index__ ValueError",
         lambda: method(scheduled, "add_gate", NAME, QUBITS + [Index(raiser(ValueError))], 1.0), ValueError),
    case("add_gate qubit __index__ TypeError",
         lambda: method(scheduled, "add_gate", NAME, QUBITS + [Index(raiser(TypeError, cause=True))], 1.0), TypeError),
    case("add_gate len interrupt",
         lambda: method(scheduled, "add_gate", NAME, Qubits(QUBITS, on_len=raiser(UserInterrupt)), 1.0), UserInterrupt),
    case("add_gate len panic", lambda: method(scheduled, "add_gate", NAME, Qubits(QUBITS, on_len=raiser(PANIC)), 1.0),
         PANIC),
    case("add_gate iter", lambda: method(scheduled, "add_gate", NAME, Qubits(QUBITS, on_iter=raiser(UserError)), 1.0),
         UserError),
    case("add_gate next", lambda: method(scheduled, "add_gate", NAME, Qubits(QUBITS, on_next=raiser(UserError)), 1.0),
         UserError),
    case("add_gate next TypeError",
         lambda: method(scheduled, "add_gate", NAME, Qubits(QUBITS, on_next=raiser(TypeError)), 1.0), TypeError),
    case("add_gate duration str", lambda: method(scheduled, "add_gate", NAME, QUBITS, NAME), TypeError),
    case("add_gate duration huge int", lambda: method(scheduled, "add_gate", NAME, QUBITS, 10**400), OverflowError),
    case("add_gate __float__ error",
         lambda: method(scheduled, "add_gate", NAME, QUBITS, Float(raiser(UserError))), UserError),
    case("add_gate __float__ panic", lambda: method(scheduled, "add_gate", NAME, QUBITS, Float(raiser(PANIC))),
         PANIC),
    # get_node_schedule
    case("get_node_schedule", lambda: method(scheduled, "get_node_schedule", 2)),
    case("get_node_schedule missing node", lambda: method(scheduled, "get_node_schedule", BIG - 1)),
    case("get_node_schedule keyword", lambda: method(scheduled, "get_node_schedule", node_id=Index(lambda: 3))),
    case("get_node_schedule no argument", lambda: method(scheduled, "get_node_schedule"), TypeError),
    case("get_node_schedule too many", lambda: method(scheduled, "get_node_schedule", 1, NAME), TypeError),
    case("get_node_schedule unknown keyword", lambda: method(scheduled, "get_node_schedule", **{NAME: 1}), TypeError),
    case("get_node_schedule float", lambda: method(scheduled, "get_node_schedule", 1.5), TypeError),
    case("get_node_schedule type", lambda: method(scheduled, "get_node_schedule", Long()), TypeError),
    case("get_node_schedule negative", lambda: method(scheduled, "get_node_schedule", -1), OverflowError),
    case("get_node_schedule 2**64", lambda: method(scheduled, "get_node_schedule", BIG), OverflowError),
    case("get_node_schedule __index__ error",
         lambda: method(scheduled, "get_node_schedule", Index(raiser(UserError))), UserError),
    case("get_node_schedule __index__ panic",
         lambda: method(scheduled, "get_node_schedule", Index(raiser(PANIC))), PANIC),
    # find_idle_windows
    case("find_idle_windows", lambda: method(scheduled, "find_idle_windows", float("0.0"))),
    case("find_idle_windows missing", lambda: method(scheduled, "find_idle_windows"), TypeError),
    case("find_idle_windows str", lambda: method(scheduled, "find_idle_windows", NAME), TypeError),
    case("find_idle_windows __float__ TypeError",
         lambda: method(scheduled, "find_idle_windows", Float(raiser(TypeError, cause=True))), TypeError),
    case("find_idle_windows __float__ panic",
         lambda: method(scheduled, "find_idle_windows", Float(raiser(PANIC))), PANIC),
    # borrow conflicts, let through and swallowed
    case("shared inside exclusive", lambda: conflicting(via_float, lambda d: d.get_all_nodes()), RuntimeError),
    case("exclusive inside shared", lambda: conflicting(via_index, lambda d: d.add_gate(NAME, QUBITS, 1.0)),
         RuntimeError),
    case("exclusive inside exclusive", lambda: conflicting(via_float, lambda d: d.build_schedule()), RuntimeError),
    case("dd pass inside exclusive", lambda: conflicting(via_float, lambda d: d.apply_dd_pass()), RuntimeError),
    case("conflict swallowed", lambda: swallowed(via_float, lambda d: d.node_count(), raiser(UserError)), UserError),
    case("shared inside shared", lambda: swallowed(via_min_gap, lambda d: d.apply_dd_pass(), lambda: 0.0)),
    case("schedule inside shared", lambda: swallowed(via_index, lambda d: d.build_schedule(), lambda: 1)),
    # calls from a thread other than the owner
    *[case(f"{name} other thread", lambda name=name, args=args: method(scheduled, name, *args), PANIC, True)
      for name, args in [("node_count", ()), ("add_gate", (NAME, QUBITS, 1.0)), ("build_schedule", ()),
                         ("get_node_schedule", (1,)), ("find_idle_windows", (0.0,)), ("apply_dd_pass", ()),
                         ("get_all_nodes", ())]],
]


@pytest.mark.parametrize("make, expected, other_thread", CASES)
def test_no_reference_is_left_behind(make, expected, other_thread):
    call, watched = make()
    attempt = checked(call, expected)
    with quiet():
        before, after, totals = on_thread(lambda: refcount_deltas(attempt, watched), other_thread)
    assert after == before
    assert min(totals) < REFCOUNT_CALLS // 10, f"total reference count grew by {totals} per {REFCOUNT_CALLS} calls"


@pytest.mark.skipif(UNDER_ASAN, reason="AddressSanitizer holds freed memory in quarantine")
@pytest.mark.parametrize("make, expected, other_thread", CASES)
def test_no_memory_is_left_behind(make, expected, other_thread):
    call, _ = make()
    attempt = checked(call, expected)
    with quiet():
        growth = on_thread(lambda: rss_growth(attempt), other_thread)
    assert growth < RSS_BOUND, f"resident size grew by {growth} bytes over {RSS_CALLS} calls"
