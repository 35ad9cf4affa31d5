"""Every `_native` call, good and hostile, many times over: no reference may be left behind, neither
on the arguments nor (on a debug build) in the interpreter's total. The dynamic entries, whose calls
write into their arguments, get new ones for each call (native_cases.calls); the writer of each
must be gone once its call's arguments are dropped."""

import gc
import sys
import weakref

import pytest
from native_cases import CASES, ONE_CALL_EACH, calls, dynamic_dag, dynamic_target, run_pass
from qiskit import QuantumCircuit
from qiskit.circuit.library import XGate
from qiskit.converters import circuit_to_dag

from tarvex_qiskit.ibm import decoupling, scheduling

pytestmark = pytest.mark.debug_build

HAS_TOTAL = hasattr(sys, "gettotalrefcount")
CALLS = 200  # per round; a reference lost per call shows as >= this many


class Attempt:
    """Repeated calls of a case. `call()` makes one; `writers` holds a weak reference to the last
    writer a call of a dynamic entry got, where it takes one.

    A dynamic entry's calls run Qiskit's Python code (its writer's callbacks), which fills caches
    of its own and keeps a varying number of small objects there: they warm up for a round or,
    now and then, for a few (a round's growth falling towards zero), and the total may move by up
    to about CALLS // 2 in a round without a reference lost per call. A reference lost per call
    grows the total by CALLS or more in every round, so up to `rounds` rounds are run until one
    stays below `allowed`."""

    def __init__(self, case):
        self.case = case
        self.make, self.watched = calls(case)
        self.writers = []
        dynamic = self.watched[0] in ONE_CALL_EACH
        self.warm_up = CALLS if dynamic else 20
        self.allowed = CALLS // 2 if dynamic else CALLS // 10
        self.rounds = 6 if dynamic else 3

    def call(self):
        function, args, kwargs = self.make()
        if function in ONE_CALL_EACH:
            try:
                self.writers[:] = [weakref.ref(kwargs["writer"])]
            except (KeyError, TypeError):
                pass  # no writer, or one without weak references (object())
        try:
            function(*args, **kwargs)
        except self.case.error or ():
            pass


@pytest.mark.parametrize("name", CASES)
def test_no_reference_is_left_behind(name):
    attempt = Attempt(CASES[name])
    for _ in range(attempt.warm_up):
        attempt.call()
    gc.collect()
    before = [sys.getrefcount(obj) for obj in attempt.watched]
    growth = []
    for round_ in range(attempt.rounds):
        total = sys.gettotalrefcount() if HAS_TOTAL else 0
        for _ in range(CALLS):
            attempt.call()
        gc.collect()
        growth.append(sys.gettotalrefcount() - total if HAS_TOTAL else 0)
        assert all(writer() is None for writer in attempt.writers), "a call kept its writer alive"
        if round_ >= 2 and min(growth) < attempt.allowed:
            break
    assert [sys.getrefcount(obj) for obj in attempt.watched] == before
    assert min(growth) < attempt.allowed, f"the total reference count grew by {growth} per {CALLS} calls"


def test_the_dynamic_entries_get_new_arguments_for_each_call():
    """What makes the repeated calls of a dynamic entry sound: two calls share no writer, output or
    circuit, but do share the target's durations, which the reference counts are checked on; and
    a call on renewed arguments pads as the pass does."""
    make, watched = calls(CASES["dynamic_decoupling fused with pulses"])
    first, second = make()[2], make()[2]
    for field in ("writer", "out", "top"):
        assert first[field] is not second[field]
        assert all(first[field] is not value for value in watched)
    assert any(first["durations"] is value for value in watched)
    same_make, same_watched = calls(CASES["pad fused"])
    assert same_make() is same_make()
    assert any(same_make()[2]["dag"] is value for value in same_watched)


@pytest.mark.parametrize(
    "name, padder, pulses",
    [
        ("dynamic fused", lambda: scheduling.PadDelay(target=dynamic_target()), 0),
        ("dynamic_decoupling fused with pulses", lambda: decoupling.PadDynamicalDecoupling(
            [XGate(), XGate()], target=dynamic_target(), skip_reset_qubits=False, sequence_min_length_ratios=1), 2),
    ],
)
def test_calls_on_renewed_arguments_pad_as_the_pass_does(name, padder, pulses):
    expected = run_pass(padder(), dynamic_dag())
    make, _ = calls(CASES[name])
    for _ in range(3):
        function, args, kwargs = make()
        function(*args, **kwargs)
        assert len(kwargs["writer"].ops) == 1  # this call's if_else alone
        assert circuit_to_dag(QuantumCircuit._from_circuit_data(kwargs["out"])) == expected
    assert expected.count_ops()["x"] == 4 + pulses  # the circuit's four, and the sequence's
