"""Calls of every `_native` function, good and hostile: shared by the argument, reference-count and
allocation-failure tests.

Each case makes its call's arguments afresh (`make()` -> (function, args, kwargs)), so that a
test can call it many times or watch the arguments' reference counts.
"""

from __future__ import annotations

import dataclasses
import datetime
import functools
from typing import Any, Callable, NamedTuple

from conftest import backend, transpiled
from qiskit import QuantumCircuit
from qiskit.circuit.library import XGate
from qiskit.converters import circuit_to_dag
from qiskit.passmanager.compilation_status import PropertySet
from qiskit.transpiler.exceptions import TranspilerError
from qiskit.transpiler.passes import ALAPScheduleAnalysis

import tarvex_qiskit
from _tarvex import QuantumDAG
from tarvex_qiskit import _native, _requests, _timing

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
}

CASES = {**GOOD, **HOSTILE}
