"""The native passes against Qiskit's own: one table of circuits times one table of options.

Qiskit's output is the oracle: `PassManager([<Qiskit analysis>, <Qiskit pass>])` on the same
circuit. The native pass runs fused (alone, scheduling itself) and drop-in (after Qiskit's
analysis), with start times recorded or not; outputs, global phases and op_start_times must be
equal, or both sides must refuse with the same exception type.
"""

import copy
import pickle

import pytest
from conftest import CIRCUITS, aligned_target, backend, labels, labelled, qft_circuit, symbolic_circuit, transpiled
from qiskit import QuantumCircuit, QuantumRegister
from qiskit.circuit import Delay, Gate
from qiskit.circuit.library import SXGate, UnitaryGate, XGate, YGate
from qiskit.converters import circuit_to_dag
from qiskit.passmanager.compilation_status import PropertySet
from qiskit.transpiler import InstructionDurations, InstructionProperties, PassManager
from qiskit.transpiler.exceptions import TranspilerError
from qiskit.transpiler.passes import ALAPScheduleAnalysis, ASAPScheduleAnalysis
from qiskit.transpiler.passes import PadDelay as QiskitPadDelay
from qiskit.transpiler.passes import PadDynamicalDecoupling as QiskitPadDD

import tarvex_qiskit

X2 = [XGate(), XGate()]
SX4 = [SXGate()] * 4
XYXY = [XGate(), YGate(), XGate(), YGate()]  # composes to -I: every sequence adds pi to the phase

ANALYSIS = {"alap": ALAPScheduleAnalysis, "asap": ASAPScheduleAnalysis}


def timing(kind):
    """Keyword arguments that give a pass its durations: a target, or InstructionDurations alone."""
    return {
        "generic": lambda: {"target": backend().target},
        "aligned": lambda: {"target": aligned_target()},
        "durations": lambda: {"durations": backend().target.durations()},
        "durations-aligned": lambda: {"durations": aligned_target().durations(), "pulse_alignment": 16},
        "none": lambda: {},
    }[kind]()


# (id, pass, options, timing): every constructor option of both passes appears at least once.
OPTIONS = [
    ("delay", "delay", {}, "generic"),
    ("delay-not-to-end", "delay", {"fill_very_end": False}, "generic"),
    ("delay-durations", "delay", {}, "durations"),
    ("dd-xx", "dd", {"dd_sequence": X2}, "generic"),
    ("dd-sx4-edges", "dd", {"dd_sequence": SX4, "extra_slack_distribution": "edges"}, "generic"),
    ("dd-xyxy-subset-after-reset", "dd", {"dd_sequence": XYXY, "qubits": [0, 2, 3], "skip_reset_qubits": False}, "generic"),
    ("dd-xx-uneven", "dd", {"dd_sequence": X2, "spacing": [0.3, 0.4, 0.3]}, "generic"),
    ("dd-xyxy-align16", "dd", {"dd_sequence": XYXY, "spacing": [0.0625, 0.3125, 0.125, 0.25, 0.25]}, "aligned"),
    ("dd-xx-align16-edges", "dd", {"dd_sequence": X2, "spacing": [0.3, 0.4, 0.3], "extra_slack_distribution": "edges"}, "aligned"),
    ("dd-sx4-durations-align16", "dd", {"dd_sequence": SX4}, "durations-aligned"),
    ("dd-one-gate", "dd", {"dd_sequence": [XGate()]}, "generic"),  # Qiskit's own code runs
]

# (id, use, scheduling, record_start_times)
MODES = [
    ("fused-alap", "fused", "alap", None),
    ("fused-asap", "fused", "asap", None),
    ("fused-alap-recorded", "fused", "alap", True),
    ("dropin-alap", "drop-in", "alap", None),
    ("dropin-asap", "drop-in", "asap", None),
    ("dropin-alap-unrecorded", "drop-in", "alap", False),
]


def make_passes(kind, options, timing_kind, scheduling, record):
    ours_cls, theirs_cls = (
        (tarvex_qiskit.PadDelay, QiskitPadDelay) if kind == "delay" else (tarvex_qiskit.PadDynamicalDecoupling, QiskitPadDD)
    )
    kwargs = {**options, **timing(timing_kind)}
    ours = ours_cls(**kwargs, scheduling=scheduling, record_start_times=record)
    return ours, theirs_cls(**kwargs)


def outcome(run):
    """The circuit `run` returns, or the type of exception it raises."""
    try:
        return run()
    except Exception as err:  # compared by type below
        return type(err)


@pytest.mark.parametrize("mode", MODES, ids=[m[0] for m in MODES])
@pytest.mark.parametrize("option", OPTIONS, ids=[o[0] for o in OPTIONS])
@pytest.mark.parametrize("circuit", CIRCUITS)
def test_output_equals_qiskits(circuit, option, mode):
    _, kind, options, timing_kind = option
    _, use, scheduling, record = mode
    circ = transpiled(circuit)
    ours, theirs = make_passes(kind, options, timing_kind, scheduling, record)
    def analysis():
        return ANALYSIS[scheduling](**{k: v for k, v in timing(timing_kind).items() if k != "pulse_alignment"})

    reference = outcome(lambda: PassManager([analysis(), theirs]).run(circ))
    pm = PassManager([ours] if use == "fused" else [analysis(), ours])
    got = outcome(lambda: pm.run(circ))
    if isinstance(reference, type):
        assert got is reference
        return
    assert isinstance(got, QuantumCircuit), got
    assert got == reference
    assert labels(got) == labels(reference)
    assert got.global_phase == reference.global_phase  # exactly, beyond equality's tolerance
    recorded = record if record is not None else use == "drop-in"
    if recorded:
        assert got.op_start_times == reference.op_start_times
    else:
        assert pm.property_set["node_start_time"] is None
        assert not hasattr(got, "op_start_times")


@pytest.mark.parametrize("use", ["fused", "drop-in"])
def test_input_dag_is_never_modified(use):
    # Qiskit's own padding removes the delays from the DAG it is given; the native pass may not.
    dag = circuit_to_dag(transpiled("random"))
    before = copy.deepcopy(dag)
    ours = tarvex_qiskit.PadDynamicalDecoupling(target=backend().target, dd_sequence=X2)
    ours.property_set = PropertySet()
    if use == "drop-in":
        analysis = ALAPScheduleAnalysis(target=backend().target)
        analysis.property_set = ours.property_set
        analysis.run(dag)
        before = copy.deepcopy(dag)  # the analysis' unit conversion may rewrite delays
    out = ours.run(dag)
    assert dag == before and dag.count_ops() == before.count_ops()
    assert out is not dag


PHYSICAL = "needs a physical circuit: one quantum register named 'q'"
SPACING = "spacing must be non-negative fractions of the slack that sum to 1"


def refusal_cases():
    """(id, pass arguments, circuit or None: the constructor refuses, our whole message or one per use;
    None: Qiskit's, raised before our pass runs)."""
    target = backend().target

    def physical_two_registers():
        qc = QuantumCircuit(QuantumRegister(2, "q"), QuantumRegister(1, "r"))
        qc.x(0)
        qc.cx(0, 2)
        return qc

    qft = transpiled("qft")
    return [
        ("not-identity", {"dd_sequence": [XGate(), YGate()], "target": target}, qft,
         "the DD sequence [x, y] is not the identity up to a global phase"),
        ("odd-length", {"dd_sequence": [XGate()] * 3, "target": target}, qft,
         "the DD sequence has 3 gates; it needs an even number (or one)"),
        ("gate-not-in-target", {"dd_sequence": [Gate("h", 1, [])] * 2, "target": target}, None,
         "the target does not support h, a gate of the DD sequence"),
        ("no-sequence", {"target": target}, None, "PadDynamicalDecoupling() missing required argument 'dd_sequence'"),
        ("spacing-sum", {"dd_sequence": X2, "spacing": [0.5, 0.6, 0.1], "target": target}, qft, SPACING),
        ("spacing-negative", {"dd_sequence": X2, "spacing": [-0.5, 1.0, 0.5], "target": target}, qft, SPACING),
        ("slack-distribution", {"dd_sequence": X2, "extra_slack_distribution": "left", "target": target}, qft,
         "extra_slack_distribution must be 'middle' or 'edges'"),
        ("misaligned", {"dd_sequence": X2, "durations": target.durations(), "pulse_alignment": 16}, qft,
         "the idle time of 181 dt on qubit 3 between the circuit's start and cx on qubits [4, 3] is not a multiple"
         " of the pulse alignment 16"),
        ("not-physical", {"dd_sequence": X2, "target": target}, physical_two_registers(),
         {"fused": f"ALAP scheduling {PHYSICAL}", "drop-in": None}),  # drop-in: Qiskit's analysis refuses it
    ]


def raised(run):
    """The exception `run` raises (None if it raises none)."""
    try:
        run()
    except Exception as err:  # compared below
        return err
    return None


@pytest.mark.parametrize("case", refusal_cases(), ids=lambda c: c[0])
@pytest.mark.parametrize("use", ["fused", "drop-in"])
def test_refusals_match_qiskits(case, use):
    _, kwargs, circ, message = case

    def run(cls):
        dd = cls(**kwargs)
        if circ is None:
            return None
        analysis = ALAPScheduleAnalysis(target=kwargs.get("target"), durations=kwargs.get("durations"))
        uses_analysis = use == "drop-in" or cls is QiskitPadDD
        return PassManager([analysis, dd] if uses_analysis else [dd]).run(circ)

    theirs, ours = raised(lambda: run(QiskitPadDD)), raised(lambda: run(tarvex_qiskit.PadDynamicalDecoupling))
    assert isinstance(theirs, Exception)
    assert type(ours) is type(theirs)
    text = ours.message if isinstance(ours, TranspilerError) else str(ours)
    message = message[use] if isinstance(message, dict) else message
    assert text == (theirs.message if message is None else message)


def unsupported_cases():
    target = backend().target
    untranspiled = qft_circuit(3).decompose()  # h and cp: no durations in the target
    with_control_flow = QuantumCircuit(2, 1)
    with_control_flow.x(0)
    with_control_flow.measure(0, 0)
    with (with_control_flow.if_test((with_control_flow.clbits[0], 1))):
        with_control_flow.x(1)
    return [
        ("no-duration", {"target": target}, untranspiled, "h on qubits [2]: no duration for it in the target or the durations"),
        ("control-flow", {"target": target}, with_control_flow, "if_else on qubits [1]: control flow cannot be scheduled"),
    ]


@pytest.mark.parametrize("case", unsupported_cases(), ids=lambda c: c[0])
def test_unsupported_input_names_the_operation(case):
    _, timing_kwargs, circ, message = case
    for ours in (tarvex_qiskit.PadDelay(**timing_kwargs), tarvex_qiskit.PadDynamicalDecoupling(dd_sequence=X2, **timing_kwargs)):
        with pytest.raises(TranspilerError) as refusal:
            PassManager([ours]).run(circ)
        assert refusal.value.message == message


@pytest.mark.parametrize(
    "make, message",
    [
        (lambda: tarvex_qiskit.PadDelay(scheduling="later"), "scheduling must be 'alap' or 'asap', not 'later'"),
        (lambda: tarvex_qiskit.PadDynamicalDecoupling(dd_sequence=X2, scheduling=None), "scheduling must be 'alap' or 'asap', not None"),
    ],
)
def test_scheduling_is_alap_or_asap(make, message):
    with pytest.raises(TranspilerError) as refusal:
        make()
    assert refusal.value.message == message


@pytest.mark.parametrize("kind", ["delay", "dd"])
def test_symbolic_parameters_and_unitaries_are_copied(kind):
    circ = symbolic_circuit()
    durations = InstructionDurations(
        [("rz", None, 0), ("x", None, 160), ("unitary", None, 320), ("cx", None, 800), ("measure", None, 1600)],
        dt=1e-9,
    )
    options = {"durations": durations} if kind == "delay" else {"durations": durations, "dd_sequence": X2}
    ours, theirs = make_passes(kind, options, "none", "alap", None)
    reference = PassManager([ALAPScheduleAnalysis(durations=durations), theirs]).run(circ)
    got = PassManager([ours]).run(circ)
    assert got == reference and got.parameters == reference.parameters


# --- regressions --------------------------------------------------------------------------------


def three_gates():
    circ = QuantumCircuit(2)
    circ.x(0)
    circ.cx(0, 1)
    circ.x(1)
    return circ


def change_durations_in_place():
    durations = InstructionDurations([("x", [0], 100), ("x", [1], 100), ("cx", [0, 1], 300)], dt=1e-9)
    return {"durations": durations}, lambda: durations.update([("x", [0], 500)])


def change_target():
    target = copy.deepcopy(backend().target)

    def change():
        props = copy.copy(target["x"][(0,)])
        props.duration *= 5
        target.update_instruction_properties("x", (0,), props)

    return {"target": target}, change


@pytest.mark.parametrize("timing_change", [change_durations_in_place, change_target], ids=["durations", "target"])
@pytest.mark.parametrize("kind", ["delay", "dd"])
def test_changed_durations_are_read_on_the_next_run(kind, timing_change):
    # An InstructionDurations updated in place keeps its sizes: no cache may key on them.
    timing_kwargs, change = timing_change()
    options = {**timing_kwargs, **({"dd_sequence": X2} if kind == "dd" else {})}
    ours, theirs = make_passes(kind, options, "none", "alap", None)
    pm = PassManager([ours])
    pm.run(three_gates())
    change()
    reference = PassManager([ALAPScheduleAnalysis(**timing_kwargs), theirs]).run(three_gates())
    assert pm.run(three_gates()) == reference
    fresh, _ = make_passes(kind, options, "none", "alap", None)
    assert PassManager([fresh]).run(three_gates()) == reference


@pytest.mark.parametrize("kind", ["delay", "dd"])
def test_a_pass_holding_bound_options_copies_pickles_and_rebinds_for_other_widths(kind):
    # After a run the pass holds its options bound natively, which neither pickle nor copy: the
    # copies bind their own, and a circuit of another width on the same pass gets options of its
    # width rather than the ones kept for the first.
    options = {"target": backend().target, **({"dd_sequence": X2} if kind == "dd" else {})}
    ours, theirs = make_passes(kind, options, "none", "alap", None)
    wide, narrow = transpiled("qft"), three_gates()
    first = PassManager([ours]).run(wide)
    assert first == PassManager([ALAPScheduleAnalysis(target=backend().target), theirs]).run(wide)
    for twin in (pickle.loads(pickle.dumps(ours)), copy.deepcopy(ours)):
        assert PassManager([twin]).run(wide) == first
    _, theirs_narrow = make_passes(kind, options, "none", "alap", None)
    reference = PassManager([ALAPScheduleAnalysis(target=backend().target), theirs_narrow]).run(narrow)
    assert PassManager([ours]).run(narrow) == reference
    assert PassManager([ours]).run(wide) == first


@pytest.mark.parametrize("fill_very_end", [True, False])
@pytest.mark.parametrize("scheduling", ["alap", "asap"])
@pytest.mark.parametrize("kind", ["delay", "dd"])
def test_fused_use_refuses_a_circuit_that_is_not_physical(kind, scheduling, fill_very_end):
    # Qiskit's analyses refuse it, so the pipeline the fused pass stands for does.
    circ = QuantumCircuit(QuantumRegister(2, "v"))
    circ.x(0)
    circ.cx(0, 1)
    durations = InstructionDurations([("x", None, 160), ("cx", None, 800)], dt=1e-9)
    options = {"durations": durations, **({"dd_sequence": X2} if kind == "dd" else {"fill_very_end": fill_very_end})}
    ours, theirs = make_passes(kind, options, "none", scheduling, None)
    with pytest.raises(TranspilerError):
        PassManager([ANALYSIS[scheduling](durations=durations), theirs]).run(circ)
    with pytest.raises(TranspilerError) as refusal:
        PassManager([ours]).run(circ)
    assert refusal.value.message == f"{scheduling.upper()} scheduling needs a physical circuit: one quantum register named 'q'"


def custom_gate_target():
    target = copy.deepcopy(backend().target)
    target.add_instruction(Gate("mygate", 1, []), {(0,): InstructionProperties(duration=target["x"][(0,)].duration * 3)})
    return target


def with_custom_gate():
    circ = labelled(transpiled("qft"), every=7)
    for _ in range(3):
        circ.append(Gate("mygate", 1, []), [0])
        circ.cx(0, 1)
    return circ


@pytest.mark.parametrize("use", ["fused", "drop-in"])
@pytest.mark.parametrize("kind", ["delay", "dd"])
def test_an_operation_the_c_api_cannot_read_gives_qiskits_output(kind, use):
    target = custom_gate_target()
    options = {"target": target, **({"dd_sequence": X2} if kind == "dd" else {})}
    ours, theirs = make_passes(kind, options, "none", "alap", None)
    circ = with_custom_gate()
    reference = PassManager([ALAPScheduleAnalysis(target=target), theirs]).run(circ)
    got = PassManager([ours] if use == "fused" else [ALAPScheduleAnalysis(target=target), ours]).run(circ)
    assert got == reference
    assert labels(got) == labels(reference)
    assert got.count_ops()["mygate"] == 3


@pytest.mark.parametrize("kind", ["delay", "dd"])
def test_labels_of_gates_and_barriers_are_kept(kind):
    circ = QuantumCircuit(2, 1)
    circ.x(0, label="prep")
    circ.barrier(label="dd_here")
    circ.rz(0.5, 1, label="turn")
    circ.cx(0, 1)
    circ.append(UnitaryGate([[0, 1], [1, 0]], label="flip"), [1])
    wait = Delay(320)
    wait.label = "wait"
    circ.append(wait, [0])  # idle time: Qiskit drops it, label and all
    circ.measure(1, 0)
    durations = InstructionDurations(
        [("x", None, 160), ("rz", None, 0), ("cx", None, 800), ("unitary", None, 320), ("measure", None, 1600)], dt=1e-9
    )
    options = {"durations": durations, **({"dd_sequence": X2} if kind == "dd" else {})}
    ours, theirs = make_passes(kind, options, "none", "alap", None)
    reference = PassManager([ALAPScheduleAnalysis(durations=durations), theirs]).run(circ)
    got = PassManager([ours]).run(circ)
    assert got == reference
    assert labels(got) == labels(reference)
    assert {"prep", "dd_here", "turn", "flip"} <= {label for _, label in labels(got)}
