"""Calls of every `_native` function, good and hostile: shared by the argument, reference-count and
allocation-failure tests.

Each case makes its call's arguments afresh (`make()` -> (function, args, kwargs)), so that a
test can call it many times or watch the arguments' reference counts. The calls of the entries in
ONE_CALL_EACH write into their arguments: `calls` gives a repeating test new ones for each call.
"""

from __future__ import annotations

import array
import copy
import dataclasses
import datetime
import functools
import types
from typing import Any, Callable, NamedTuple

import dynamic_circuits
from conftest import backend, transpiled
from dynamic_circuits import small_target
from qiskit import QuantumCircuit
from qiskit.circuit import Gate
from qiskit.circuit.library import XGate
from qiskit.converters import circuit_to_dag, dag_to_circuit
from qiskit.dagcircuit import DAGCircuit
from qiskit.passmanager.compilation_status import PropertySet
from qiskit.transpiler import CouplingMap
from qiskit.transpiler.exceptions import TranspilerError
from qiskit.transpiler.passes import ALAPScheduleAnalysis

import tarvex_qiskit
from _tarvex import QuantumDAG
from tarvex_qiskit import _native, _requests, _timing
from tarvex_qiskit.ibm import decoupling, scheduling

X, CX, RZ = 3, 22, 10  # QkGate values


class Case(NamedTuple):
    make: Callable[[], tuple[Callable[..., Any], tuple, dict]]
    error: type[BaseException] | None = None
    message: str | None = None  # the whole message; a text ending in ": " is a prefix
    nomemory: bool = False  # run in the allocation-failure tests


def dag():
    return circuit_to_dag(transpiled("qft"))


@functools.cache
def table():
    return _native.duration_table(_timing.duration_entries(backend().target.durations()))


def pad_request(drop_in: bool = False, **changes: Any) -> dict[str, Any]:
    """The fields of the request the native DD pass makes for a QFT, with `changes`."""
    the_dag = dag()
    dd = tarvex_qiskit.PadDynamicalDecoupling(target=backend().target, dd_sequence=[XGate(), XGate()])
    dd.property_set = PropertySet()
    if drop_in:
        analysis = ALAPScheduleAnalysis(target=backend().target)
        analysis.property_set = dd.property_set
        analysis.run(the_dag)
    request, _ = dd._pad_request(the_dag, drop_in, True)
    return vars(dataclasses.replace(request, **changes))


def pad(drop_in: bool = False, **changes: Any) -> Callable[[], tuple]:
    return lambda: (_native.pad, (), pad_request(drop_in, **changes))


def options_fields(**changes: Any) -> dict[str, Any]:
    """The fields of the options the native DD pass binds for the test backend, with `changes`."""
    dd = tarvex_qiskit.PadDynamicalDecoupling(target=backend().target, dd_sequence=[XGate(), XGate()])
    n = backend().num_qubits
    return vars(dataclasses.replace(dd._pass_options(backend().target.durations(), n, [True] * n), **changes))


def bound(**changes: Any) -> Any:
    """Those options bound, for a call's `options`."""
    return _native.pad_options(**options_fields(**changes))


def options(**changes: Any) -> Callable[[], tuple]:
    return lambda: (_native.pad_options, (), options_fields(**changes))


def pad_circuit_request(**changes: Any) -> dict[str, Any]:
    """The fields of the request the direct path makes for a QFT with [x, x] DD, with `changes`."""
    circuit = transpiled("qft")
    dd = tarvex_qiskit.PadDynamicalDecoupling(target=backend().target, dd_sequence=[XGate(), XGate()])
    durations, durations_table, options = dd._options(circuit.num_qubits)
    request = _requests.PadCircuitRequest(
        circuit=circuit._data,
        durations=durations_table,
        dt=durations.dt,
        scheduling="alap",
        options=options,
        record=True,
        labelled=[],
        barriers=False,
    )
    return vars(dataclasses.replace(request, **changes))


def pad_circuit(**changes: Any) -> Callable[[], tuple]:
    return lambda: (_native.pad_circuit, (), pad_circuit_request(**changes))


def entries(*entries: Any) -> Callable[[], tuple]:
    return lambda: (_native.duration_table, (list(entries),), {})


def to_request(**changes: Any) -> dict[str, Any]:
    request = _requests.ToQuantumDagRequest(source=dag(), is_dag=True, durations=table(), delays={}, dt_ns=1.0)
    return vars(dataclasses.replace(request, **changes))


def to_graph(**changes: Any) -> Callable[[], tuple]:
    return lambda: (_native.to_quantum_dag, (), to_request(**changes))


def scheduled_graph() -> QuantumDAG:
    graph = QuantumDAG()
    for name, qubits, duration in [("x", [0], 10.0), ("cx", [0, 1], 20.0), ("measure", [1], 30.0), ("x", [1], 5.0)]:
        graph.add_gate(name, qubits, duration)
    graph.build_schedule()
    return graph


def qft_graph() -> QuantumDAG:
    graph = tarvex_qiskit.to_quantum_dag(transpiled("qft"), backend().target, unit="dt")
    graph.build_schedule()
    return graph


def from_request(**changes: Any) -> dict[str, Any]:
    request = _requests.FromQuantumDagRequest(graph=scheduled_graph(), source=None, num_qubits=None, num_clbits=None, in_dt=False)
    return vars(dataclasses.replace(request, **changes))


def from_graph(**changes: Any) -> Callable[[], tuple]:
    return lambda: (_native.from_quantum_dag, (), from_request(**changes))


class Export:
    """A graph-like object whose get_all_nodes returns `nodes` and whose schedule is `times`."""

    def __init__(self, nodes: Any, times: Any = (0.0, 1.0)):
        self.nodes, self.times = nodes, times

    def get_all_nodes(self) -> Any:
        return self.nodes

    def get_node_schedule(self, node_id: int) -> Any:
        return self.times


def not_a_dag_pad() -> tuple:
    request = pad_request()
    request["dag"] = QuantumCircuit(1)
    return _native.pad, (), request



# ---- the dynamic-circuit entry points: their calls as the IBM passes make them ------------------


class _Caught(Exception):
    pass


def captured(run: Callable[[], Any], module: Any = _requests, name: str = "call") -> Any:
    """What `run` (a pass's run) hands to `module.name` (by default the request of its native call),
    caught before the call is made: (args, kwargs)."""
    seen = []

    def catch(*args: Any, **kwargs: Any) -> Any:
        seen.append((args, kwargs))
        raise _Caught

    original = getattr(module, name)
    setattr(module, name, catch)
    try:
        run()
    except _Caught:
        pass
    finally:
        setattr(module, name, original)
    return seen[0]


def dynamic_dag(label: str | None = None) -> DAGCircuit:
    """A tiny dynamic circuit: a measurement, an if_test whose body acts on both qubits (so that
    its order comes from writer.topological), a barrier (labelled `label`) and a gate."""
    qc = QuantumCircuit(2, 1)
    qc.x(1)
    qc.measure(0, 0)
    with qc.if_test((0, True)):
        qc.x(0)
        qc.x(1)
    qc.barrier(label=label)
    qc.x(1)
    return circuit_to_dag(qc)


@functools.cache
def dynamic_target():
    return small_target(2)


def run_pass(dynamic_pass: Any, dag: DAGCircuit, property_set: PropertySet | None = None) -> Any:
    dynamic_pass.property_set = PropertySet() if property_set is None else property_set
    return dynamic_pass.run(dag)


def in_topological_order(dag: DAGCircuit) -> Any:
    """A block_ordering_callable: the runtime's order, from Python."""
    yield from dag.topological_op_nodes()


def scenario_dag(scenario: str | None) -> tuple[DAGCircuit, Any]:
    """The DAG and target of a scenario of dynamic_circuits, every instruction labelled; None: the
    tiny dynamic circuit, and "custom gate": it with a gate of its own, which only the runtime's
    passes copy."""
    if scenario is None:
        return dynamic_dag(), dynamic_target()
    if scenario == "custom gate":
        qc = dag_to_circuit(dynamic_dag())
        qc.append(Gate("mine", 1, []), [0])
        return circuit_to_dag(qc), dynamic_target()
    circuit, target = dynamic_circuits.case(scenario)
    return circuit_to_dag(dynamic_circuits.labelled(circuit)), target


@functools.cache
def dynamic_template(how: str, scenario: str | None = None, ordered: bool = False) -> dict[str, Any]:
    """The fields of the request PadDelay (fused or drop-in) or the ALAP analysis makes for the
    tiny dynamic circuit or a scenario's, with a custom ordering or the default: made once, and
    never called with (see `renewed`)."""
    dag, target = scenario_dag(scenario)
    ordering = in_topological_order if ordered else None
    if how == "analysis":
        run = lambda: run_pass(scheduling.ALAPScheduleAnalysis(ordering, target=target), dag)  # noqa: E731
    else:
        ps = PropertySet()
        if how == "drop-in":
            run_pass(scheduling.ALAPScheduleAnalysis(target=target), dag, ps)
        run = lambda: run_pass(scheduling.PadDelay(block_ordering_callable=ordering, target=target), dag, ps)  # noqa: E731
    (request,), _ = captured(run)
    return vars(request)


def renewed(template: dict[str, Any]) -> dict[str, Any]:
    """A dynamic entry's request with a writer, circuits and output of its own, as the pass that
    made `template` would make them for another run on its DAG: a copy of the template's writer
    with its callbacks' state (every list and dict of it) empty, and the circuits converted anew.
    Renewing, rather than running the pass again, keeps the pass's own work out of the repeated
    calls: the DD pass checks its sequences with NumPy, whose release build moves a debug
    interpreter's reference total."""
    writer = copy.copy(template["writer"])
    for name, value in vars(writer).items():
        if isinstance(value, (list, dict)):
            setattr(writer, name, type(value)())
    top, out = scheduling._native_circuits(writer.dag, writer, writer.keep_labels, template["out"] is not None)
    return {**template, "top": top, "out": out, "writer": writer}


def dynamic_request(how: str = "fused", scenario: str | None = None, ordered: bool = False,
                    **changes: Any) -> dict[str, Any]:
    """That request, with `changes`; its writer and circuits new."""
    return {**renewed(dynamic_template(how, scenario, ordered)), **changes}


def dynamic(how: str = "fused", scenario: str | None = None, **changes: Any) -> Callable[[], tuple]:
    return lambda: (_native.dynamic, (), dynamic_request(how, scenario, **changes))


def custom_ordered(how: str = "fused") -> Callable[[], tuple]:
    return lambda: (_native.dynamic, (), dynamic_request(how, ordered=True))


@functools.cache
def decoupling_template(drop_in: bool = False, label: str | None = None, coupling: tuple | None = None,
                        scenario: str | None = None, **options: Any) -> dict[str, Any]:
    """The fields of the request PadDynamicalDecoupling ([x, x], staggered on the edges
    `coupling`, and `options`) makes for the tiny dynamic circuit (its barrier labelled `label`) or
    a scenario's, fused or drop-in: made once, and never called with (see `renewed`)."""
    dag, target = (dynamic_dag(label), dynamic_target()) if scenario is None else scenario_dag(scenario)
    ps = PropertySet()
    if drop_in:
        run_pass(scheduling.ALAPScheduleAnalysis(target=target), dag, ps)
    if coupling is not None:
        options["coupling_map"] = CouplingMap([list(edge) for edge in coupling])
    dd = decoupling.PadDynamicalDecoupling([XGate(), XGate()], target=target, **options)
    (request,), _ = captured(lambda: run_pass(dd, dag, ps))
    return vars(request)


def decoupling_request(drop_in: bool = False, label: str | None = None, **options: Any) -> dict[str, Any]:
    """That request, its writer and circuits new."""
    return renewed(decoupling_template(drop_in, label, **options))


def dd(drop_in: bool = False, label: str | None = None, options: dict | None = None, **changes: Any) -> Callable[[], tuple]:
    return lambda: (_native.dynamic_decoupling, (), {**decoupling_request(drop_in, label, **(options or {})), **changes})


def colouring_call(edges: list[list[int]]) -> tuple[tuple, dict]:
    """The arguments the DD pass's staggering gives greedy_colouring for a coupling map."""
    dd = decoupling.PadDynamicalDecoupling([XGate(), XGate()], target=dynamic_target(), coupling_map=CouplingMap(edges))
    return captured(lambda: dd._colours(4), _native, "greedy_colouring")


def colouring(*args: Any, **kwargs: Any) -> Callable[[], tuple]:
    return lambda: (_native.greedy_colouring, args, kwargs)


_RAISE = object()


def writer_failing(name: str, value: Any = _RAISE, dd_fields: bool = False, barrier: bool = False,
                   answer: Callable[..., Any] | None = None, **request: Any) -> Callable[[], tuple]:
    """The fused PadDelay call (or, with `dd_fields`, the DD call, before a named barrier with
    `barrier`; else with dynamic_request's `request` options) whose writer's callback `name`
    raises RuntimeError, or returns `value`, or what `answer(writer, *args)` returns."""

    def callback(self: Any, *args: Any) -> Any:
        if answer is not None:
            return answer(self, *args)
        if value is _RAISE:
            raise RuntimeError(f"{name} refused")
        return value

    failing = functools.cache(lambda cls: type("FailingWriter", (cls,), {name: callback}))

    def make() -> tuple:
        if dd_fields:
            request = decoupling_request(label="dd", dd_barrier="dd") if barrier else decoupling_request()
        else:
            request = dynamic_request(**options)
        writer = request["writer"]
        writer.__class__ = failing(type(writer))
        return (_native.dynamic_decoupling if dd_fields else _native.dynamic), (), request

    options = request

    return make


def gapped_body_dag(writer: Any, cf: int, k: int) -> DAGCircuit:
    """The DAG of body k of `cf` with as many operation nodes as the body, but not numbered in a
    row: three gates were added after its first instruction, and removed."""
    body = writer.ops[cf].blocks[k]
    qc = body.copy_empty_like()
    first, *rest = body.data
    qc.append(first)
    for _ in range(3):
        qc.x(0)
    for instruction in rest:
        qc.append(instruction)
    out = circuit_to_dag(qc)
    for node in list(out.topological_op_nodes())[1:4]:
        out.remove_op_node(node)
    return out


def narrower_body(writer: Any, cf: int, k: int, fast_path: bool, n_qubits: int) -> QuantumCircuit:
    """The body the writer would give, one qubit short."""
    return QuantumCircuit(n_qubits - 1, writer.ops[cf].blocks[k].num_clbits)


@functools.cache
def labelled_pulses_template() -> dict[str, Any]:
    """The request of the DD call on a circuit where a pair of pulses goes in place of a delay:
    made once, and never called with (see `renewed`)."""
    qc = QuantumCircuit(2, 1)
    qc.x(1)
    qc.delay(1000, 1)
    qc.x(1)
    qc.measure(0, 0)
    dd = decoupling.PadDynamicalDecoupling([XGate(), XGate()], target=dynamic_target(), pulse_alignment=1)
    (request,), _ = captured(lambda: run_pass(dd, circuit_to_dag(qc)))
    return vars(request)


def _refuse_pulse_labels(self: Any, *args: Any) -> None:
    raise RuntimeError("label_pulses refused")


_REFUSING_LABELS = functools.cache(lambda cls: type("FailingWriter", (cls,), {"label_pulses": _refuse_pulse_labels}))


def labelled_pulses(flags: Any, fails: bool = False) -> Callable[[], tuple]:
    """The DD call whose writer says which pulse gates are labelled with `flags`, and whose
    label_pulses raises RuntimeError with `fails`."""

    def make() -> tuple:
        request = renewed(labelled_pulses_template())
        writer = request["writer"]
        writer.labelled_pulses, writer.pulse_labels = flags, ("dd",) * len(request["gates"])
        if fails:
            writer.__class__ = _REFUSING_LABELS(type(writer))
        return _native.dynamic_decoupling, (), request

    return make


def given(blocks: bytes | None = None, starts: bytes | None = None) -> Callable[[], tuple]:
    """The drop-in call with its start times' buffers replaced."""
    def make() -> tuple:
        request = dynamic_request("drop-in")
        b, s = request["given"]
        request["given"] = (b if blocks is None else blocks, s if starts is None else starts)
        return _native.dynamic, (), request
    return make

BIG = 2**40
GOOD = {
    "pad fused": Case(pad(), nomemory=True),
    "pad drop-in": Case(pad(True), nomemory=True),
    "pad labelled": Case(pad(labelled=[0, 12, 2**31]), nomemory=True),
    "pad from registers": Case(pad(registers=[("q", 7, True), ("meas", 5, False)]), nomemory=True),
    "pad_circuit": Case(pad_circuit(), nomemory=True),
    "pad_options": Case(options(), nomemory=True),
    "pad_options delays only": Case(options(decouple=False, sequence=[], pulse_durations=[]), nomemory=True),
    "pad_circuit labelled and barriers": Case(pad_circuit(labelled=[0, 5, 2**31], barriers=True), nomemory=True),
    "pad_circuit delays": Case(pad_circuit(scheduling="asap", circuit=transpiled("random-dt-delays")._data), nomemory=True),
    "duration_table": Case(entries(("x", [0], 160), ("cx", (0, 1), 800), ("measure", None, 1600)), nomemory=True),
    "to_quantum_dag dag": Case(to_graph(), nomemory=True),
    "to_quantum_dag circuit": Case(
        to_graph(source=transpiled("random")._data, is_dag=False, durations=table(), dt_ns=0.2222), nomemory=True
    ),
    "from_quantum_dag": Case(from_graph(), nomemory=True),
    "from_quantum_dag source": Case(
        lambda: (_native.from_quantum_dag, (), from_request(graph=qft_graph(), source=transpiled("qft")._data, in_dt=True)),
        nomemory=True,
    ),
    # the dynamic-circuit passes
    "dynamic fused": Case(dynamic(), nomemory=True),
    "dynamic drop-in": Case(dynamic("drop-in"), nomemory=True),
    "dynamic analysis": Case(dynamic("analysis"), nomemory=True),
    "dynamic without labels, idle qubits padded": Case(dynamic(keep_labels=False, schedule_idle_qubits=True), nomemory=True),
    "dynamic custom order": Case(custom_ordered(), nomemory=True),
    "dynamic analysis custom order": Case(custom_ordered("analysis"), nomemory=True),
    "dynamic custom gate, refused": Case(dynamic(scenario="custom gate"), nomemory=True),
    "dynamic switch and box": Case(dynamic(scenario="switch-and-box"), nomemory=True),
    "dynamic expression and register conditions": Case(dynamic(scenario="expression-and-register-conditions"), nomemory=True),
    "dynamic loop with nested if, transpiled": Case(dynamic(scenario="transpiled-loop-with-nested-if"), nomemory=True),
    "dynamic nested fast path, transpiled": Case(dynamic(scenario="transpiled-nested-fast-path"), nomemory=True),
    "dynamic registers drop-in": Case(dynamic("drop-in", scenario="registers"), nomemory=True),
    "dynamic resets and delays in bodies": Case(dynamic(scenario="resets-and-delays-in-bodies"), nomemory=True),
    # the direct path: the root read in its own order, every block written in its DAG's order
    "dynamic in its own order": Case(dynamic(in_own_order=True), nomemory=True),
    "dynamic in its own order, nested fast path, transpiled": Case(
        dynamic(scenario="transpiled-nested-fast-path", in_own_order=True), nomemory=True),
    "dynamic_decoupling fused": Case(dd(), nomemory=True),
    "dynamic_decoupling drop-in": Case(dd(True), nomemory=True),
    "dynamic_decoupling fused with pulses": Case(dd(options=dict(skip_reset_qubits=False, sequence_min_length_ratios=1)), nomemory=True),
    "dynamic_decoupling in its own order, with pulses": Case(
        dd(options=dict(skip_reset_qubits=False, sequence_min_length_ratios=1), in_own_order=True), nomemory=True),
    "dynamic_decoupling loop with nested if, transpiled": Case(dd(options=dict(scenario="transpiled-loop-with-nested-if")), nomemory=True),
    "dynamic_decoupling switch and box, drop-in": Case(dd(True, options=dict(scenario="switch-and-box")), nomemory=True),
    "dynamic_decoupling staggered before a named barrier": Case(
        dd(label="dd", options=dict(coupling=((0, 1),), dd_barrier="dd")), nomemory=True
    ),
    "dynamic_decoupling labelled pulses": Case(labelled_pulses(b"\x01\x00"), nomemory=True),
    "greedy_colouring": Case(lambda: (_native.greedy_colouring, *colouring_call([[0, 1], [1, 2], [2, 3], [3, 0]])), nomemory=True),
    "greedy_colouring nothing": Case(colouring(0, edges=[]), nomemory=True),
}

HOSTILE = {
    # binding
    "pad no arguments": Case(lambda: (_native.pad, (), {}), TypeError, "pad() missing 1 required positional argument: 'dag'"),
    "pad only the dag": Case(
        lambda: (_native.pad, (dag(),), {}),
        TypeError,
        "pad() missing 5 required keyword-only arguments: 'durations', 'delays', 'scheduling', 'start_times', "
        "and 'options'",
    ),
    "pad two positional": Case(lambda: (_native.pad, (dag(), dag()), {}), TypeError, "pad() takes 1 positional arguments but 2 were given"),
    "pad unknown keyword": Case(lambda: (_native.pad, (), {**pad_request(), "bogus": 1}), TypeError, "pad() got an unexpected keyword argument 'bogus'"),
    "duration_table keyword": Case(lambda: (_native.duration_table, (), {"rows": []}), TypeError, "duration_table() got an unexpected keyword argument 'rows'"),
    # pad: a DAG of another Qiskit object, and every field wrong
    "pad circuit as dag": Case(not_a_dag_pad, TypeError, "argument 'dag': 'QuantumCircuit' object cannot be cast as 'DAGCircuit'"),
    "pad circuit data as dag": Case(pad(dag=transpiled("qft")._data), TypeError, "argument 'dag': 'CircuitData' object cannot be cast as 'DAGCircuit'"),
    "pad list as durations": Case(pad(durations=[]), TypeError, "argument 'durations': 'list' object cannot be cast as 'DurationTable'"),
    "pad foreign capsule": Case(pad(durations=datetime.datetime_CAPI), TypeError, "argument 'durations': 'PyCapsule' object cannot be cast as 'DurationTable'"),
    "pad fractional durations": Case(pad(durations=_native.duration_table([("x", None, 1.5)])), ValueError, "argument 'durations': not every duration is a whole number of dt up to 2**53"),
    "pad delays list": Case(pad(delays=[]), TypeError, "argument 'delays': 'list' object cannot be cast as 'dict'"),
    "pad delay id negative": Case(pad(delays={-1: 5}), OverflowError),
    "pad delay id huge": Case(pad(delays={BIG: 5}), OverflowError, "argument 'delays': 1099511627776 is beyond Qiskit's indices (up to 2**32 - 1)"),
    "pad delay fractional": Case(pad(delays={1: 1.5}), ValueError, "argument 'delays': 1.5 is not a whole number of dt from 0 to 2**53"),
    "pad delay huge": Case(pad(delays={1: 2**60}), ValueError, "argument 'delays': 1.152921504606847e+18 is not a whole number of dt from 0 to 2**53"),
    "pad delay nan": Case(pad(delays={1: float("nan")}), ValueError, "argument 'delays': nan is not a whole number of dt from 0 to 2**53"),
    "pad scheduling unknown": Case(pad(scheduling="later"), ValueError, "argument 'scheduling': must be 'alap', 'asap' or 'given'"),
    "pad scheduling int": Case(pad(scheduling=5), TypeError, "argument 'scheduling': 'int' object cannot be cast as 'str'"),
    "pad start times without given": Case(pad(start_times={}), ValueError, "argument 'start_times': a mapping is needed when scheduling is 'given', and None otherwise"),
    "pad given without start times": Case(pad(scheduling="given"), ValueError, "argument 'start_times': a mapping is needed when scheduling is 'given', and None otherwise"),
    "pad start times int": Case(pad(True, start_times=5), TypeError, "argument 'start_times': 'int' object cannot be cast as 'Mapping'"),
    "pad start time key": Case(pad(True, start_times={object(): 5}), AttributeError),
    "pad start time negative": Case(lambda: (_native.pad, (), (lambda r: {**r, "start_times": {k: -1 for k in r["start_times"]}})(pad_request(True))), ValueError, "argument 'start_times': -1.0 is not a whole number of dt from 0 to 2**53"),
    "pad start times missing": Case(pad(True, start_times={}), TranspilerError),
    "pad_options no arguments": Case(lambda: (_native.pad_options, (), {}), TypeError, "pad_options() missing 1 required positional argument: 'qubits'"),
    "pad options unbound": Case(pad(options=options_fields()), TypeError, "argument 'options': 'dict' object cannot be cast as 'PadOptions'"),
    "pad options a table": Case(pad(options=table()), TypeError, "argument 'options': 'PyCapsule' object cannot be cast as 'PadOptions'"),
    "pad_options qubits str": Case(options(qubits="abc"), TypeError, "argument 'qubits': 'str' object cannot be cast as 'bytes'"),
    "pad qubits short": Case(
        lambda: (_native.pad, (), pad_request(options=bound(qubits=b"\x03", pulse_durations=[160.0, 160.0]))),
        ValueError,
        "argument 'options': 1 entries where 7 are needed, one qubit entry per qubit of the DAG",
    ),
    "pad_options flag int": Case(options(decouple=1), TypeError, "argument 'decouple': 'int' object cannot be cast as 'bool'"),
    "pad_options alignment zero": Case(options(alignment=0), ValueError, "argument 'alignment': 0.0 is not a whole number of dt from 1 to 2**53"),
    "pad_options alignment inf": Case(options(alignment=float("inf")), ValueError, "argument 'alignment': inf is not a whole number of dt from 1 to 2**53"),
    "pad_options alignment str": Case(options(alignment="16"), TypeError, "argument 'alignment': "),
    "pad_options split int": Case(options(split=3), TypeError, "argument 'split': 'int' object cannot be cast as 'str'"),
    "pad split refused": Case(lambda: (_native.pad, (), pad_request(options=bound(split="left"))), TranspilerError, "extra_slack_distribution must be 'middle' or 'edges'"),
    "pad_options spacing negative": Case(options(spacing=[0.5, -0.1, 0.6]), ValueError, "argument 'spacing': -0.1 is not a fraction from 0 to 1"),
    "pad_options spacing str": Case(options(spacing="ab"), TypeError, "argument 'spacing': Can't extract `str` to `Vec`"),
    "pad_options sequence not a gate": Case(options(sequence=[(200, ()), (X, ())]), ValueError, "argument 'sequence': 200 is not a standard gate on one qubit"),
    "pad_options sequence two qubits": Case(options(sequence=[(CX, ()), (X, ())]), ValueError, "argument 'sequence': 22 is not a standard gate on one qubit"),
    "pad_options sequence negative": Case(options(sequence=[(-1, ()), (X, ())]), OverflowError),
    "pad_options sequence parameters": Case(options(sequence=[(X, (1.0,)), (X, ())]), ValueError, "argument 'sequence': gate 3 takes 0 parameters, 1 given"),
    "pad_options sequence missing parameter": Case(options(sequence=[(RZ, ()), (X, ())]), ValueError, "argument 'sequence': gate 10 takes 1 parameters, 0 given"),
    "pad_options sequence item": Case(options(sequence=[5, 5]), TypeError, "argument 'sequence': 'int' object cannot be cast as 'tuple'"),
    "pad_options pulses short": Case(options(pulse_durations=[160.0]), ValueError, "argument 'pulse_durations': 1 entries where 14 are needed, one per qubit and pulse"),
    "pad_options pulse fractional": Case(options(pulse_durations=[160.5] * 14), ValueError, "argument 'pulse_durations': 160.5 is not a whole number of dt from 0 to 2**53"),
    "pad_options phase nan": Case(options(phase=float("nan")), ValueError, "argument 'phase': nan is not a finite number"),
    "pad record str": Case(pad(record="yes"), TypeError, "argument 'record': 'str' object cannot be cast as 'bool'"),
    "pad registers int": Case(pad(registers=5), TypeError, "argument 'registers': "),
    "pad registers short item": Case(pad(registers=[("q", 7)]), TypeError, "argument 'registers': each item is a (name, size, quantum) tuple"),
    "pad registers too few bits": Case(pad(registers=[("q", 6, True), ("meas", 5, False)]), ValueError, "argument 'registers': 6 qubits and 5 clbits in the registers, where the DAG has 7 and 5"),
    "pad register name with nul": Case(pad(registers=[("q\0", 7, True), ("meas", 5, False)]), ValueError, "argument 'registers': a register's name holds a NUL character"),
    "pad labelled huge": Case(pad(labelled=[2**33]), OverflowError, "argument 'labelled': 8589934592 is beyond Qiskit's indices (up to 2**32 - 1)"),
    "pad labelled str": Case(pad(labelled=["a"]), TypeError, "argument 'labelled': "),
    # pad_circuit: its own fields; the options are bound as pad's
    "pad_circuit dag as circuit": Case(pad_circuit(circuit=dag()), TypeError, "argument 'circuit': 'DAGCircuit' object cannot be cast as 'CircuitData'"),
    "pad_circuit scheduling given": Case(pad_circuit(scheduling="given"), ValueError, "argument 'scheduling': must be 'alap' or 'asap'"),
    "pad_circuit dt str": Case(pad_circuit(dt="4e-9"), TypeError, "argument 'dt': "),
    "pad_circuit qubits short": Case(
        lambda: (_native.pad_circuit, (), pad_circuit_request(options=bound(qubits=b"\x03", pulse_durations=[160.0, 160.0]))),
        ValueError,
        "argument 'options': 1 entries where 7 are needed, one qubit entry per qubit of the circuit",
    ),
    "pad_circuit barriers int": Case(pad_circuit(barriers=1), TypeError, "argument 'barriers': 'int' object cannot be cast as 'bool'"),
    "pad_circuit split refused": Case(lambda: (_native.pad_circuit, (), pad_circuit_request(options=bound(split="left"))), TranspilerError, "extra_slack_distribution must be 'middle' or 'edges'"),
    # duration_table
    "table int": Case(lambda: (_native.duration_table, (5,), {}), TypeError, "argument 'entries': 'int' object cannot be cast as 'list'"),
    "table short entry": Case(entries(("x",)), ValueError, "argument 'entries': item 0 is not a (name, qubits or None, duration) tuple"),
    "table name int": Case(entries((5, None, 1)), TypeError, "argument 'entries': 'int' object cannot be cast as 'str'"),
    "table qubits str": Case(entries(("x", "01", 1)), TypeError, "argument 'entries': Can't extract `str` to `Vec`"),
    "table qubit huge": Case(entries(("x", [2**32], 1)), OverflowError, "argument 'entries': 4294967296 is beyond Qiskit's indices (up to 2**32 - 1)"),
    "table qubit negative": Case(entries(("x", [-1], 1)), OverflowError),
    "table duration negative": Case(entries(("x", None, -1)), ValueError, "argument 'entries': the duration of x is -1.0, not a finite number from 0 up"),
    "table duration nan": Case(entries(("x", None, float("nan"))), ValueError, "argument 'entries': the duration of x is nan, not a finite number from 0 up"),
    "table duration str": Case(entries(("x", None, "1")), TypeError, "argument 'entries': "),
    # to_quantum_dag
    "to dag as circuit": Case(to_graph(is_dag=False), TypeError, "argument 'source': 'DAGCircuit' object cannot be cast as 'CircuitData'"),
    "to circuit as dag": Case(to_graph(source=transpiled("qft")._data), TypeError, "argument 'source': 'CircuitData' object cannot be cast as 'DAGCircuit'"),
    "to is_dag int": Case(to_graph(is_dag=1), TypeError, "argument 'is_dag': 'int' object cannot be cast as 'bool'"),
    "to durations list": Case(to_graph(durations=[]), TypeError, "argument 'durations': 'list' object cannot be cast as 'DurationTable'"),
    "to delays list": Case(to_graph(delays=[]), TypeError, "argument 'delays': 'list' object cannot be cast as 'dict'"),
    "to delay not a pair": Case(to_graph(delays={1: 5}), TypeError, "argument 'delays': 'int' object cannot be cast as 'tuple'"),
    "to delay id huge": Case(to_graph(delays={BIG: (1.0, "ns")}), OverflowError, "argument 'delays': 1099511627776 is beyond Qiskit's indices (up to 2**32 - 1)"),
    "to dt_ns str": Case(to_graph(dt_ns="1"), TypeError, "argument 'dt_ns': "),
    "to no duration": Case(to_graph(durations=_native.duration_table([])), TranspilerError),
    # from_quantum_dag
    "from not a graph": Case(from_graph(graph=5), AttributeError),
    "from export not a list": Case(from_graph(graph=Export(())), TypeError, "argument 'graph': get_all_nodes() must return a list of (name, qubits, duration)"),
    "from export item": Case(from_graph(graph=Export([("x", [0])])), TypeError, "argument 'graph': get_all_nodes() must return a list of (name, qubits, duration)"),
    "from export qubit huge": Case(from_graph(graph=Export([("x", [2**32], 1.0)])), OverflowError, "argument 'graph': 4294967296 is beyond Qiskit's indices (up to 2**32 - 1)"),
    "from times not a pair": Case(from_graph(graph=Export([("x", [0], 1.0)], times=5)), TypeError, "argument 'graph': 'int' object cannot be cast as 'tuple'"),
    "from unscheduled": Case(from_graph(graph=Export([("x", [0], 1.0)], times=None)), ValueError, "node 0 has no start time: call build_schedule() first"),
    "from dag as source": Case(from_graph(source=dag()), TypeError, "argument 'source': 'DAGCircuit' object cannot be cast as 'CircuitData'"),
    "from qubits negative": Case(from_graph(num_qubits=-1), OverflowError),
    "from qubits huge": Case(from_graph(num_qubits=BIG), OverflowError, "argument 'num_qubits': 1099511627776 is beyond Qiskit's indices (up to 2**32 - 1)"),
    "from qubit outside": Case(from_graph(num_qubits=1), ValueError, "node 1 (cx on qubits [0, 1]) acts on qubit 1 of a 1-qubit circuit"),
    "from in_dt int": Case(from_graph(in_dt=1), TypeError, "argument 'in_dt': 'int' object cannot be cast as 'bool'"),
    "from not whole dt": Case(from_graph(graph=Export([("x", [0], 1.0)], times=(0.5, 1.5)), in_dt=True), ValueError, "qubit 0 idles for 0.5, not a whole number of dt"),
    # dynamic: the circuits, every field, and a writer that fails
    "dynamic no arguments": Case(lambda: (_native.dynamic, (), {}), TypeError, "dynamic() missing 1 required positional argument: 'top'"),
    "dynamic unknown keyword": Case(lambda: (_native.dynamic, (), {**dynamic_request(), "bogus": 1}), TypeError, "dynamic() got an unexpected keyword argument 'bogus'"),
    "dynamic dag as top": Case(dynamic(top=dynamic_dag()), TypeError, "argument 'top': 'DAGCircuit' object cannot be cast as 'CircuitData'"),
    "dynamic circuit as out": Case(dynamic(out=QuantumCircuit(2, 1)), TypeError, "argument 'out': 'QuantumCircuit' object cannot be cast as 'CircuitData'"),
    "dynamic out narrower": Case(dynamic(out=QuantumCircuit(1, 1)._data), ValueError, "argument 'out': 1 qubits and 1 clbits where 'top' has 2 and 1"),
    "dynamic durations list": Case(dynamic(durations=[]), TypeError, "argument 'durations': 'list' object cannot be cast as 'DurationTable'"),
    "dynamic fractional durations": Case(dynamic(durations=_native.duration_table([("x", None, 1.5), ("measure", None, 1000)])), ValueError, "argument 'durations': not every duration is a whole number of dt up to 2**53"),
    "dynamic dt str": Case(dynamic(dt="1"), TypeError, "argument 'dt': "),
    "dynamic dt zero": Case(dynamic(dt=0.0), ValueError, "argument 'dt': 0.0 is not a positive finite number of seconds"),
    "dynamic dt nan": Case(dynamic(dt=float("nan")), ValueError, "argument 'dt': nan is not a positive finite number of seconds"),
    "dynamic scheduling unknown": Case(dynamic(scheduling="later"), ValueError, "argument 'scheduling': must be 'alap' or 'asap'"),
    "dynamic scheduling int": Case(dynamic(scheduling=5), TypeError, "argument 'scheduling': 'int' object cannot be cast as 'str'"),
    "dynamic scheduling none": Case(dynamic(scheduling=None), TypeError, "argument 'scheduling': 'NoneType' object cannot be cast as 'str'"),
    "dynamic given int": Case(dynamic("drop-in", given=5), TypeError, "argument 'given': 'int' object cannot be cast as 'tuple'"),
    "dynamic given str": Case(given(starts="ab"), TypeError, "argument 'given': a bytes-like object is required, not 'str'"),
    "dynamic given blocks str": Case(given(blocks="ab"), TypeError, "a bytes-like object is required, not 'str'"),
    "dynamic given short": Case(given(starts=b"\0" * 8), ValueError, "the given start times do not cover the circuit's nodes"),
    "dynamic given negative start": Case(given(starts=array.array("q", [-5] * 6).tobytes()), ValueError, "argument 'given': a start time is not from 0 to 2**62"),
    "dynamic given huge start": Case(given(starts=array.array("q", [2**63 - 1] * 6).tobytes()), ValueError, "argument 'given': a start time is not from 0 to 2**62"),
    "dynamic fill_very_end int": Case(dynamic(fill_very_end=1), TypeError, "argument 'fill_very_end': 'int' object cannot be cast as 'bool'"),
    "dynamic keep_labels str": Case(dynamic(keep_labels="yes"), TypeError, "argument 'keep_labels': 'str' object cannot be cast as 'bool'"),
    "dynamic in_own_order str": Case(dynamic(in_own_order="yes"), TypeError,
                                     "argument 'in_own_order': 'str' object cannot be cast as 'bool'"),
    "dynamic writer lacking callbacks": Case(dynamic(writer=object()), AttributeError, "'object' object has no attribute 'control_flow'"),
    "dynamic custom order without one": Case(dynamic(custom_order=True), TranspilerError, "block_ordering_callable must yield each of the block's 5 operation nodes once."),
    "dynamic writer control_flow raises": Case(writer_failing("control_flow"), RuntimeError, "control_flow refused"),
    "dynamic writer topological raises": Case(writer_failing("topological"), RuntimeError, "topological refused"),
    "dynamic writer topological not a dag": Case(writer_failing("topological", QuantumCircuit(2)), TypeError, "'QuantumCircuit' object cannot be cast as 'DAGCircuit'"),
    "dynamic writer body raises": Case(writer_failing("body"), RuntimeError, "body refused"),
    "dynamic writer body not a circuit": Case(writer_failing("body", 5), AttributeError, "'int' object has no attribute '_data'"),
    "dynamic writer body of a dag": Case(writer_failing("body", types.SimpleNamespace(_data=dynamic_dag())), TypeError, "'DAGCircuit' object cannot be cast as 'CircuitData'"),
    "dynamic writer place raises": Case(writer_failing("place"), RuntimeError, "place refused"),
    "dynamic writer topological with a gap": Case(
        writer_failing("topological", answer=gapped_body_dag), RuntimeError, "tarvex_qiskit: a body's DAG does not hold the body's instructions"
    ),
    "dynamic writer body narrower": Case(
        writer_failing("body", answer=narrower_body), RuntimeError,
        "tarvex_qiskit: writer.body() gave a circuit of 1 qubits and 1 clbits where 2 and 1 are needed",
    ),
    "dynamic writer body without qubits": Case(
        writer_failing("body", QuantumCircuit(0)), RuntimeError,
        "tarvex_qiskit: writer.body() gave a circuit of 0 qubits and 0 clbits where 2 and 1 are needed",
    ),
    "dynamic writer body without clbits": Case(
        writer_failing("body", QuantumCircuit(3), scenario="transpiled-nested-fast-path"), RuntimeError,
        "tarvex_qiskit: writer.body() gave a circuit of 3 qubits and 0 clbits where 3 and 2 are needed",
    ),
    "dynamic writer labels raises": Case(writer_failing("labels"), RuntimeError, "labels refused"),
    "dynamic writer order raises": Case(writer_failing("order", ordered=True), RuntimeError, "order refused"),
    "dynamic writer order not a sequence": Case(writer_failing("order", 5, ordered=True), TypeError, "the block order must be a sequence"),
    "dynamic writer order of strings": Case(writer_failing("order", ["a"] * 5, ordered=True), TypeError, "'str' object cannot be interpreted as an integer"),
    "dynamic writer order repeats": Case(writer_failing("order", [0] * 5, ordered=True), TranspilerError, "block_ordering_callable must yield each of the block's 5 operation nodes once."),
    "dynamic writer unsupported raises": Case(writer_failing("unsupported", scenario="custom gate"), RuntimeError, "unsupported refused"),
    "dynamic writer condition not an int": Case(
        writer_failing("control_flow", "bit", scenario="expression-and-register-conditions"), TypeError, "'str' object cannot be interpreted as an integer"
    ),
    "dynamic writer condition huge": Case(
        writer_failing("control_flow", 2**70, scenario="expression-and-register-conditions"), OverflowError
    ),
    # dynamic_decoupling: its own fields, and a writer that fails
    "dd no arguments": Case(lambda: (_native.dynamic_decoupling, (), {}), TypeError, "dynamic_decoupling() missing 1 required positional argument: 'top'"),
    "dd dag as top": Case(dd(top=dynamic_dag()), TypeError, "argument 'top': 'DAGCircuit' object cannot be cast as 'CircuitData'"),
    "dd none as out": Case(dd(out=None), TypeError, "argument 'out': 'NoneType' object cannot be cast as 'CircuitData'"),
    "dd dt negative": Case(dd(dt=-1.0), ValueError, "argument 'dt': -1.0 is not a positive finite number of seconds"),
    "dd given short": Case(dd(True, given=(b"", b"")), ValueError, "the given start times do not cover the circuit's nodes"),
    "dd out narrower": Case(dd(out=QuantumCircuit(1, 1)._data), ValueError, "argument 'out': 1 qubits and 1 clbits where 'top' has 2 and 1"),
    "dd scheduling unknown": Case(dd(scheduling="later"), ValueError, "argument 'scheduling': must be 'alap' or 'asap'"),
    "dd fractional durations": Case(dd(durations=_native.duration_table([("x", None, 1.5), ("measure", None, 1000)])), ValueError, "argument 'durations': not every duration is a whole number of dt up to 2**53"),
    "dd n_pulses longer": Case(dd(n_pulses=[2, 2]), ValueError, "argument 'ratios': 1 entries where 2 are needed, one per sequence as in 'n_pulses'"),
    "dd n_pulses zero": Case(dd(n_pulses=[0], gates=[], pulse_durations=[]), ValueError, "argument 'n_pulses': 0 entries where 1 are needed, at least one pulse per sequence"),
    "dd n_pulses negative": Case(dd(n_pulses=[-1]), OverflowError),
    "dd n_pulses huge": Case(dd(n_pulses=[2**32]), OverflowError, "argument 'n_pulses': 4294967296 is beyond Qiskit's indices (up to 2**32 - 1)"),
    "dd spacings short": Case(dd(spacings=[0.5, 0.5]), ValueError, "argument 'spacings': 2 entries where 3 are needed, as many as 'spacing_counts' gives"),
    "dd spacing negative": Case(dd(spacings=[0.5, -0.5, 1.0]), ValueError, "argument 'spacings': -0.5 is not a fraction from 0 to 1"),
    "dd spacings str": Case(dd(spacings="ab"), TypeError, "argument 'spacings': Can't extract `str` to `Vec`"),
    "dd gates not a gate": Case(dd(gates=[(200, ()), (3, ())]), ValueError, "argument 'gates': 200 is not a standard gate on one qubit"),
    "dd gates item": Case(dd(gates=[5, 5]), TypeError, "argument 'gates': 'int' object cannot be cast as 'tuple'"),
    "dd gates short": Case(dd(gates=[(3, ())]), ValueError, "argument 'gates': 1 entries where 2 are needed, as many as 'n_pulses' gives"),
    "dd selected short": Case(dd(selected=b"\x01", pulse_durations=[200, 200]), ValueError, "argument 'selected': 1 entries where 2 are needed, one per qubit of the circuit"),
    "dd selected str": Case(dd(selected="ab"), TypeError, "argument 'selected': 'str' object cannot be cast as 'bytes'"),
    "dd pulse_durations short": Case(dd(pulse_durations=[200]), ValueError, "argument 'pulse_durations': 1 entries where 4 are needed, one per qubit and pulse"),
    "dd pulse duration negative": Case(dd(pulse_durations=[-200] * 4), OverflowError),
    "dd pulse duration huge": Case(dd(pulse_durations=[2**60] * 4), ValueError, "argument 'pulse_durations': 1.152921504606847e+18 is not a whole number of dt from 0 to 2**53"),
    "dd colours short": Case(dd(colours=b"\x00"), ValueError, "argument 'colours': 1 entries where 2 are needed, none or one per qubit"),
    "dd phases short": Case(dd(phases=[]), ValueError, "argument 'phases': 0 entries where 1 are needed, one per sequence as in 'n_pulses'"),
    "dd inverses short": Case(dd(inverses=[0.0]), ValueError, "argument 'inverses': 1 entries where 4 are needed, four per sequence"),
    "dd integral_ratios short": Case(dd(integral_ratios=b""), ValueError, "argument 'integral_ratios': 0 entries where 1 are needed, one per sequence as in 'n_pulses'"),
    "dd alignment zero": Case(dd(alignment=0.0), ValueError, "argument 'alignment': 0.0 is not a whole number of dt from 1 to 2**53"),
    "dd alignment nan": Case(dd(alignment=float("nan")), ValueError, "argument 'alignment': nan is not a whole number of dt from 1 to 2**53"),
    "dd split int": Case(dd(split=3), TypeError, "argument 'split': 'int' object cannot be cast as 'str'"),
    "dd dd_barrier int": Case(dd(dd_barrier=1), TypeError, "argument 'dd_barrier': 'int' object cannot be cast as 'bool'"),
    "dd writer lacking callbacks": Case(dd(writer=object()), AttributeError, "'object' object has no attribute 'control_flow'"),
    "dd writer labelled raises": Case(writer_failing("labelled", dd_fields=True, barrier=True), RuntimeError, "labelled refused"),
    "dd writer body raises": Case(writer_failing("body", dd_fields=True), RuntimeError, "body refused"),
    "dd writer place raises": Case(writer_failing("place", dd_fields=True), RuntimeError, "place refused"),
    "dd writer body narrower": Case(
        writer_failing("body", dd_fields=True, answer=narrower_body), RuntimeError,
        "tarvex_qiskit: writer.body() gave a circuit of 1 qubits and 1 clbits where 2 and 1 are needed",
    ),
    "dd labelled pulses str": Case(labelled_pulses("ab"), TypeError, "tarvex_qiskit: labelled_pulses must be bytes, one per pulse gate"),
    "dd labelled pulses short": Case(labelled_pulses(b"\x01"), TypeError, "tarvex_qiskit: labelled_pulses must be bytes, one per pulse gate"),
    "dd writer label_pulses raises": Case(labelled_pulses(b"\x01\x01", fails=True), RuntimeError, "label_pulses refused"),
    # greedy_colouring
    "colouring no arguments": Case(colouring(), TypeError, "greedy_colouring() missing 1 required positional argument: 'n'"),
    "colouring n negative": Case(colouring(-1, edges=[]), OverflowError),
    "colouring n huge": Case(colouring(BIG, edges=[]), OverflowError, "argument 'n': 1099511627776 is beyond Qiskit's indices (up to 2**32 - 1)"),
    "colouring n str": Case(colouring("4", edges=[]), TypeError, "argument 'n': "),
    "colouring edges odd": Case(colouring(4, edges=[0, 1, 2]), ValueError, "argument 'edges': 3 entries where 4 are needed, two ends per edge"),
    "colouring edges str": Case(colouring(4, edges="01"), TypeError, "argument 'edges': "),
    "colouring edge end huge": Case(colouring(4, edges=[0, 2**32]), OverflowError, "argument 'edges': 4294967296 is beyond Qiskit's indices (up to 2**32 - 1)"),
    "colouring edge end negative": Case(colouring(4, edges=[0, -1]), OverflowError),
}

CASES = {**GOOD, **HOSTILE}

# The entries whose calls write into their arguments: the writer (a Python object that collects
# the output) and the output CircuitData grow with every call, and the writer's body callback
# clears the bodies it reuses. One set of arguments serves one call of theirs.
ONE_CALL_EACH = (_native.dynamic, _native.dynamic_decoupling)


def arguments(made: tuple) -> list[Any]:
    """The objects a made call (function, args, kwargs) passes."""
    return [*made[1], *made[2].values()]


def inputs(made: tuple) -> list[Any]:
    """The objects a made call reads, which it must leave as they were: its arguments, but for the
    output CircuitData a dynamic entry writes into (and, failing, leaves part-written)."""
    if made[0] not in ONE_CALL_EACH:
        return arguments(made)
    return [*made[1], *(value for key, value in made[2].items() if key != "out")]


def calls(case: Case) -> tuple[Callable[[], tuple], list[Any]]:
    """For a test that repeats `case`: what makes each call (function, args, kwargs), and the
    objects every call is given, whose reference counts must not change. The same arguments serve
    every call, but for the entries in ONE_CALL_EACH, whose calls each get new ones from
    `case.make`; the objects two such makes share (the target's durations, say) are the watched."""
    first = case.make()
    if first[0] not in ONE_CALL_EACH:
        return (lambda: first), [first[0], *arguments(first)]
    later = arguments(case.make())
    return case.make, [first[0], *(value for value in arguments(first) if any(value is other for other in later))]
