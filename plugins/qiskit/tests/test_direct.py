"""The direct path (decouple, pad_delays) against a pass manager holding the same native pass.

The oracle is `PassManager([<tarvex_qiskit pass>]).run(circuit)`, itself checked against Qiskit's
own pipeline in test_passes.py and test_devices.py: the direct path must give the same circuit
(outputs.assert_same_circuit: order, parameters, labels, start times, duration, name, metadata),
or raise the same exception with the same message, whether it runs natively or falls back.
"""

import copy

import pytest
from conftest import CIRCUITS, aligned_target, backend, symbolic_circuit, transpiled
from outputs import assert_same_circuit
from qiskit import QuantumCircuit, QuantumRegister
from qiskit.circuit import Delay, Gate, Measure, Parameter, Qubit
from qiskit.circuit.library import CXGate, RZGate, UnitaryGate, XGate
from qiskit.transpiler import InstructionProperties, PassManager, Target
from qiskit.utils import should_run_in_parallel
from test_passes import OPTIONS, custom_gate_target, timing, with_custom_gate

import tarvex_qiskit

# The options of test_passes.py that come with a target (the direct path takes one), and three
# ways to run each: (scheduling, record_start_times, keep_labels).
TARGETED = [o for o in OPTIONS if o[3] in ("generic", "aligned")]
RUNS = [("alap", None, True), ("asap", True, True), ("alap", True, False)]


def direct(kind, target, options, **run):
    if kind == "delay":
        return lambda circuits: tarvex_qiskit.pad_delays(circuits, target, **options, **run)
    return lambda circuits: tarvex_qiskit.decouple(circuits, target, options["dd_sequence"], **{k: v for k, v in options.items() if k != "dd_sequence"}, **run)


def through_pass_manager(kind, target, options, **run):
    cls = tarvex_qiskit.PadDelay if kind == "delay" else tarvex_qiskit.PadDynamicalDecoupling
    return lambda circuits: PassManager([cls(**options, target=target, **run)]).run(circuits)


def outcome(run):
    """What `run` returns, or (type, message) of what it raises."""
    try:
        return run()
    except Exception as err:  # compared by type and message
        return type(err), str(err)


def assert_same_outcome(got, expected):
    if isinstance(expected, tuple):
        assert got == expected
    else:
        assert_same_circuit(got, expected)


@pytest.mark.parametrize("run", RUNS, ids=lambda r: "-".join(map(str, r)))
@pytest.mark.parametrize("option", TARGETED, ids=lambda o: o[0])
@pytest.mark.parametrize("circuit", CIRCUITS)
def test_direct_path_equals_the_pass_manager(circuit, option, run):
    _, kind, options, timing_kind = option
    target = timing(timing_kind)["target"]
    scheduling, record, keep_labels = run
    settings = {"scheduling": scheduling, "record_start_times": record, "keep_labels": keep_labels}
    circ = transpiled(circuit)
    expected = outcome(lambda: through_pass_manager(kind, target, options, **settings)(circ))
    before = copy.deepcopy(circ)
    assert_same_outcome(outcome(lambda: direct(kind, target, options, **settings)(circ)), expected)
    assert circ == before and list(circ.data) == list(before.data)


def symbolic_phase():
    circ = transpiled("random").copy()
    circ.global_phase = Parameter("g")
    return circ


def loose_bit():
    circ = QuantumCircuit(QuantumRegister(2, "q"), [Qubit()])
    circ.x(0)
    circ.cx(0, 1)
    circ.x(2)
    return circ


def rounded_delay():
    circ = transpiled("qft").copy()
    circ.delay(1.0, 0, unit="ns")  # 4.5 dt: Qiskit rounds and warns
    return circ


def misaligned():
    circ = transpiled("qft").copy()
    circ.delay(24, 1)  # not a multiple of the 16-dt alignment
    return circ


def with_control_flow():
    circ = QuantumCircuit(2, 1)
    circ.x(0)
    circ.measure(0, 0)
    with circ.if_test((circ.clbits[0], 1)):
        circ.x(1)
    return circ


def not_physical():
    circ = QuantumCircuit(QuantumRegister(2, "v"))
    circ.x(0)
    circ.cx(0, 1)
    return circ


class Subclass(QuantumCircuit):
    pass


def subclass():
    circ = Subclass(3)
    circ.x(0)
    circ.cx(0, 2)
    return circ


def empty():
    return QuantumCircuit(QuantumRegister(3, "q"))


# (id, circuit, target, dd options or None for PadDelay): where the direct path cannot promise the
# pass manager's output it must give it anyway, or the same refusal.
FALLBACKS = [
    ("custom-gate", with_custom_gate, custom_gate_target, {"dd_sequence": [XGate(), XGate()]}),
    ("symbolic-phase", symbolic_phase, lambda: backend().target, {"dd_sequence": [XGate(), XGate()]}),
    ("loose-bit", loose_bit, lambda: backend().target, None),
    ("misaligned", misaligned, aligned_target, {"dd_sequence": [XGate(), XGate()]}),
    ("control-flow", with_control_flow, lambda: backend().target, {"dd_sequence": [XGate(), XGate()]}),
    ("not-physical", not_physical, lambda: backend().target, None),
    ("subclass", subclass, lambda: backend().target, {"dd_sequence": [XGate(), XGate()]}),
    ("empty-recorded", empty, lambda: backend().target, None),
    ("one-gate-sequence", lambda: transpiled("qft"), lambda: backend().target, {"dd_sequence": [XGate()]}),
    ("not-identity", lambda: transpiled("qft"), lambda: backend().target, {"dd_sequence": [XGate(), Gate("y", 1, [])]}),
]


@pytest.mark.parametrize("case", FALLBACKS, ids=lambda c: c[0])
def test_what_the_native_path_leaves_to_the_pass_manager_is_the_same(case):
    _, make_circuit, make_target, dd = case
    circ, target = make_circuit(), make_target()
    kind, options = ("delay", {}) if dd is None else ("dd", dd)
    expected = outcome(lambda: through_pass_manager(kind, target, options, record_start_times=True)(circ))
    assert_same_outcome(outcome(lambda: direct(kind, target, options, record_start_times=True)(circ)), expected)


def test_a_rounded_delay_warns_as_qiskit_does():
    circ, target = rounded_delay(), backend().target
    with pytest.warns(UserWarning) as expected_warnings:
        expected = PassManager([tarvex_qiskit.PadDelay(target=target)]).run(circ)
    with pytest.warns(UserWarning) as got_warnings:
        got = tarvex_qiskit.pad_delays(circ, target)
    assert_same_circuit(got, expected)
    assert [str(w.message) for w in got_warnings] == [str(w.message) for w in expected_warnings]


def test_lists_keep_their_order_also_with_parallel_execution_on():
    circuits = [transpiled(name) for name in CIRCUITS] * 2
    target = backend().target
    expected = [PassManager([tarvex_qiskit.PadDynamicalDecoupling(target=target, dd_sequence=[XGate(), XGate()])]).run(c) for c in circuits]
    with should_run_in_parallel.override(True):
        got = tarvex_qiskit.decouple(circuits, target, [XGate(), XGate()])
    assert isinstance(got, list) and len(got) == len(circuits)
    for g, e in zip(got, expected):
        assert_same_circuit(g, e)
    assert tarvex_qiskit.pad_delays([], target) == []


def test_a_changed_target_is_read_again():
    # The kept pass is the target's, and a target's durations object is new after each change.
    target = copy.deepcopy(backend().target)
    circ = transpiled("qft")
    before = tarvex_qiskit.pad_delays(circ, target)
    props = copy.copy(target["sx"][(0,)])
    props.duration *= 3
    target.update_instruction_properties("sx", (0,), props)
    expected = PassManager([tarvex_qiskit.PadDelay(target=target)]).run(circ)
    got = tarvex_qiskit.pad_delays(circ, target)
    assert_same_circuit(got, expected)
    assert got != before


def parametric_target():
    target = Target(num_qubits=3, dt=1e-9)
    theta = Parameter("t")
    for gate, dt in ((RZGate(theta), 0), (XGate(), 160), (UnitaryGate([[0, 1], [1, 0]]), 320), (Measure(), 1600)):
        target.add_instruction(gate, {(q,): InstructionProperties(duration=dt * 1e-9) for q in range(3)})
    target.add_instruction(CXGate(), {(a, b): InstructionProperties(duration=800e-9) for a in range(3) for b in range(3) if a != b})
    target.add_instruction(Delay(Parameter("d")), {(q,): None for q in range(3)})
    return target


@pytest.mark.parametrize("kind", ["delay", "dd"])
def test_symbolic_parameters_and_unitaries_are_copied(kind):
    circ = symbolic_circuit()
    target = parametric_target()
    options = {} if kind == "delay" else {"dd_sequence": [XGate(), XGate()]}
    expected = through_pass_manager(kind, target, options)(circ)
    got = direct(kind, target, options)(circ)
    assert_same_circuit(got, expected)
    assert got.parameters == expected.parameters and got.count_ops()["unitary"] == 1
