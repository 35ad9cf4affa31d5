"""The mended runtime PadDynamicalDecoupling (tarvex_qiskit.ibm.mended), the oracle of the DD tests:
each mend on a circuit where the plain runtime is wrong, and the mended output sound there (its
operator that of the input, global phase included; every qubit's total duration that of PadDelay's
output), while it stays the runtime's where the runtime is right.
"""

from __future__ import annotations

import copy
import math

import pytest
from dd_soundness import DT, dd_target, qubit_durations, same_operator
from qiskit import QuantumCircuit
from qiskit.converters import circuit_to_dag
from qiskit.circuit.library import RXGate, RZGate, XGate, YGate
from qiskit.transpiler import PassManager
from qiskit_ibm_runtime.fake_provider import FakeTorino
from qiskit_ibm_runtime.transpiler.passes import scheduling as runtime
from runtime_oracle import MendedPadDynamicalDecoupling, decoupled, fresh_bodies, padded

XX = [XGate(), XGate()]
XY4 = [XGate(), YGate(), XGate(), YGate()]


def plain(circuit, target, scheduling="asap", **options):
    """The runtime as it is: its output, or the exception type it raises (a Rust panic included)."""
    pm = PassManager([runtime.ASAPScheduleAnalysis(target=target) if scheduling == "asap"
                      else runtime.ALAPScheduleAnalysis(target=target),
                      runtime.PadDynamicalDecoupling(**options, target=target)])
    try:
        return pm.run(circuit)
    except BaseException as err:  # noqa: BLE001 (a panic in Qiskit's DAG is a BaseException)
        if isinstance(err, KeyboardInterrupt):
            raise
        return type(err)


class LengthsOnly(runtime.PadDynamicalDecoupling):
    """The runtime with only its DD gate lengths converted to dt (to show the other faults where
    the seconds would hide them)."""

    def _pre_runhook(self, dag):
        super()._pre_runhook(dag)
        for lengths in self._dd_sequence_lengths.values():
            lengths[:] = [[self._target.seconds_to_dt(d) for d in seq] for seq in lengths]


def sound(out, circuit, target, scheduling="asap"):
    return same_operator(out, circuit) and qubit_durations(out, target) == qubit_durations(
        padded(circuit, target, scheduling), target)


def one_window() -> QuantumCircuit:
    """Qubit 0 idles once, for 4 CX (1,280 dt), after an X and a CX."""
    qc = QuantumCircuit(3)
    qc.x(0)
    qc.cx(0, 1)
    for _ in range(4):
        qc.cx(1, 2)
    return qc


def test_gate_lengths_are_whole_dt_so_sequences_fit_their_windows():
    target = dd_target()
    circuit = one_window()
    broken = plain(circuit, target, dd_sequences=XX)
    assert same_operator(broken, circuit)
    assert qubit_durations(broken, target)[0] == qubit_durations(padded(circuit, target, "asap"), target)[0] + 2 * 48
    out = decoupled(circuit, target, "asap", dd_sequences=XX)
    assert sound(out, circuit, target)
    assert out.count_ops()["x"] == 3


def test_on_a_device_the_measured_overrun_and_ratio_check():
    # FakeTorino: an X is 8 dt (about 3.3e-8 s). A 232 dt window takes the runtime's 232 dt of
    # delays plus both X; an 8 dt window passes its ratio check (8 / 6.7e-8 > 2).
    be = FakeTorino()
    window = QuantumCircuit(133)
    window.x(0)
    window.cz(0, 1)
    window.delay(232, 0)
    window.cz(0, 1)
    short = QuantumCircuit(133)
    short.x(0)
    short.x(1)
    short.cz(0, 1)
    short.x(0)
    short.cz(0, 1)
    for qc, qubit, overrun in ((window, 0, 16), (short, 1, 16)):
        reference = qubit_durations(padded(qc, be.target, "asap"), be.target)
        broken = plain(qc, be.target, dd_sequences=XX)
        assert qubit_durations(broken, be.target)[qubit] == reference[qubit] + overrun
        out = decoupled(qc, be.target, "asap", dd_sequences=XX)
        assert qubit_durations(out, be.target) == reference
    on_q1 = [inst.operation.name for inst in out.data if inst.qubits == (out.qubits[1],)]
    assert on_q1 == ["x", "delay"]  # 8 dt: below ratio 2 of a 16 dt sequence


def test_multiple_cycles_count_whole_dt_windows():
    target = dd_target()
    circuit = one_window()
    # the runtime's lengths are seconds (4.8e-8 per X): 1280 dt / (9.6e-8 * 2) cycles; no run
    runtime_pass = runtime.PadDynamicalDecoupling(dd_sequences=XX, insert_multiple_cycles=True, target=target)
    runtime_pass.property_set["node_start_time"] = {}
    runtime_pass._pre_runhook(circuit_to_dag(circuit))
    assert runtime_pass._dd_sequence_lengths[circuit.qubits[0]] == [[48 * DT, 48 * DT]]
    out = decoupled(circuit, target, "asap", dd_sequences=XX, insert_multiple_cycles=True)
    assert sound(out, circuit, target)
    # 1280 dt window, 96 dt per sequence and ratio 2: 6 cycles of two X after the input's one
    assert out.count_ops()["x"] == 1 + 12


@pytest.mark.parametrize(
    "name, options, true_phase",
    [
        # the product in circuit order is RZ RZ Y X = -I; the runtime's X Y RZ RZ is +I
        ("reverse-order", {"dd_sequences": [XGate(), YGate(), RZGate(math.pi / 2), RZGate(math.pi / 2)]}, math.pi),
        # [x, x] (phase 0) is inserted; the runtime adds XY4's (pi), the last sequence's
        ("last-sequence", {"dd_sequences": [XX, XY4], "sequence_min_length_ratios": [1, 1]}, 0.0),
        # two cycles of XY4 add 2 pi; the runtime adds one cycle's pi
        ("cycles", {"dd_sequences": XY4, "insert_multiple_cycles": True, "sequence_min_length_ratios": 3}, 0.0),
    ],
)
def test_each_insertion_adds_the_phase_of_what_it_inserted(name, options, true_phase):
    target = dd_target()
    circuit = one_window()
    broken = PassManager([runtime.ASAPScheduleAnalysis(target=target), LengthsOnly(**options, target=target)]).run(circuit)
    assert not same_operator(broken, circuit)
    out = decoupled(circuit, target, "asap", **options)
    assert sound(out, circuit, target)
    assert math.isclose(math.cos(out.global_phase), math.cos(true_phase), abs_tol=1e-12)
    # the mends change the phase only
    assert [inst.operation for inst in out.data] == [inst.operation for inst in broken.data]


def test_absorption_into_the_previous_u_keeps_the_phase_exact():
    target = dd_target()
    qc = QuantumCircuit(3)
    qc.u(0.3, 0.5, 0.7, 0)
    for _ in range(3):
        qc.cx(1, 2)
    qc.u(0.1, 0.2, 0.3, 0)
    qc.cx(0, 1)
    single = {"dd_sequences": [RXGate(math.pi / 4)]}
    broken = PassManager([runtime.ASAPScheduleAnalysis(target=target), LengthsOnly(**single, target=target)]).run(qc)
    assert not same_operator(broken, qc)  # off by about 0.02 rad
    out = decoupled(qc, target, "asap", **single)
    assert sound(out, qc, target)
    assert [inst.operation for inst in out.data] == [inst.operation for inst in broken.data]
    assert abs(out.global_phase - broken.global_phase) > 0.01


def test_absorption_into_the_next_u_is_sound_where_the_runtime_raises():
    target = dd_target()
    qc = QuantumCircuit(3)
    qc.x(0)
    qc.delay(1000, 0)
    qc.u(0.1, 0.2, 0.3, 0)
    qc.cx(0, 1)
    before = copy.deepcopy(qc)
    single = {"dd_sequences": [RXGate(math.pi / 4)]}
    assert isinstance(plain(qc, target, **single), type)  # substitute_node given an input node
    out = decoupled(qc, target, "asap", **single)
    assert sound(out, qc, target)
    names = [inst.operation.name for inst in out.data if inst.qubits == (out.qubits[0],)]
    assert names == ["x", "delay", "rx", "delay", "u"]
    u = next(inst.operation for inst in out.data if inst.operation.name == "u")
    assert not math.isclose(u.params[0], 0.1)  # the inverse is in the next gate
    assert qc == before


def body_with_selected_qubits() -> QuantumCircuit:
    """Qubit 0 idle all along (so a body's qubits are 1, 2, 3); an if on qubits 1 and 2 after a
    measurement of 1 (not the fast path), whose body leaves qubit 3 idle for 480 dt."""
    qc = QuantumCircuit(4, 2)
    for q in (1, 2, 3):
        qc.x(q)
    qc.measure(1, 0)
    qc.measure(3, 1)  # (so that the X on qubit 3 is not pushed past the if)
    with qc.if_test((0, 1)):
        qc.x(2)
        for _ in range(10):
            qc.x(1)
    return qc


def _body_ops(out, physical: int) -> list[str]:
    if_else = next(inst for inst in out.data if inst.operation.name == "if_else")
    body = if_else.operation.blocks[0]
    outer = [out.find_bit(q).index for q in if_else.qubits]
    return [inst.operation.name for inst in body.data if outer[body.find_bit(inst.qubits[0]).index] == physical
            and len(inst.qubits) == 1]


@pytest.mark.parametrize("scheduling", ["alap", "asap"])
@pytest.mark.parametrize("gate", [XGate(), RXGate(math.pi / 4)], ids=["x", "rx-pi/4"])
def test_one_gate_cycles_whose_power_is_not_the_identity_take_one_cycle(gate, scheduling):
    # 1,280 dt, 48 dt pulses, ratio 6: four cycles. X^4 = I: the runtime's four pulses are sound and
    # kept. RX(pi/4)^4 = RX(pi): the runtime inserts it; the mend takes one cycle, its inverse
    # absorbed into the U, as the runtime does for odd counts.
    target = dd_target()
    circuit = one_window()
    circuit.u(0.3, 0.2, 0.1, 0)
    options = {"dd_sequences": [gate], "insert_multiple_cycles": True, "sequence_min_length_ratios": 6}
    analysis = runtime.ALAPScheduleAnalysis if scheduling == "alap" else runtime.ASAPScheduleAnalysis
    unmended = PassManager([analysis(target=target), LengthsOnly(**options, target=target)]).run(circuit)
    assert unmended.count_ops()[gate.name] == 4 + (gate.name == "x")
    out = decoupled(circuit, target, scheduling, **options)
    assert sound(out, circuit, target, scheduling)
    if gate.name == "x":
        assert out == unmended
    else:
        assert not same_operator(unmended, circuit)
        assert out.count_ops()["rx"] == 1 and out.count_ops()["u"] == 1  # the U took the inverse
        with pytest.warns(UserWarning, match="one cycle"):
            PassManager([analysis(target=target), MendedPadDynamicalDecoupling(**options, target=target)]).run(
                fresh_bodies(circuit))


def test_qubits_are_physical_in_bodies_too():
    target = dd_target(4)
    circuit = body_with_selected_qubits()
    # qubits=[3]: in the body qubit 3 is the third, index 2, so the runtime leaves it a delay
    broken = plain(circuit, target, dd_sequences=XX, qubits=[3])
    assert _body_ops(broken, 3) == ["delay"]
    out = decoupled(circuit, target, "asap", dd_sequences=XX, qubits=[3])
    assert _body_ops(out, 3).count("x") == 2
    assert "x" not in _body_ops(out, 2)[1:]
    # qubits=[2]: qubit 3's body index is 2, and the runtime has no lengths for it
    assert plain(circuit, target, dd_sequences=XX, qubits=[2]) is IndexError
    out = decoupled(circuit, target, "asap", dd_sequences=XX, qubits=[2])
    assert _body_ops(out, 2).count("x") == 3
    assert "x" not in _body_ops(out, 3)


@pytest.mark.parametrize("sequences", [XX, XY4, [XY4, [YGate(), XGate(), YGate(), XGate()]]], ids=["xx", "xy4", "two"])
def test_where_the_runtime_is_right_the_oracle_is_the_runtime(sequences):
    # dt = 1 s: the runtime's seconds are dt; one window, sequences of phase 0 or pi: no fault shows
    target = dd_target(dt=1.0)
    circuit = one_window()
    for options in ({}, {"insert_multiple_cycles": True}, {"qubits": [0, 2], "spacings": [0.25, 0.75, 0] if
                                                             sequences is XX else None}):
        theirs = plain(circuit, target, dd_sequences=sequences, **options)
        ours = decoupled(circuit, target, "asap", dd_sequences=sequences, **options)
        assert ours == theirs
        assert sound(ours, circuit, target)
