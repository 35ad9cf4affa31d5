"""Dynamic circuits the IBM scheduling tests share: the runtime's scheduler scenarios rebuilt, and
random circuits with mid-circuit measurements and control flow transpiled to IBM device snapshots.

Each case is (circuit, target). The scenarios run on small targets in whole dt (dt = 1, X 200,
measure 1000 unless a case says otherwise); the random ones on FakeTorino and FakeSherbrooke.
"""

from __future__ import annotations

import functools
import random
from collections.abc import Callable

from qiskit import ClassicalRegister, QuantumCircuit, QuantumRegister, transpile
from qiskit.circuit import ControlFlowOp, Parameter, classical
from qiskit.circuit.library import CXGate, Measure, Reset, RZGate, XGate
from qiskit.transpiler import InstructionProperties, Target

Case = tuple[QuantumCircuit, Target]


def small_target(
    n_qubits: int,
    x: int | dict[int, int] | None = 200,
    measure: int | dict[int, int] | None = 1000,
    reset: int | dict[int, int] | None = None,
    cx: dict[tuple[int, int], int] | None = None,
    rz: int | None = None,
) -> Target:
    """A target with dt = 1: a duration per qubit (an int for all qubits, a dict for some)."""
    target = Target(num_qubits=n_qubits, dt=1)

    def per_qubit(value):
        table = value if isinstance(value, dict) else dict.fromkeys(range(n_qubits), value)
        return {(q,): InstructionProperties(duration=d) for q, d in table.items()}

    for op, value in ((XGate(), x), (Measure(), measure), (Reset(), reset), (RZGate(Parameter("phi")), rz)):
        if value is not None:
            target.add_instruction(op, per_qubit(value))
    if cx is not None:
        target.add_instruction(CXGate(), {qs: InstructionProperties(duration=d) for qs, d in cx.items()})
    return target


def _if_else_after_measure():
    qc = QuantumCircuit(2, 1)
    qc.measure(0, 0)
    with qc.if_test((0, 0)) as else_:
        qc.x(1)
    with else_:
        qc.x(0)
    return qc, small_target(2)


def _if_after_measure():
    qc = QuantumCircuit(2, 1)
    qc.measure(0, 0)
    with qc.if_test((0, True)):
        qc.x(1)
    return qc, small_target(2)


def _measure_after_measure():
    qc = QuantumCircuit(2, 1)
    qc.x(0)
    qc.measure(0, 0)
    qc.measure(1, 0)
    return qc, small_target(2)


def _measure_group_not_block_end():
    qc = QuantumCircuit(3, 1)
    qc.x(0)
    qc.measure(0, 0)
    qc.measure(1, 0)
    qc.x(2)
    qc.measure(1, 0)
    qc.measure(2, 0)
    return qc, small_target(3)


def _reset_ends_block():
    qc = QuantumCircuit(3, 1)
    qc.x(0)
    qc.reset(0)
    qc.measure(1, 0)
    qc.x(2)
    qc.measure(1, 0)
    qc.measure(2, 0)
    qc.measure(0, 0)
    return qc, small_target(3, reset=1000)


def _if_on_other_qubits():
    qc = QuantumCircuit(3, 1)
    qc.measure(0, 0)
    with qc.if_test((0, 1)):
        qc.x(1)
        qc.x(2)
    return qc, small_target(3)


def _shorter_measure_after_measure():
    # The two measures share clbit 0 and differ in length; nothing reads the bit afterwards, so the
    # runtime's set order over the group cannot show in its output.
    qc = QuantumCircuit(3, 1)
    qc.measure(0, 0)
    qc.measure(1, 0)
    return qc, small_target(3, x=None, measure={0: 1000, 1: 700})


def _measure_after_if():
    qc = QuantumCircuit(3, 1)
    qc.measure(0, 0)
    with qc.if_test((0, 1)):
        qc.x(1)
    qc.measure(2, 0)
    return qc, small_target(3)


def _parallel_gates(barrier: bool):
    def build():
        qc = QuantumCircuit(2, 2)
        qc.x(0)
        qc.x(1)
        if barrier:
            qc.barrier()
        qc.measure(0, 0)
        qc.measure(1, 1)
        return qc, small_target(2, x={0: 200, 1: 400})

    return build


def _active_reset():
    qc = QuantumCircuit(1, 1)
    for _ in range(3):
        qc.measure(0, 0)
        with qc.if_test((0, 1)):
            qc.x(0)
    return qc, small_target(1, x=100)


def _conditionals_on_one_bit():
    qc = QuantumCircuit(2, 1)
    qc.delay(100, 0)
    with qc.if_test((0, 1)):
        qc.x(0)
    with qc.if_test((0, 1)):
        qc.x(1)
    return qc, small_target(2, x=160, measure=None)


def _delay_gate_measure():
    qc = QuantumCircuit(2, 1)
    qc.delay(100, 0)
    qc.x(1)
    qc.measure(0, 0)
    return qc, small_target(2, x=160)


def _reset_then_gate(gate_after: bool):
    def build():
        qc = QuantumCircuit(3, 1)
        qc.x(0)
        qc.reset(0)
        qc.measure(1, 0)
        if gate_after:
            qc.x(0)
        return qc, small_target(3, x={0: 200, 1: 200}, measure={0: 600, 1: 700}, reset={0: 600, 1: 700})

    return build


def _repeated_active_reset():
    qc = QuantumCircuit(3, 2)
    qc.x(2)
    qc.cx(0, 1)
    qc.barrier()
    for _ in range(3):
        qc.measure(0, 0)
        with qc.if_test((0, 1)):
            qc.x(0)
    return qc, small_target(3, x=100, measure={0: 1000, 1: 1000}, cx={(0, 1): 500})


def _already_scheduled():
    qc = QuantumCircuit(3, 2)
    qc.cx(0, 1)
    qc.delay(400, 2)
    qc.x(2)
    qc.barrier()
    qc.measure(0, 0)
    qc.delay(1000, 1)
    qc.delay(1000, 2)
    qc.barrier()
    with qc.if_test((0, 1)):
        qc.x(0)
        qc.delay(100, 1)
        qc.delay(100, 2)
    qc.barrier()
    qc.measure(0, 0)
    qc.delay(1000, 1)
    qc.delay(1000, 2)
    qc.barrier()
    return qc, small_target(3, x=100, measure={0: 1000, 1: 1000}, cx={(0, 1): 500})


def _gate_on_measured_qubit():
    qc = QuantumCircuit(2, 1)
    qc.measure(0, 0)
    qc.x(0)
    qc.x(1)
    return qc, small_target(2)


def _grouped_measures_before_control_flow():
    qc = QuantumCircuit(3, 3)
    qc.measure(0, 0)
    qc.measure(1, 1)
    with qc.if_test((0, 1)):
        qc.x(2)
    with qc.if_test((1, 1)):
        qc.x(2)
    qc.measure(2, 2)
    return qc, small_target(3)


def _back_to_back_ifs():
    qc = QuantumCircuit(3, 1)
    qc.delay(800, 1)
    with qc.if_test((0, 1)):
        qc.x(1)
    with qc.if_test((0, 1)):
        qc.x(2)
    qc.delay(1000, 2)
    qc.x(1)
    return qc, small_target(3)


def _nested_ifs():
    qc = QuantumCircuit(4, 3)
    qc.x(0)
    with qc.if_test((0, 1)):
        qc.x(1)
        qc.measure(0, 1)
        with qc.if_test((1, 0)):
            qc.x(0)
            qc.measure(2, 2)
    qc.x(3)
    return qc, small_target(4)


def _loop(kind: str):
    def build():
        qc = QuantumCircuit(2, 1)
        qc.x(0)
        with qc.while_loop((0, 1)) if kind == "while" else qc.for_loop(range(2)):
            qc.x(1)
            qc.measure(0, 0)
        qc.x(0)
        return qc, small_target(2)

    return build


def _registers():
    qr = QuantumRegister(1, name="q")
    cr = ClassicalRegister(1)
    qc = QuantumCircuit(qr, cr)
    with qc.if_test((cr[0], True)):
        qc.x(qr[0])
    return qc, small_target(2)


def _measure_then_gate():
    qc = QuantumCircuit(3, 1)
    qc.measure(0, 0)
    qc.x(1)
    return qc, small_target(3)


def _fast_path_eligible():
    qc = QuantumCircuit(4, 3)
    qc.x(0)
    qc.delay(1500, 1)
    qc.delay(1500, 2)
    qc.x(3)
    qc.barrier(1, 2, 3)
    qc.measure(0, 0)
    qc.measure(1, 1)
    with qc.if_test((0, 1)):
        qc.x(0)
    with qc.if_test((1, 1)):
        qc.x(1)
    qc.x(0)
    qc.x(0)
    qc.x(1)
    qc.x(2)
    return qc, small_target(4)


def _idle_delays_pushed_late():
    qc = QuantumCircuit(4, 3)
    qc.cx(0, 1)
    qc.delay(700, 0)
    qc.delay(700, 2)
    qc.cx(1, 2)
    qc.delay(3560, 3)
    qc.barrier([0, 1, 2])
    qc.delay(1160, 0)
    qc.delay(1000, 2)
    qc.measure(1, 0)
    qc.delay(160, 1)
    with qc.if_test((0, 1)):
        qc.x(2)
    qc.barrier([0, 1, 2])
    qc.measure(0, 1)
    qc.delay(1000, 1)
    qc.measure(2, 2)
    return qc, small_target(4, x={0: 160, 1: 160, 2: 160}, measure={0: 1000, 1: 1000, 2: 1000},
                            cx={(0, 1): 700, (1, 2): 700})


def _zero_length_gate_before_barrier():
    qc = QuantumCircuit(3, 3)
    qc.rz(0, 2)
    qc.barrier()
    qc.measure(1, 0)
    return qc, small_target(3, x=None, rz=0, cx={(0, 1): 700, (1, 2): 700})


def _no_unused_qubits():
    qc = QuantumCircuit(3, 1)
    qc.measure(0, 0)
    qc.x(1)
    with qc.if_test((0, True)):
        qc.x(1)
    qc.measure(0, 0)
    with qc.if_test((0, True)):
        qc.x(0)
    qc.x(1)
    return qc, small_target(2)


def _switch_and_box():
    qc = QuantumCircuit(3, 2)
    qc.x(0)
    qc.measure(0, 0)
    qc.measure(1, 1)
    with qc.switch(qc.cregs[0]) as case:
        with case(0, 1):
            qc.x(2)
        with case(case.DEFAULT):
            qc.x(1)
            qc.measure(1, 1)
    with qc.box():
        qc.x(0)
        qc.x(2)
    qc.x(1)
    return qc, small_target(3)


def _expression_and_register_conditions():
    qr = QuantumRegister(3, "q")
    a, b = ClassicalRegister(2, "a"), ClassicalRegister(1, "b")
    qc = QuantumCircuit(qr, a, b)
    qc.measure(0, a[0])
    qc.measure(1, a[1])
    with qc.if_test((a, 2)):
        qc.x(0)
    qc.measure(2, b[0])
    with qc.if_test(classical.expr.logic_and(a[0], b[0])):
        qc.x(2)
    with qc.if_test((b, 1)):
        qc.x(2)
    return qc, small_target(3)


def _resets_and_delays_in_bodies():
    qc = QuantumCircuit(3, 2)
    qc.x(0)
    qc.measure(0, 0)
    with qc.if_test((0, 1)) as else_:
        qc.reset(1)
        qc.x(1)
        qc.delay(300, 2)
    with else_:
        qc.delay(0.5, 0, unit="us")
        qc.x(2)
    qc.reset(0)
    qc.reset(2)
    qc.x(1)
    return qc, small_target(3, reset=900)


def _wireless_control_flow():
    # A loop without any wire: the runtime's max() over no wires raises ValueError.
    qc = QuantumCircuit(2, 1)
    qc.x(0)
    with qc.for_loop(range(2)):
        pass
    qc.measure(0, 0)
    return qc, small_target(2)


def _jakarta(build: Callable[[], QuantumCircuit], layout: list[int], target: Target | None = None):
    def transpiled():
        from qiskit_ibm_runtime.fake_provider import FakeJakartaV2

        be = FakeJakartaV2()
        circuit = transpile(build(), be, initial_layout=layout, optimization_level=1, seed_transpiler=1)
        return circuit, target if target is not None else be.target

    return transpiled


def _loop_with_nested_if():
    qr, cr = QuantumRegister(3), ClassicalRegister(2)
    qc = QuantumCircuit(qr, cr)
    with qc.for_loop(range(2)):
        qc.x(qr[2])
        with qc.if_test((cr[0], 1)):
            qc.x(qr[1])
        qc.x(qr[0])
    return qc


def _both_paths():
    qr, cr = QuantumRegister(3), ClassicalRegister(2)
    qc = QuantumCircuit(qr, cr)
    qc.measure(qr[0], cr[0])
    with qc.if_test((cr[0], 1)):
        qc.x(qr[0])
    with qc.if_test((cr[0], 1)):
        qc.x(qr[1])
    return qc


def _two_qubit_gate_in_body():
    qc = QuantumCircuit(4, 1)
    qc.barrier()
    qc.measure(0, 0)
    with qc.if_test((0, True)):
        qc.cx(0, 1)
    return qc


def _transpiled_nested_fast_path():
    # Inside a body, an if right after the measurement it reads: the fast path, in a body whose
    # qubits (after transpiling) are not the circuit's own objects.
    qc = QuantumCircuit(3, 2)
    qc.h(0)
    qc.cx(0, 1)
    qc.measure(0, 0)
    with qc.if_test((qc.clbits[0], 1)):
        qc.x(1)
        qc.measure(1, 1)
        with qc.if_test((qc.clbits[1], 1)):
            qc.x(1)
        qc.cx(1, 2)
    qc.measure(2, 0)
    be = backend("sherbrooke")
    return transpile(qc, be, optimization_level=1, seed_transpiler=3), be.target


SCENARIOS: dict[str, Callable[[], Case]] = {
    "if-else-after-measure": _if_else_after_measure,
    "if-after-measure": _if_after_measure,
    "measure-after-measure": _measure_after_measure,
    "measure-group-not-block-end": _measure_group_not_block_end,
    "reset-ends-block": _reset_ends_block,
    "if-on-other-qubits": _if_on_other_qubits,
    "shorter-measure-after-measure": _shorter_measure_after_measure,
    "measure-after-if": _measure_after_if,
    "parallel-gates": _parallel_gates(False),
    "parallel-gates-barrier": _parallel_gates(True),
    "active-reset": _active_reset,
    "conditionals-on-one-bit": _conditionals_on_one_bit,
    "delay-gate-measure": _delay_gate_measure,
    "reset-terminates-block": _reset_then_gate(True),
    "reset-merged-with-measure": _reset_then_gate(False),
    "repeated-active-reset": _repeated_active_reset,
    "already-scheduled": _already_scheduled,
    "gate-on-measured-qubit": _gate_on_measured_qubit,
    "grouped-measures-before-control-flow": _grouped_measures_before_control_flow,
    "back-to-back-ifs": _back_to_back_ifs,
    "nested-ifs": _nested_ifs,
    "while-loop": _loop("while"),
    "for-loop": _loop("for"),
    "registers": _registers,
    "measure-then-gate": _measure_then_gate,
    "fast-path-eligible": _fast_path_eligible,
    "idle-delays-pushed-late": _idle_delays_pushed_late,
    "zero-length-gate-before-barrier": _zero_length_gate_before_barrier,
    "no-unused-qubits": _no_unused_qubits,
    "switch-and-box": _switch_and_box,
    "expression-and-register-conditions": _expression_and_register_conditions,
    "resets-and-delays-in-bodies": _resets_and_delays_in_bodies,
    "wireless-control-flow": _wireless_control_flow,
    "transpiled-loop-with-nested-if": _jakarta(_loop_with_nested_if, [0, 1, 2]),
    "transpiled-nested-fast-path": _transpiled_nested_fast_path,
    "transpiled-both-paths": _jakarta(
        _both_paths, [0, 1, 2], small_target(7, x={0: 250, 1: 160}, measure={0: 24992})
    ),
    "transpiled-body-durations-by-layout": _jakarta(
        _two_qubit_gate_in_body, [1, 3, 0, 2],
        small_target(7, x=None, measure={0: 2760, 1: 2760}, cx={(0, 1): 250, (1, 3): 4000}),
    ),
}


def _body(qc: QuantumCircuit, rng: random.Random, qubits: list[int], depth: int) -> None:
    for _ in range(rng.randint(1, 4)):
        k = rng.random()
        q = rng.choice(qubits)
        if k < 0.5:
            rng.choice([qc.x, qc.sx, qc.h])(q)
        elif k < 0.65 and len(qubits) > 1:
            qc.cx(*rng.sample(qubits, 2))
        elif k < 0.75:
            qc.measure(q, q)
        elif k < 0.8:
            qc.reset(q)
        elif k < 0.85:
            qc.delay(rng.choice([16, 160]), q)
        elif depth < 2:
            with qc.if_test((qc.clbits[q], 1)):
                _body(qc, rng, qubits, depth + 1)
        else:
            qc.x(q)


def random_dynamic_circuit(seed: int, n_qubits: int = 6, n_layers: int = 12, every: int = 3) -> QuantumCircuit:
    """Layers of one- and two-qubit gates with, every `every` layers, a mid-circuit measurement
    followed by one of: an if (fast-path shape), an if/else, a for loop or a switch over random
    bodies (gates, measurements, resets, delays, nested ifs), a reset, or a second measurement.
    Random partial barriers and resets appear between layers."""
    rng = random.Random(seed)
    qc = QuantumCircuit(n_qubits, n_qubits)
    for layer in range(n_layers):
        for q in range(n_qubits):
            if rng.random() < 0.8:
                rng.choice([qc.h, qc.x, qc.sx])(q)
        for q in range(rng.randint(0, 1), n_qubits - 1, 2):
            if rng.random() < 0.6:
                qc.cx(q, q + 1)
        if rng.random() < 0.15:
            qc.barrier(*rng.sample(range(n_qubits), rng.randint(1, n_qubits)))
        if layer % every != every - 1:
            continue
        q = rng.randrange(n_qubits)
        other = (q + 1) % n_qubits
        qc.measure(q, q)
        kind = rng.random()
        if kind < 0.3:
            with qc.if_test((qc.clbits[q], 1)):
                qc.x(q)
        elif kind < 0.5:
            with qc.if_test((qc.clbits[q], 1)) as else_:
                _body(qc, rng, [q, other], 0)
            with else_:
                _body(qc, rng, [q, other], 0)
        elif kind < 0.65:
            with qc.for_loop(range(2)):
                _body(qc, rng, [q, other], 0)
        elif kind < 0.8:
            with qc.switch(qc.clbits[q]) as case:
                with case(0):
                    _body(qc, rng, [other], 0)
                with case(case.DEFAULT):
                    _body(qc, rng, [q], 0)
        elif kind < 0.9:
            qc.reset(q)
        else:
            qc.measure(other, other)
    return qc


@functools.cache
def backend(name: str):
    from qiskit_ibm_runtime.fake_provider import FakeSherbrooke, FakeTorino

    return {"torino": FakeTorino, "sherbrooke": FakeSherbrooke}[name]()


@functools.cache
def transpiled_case(name: str, seed: int) -> Case:
    """A random dynamic circuit transpiled to the named device at optimization level 1."""
    be = backend(name)
    circuit = transpile(random_dynamic_circuit(seed), be, optimization_level=1, seed_transpiler=seed)
    return circuit, be.target


RANDOM = [(name, seed) for name in ("torino", "sherbrooke") for seed in range(6)]


def case(case_id: str) -> Case:
    """The circuit and target of a case id: a scenario name, or "<device>-<seed>"."""
    if case_id in SCENARIOS:
        return SCENARIOS[case_id]()
    name, seed = case_id.rsplit("-", 1)
    return transpiled_case(name, int(seed))


CASE_IDS = list(SCENARIOS) + [f"{name}-{seed}" for name, seed in RANDOM]


def labelled(circuit: QuantumCircuit) -> QuantumCircuit:
    """A copy of `circuit` whose every instruction, control flow and body instructions included,
    has a label of its own."""
    out = circuit.copy_empty_like()
    for i, inst in enumerate(circuit.data):
        op = inst.operation
        op = op.replace_blocks([labelled(b) for b in op.blocks]) if isinstance(op, ControlFlowOp) else op.to_mutable()
        op.label = f"{op.name}-{i}"
        out._append(inst.replace(operation=op))
    return out


def labels(circuit: QuantumCircuit) -> list:
    """Every block's labels with their instructions' names, bodies nested, in an order that does
    not depend on the order of independent instructions."""
    rows = [(inst.name, inst.label or "", [labels(b) for b in getattr(inst.operation, "blocks", ())])
            for inst in circuit.data]
    return sorted(rows, key=repr)
