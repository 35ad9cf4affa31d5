"""The dynamic passes' direct path, circuit to circuit, with the fused pass in a pass manager as the
oracle.

Every circuit of dynamic_circuits (and, for DD, of the DD tests' table over its options), every
instruction labelled, runs both ways; the direct output
must be the pass manager's instruction for instruction, bodies included, labels too, with its name,
metadata, phase, registers and timing. Most scenarios are written in an order of their own, not
the one their DAG lists, which the native path has to find for the root it writes.
"""

from __future__ import annotations

import copy

import pytest
from dynamic_circuits import CASE_IDS, case, labelled
from outputs import ATTRIBUTES, exact
from qiskit import QuantumCircuit
from qiskit.circuit import ControlFlowOp
from qiskit.circuit.library import XGate
from qiskit.transpiler import PassManager
from runtime_oracle import outcome
from test_ibm_dd_differential import CASES as DD_CASES
from test_ibm_dd_differential import OPTION_IDS as DD_OPTION_IDS
from test_ibm_dd_differential import circuit_and_target, options_for

from tarvex_qiskit.ibm import direct
from tarvex_qiskit.ibm import scheduling as ours

OPTIONS = [
    ("default", {}),
    ("not-to-block-ends", {"fill_very_end": False}),
    ("idle-qubits", {"schedule_idle_qubits": True}),
]
# The cases the direct path leaves to the pass manager, and why.
LEFT_TO_THE_PASS_MANAGER = {"wireless-control-flow": "control flow on no qubit has no place in the DAG's order"}


def deep(circuit: QuantumCircuit) -> list[tuple]:
    """Every instruction in order, with its label, its bits by index (a body's added qubits are new
    objects on either path) and its bodies' instructions, nested."""
    return [
        (i.operation.name, [exact(p) for p in i.operation.params if not isinstance(p, QuantumCircuit)],
         i.operation.label, [circuit.find_bit(q).index for q in i.qubits],
         [circuit.find_bit(c).index for c in i.clbits],
         [(deep(b), b.global_phase, b.qregs, b.cregs) for b in getattr(i.operation, "blocks", ())])
        for i in circuit.data
    ]


def assert_same(got, expected):
    if isinstance(expected, type):
        assert got is expected
        return
    assert isinstance(got, QuantumCircuit), got
    assert deep(got) == deep(expected)
    for name in ATTRIBUTES:
        assert getattr(got, name, None) == getattr(expected, name, None), name


@pytest.mark.parametrize("scheduling", ["alap", "asap"])
@pytest.mark.parametrize("option", OPTIONS, ids=[o[0] for o in OPTIONS])
@pytest.mark.parametrize("case_id", CASE_IDS)
def test_direct_pad_delays_equal_the_pass_manager(case_id, option, scheduling):
    circuit, target = case(case_id)
    circuit = labelled(circuit)
    _, options = option
    expected = outcome(lambda: PassManager([ours.PadDelay(**options, target=target, scheduling=scheduling)]).run(circuit))
    got = outcome(lambda: direct.pad_delays(circuit, target, **options, scheduling=scheduling))
    assert_same(got, expected)
    native = outcome(lambda: ours.PadDelay(**options, target=target, scheduling=scheduling).run_circuit(circuit))
    if case_id in LEFT_TO_THE_PASS_MANAGER or isinstance(expected, type):
        assert native is None or native is expected
    else:
        assert native is not None  # taken natively, not through the fallback
        assert_same(native, expected)


@pytest.mark.parametrize("case_id", ["nested-ifs", "torino-1", "sherbrooke-1"])
def test_direct_pad_delays_without_labels_and_on_lists(case_id):
    circuit, target = case(case_id)
    circuit = labelled(circuit)
    expected = PassManager([ours.PadDelay(target=target, keep_labels=False)]).run(circuit)
    got = direct.pad_delays([circuit, circuit.copy()], target, keep_labels=False)
    assert isinstance(got, list) and len(got) == 2
    for out in got:
        assert_same(out, expected)
    assert deep(direct.pad_delays(circuit, target)) != deep(expected)  # the labels keep_labels=False drops


def test_the_direct_path_never_modifies_its_input():
    circuit, target = case("nested-ifs")
    circuit = labelled(circuit)
    before = copy.deepcopy(circuit)
    bodies = [op.blocks for op in (i.operation for i in circuit.data) if isinstance(op, ControlFlowOp)]
    sizes = [[len(b.data) for b in blocks] for blocks in bodies]
    out = direct.pad_delays(circuit, target)
    assert out is not circuit and len(out.data) > len(circuit.data)
    assert deep(circuit) == deep(before)
    assert [[len(b.data) for b in blocks] for blocks in bodies] == sizes


@pytest.mark.parametrize("scheduling", ["alap", "asap"])
@pytest.mark.parametrize("option_id", DD_OPTION_IDS)
@pytest.mark.parametrize("case_id", DD_CASES)
def test_direct_decouple_equals_the_pass_manager(case_id, option_id, scheduling):
    circuit, target = circuit_and_target(case_id)
    options = options_for(option_id, target)
    if options is None:
        pytest.skip("the target lacks a gate the option needs")
    circuit = labelled(circuit)
    sequences = options.pop("dd_sequences")
    expected = outcome(lambda: PassManager([ours.PadDynamicalDecoupling(sequences, **options, target=target,
                                                                        scheduling=scheduling)]).run(circuit))
    got = outcome(lambda: direct.decouple(circuit, target, sequences, **options, scheduling=scheduling))
    assert_same(got, expected)
    native = outcome(lambda: ours.PadDynamicalDecoupling(sequences, **options, target=target,
                                                         scheduling=scheduling).run_circuit(circuit))
    if case_id in LEFT_TO_THE_PASS_MANAGER or isinstance(expected, type):
        assert native is None or native is expected
    else:
        assert native is not None
        assert_same(native, expected)


def test_a_kept_pass_does_not_see_the_callers_lists_change():
    circuit, target = circuit_and_target("torino-1")
    other, _ = circuit_and_target("torino-3")  # other idle qubits: the kept pass reads `qubits` again
    qubits = list(range(target.num_qubits))
    direct.decouple(circuit, target, [XGate(), XGate()], qubits=qubits)
    qubits[:] = [0]
    got = direct.decouple(other, target, [XGate(), XGate()], qubits=list(range(target.num_qubits)))
    expected = PassManager([ours.PadDynamicalDecoupling([XGate(), XGate()], qubits=list(range(target.num_qubits)),
                                                        target=target)]).run(other)
    assert deep(got) == deep(expected)
