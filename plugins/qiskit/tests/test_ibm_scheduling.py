"""tarvex_qiskit.ibm.scheduling against qiskit-ibm-runtime's passes, with the runtime as the oracle.

Every circuit of dynamic_circuits.CASE_IDS runs fused (our PadDelay alone) and drop-in (after the
runtime's analysis), ALAP and ASAP, over the options table; outputs must equal the oracle's
(runtime_oracle: the runtime on fresh-qubit bodies, three plain faults mended), global phase
exactly, or both sides raise the same exception type. The mends themselves are tested on circuits
that show the plain runtime's fault.
"""

from __future__ import annotations

import copy
import sys

import pytest
from dynamic_circuits import CASE_IDS, case, labelled, labels, small_target
from qiskit import ClassicalRegister, QuantumCircuit, QuantumRegister
from qiskit.circuit import Clbit, ControlFlowOp, Gate, Parameter, Qubit
from qiskit.converters import circuit_to_dag
from qiskit.passmanager.compilation_status import PropertySet
from qiskit.transpiler import PassManager
from qiskit.transpiler.exceptions import TranspilerError
from qiskit_ibm_runtime.transpiler.passes import scheduling as runtime
from runtime_oracle import ANALYSES, MendedPadDelay, analysed, fresh_bodies, outcome, padded, start_time_table

from tarvex_qiskit.ibm import scheduling as ours

OURS = {"alap": ours.ALAPScheduleAnalysis, "asap": ours.ASAPScheduleAnalysis}


def plain_topological(dag):
    """A block ordering other than the runtime's: Qiskit's topological order."""
    yield from dag.topological_op_nodes()


# (id, PadDelay options): every constructor option appears.
OPTIONS = [
    ("default", {}),
    ("not-to-block-ends", {"fill_very_end": False}),
    ("idle-qubits", {"schedule_idle_qubits": True}),
    ("custom-order", {"block_ordering_callable": plain_topological}),
]


def assert_same(got, expected):
    if isinstance(expected, type):
        assert got is expected
        return
    assert isinstance(got, QuantumCircuit), got
    assert got == expected
    assert got.global_phase == expected.global_phase


@pytest.mark.parametrize("scheduling", ["alap", "asap"])
@pytest.mark.parametrize("option", OPTIONS, ids=[o[0] for o in OPTIONS])
@pytest.mark.parametrize("case_id", CASE_IDS)
def test_fused_pad_delay_equals_runtime(case_id, option, scheduling):
    circuit, target = case(case_id)
    if case_id == "wireless-control-flow":
        pytest.skip("the runtime raises ValueError here; see test_control_flow_without_wires")
    _, options = option
    expected = padded(circuit, target, scheduling, **options)
    got = outcome(lambda: PassManager([ours.PadDelay(**options, target=target, scheduling=scheduling)]).run(circuit))
    assert_same(got, expected)


@pytest.mark.parametrize("analysis", ["runtime", "ours"])
@pytest.mark.parametrize("scheduling", ["alap", "asap"])
@pytest.mark.parametrize("option", OPTIONS[:3], ids=[o[0] for o in OPTIONS[:3]])
@pytest.mark.parametrize("case_id", CASE_IDS[::3])
def test_drop_in_pad_delay_equals_runtime(case_id, option, scheduling, analysis):
    circuit, target = case(case_id)
    if case_id == "wireless-control-flow":
        pytest.skip("the runtime raises ValueError here")
    _, options = option
    prepared = fresh_bodies(circuit)
    expected = outcome(lambda: PassManager([ANALYSES[scheduling](target=target),
                                            MendedPadDelay(**options, target=target)]).run(prepared))
    first = (ANALYSES if analysis == "runtime" else OURS)[scheduling](target=target)
    got = outcome(lambda: PassManager([first, ours.PadDelay(**options, target=target)]).run(prepared))
    assert_same(got, expected)


@pytest.mark.parametrize("ordering", [None, plain_topological], ids=["default-order", "custom-order"])
@pytest.mark.parametrize("scheduling", ["alap", "asap"])
@pytest.mark.parametrize("case_id", CASE_IDS)
def test_analyses_leave_the_runtimes_start_times(case_id, scheduling, ordering):
    circuit, target = case(case_id)
    if case_id == "wireless-control-flow":
        pytest.skip("the runtime raises ValueError here")
    theirs_dag, theirs = analysed(circuit, target, scheduling, ordering)
    analysis = OURS[scheduling](block_ordering_callable=ordering, target=target)
    analysis.property_set = PropertySet()
    dag = circuit_to_dag(circuit)
    ours_dag = outcome(lambda: analysis.run(dag))
    if theirs is None:
        assert ours_dag is theirs_dag
        return
    ps = analysis.property_set
    assert start_time_table(ours_dag, ps["node_start_time"], ps["node_block_dags"]) == start_time_table(
        theirs_dag, theirs["node_start_time"], theirs["node_block_dags"]
    )
    # The runtime's own padder runs after our analysis unchanged (on fresh bodies: the keys of its
    # property set are DAG nodes, whose equality would merge equal nodes of different blocks).
    prepared = fresh_bodies(circuit)
    expected = padded(circuit, target, scheduling, block_ordering_callable=ordering)
    pm = PassManager([OURS[scheduling](block_ordering_callable=ordering, target=target),
                      MendedPadDelay(block_ordering_callable=ordering, target=target)])
    assert_same(outcome(lambda: pm.run(prepared)), expected)


def refusal_cases():
    qc, target = case("if-after-measure")
    virtual = QuantumCircuit(QuantumRegister(2, "v"), *qc.cregs)
    virtual.x(0)
    unknown_gate = qc.copy()
    unknown_gate.h(1)  # not in the target: no duration
    parameter_delay = qc.copy()
    parameter_delay.delay(Parameter("t"), 1)
    return [
        ("not-physical", virtual, target),
        ("no-duration", unknown_gate, target),
        ("parameter-delay", parameter_delay, target),
    ]


@pytest.mark.parametrize("use", ["fused", "analysis"])
@pytest.mark.parametrize("scheduling", ["alap", "asap"])
@pytest.mark.parametrize("refusal", refusal_cases(), ids=lambda c: c[0])
def test_refusals_take_the_runtimes_types(refusal, scheduling, use):
    _, circuit, target = refusal
    expected = outcome(lambda: PassManager([ANALYSES[scheduling](target=target), runtime.PadDelay(target=target)]).run(circuit))
    assert expected is TranspilerError
    passes = [ours.PadDelay(target=target, scheduling=scheduling)] if use == "fused" else [
        OURS[scheduling](target=target), ours.PadDelay(target=target)]
    assert outcome(lambda: PassManager(passes).run(circuit)) is expected


def test_refused_orders_and_option_values_name_the_fault():
    circuit, target = case("nested-ifs")

    def partial(dag):
        yield from list(dag.topological_op_nodes())[1:]

    with pytest.raises(TranspilerError) as err:
        PassManager([ours.PadDelay(target=target, block_ordering_callable=partial)]).run(circuit)
    assert err.value.message == "block_ordering_callable must yield each of the block's 3 operation nodes once."
    with pytest.raises(TranspilerError) as err:
        ours.PadDelay(scheduling="late")
    assert err.value.message == "scheduling must be 'alap' or 'asap', not 'late'"


@pytest.mark.parametrize("use", ["fused", "drop-in", "analysis"])
def test_the_input_is_never_modified(use):
    circuit, target = case("resets-and-delays-in-bodies")
    circuit.delay(2, 1, unit="s")  # in SI units: the runtime's analyses convert them in place
    dag = circuit_to_dag(circuit)
    before = copy.deepcopy(dag)
    ps = PropertySet()
    if use == "drop-in":
        runtime.ALAPScheduleAnalysis(target=target).run(dag)  # converts in place: the padder's input
        before = copy.deepcopy(dag)
        step = runtime.ALAPScheduleAnalysis(target=target)
        step.property_set = ps
        step.run(dag)
    step = ours.ALAPScheduleAnalysis(target=target) if use == "analysis" else ours.PadDelay(target=target)
    step.property_set = ps
    out = step.run(dag)
    assert dag == before and out is not dag and [n.op for n in dag.op_nodes()] == [n.op for n in before.op_nodes()]


# The mends: circuits where the plain runtime is wrong, and what the passes give instead.


def test_start_times_of_equal_nodes_in_different_blocks_are_kept_apart():
    # Three bodies each holding x(0) as their first node: equal DAGOpNodes, one dictionary entry.
    circuit, target = case("repeated-active-reset")
    plain = PassManager([runtime.ASAPScheduleAnalysis(target=target), runtime.PadDelay(target=target)]).run(circuit)
    expected = padded(circuit, target, "asap")
    got = PassManager([ours.PadDelay(target=target, scheduling="asap")]).run(circuit)
    assert plain != expected and got == expected


@pytest.mark.parametrize("case_id", ["torino-1", "sherbrooke-1"])
def test_barriers_in_bodies_are_as_wide_as_their_qubits(case_id):
    circuit, target = case(case_id)
    plain = outcome(lambda: PassManager([runtime.ALAPScheduleAnalysis(target=target),
                                         runtime.PadDelay(target=target)]).run(circuit))
    assert plain.__name__ == "CircuitError"  # a negative barrier width
    got = PassManager([ours.PadDelay(target=target)]).run(circuit)

    def barriers(qc):
        for inst in qc.data:
            if inst.operation.name == "barrier":
                yield inst
            for block in getattr(inst.operation, "blocks", ()):
                yield from barriers(block)

    widths = [(b.operation.num_qubits, len(b.qubits)) for b in barriers(got)]
    assert widths and all(w == n for w, n in widths)
    assert got == padded(circuit, target, "alap")


def test_body_qubits_are_not_taken_for_outer_ones():
    circuit, target = case("transpiled-nested-fast-path")
    plain = outcome(lambda: PassManager([runtime.ALAPScheduleAnalysis(target=target),
                                         runtime.PadDelay(target=target, schedule_idle_qubits=True)]).run(circuit))
    assert plain is KeyError
    got = PassManager([ours.PadDelay(target=target, schedule_idle_qubits=True)]).run(circuit)
    assert got == padded(circuit, target, "alap", schedule_idle_qubits=True)


@pytest.mark.parametrize("scheduling", ["alap", "asap"])
def test_control_flow_without_wires(scheduling):
    circuit, target = case("wireless-control-flow")
    assert padded(circuit, target, scheduling) is ValueError
    got = PassManager([ours.PadDelay(target=target, scheduling=scheduling)]).run(circuit)
    # The empty loop joins the measurement's round and takes no time; it closes the block after a
    # barrier, on the circuit's used qubit, as any other control flow would.
    assert [(inst.operation.name, [got.find_bit(q).index for q in inst.qubits]) for inst in got.data] == [
        ("x", [0]), ("measure", [0]), ("barrier", [0]), ("for_loop", [0])]


def test_a_clbit_two_grouped_measurements_write_is_free_after_the_later():
    qc = QuantumCircuit(3, 1)
    qc.measure(0, 0)
    qc.measure(1, 0)
    with qc.if_test((0, 1)):
        qc.x(2)
    target = small_target(3, measure={0: 1000, 1: 700})
    analysis = ours.ASAPScheduleAnalysis(target=target)
    analysis.property_set = PropertySet()
    dag = analysis.run(circuit_to_dag(qc))
    times = {node.name: t for node, t in analysis.property_set["node_start_time"].items() if node.name == "if_else"}
    assert times == {"if_else": (1, 1000)}


# Labels: Qiskit's == ignores them, so they are compared on their own (dynamic_circuits.labels).


@pytest.mark.parametrize("scheduling", ["alap", "asap"])
@pytest.mark.parametrize("case_id", CASE_IDS[::2])
def test_labels_are_kept_as_the_runtime_keeps_them(case_id, scheduling):
    circuit, target = case(case_id)
    if case_id == "wireless-control-flow":
        pytest.skip("the runtime raises ValueError here")
    circuit = labelled(circuit)
    expected = padded(circuit, target, scheduling)
    fused = outcome(lambda: PassManager([ours.PadDelay(target=target, scheduling=scheduling)]).run(circuit))
    assert_same(fused, expected)
    if isinstance(expected, type):
        return
    assert labels(fused) == labels(expected)
    assert any(inst.label for inst in fused.data)
    pm = PassManager([ANALYSES[scheduling](target=target), ours.PadDelay(target=target)])
    assert labels(pm.run(fresh_bodies(circuit))) == labels(expected)


def test_keep_labels_false_drops_them_and_nothing_else():
    circuit, target = case("nested-ifs")
    circuit = labelled(circuit)
    got = PassManager([ours.PadDelay(target=target, keep_labels=False)]).run(circuit)
    assert_same(got, padded(circuit, target, "alap"))

    def every_label(qc):  # of what is not control flow, whose operations Python builds, labels and all
        for inst in qc.data:
            if isinstance(inst.operation, ControlFlowOp):
                assert inst.label is not None
            else:
                yield inst.label
            for block in getattr(inst.operation, "blocks", ()):
                yield from every_label(block)

    assert set(every_label(got)) == {None}


def _loose_bits_circuit(used: bool) -> QuantumCircuit:
    """A physical circuit with a qubit and a clbit outside its registers, used or not."""
    qc = QuantumCircuit(QuantumRegister(3, "q"), [Qubit()], [Clbit()], ClassicalRegister(2, "c"))
    qc.x(3 if used else 0)
    qc.measure(2, 0 if used else 1)
    qc.measure(1, 2)
    with qc.if_test((qc.clbits[2], 1)):
        qc.x(1)
    return qc


def test_loose_bits_are_kept():
    # The runtime's padder gives its output only the circuit's registers (with classical registers,
    # only those clbits): an instruction on a bit outside them raises KeyError, and an unused one
    # is dropped from the circuit.
    target = small_target(4)
    used = _loose_bits_circuit(used=True)
    assert padded(used, target, "alap") is KeyError
    got = PassManager([ours.PadDelay(target=target)]).run(used)
    assert got.qubits == used.qubits and got.clbits == used.clbits and got.cregs == used.cregs
    assert [got.find_bit(c).index for inst in got.data if inst.name == "measure" for c in inst.clbits] == [0, 2]

    unused = _loose_bits_circuit(used=False)
    expected = padded(unused, target, "alap")
    got = PassManager([ours.PadDelay(target=target)]).run(unused)
    assert (expected.num_qubits, expected.num_clbits) == (3, 2)
    assert got.qubits == unused.qubits and got.clbits == unused.clbits

    def rows(qc):  # clbits by their place in the registers, where the two circuits agree
        return sorted(repr((i.name, [qc.find_bit(q).index for q in i.qubits], [qc.find_bit(c).registers for c in i.clbits],
                            [p for p in i.operation.params if not isinstance(p, QuantumCircuit)])) for i in qc.data)

    assert rows(got) == rows(expected)
    assert [i.operation.blocks for i in got.data if i.name == "if_else"] == [
        i.operation.blocks for i in expected.data if i.name == "if_else"]


def test_fallback_without_the_runtime_names_the_extra(monkeypatch):
    circuit, target = case("if-after-measure")
    custom = circuit.copy()
    custom.append(Gate("pulse", 1, []), [1])  # a Python-defined gate: the C API cannot copy it
    target = copy.deepcopy(target)
    target.add_instruction(Gate("pulse", 1, []), {(1,): None})
    for name in [m for m in sys.modules if m.startswith("qiskit_ibm_runtime")]:
        monkeypatch.setitem(sys.modules, name, None)
    with pytest.raises(ImportError) as err:
        PassManager([ours.PadDelay(target=target)]).run(custom)
    assert str(err.value) == "This circuit needs qiskit-ibm-runtime, which is not installed: pip install 'tarvex-qiskit[ibm]'"
