"""tarvex_qiskit.ibm.scheduling.PadDynamicalDecoupling against the mended runtime (the oracle:
tarvex_qiskit.ibm.mended's analysis + PadDynamicalDecoupling on fresh-qubit bodies).

One table of options runs over a share of the dynamic-circuit table (dynamic_circuits) and a few
static circuits made for DD (U gates to absorb into, a named barrier, sequences from the target's Y
and RZ): fused and drop-in, ALAP and ASAP. Outputs must equal the oracle's under Qiskit's ==
(bodies and global phase included), or both sides raise the same exception type. Soundness: on
static circuits both sides keep every qubit's total duration of PadDelay's output, and where there
is no control flow or mid-circuit measurement, the operator of the input, global phase included.
"""

from __future__ import annotations

import functools
import math

import pytest
from dd_soundness import dd_target, qubit_durations, same_operator
from dynamic_circuits import CASE_IDS, backend, case, labelled, labels
from qiskit import QuantumCircuit, QuantumRegister, transpile
from qiskit.circuit import ControlFlowOp
from qiskit.circuit.library import IGate, RXGate, RZGate, XGate, YGate, ZGate
from qiskit.transpiler import CouplingMap, PassManager
from qiskit.transpiler.exceptions import TranspilerError
from runtime_oracle import ANALYSES, MendedPadDynamicalDecoupling, decoupled, fresh_bodies, outcome, padded

from tarvex_qiskit.ibm import scheduling as ours

Ours = getattr(ours, "PadDynamicalDecoupling", None)
needs_ours = pytest.mark.skipif(Ours is None, reason="tarvex_qiskit.ibm.scheduling has no PadDynamicalDecoupling")
OUR_ANALYSES = {"alap": ours.ALAPScheduleAnalysis, "asap": ours.ASAPScheduleAnalysis}

XX = [XGate(), XGate()]
XY4 = [XGate(), YGate(), XGate(), YGate()]
X_RZ = [XGate(), RZGate(math.pi), XGate(), RZGate(-math.pi)]
# In circuit order Z Y X = -i I: a phase of pi/2 to add, where a sign error shows (0 and pi hide it).
XYZI = [XGate(), YGate(), ZGate(), IGate()]


def _line(n: int) -> CouplingMap:
    return CouplingMap.from_line(n)


# (id, needs, options); `needs` names the target's gates an option uses beyond x, or "map" for a
# coupling map (the target's, or a line where it has none).
OPTIONS = [
    ("xx", (), {"dd_sequences": XX}),
    ("xy4", ("y",), {"dd_sequences": XY4}),
    ("xyzi-phase-half-pi", ("y", "z", "id"), {"dd_sequences": XYZI}),
    ("x-rz-zero-spacings", ("rz",), {"dd_sequences": X_RZ, "spacings": [0.25, 0.0, 0.5, 0.0, 0.25]}),
    ("several-ratios", (), {"dd_sequences": [[XGate()] * 4, XX], "sequence_min_length_ratios": [6, 1.5]}),
    ("multiple-cycles", (), {"dd_sequences": XX, "insert_multiple_cycles": True, "sequence_min_length_ratios": 3}),
    # a ratio of 0: one cycle (whole-dt lengths; in seconds the runtime's cycle count overflows)
    ("cycles-ratio-0", (), {"dd_sequences": XX, "insert_multiple_cycles": True, "sequence_min_length_ratios": 0}),
    ("staggered", ("map",), {"dd_sequences": XX}),
    ("staggered-alt-spacings", ("map",), {"dd_sequences": XX, "alt_spacings": [0.1, 0.6, 0.3],
                                          "spacings": [0.3, 0.4, 0.3]}),
    ("qubit-subset", (), {"dd_sequences": XX, "qubits": [0, 2, 3]}),
    ("no-reset-skipping", (), {"dd_sequences": XX, "skip_reset_qubits": False}),
    ("alignment-1", (), {"dd_sequences": XX, "pulse_alignment": 1}),
    ("alignment-16-edges", (), {"dd_sequences": XX, "extra_slack_distribution": "edges"}),
    ("dd-barrier", (), {"dd_sequences": XX, "dd_barrier": "dd"}),
    ("one-gate", (), {"dd_sequences": [XGate()], "sequence_min_length_ratios": 1}),
    # cycles of one gate: kept where the gate's power is the identity up to phase (X^even, RX(pi/4)^8),
    # else one absorbed cycle
    ("one-gate-cycles", (), {"dd_sequences": [XGate()], "insert_multiple_cycles": True,
                             "sequence_min_length_ratios": 3}),
    ("one-rx-cycles", ("rx",), {"dd_sequences": [RXGate(math.pi / 4)], "insert_multiple_cycles": True,
                                "sequence_min_length_ratios": 3}),
    ("idle-qubits", (), {"dd_sequences": XX, "schedule_idle_qubits": True}),
]
OPTION_IDS = [o[0] for o in OPTIONS]


def _static_u_gates():
    qc = QuantumCircuit(4, 2)
    qc.u(0.3, 0.5, 0.7, 0)
    qc.x(1)
    for _ in range(3):
        qc.cx(1, 2)
    qc.u(0.1, 0.2, 0.3, 0)
    qc.cx(0, 1)
    qc.x(3)
    qc.delay(900, 3)
    qc.u(1.0, -0.4, 0.2, 3)
    qc.barrier(label="dd here")
    qc.h(2)
    qc.cx(2, 3)
    qc.measure(0, 0)
    qc.measure(3, 1)
    return qc, dd_target(4)


def _static_reset_and_barriers():
    qc = QuantumCircuit(4, 1)
    qc.h(0)
    qc.cx(0, 1)
    qc.reset(2)
    qc.barrier([0, 1, 2], label="dd")
    qc.cx(1, 2)
    qc.cx(2, 3)
    qc.y(0)
    qc.barrier()
    qc.sx(3)
    qc.rx(0.4, 1)
    qc.measure(1, 0)
    return qc, dd_target(4)


def _static_ghz_torino():
    qc = QuantumCircuit(5)
    qc.h(0)
    for q in range(4):
        qc.cx(q, q + 1)
    be = backend("torino")
    return transpile(qc, be, initial_layout=[0, 1, 2, 3, 4], optimization_level=1, seed_transpiler=1), be.target


def _static_qft_line():
    from qiskit.circuit.library import QFTGate

    qc = QuantumCircuit(4)
    qc.append(QFTGate(4), range(4))
    target = dd_target(4)
    return transpile(qc, target=target, optimization_level=1, seed_transpiler=2), target


STATIC = {
    "static-u-gates": _static_u_gates,
    "static-reset-and-barriers": _static_reset_and_barriers,
    "static-ghz-torino": _static_ghz_torino,
    "static-qft-line": _static_qft_line,
}
# The dynamic share: every third scenario and one random circuit per device.
CASES = list(STATIC) + CASE_IDS[:-12:3] + ["torino-1", "sherbrooke-2"]


@functools.cache
def circuit_and_target(case_id: str):
    if case_id in STATIC:
        return STATIC[case_id]()
    return case(case_id)


def options_for(option_id: str, target) -> dict | None:
    """The option's arguments on this target, or None where the target lacks what it needs."""
    _, needs, options = OPTIONS[OPTION_IDS.index(option_id)]
    options = dict(options)
    for gate in needs:
        if gate == "map":
            cmap = target.build_coupling_map()
            options["coupling_map"] = cmap if cmap is not None else _line(target.num_qubits)
        elif gate not in target.operation_names:
            return None
    return options


@functools.cache
def expected(case_id: str, option_id: str, scheduling: str):
    circuit, target = circuit_and_target(case_id)
    return decoupled(circuit, target, scheduling, **options_for(option_id, target))


def assert_same(got, want):
    if isinstance(want, type):
        assert got is want
        return
    assert isinstance(got, QuantumCircuit), got
    assert got == want  # bodies included; global phases within 1e-10


def _skip_unusable(case_id, option_id):
    if case_id == "wireless-control-flow":
        pytest.skip("the runtime raises ValueError here")
    circuit, target = circuit_and_target(case_id)
    options = options_for(option_id, target)
    if options is None:
        pytest.skip(f"the target has no {OPTIONS[OPTION_IDS.index(option_id)][1]}")
    return circuit, target, options


@needs_ours
@pytest.mark.parametrize("scheduling", ["alap", "asap"])
@pytest.mark.parametrize("option_id", OPTION_IDS)
@pytest.mark.parametrize("case_id", CASES)
def test_fused_equals_the_mended_runtime(case_id, option_id, scheduling):
    circuit, target, options = _skip_unusable(case_id, option_id)
    got = outcome(lambda: PassManager([Ours(**options, target=target, scheduling=scheduling)]).run(circuit))
    assert_same(got, expected(case_id, option_id, scheduling))


@needs_ours
@pytest.mark.parametrize("analysis", ["runtime", "ours"])
@pytest.mark.parametrize("scheduling", ["alap", "asap"])
@pytest.mark.parametrize("option_id", ["xx", "several-ratios", "staggered", "qubit-subset", "one-gate"])
@pytest.mark.parametrize("case_id", CASES[::2])
def test_drop_in_equals_the_mended_runtime(case_id, option_id, scheduling, analysis):
    circuit, target, options = _skip_unusable(case_id, option_id)
    first = (ANALYSES if analysis == "runtime" else OUR_ANALYSES)[scheduling](target=target)
    got = outcome(lambda: PassManager([first, Ours(**options, target=target)]).run(fresh_bodies(circuit)))
    assert_same(got, expected(case_id, option_id, scheduling))


def _has_dynamics(circuit: QuantumCircuit) -> bool:
    """Control flow, or a measurement or reset before any other operation on the same qubits."""
    done = set()
    for inst in circuit.data:
        if isinstance(inst.operation, ControlFlowOp) or (inst.operation.name == "reset"):
            return True
        if inst.operation.name != "measure" and inst.operation.name not in ("barrier", "delay") and done & set(
                inst.qubits):
            return True
        if inst.operation.name == "measure":
            done.update(inst.qubits)
    return False


@pytest.mark.parametrize("who", ["oracle", "ours"])
@pytest.mark.parametrize("scheduling", ["alap", "asap"])
@pytest.mark.parametrize("option_id", OPTION_IDS)
@pytest.mark.parametrize("case_id", list(STATIC))
def test_static_circuits_keep_their_timing_and_operator(case_id, option_id, scheduling, who):
    circuit, target, options = _skip_unusable(case_id, option_id)
    if who == "oracle":
        out = expected(case_id, option_id, scheduling)
    else:
        if Ours is None:
            pytest.skip("tarvex_qiskit.ibm.scheduling has no PadDynamicalDecoupling")
        out = PassManager([Ours(**options, target=target, scheduling=scheduling)]).run(circuit)
    assert isinstance(out, QuantumCircuit), out
    idle = {"schedule_idle_qubits": options.get("schedule_idle_qubits", False)}
    assert qubit_durations(out, target) == qubit_durations(padded(circuit, target, scheduling, **idle), target)
    if not _has_dynamics(circuit):
        assert same_operator(out, circuit)


def _refusals():
    circuit, target = case("if-after-measure")
    virtual = QuantumCircuit(QuantumRegister(2, "v"), *circuit.cregs)
    virtual.x(0)
    triangle = CouplingMap([(0, 1), (1, 2), (2, 0)])
    three, three_target = case("if-on-other-qubits")
    windows, windows_target = _static_u_gates()
    return [
        # at construction
        ("no-sequences", circuit, target, {"dd_sequences": None}),
        ("spacings-count", circuit, target, {"dd_sequences": [XX, XX], "spacings": [[0.5, 0.5, 0]]}),
        ("ratios-count", circuit, target, {"dd_sequences": XX, "sequence_min_length_ratios": [1, 2]}),
        ("alt-spacings-count", circuit, target, {"dd_sequences": XX, "coupling_map": _line(2),
                                                 "alt_spacings": [[0.5, 0.5, 0], [0.5, 0.5, 0]]}),
        ("empty-spacings", circuit, target, {"dd_sequences": XX, "spacings": []}),
        # before the first insertion
        ("not-identity", circuit, target, {"dd_sequences": [XGate(), RZGate(0.3)]}),
        ("odd-length", circuit, target, {"dd_sequences": [XGate()] * 3}),
        ("spacings-sum", circuit, target, {"dd_sequences": XX, "spacings": [0.5, 0.5, 0.1]}),
        ("negative-spacing", circuit, target, {"dd_sequences": XX, "spacings": [1.5, -0.5, 0.0]}),
        ("alt-spacings-sum", circuit, target, {"dd_sequences": XX, "coupling_map": _line(2),
                                               "alt_spacings": [0.5, 0.5, 0.1]}),
        ("triangle", three, three_target, {"dd_sequences": XX, "coupling_map": triangle}),
        ("no-duration", circuit, target, {"dd_sequences": [YGate(), YGate()]}),
        ("not-physical", virtual, target, {"dd_sequences": XX}),
        # at the first insertion
        ("slack-distribution", windows, windows_target, {"dd_sequences": XX, "extra_slack_distribution": "ends"}),
    ]


@pytest.mark.parametrize("scheduling", ["alap", "asap"])
@pytest.mark.parametrize("refusal", _refusals(), ids=lambda r: r[0])
def test_refusals_take_the_runtimes_types_at_the_same_point(refusal, scheduling):
    _, circuit, target, options = refusal
    at_construction = outcome(lambda: MendedPadDynamicalDecoupling(**options, target=target))
    theirs = decoupled(circuit, target, scheduling, **options)
    assert isinstance(theirs, type) and issubclass(theirs, Exception)
    if Ours is None:
        pytest.skip("tarvex_qiskit.ibm.scheduling has no PadDynamicalDecoupling")
    ours_construction = outcome(lambda: Ours(**options, target=target, scheduling=scheduling))
    if isinstance(at_construction, type):
        assert ours_construction is at_construction
        return
    assert isinstance(ours_construction, Ours)
    assert outcome(lambda: PassManager([ours_construction]).run(circuit)) is theirs
    drop_in = [ANALYSES[scheduling](target=target), Ours(**options, target=target)]
    assert outcome(lambda: PassManager(drop_in).run(fresh_bodies(circuit))) is theirs


@needs_ours
@pytest.mark.parametrize("scheduling", ["alap", "asap"])
@pytest.mark.parametrize("ratio, cycles", [(6, 4), (3, 8), (4, 6)])
@pytest.mark.parametrize("gate", [XGate(), RXGate(math.pi / 4)], ids=["x", "rx-pi/4"])
def test_one_gate_cycles_keep_the_operator(gate, ratio, cycles, scheduling):
    # One 1,280 dt window of qubit 0 (48 dt pulses), a U beside it: `cycles` cycles asked for. X's
    # are kept for every even count, RX(pi/4)'s only for 8 (a period); else one absorbed cycle.
    target = dd_target(3)
    circuit = QuantumCircuit(3)
    circuit.x(0)
    circuit.cx(0, 1)
    for _ in range(4):
        circuit.cx(1, 2)
    circuit.u(0.3, 0.2, 0.1, 0)
    options = {"dd_sequences": [gate], "insert_multiple_cycles": True, "sequence_min_length_ratios": ratio}
    want = decoupled(circuit, target, scheduling, **options)
    got = PassManager([Ours(**options, target=target, scheduling=scheduling)]).run(circuit)
    assert got == want
    assert same_operator(got, circuit)
    kept = gate.name == "x" or cycles % 8 == 0
    assert got.count_ops()[gate.name] == (cycles if kept else 1) + (gate.name == "x")


@needs_ours
@pytest.mark.parametrize("scheduling", ["alap", "asap"])
@pytest.mark.parametrize("option_id", ["xx", "one-gate", "several-ratios"])
@pytest.mark.parametrize("case_id", [c for c in CASES if c not in STATIC][::2] + ["static-u-gates"])
def test_labels_are_kept_as_the_runtime_keeps_them(case_id, option_id, scheduling):
    # Qiskit's == ignores labels: compared on their own, every instruction labelled, bodies too.
    circuit, target, options = _skip_unusable(case_id, option_id)
    circuit = labelled(circuit)
    want = decoupled(circuit, target, scheduling, **options)
    fused = outcome(lambda: PassManager([Ours(**options, target=target, scheduling=scheduling)]).run(circuit))
    assert_same(fused, want)
    if isinstance(want, type):
        return
    assert labels(fused) == labels(want)
    assert any(inst.label for inst in fused.data)
    first = OUR_ANALYSES[scheduling](target=target)
    drop_in = PassManager([first, Ours(**options, target=target)]).run(fresh_bodies(circuit))
    assert labels(drop_in) == labels(want)
    unlabelled = PassManager([Ours(**options, target=target, scheduling=scheduling, keep_labels=False)]).run(circuit)
    assert unlabelled == want
    assert labels(unlabelled) != labels(want)
    assert all(inst.label is None for inst in unlabelled.data if not isinstance(inst.operation, ControlFlowOp))


@needs_ours
def test_the_input_is_never_modified():
    import copy

    circuit, target = _static_u_gates()
    before = copy.deepcopy(circuit)
    for options in ({"dd_sequences": [XGate()]}, {"dd_sequences": XX, "insert_multiple_cycles": True}):
        PassManager([Ours(**options, target=target)]).run(circuit)
        PassManager([ANALYSES["alap"](target=target), Ours(**options, target=target)]).run(circuit)
    assert circuit == before


@needs_ours
def test_refused_spacings_name_the_fault():
    circuit, target = case("if-after-measure")
    with pytest.raises(TranspilerError, match="sum to 1"):
        PassManager([Ours(dd_sequences=XX, spacings=[0.5, 0.6, 0.0], target=target)]).run(circuit)


def _all_labels(circuit: QuantumCircuit) -> list:
    """labels(), with each control-flow operation's bodies in place, at every depth."""
    out = []
    for inst in circuit.data:
        out.append((inst.operation.name, inst.operation.label))
        if isinstance(inst.operation, ControlFlowOp):
            out.append([_all_labels(body) for body in inst.operation.blocks])
    return out


@needs_ours
@pytest.mark.parametrize("scheduling", ["alap", "asap"])
@pytest.mark.parametrize("case_id", [c for c in CASES if c not in STATIC][::2])
def test_pulses_keep_their_gates_labels(case_id, scheduling):
    circuit, target, _ = _skip_unusable(case_id, "xx")
    options = {"dd_sequences": [XGate(label="dd-first"), XGate()]}
    want = decoupled(circuit, target, scheduling, **options)
    got = outcome(lambda: PassManager([Ours(**options, target=target, scheduling=scheduling)]).run(circuit))
    assert_same(got, want)
    if isinstance(want, type):
        return
    assert _all_labels(got) == _all_labels(want)
    drop_in = PassManager([OUR_ANALYSES[scheduling](target=target), Ours(**options, target=target)]).run(circuit)
    assert _all_labels(drop_in) == _all_labels(want)
