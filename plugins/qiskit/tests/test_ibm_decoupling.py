"""tarvex_qiskit.ibm.PadDynamicalDecoupling against qiskit-ibm-runtime's pass of the same name.

Where no mend applies the runtime is the oracle: on the scenario targets (dt = 1, so durations in
seconds are durations in dt) and, on device targets, with the runtime's gate lengths converted to
dt. The mends are checked against hand-worked expectations and the circuit's operator.
"""

from __future__ import annotations

import math
import warnings

import numpy as np
import pytest
from dynamic_circuits import SCENARIOS, case, small_target
from qiskit import QuantumCircuit
from qiskit.circuit import Delay, Qubit
from qiskit.circuit.library import IGate, RXGate, RZGate, UGate, XGate, YGate, ZGate
from qiskit.quantum_info import Operator
from qiskit.transpiler import CouplingMap, InstructionProperties, PassManager
from qiskit_ibm_runtime.transpiler.passes import scheduling as runtime
from runtime_oracle import ANALYSES, _IdleInBlock, as_circuit, fresh_bodies, outcome

from tarvex_qiskit.ibm import PadDynamicalDecoupling
from tarvex_qiskit.ibm import scheduling as ours


class LengthsInDt(runtime.PadDynamicalDecoupling):
    """The runtime's pass with its gate lengths in dt and `qubits=` read as physical qubits, plus
    the padder mends of runtime_oracle: the oracle where no other mend applies."""

    def _pre_runhook(self, dag):
        self._idle_qubits = _IdleInBlock(self._idle_qubits, self)
        super()._pre_runhook(dag)
        for qubit, per_sequence in self._dd_sequence_lengths.items():
            self._dd_sequence_lengths[qubit] = [[self._target.seconds_to_dt(t) for t in seq] for seq in per_sequence]

    def _map_wires(self, wires):
        return [self._wire_map.get(w, w) for w in wires]

    def _apply_scheduled_op(self, block_idx, t_start, oper, qubits, clbits=()):
        if isinstance(qubits, Qubit):
            qubits = [qubits]
        return super()._apply_scheduled_op(block_idx, t_start, oper, self._map_wires(qubits), clbits)

    def _pad(self, block_idx, qubit, t_start, t_end, next_node, prev_node, enable_dd=False):
        chosen = self._qubits
        if chosen and self._dag.qubits.index(qubit) not in chosen:
            self._apply_scheduled_op(block_idx, t_start, Delay(t_end - t_start, "dt"), qubit)
            return
        self._qubits = None
        try:
            super()._pad(block_idx, qubit, t_start, t_end, next_node, prev_node, enable_dd)
        finally:
            self._qubits = chosen


def oracle(circuit, target, scheduling, **options):
    analysis = ANALYSES[scheduling](block_ordering_callable=options.get("block_ordering_callable"), target=target)
    return outcome(lambda: PassManager([analysis, LengthsInDt(**options, target=target)]).run(fresh_bodies(circuit)))


def fused(circuit, target, scheduling, **options):
    return outcome(lambda: PassManager([PadDynamicalDecoupling(**options, target=target, scheduling=scheduling)])
                   .run(circuit))


def drop_in(circuit, target, scheduling, analysis_cls, **options):
    analysis = analysis_cls(block_ordering_callable=options.get("block_ordering_callable"), target=target)
    prepared = fresh_bodies(circuit)  # the runtime's analysis needs bodies on qubits of their own
    return outcome(lambda: PassManager([analysis, PadDynamicalDecoupling(**options, target=target)]).run(prepared))


def assert_same(got, expected):
    if isinstance(expected, type):
        assert got is expected
        return
    assert isinstance(got, QuantumCircuit), got
    assert got == expected


def plain_topological(dag):
    """A block ordering other than the runtime's: Qiskit's topological order."""
    yield from dag.topological_op_nodes()


def line(n):
    return CouplingMap([(i, i + 1) for i in range(n - 1)])


# (id, options, needs): options the runtime handles soundly on these targets.
OPTIONS = [
    ("xx", {"dd_sequences": [XGate(), XGate()]}),
    ("xx-align1", {"dd_sequences": [XGate(), XGate()], "pulse_alignment": 1}),
    ("xx-edges", {"dd_sequences": [XGate(), XGate()], "pulse_alignment": 10, "extra_slack_distribution": "edges"}),
    ("xx-no-skip", {"dd_sequences": [XGate(), XGate()], "skip_reset_qubits": False, "pulse_alignment": 1}),
    ("two-sequences", {"dd_sequences": [[XGate()] * 4, [XGate(), XGate()]], "sequence_min_length_ratios": [8, 1.5],
                       "pulse_alignment": 1}),
    ("cycles", {"dd_sequences": [XGate(), XGate()], "insert_multiple_cycles": True,
                "sequence_min_length_ratios": 2.5, "pulse_alignment": 1}),
    ("spacings", {"dd_sequences": [XGate(), XGate()], "spacings": [0.1, 0.8, 0.1], "pulse_alignment": 1}),
    ("qubit-subset", {"dd_sequences": [XGate(), XGate()], "qubits": [0, 2]}),
    ("idle-qubits", {"dd_sequences": [XGate(), XGate()], "schedule_idle_qubits": True}),
    ("custom-order", {"dd_sequences": [XGate(), XGate()], "block_ordering_callable": plain_topological}),
]


@pytest.mark.parametrize("scheduling", ["alap", "asap"])
@pytest.mark.parametrize("option", OPTIONS, ids=[o[0] for o in OPTIONS])
@pytest.mark.parametrize("case_id", [c for c in SCENARIOS if c != "wireless-control-flow"] + ["torino-0", "torino-3"])
def test_equals_runtime_with_lengths_in_dt(case_id, option, scheduling):
    circuit, target = case(case_id)
    options = option[1]
    expected = oracle(circuit, target, scheduling, **options)
    assert_same(as_circuit_or_type(fused(circuit, target, scheduling, **options)), expected)
    for analysis in (ANALYSES[scheduling], {"alap": ours.ALAPScheduleAnalysis, "asap": ours.ASAPScheduleAnalysis}[scheduling]):
        assert_same(as_circuit_or_type(drop_in(circuit, target, scheduling, analysis, **options)), expected)


def as_circuit_or_type(result):
    return result if isinstance(result, type) else as_circuit(result)


def test_staggered_and_named_barriers_equal_runtime():
    circuit, target = case("torino-1")
    cmap = target.build_coupling_map()
    for options in (
        {"dd_sequences": [XGate(), XGate()], "coupling_map": cmap},
        {"dd_sequences": [XGate(), XGate()], "coupling_map": cmap, "alt_spacings": [0.5, 0.5, 0.0]},
        {"dd_sequences": [XGate(), XGate()], "coupling_map": cmap, "insert_multiple_cycles": True},
    ):
        for scheduling in ("alap", "asap"):
            assert_same(fused(circuit, target, scheduling, **options), oracle(circuit, target, scheduling, **options))
    qc = QuantumCircuit(3, 1)
    qc.x(0)
    for _ in range(8):
        qc.x(1)
    qc.barrier(0, 1, label="dd-here")
    qc.x(2)
    qc.measure(2, 0)
    qc.barrier(0, 1, 2, label="other")
    qc.x(0)
    options = {"dd_sequences": [XGate(), XGate()], "dd_barrier": "dd", "pulse_alignment": 1}
    small = small_target(3)
    expected = oracle(qc, small, "asap", **options)
    assert_same(fused(qc, small, "asap", **options), expected)
    assert as_circuit(expected).count_ops()["x"] == 13  # 11 in the input, 2 before the named barrier


def test_refusals_match_runtime_at_construction_and_run():
    target = small_target(3)
    for kwargs in (
        {"dd_sequences": None},
        {"dd_sequences": [XGate(), XGate()], "spacings": []},
        {"dd_sequences": [XGate(), XGate()], "spacings": [[0.5, 0.5], [0.5, 0.5]]},
        {"dd_sequences": [XGate(), XGate()], "sequence_min_length_ratios": [1, 2]},
        {"dd_sequences": [XGate(), XGate()], "alt_spacings": [[0.5, 0.5], [0.5, 0.5]], "coupling_map": line(3)},
    ):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            assert outcome(lambda: PadDynamicalDecoupling(**kwargs)) is outcome(
                lambda: runtime.PadDynamicalDecoupling(**kwargs))
    qc = QuantumCircuit(3, 1)
    qc.x([0, 1, 2])
    for _ in range(6):
        qc.x(2)
    qc.measure(2, 0)
    qc.x([0, 1])
    for options in (
        {"dd_sequences": [XGate(), XGate(), XGate()]},
        {"dd_sequences": [XGate(), YGate()]},
        {"dd_sequences": [XGate(), XGate()], "spacings": [0.5, 0.6, -0.1]},
        {"dd_sequences": [XGate(), XGate()], "extra_slack_distribution": "sides"},
        {"dd_sequences": [XGate(), XGate()], "coupling_map": CouplingMap([(0, 1), (1, 2), (2, 0)])},
        {"dd_sequences": [XGate(), XGate()], "insert_multiple_cycles": True, "sequence_min_length_ratios": 0.0},
        {"dd_sequences": [XGate(), XGate()], "spacings": [0.25, 0.25, 0.25, 0.25]},
        {"dd_sequences": [YGate(), YGate()]},  # no duration for y in the target
    ):
        expected = oracle(qc, target, "asap", **options)
        assert isinstance(expected, type), options
        assert fused(qc, target, "asap", **options) is expected, options
    before = QuantumCircuit.copy(qc)
    PassManager([PadDynamicalDecoupling([XGate(), XGate()], target=target)]).run(qc)
    assert qc == before


def torino_gap_circuit():
    from dynamic_circuits import backend

    be = backend("torino")
    qc = QuantumCircuit(be.target.num_qubits)
    qc.x(0)
    qc.sx(1)
    for _ in range(29):
        qc.sx(1)  # q1 busy 30 * 8 = 240 dt while q0 idles
    qc.cz(0, 1)
    return qc, be.target


def test_gate_lengths_are_whole_dt_and_the_timing_holds():
    """On FakeTorino x takes 8 dt: a 232 dt gap gets 48 + 112 + 56 dt of delays around two X gates
    (the runtime, reading seconds as dt, gives 48 + 128 + 56 and overruns by 16 dt)."""
    qc, target = torino_gap_circuit()
    out = as_circuit(PassManager([PadDynamicalDecoupling([XGate(), XGate()], target=target,
                                                         scheduling="asap")]).run(qc))
    on_q0 = [(inst.operation.name, getattr(inst.operation, "duration", None))
             for inst in out.data if out.find_bit(inst.qubits[0]).index == 0 and len(inst.qubits) == 1]
    assert on_q0 == [("x", None), ("delay", 48), ("x", None), ("delay", 112), ("x", None), ("delay", 56)]
    # Each qubit's duration equals its duration after PadDelay.
    delays_only = as_circuit(PassManager([ours.PadDelay(target=target, scheduling="asap")]).run(qc))
    assert out.estimate_duration(target) == delays_only.estimate_duration(target)


def test_each_sequence_adds_its_own_phase_in_circuit_order():
    """[X, Y, RZ(pi/2), RZ(pi/2)] multiplies to -I in circuit order: the runtime adds 0. [X, Y, Z, I]
    multiplies to -iI: the phase that keeps the operator is +pi/2 (its sign matters here). With two
    sequences of different phases each insertion adds its own; k cycles add k times the phase."""
    target = small_target(2, rz=0)
    for gate in (YGate(), ZGate(), IGate()):
        target.add_instruction(gate, {(q,): InstructionProperties(duration=200 if gate.name == "y" else 0)
                                      for q in range(2)})
    qc = QuantumCircuit(2)
    qc.x(0)
    qc.x(1)
    for _ in range(20):
        qc.x(1)
    qc.barrier()
    qc.x(0)
    qc.x(1)
    asym = [XGate(), YGate(), RZGate(math.pi / 2), RZGate(math.pi / 2)]
    for options in (
        {"dd_sequences": asym, "pulse_alignment": 1},
        {"dd_sequences": [XGate(), YGate(), ZGate(), IGate()], "pulse_alignment": 1},
        {"dd_sequences": [[XGate(), YGate(), XGate(), YGate()], [XGate(), XGate()]], "pulse_alignment": 1,
         "sequence_min_length_ratios": [3, 1]},
        {"dd_sequences": [XGate(), YGate(), XGate(), YGate()], "pulse_alignment": 1, "insert_multiple_cycles": True,
         "sequence_min_length_ratios": 2},
    ):
        out = as_circuit(PassManager([PadDynamicalDecoupling(**options, target=target, scheduling="asap")]).run(qc))
        assert out.count_ops()["x"] > 22, options
        stripped = out.copy_empty_like()
        for inst in out.data:
            if inst.operation.name not in ("delay", "barrier"):
                stripped.append(inst)
        assert Operator(stripped).equiv(Operator(qc.remove_final_measurements(inplace=False)))
        assert np.allclose(Operator(stripped).data, Operator(qc).data), options


def test_one_gate_sequences_absorb_exactly_where_the_runtime_crashes():
    """RX(pi/4) absorbed into a U: into the next U (the runtime raises there), or the previous one
    (the runtime loses part of the global phase); the operator is kept exactly."""
    target = small_target(2)
    target.add_instruction(UGate(0, 0, 0), {(q,): InstructionProperties(duration=50) for q in range(2)})
    target.add_instruction(RXGate(0), {(q,): InstructionProperties(duration=50) for q in range(2)})
    qc = QuantumCircuit(2)
    qc.u(0.3, 0.2, 0.1, 0)
    qc.x(1)
    for _ in range(5):
        qc.x(1)
    qc.u(1.1, 0.7, -0.4, 0)
    qc.barrier()
    qc.u(0.5, 0.1, 0.2, 0)
    qc.x(1)
    for scheduling in ("alap", "asap"):
        options = {"dd_sequences": [RXGate(math.pi / 4)], "pulse_alignment": 1}
        out = as_circuit(PassManager([PadDynamicalDecoupling(**options, target=target, scheduling=scheduling)]).run(qc))
        assert out.count_ops().get("rx", 0) >= 1
        stripped = QuantumCircuit(*out.qregs, global_phase=out.global_phase)
        for inst in out.data:
            if inst.operation.name not in ("delay", "barrier"):
                stripped.append(inst)
        assert np.allclose(Operator(stripped).data, Operator(qc).data), scheduling
    # ALAP puts the gap before the second U: the runtime raises; ASAP puts it after the first U,
    # where the runtime's merged angles are the oracle (its phase is not).
    assert isinstance(oracle(qc, target, "alap", **options), type)
    theirs = as_circuit(oracle(qc, target, "asap", **options))
    got = as_circuit(fused(qc, target, "asap", **options))
    u_params = lambda c: [[float(p) for p in inst.operation.params] for inst in c.data if inst.operation.name == "u"]
    assert np.allclose(u_params(got), u_params(theirs), atol=1e-12)
    assert u_params(got) != u_params(qc)


def test_qubits_are_physical_inside_bodies():
    """A normal-path body holds the non-idle qubits only: with qubit 1 idle, physical qubit 2 is
    body index 1. qubits=[2] decouples qubit 2 in the body and nothing else."""
    target = small_target(3)
    qc = QuantumCircuit(3, 1)
    qc.x(0)
    qc.x(2)
    qc.measure(0, 0)
    with qc.if_test((qc.clbits[0], 1)):
        for _ in range(12):
            qc.x(0)
        qc.x(2)
    before = qc.copy()
    out = as_circuit(PassManager([PadDynamicalDecoupling([XGate(), XGate()], qubits=[2], pulse_alignment=1,
                                                         target=target, scheduling="asap")]).run(qc))
    assert qc == before
    body = next(inst.operation.blocks[0] for inst in out.data if inst.operation.name == "if_else")
    on = {b: [inst.operation.name for inst in body.data if body.find_bit(inst.qubits[0]).index == b]
          for b in range(body.num_qubits)}
    assert on[0] == ["x"] * 12
    assert on[1] == ["x", "delay", "x", "delay", "x", "delay"]


def test_colouring_is_the_runtime_greedy_colouring():
    import rustworkx as rx

    from tarvex_qiskit import _native

    for cmap in (line(7), CouplingMap.from_heavy_hex(3), CouplingMap([(0, 1), (2, 3), (3, 2), (1, 3), (3, 4)])):
        n = cmap.size()
        expected = rx.graph_greedy_color(cmap.graph.subgraph(list(range(n))).to_undirected())
        got = _native.greedy_colouring(n, edges=[e for edge in cmap.get_edges() for e in edge])
        assert list(got) == [expected[q] for q in range(n)]


@pytest.mark.parametrize("angles", [(0.0, 0.0, 0.0), (math.pi, 0.0, 0.0), (math.pi / 2, -math.pi, 0.3),
                                    (2.1, 0.4, -1.3), (1e-16, 0.5, 0.5), (3.0, 3.0, 3.0)])
def test_merged_angles_match_qiskits_composition(angles):
    """The native composition of the inverse with the previous U against Qiskit's (via the
    runtime, ASAP), degenerate rotations included; the operator is kept exactly."""
    target = small_target(2)
    target.add_instruction(UGate(0, 0, 0), {(q,): InstructionProperties(duration=50) for q in range(2)})
    target.add_instruction(RXGate(0), {(q,): InstructionProperties(duration=50) for q in range(2)})
    qc = QuantumCircuit(2)
    qc.u(*angles, 0)
    qc.x(1)
    for _ in range(5):
        qc.x(1)
    qc.barrier()
    qc.x(0)
    options = {"dd_sequences": [RXGate(0.7)], "pulse_alignment": 1}
    theirs = as_circuit(oracle(qc, target, "asap", **options))
    got = as_circuit(fused(qc, target, "asap", **options))
    assert got.count_ops()["rx"] == 1
    u_params = lambda c: [[float(p) for p in inst.operation.params] for inst in c.data if inst.operation.name == "u"]
    assert np.allclose(u_params(got), u_params(theirs), atol=1e-12)
    stripped = QuantumCircuit(*got.qregs, global_phase=got.global_phase)
    for inst in got.data:
        if inst.operation.name not in ("delay", "barrier"):
            stripped.append(inst)
    assert np.allclose(Operator(stripped).data, Operator(qc).data)


def repeated_runs():
    """Runs of the native DD entry over a body-holding device circuit and over one-gate merges and
    named barriers, on objects of their own (copies of the cached circuit and target; a mutable X,
    not Qiskit's shared singleton), and those objects."""
    import copy

    circuit, target = case("torino-2")
    circuit, target = circuit.copy(), copy.deepcopy(target)
    target_small = small_target(2)
    target_small.add_instruction(UGate(0, 0, 0), {(q,): InstructionProperties(duration=50) for q in range(2)})
    target_small.add_instruction(RXGate(0), {(q,): InstructionProperties(duration=50) for q in range(2)})
    absorbing = QuantumCircuit(2)
    absorbing.u(0.3, 0.2, 0.1, 0)
    for _ in range(6):
        absorbing.x(1)
    absorbing.barrier(label="dd")
    absorbing.u(0.1, 0.2, 0.3, 0)
    x = XGate().to_mutable()
    xx, rx = [x, x], [RXGate(0.5)]
    runs = [
        lambda: PassManager([PadDynamicalDecoupling(xx, target=target)]).run(circuit),
        lambda: PassManager([PadDynamicalDecoupling(rx, dd_barrier="dd", pulse_alignment=1, target=target_small,
                                                    scheduling="asap")]).run(absorbing),
    ]
    return runs, [circuit, target, absorbing, target_small, x, *rx]


def test_repeated_runs_leave_no_references_behind():
    """The native entry holds nothing of its inputs after a run: objects only these runs see keep
    their reference counts over many runs, and the collector's count of live objects does not grow
    with the runs (warm-up runs first fill what Qiskit and the runtime cache once)."""
    import gc
    import sys

    def settle():  # freeing one cycle can free the last reference to another: until none is left
        while gc.collect():
            pass

    runs, watched = repeated_runs()
    for _ in range(30):
        for run in runs:
            run()
    settle()
    before = [sys.getrefcount(obj) for obj in watched]
    live = len(gc.get_objects())
    for _ in range(100):
        for run in runs:
            run()
    settle()
    assert [sys.getrefcount(obj) for obj in watched] == before
    # Leaking one object the collector tracks (a circuit, a body, the writer) per run costs 200;
    # after the warm-up and a settled collector the count grows by 0 (measured).
    grown = len(gc.get_objects()) - live
    assert grown < 150, grown
