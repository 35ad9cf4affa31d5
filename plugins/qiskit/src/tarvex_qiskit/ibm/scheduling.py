"""Dynamic-circuit scheduling and delay padding: qiskit-ibm-runtime's block schedule and PadDelay,
natively on the Tarvex core.

The passes take the names and constructor parameters of `qiskit_ibm_runtime.transpiler.passes.
scheduling`'s and give the same output (see docs/dynamic-circuits.md for the few plain faults
mended). `PadDelay` alone in a pass manager schedules the circuit itself (fused use, the fast one,
`scheduling="alap"` or `"asap"`); after either analysis, ours or the runtime's, it pads the start
times in the property set (drop-in use). The analyses leave `node_start_time` and
`node_block_dags` as the runtime's do, so the runtime's own padders can follow them.

Everything per gate runs natively: the circuit and its bodies are read through Qiskit's C API, the
node ordering, block schedule and padding are the core's, and the output is written through the
C API. Python runs once per control-flow operation (to build the operation that holds the padded
bodies), and per node only where the property set's dictionaries are read or written, or a custom
`block_ordering_callable` runs.
"""

from __future__ import annotations

import copy
import weakref
from array import array
from collections.abc import Callable, Generator
from typing import Any

from qiskit.circuit import CircuitInstruction, ControlFlowOp, QuantumCircuit, QuantumRegister, Qubit, SwitchCaseOp
from qiskit.circuit.controlflow import condition_resources
from qiskit._accelerate.converters import dag_to_circuit as _core_dag_to_circuit
from qiskit.converters import circuit_to_dag
from qiskit.dagcircuit import DAGCircuit, DAGOpNode
from qiskit.transpiler.basepasses import TransformationPass
from qiskit.transpiler.exceptions import TranspilerError
from qiskit.transpiler.passes.scheduling.time_unit_conversion import TimeUnitConversion
from qiskit.transpiler.target import Target

from .. import _messages, _native, _requests
from .._circuits import pass_manager_output
from .._timing import plain_circuit_bits
from ..passes import _physical_circuit

_NOT_COPIED = 2**32 - 1  # the native writer's position of an instruction it made no copy of

BlockOrderingCallable = Callable[[DAGCircuit], Generator[DAGOpNode, None, None]]

# A target's InstructionDurations -> the native duration table read from the target. Qiskit
# replaces that object whenever the target changes, so a cached table never outlives its data.
_TABLES: weakref.WeakKeyDictionary[Any, Any] = weakref.WeakKeyDictionary()
_EMPTY_TABLE = _native.duration_table([])


def _duration_table(target: Target | None) -> Any:
    """Durations in dt by (name, physical qubits), as the runtime's passes look them up: only
    entries for exactly those qubits, converted with the target's seconds_to_dt."""
    if target is None:
        return _EMPTY_TABLE
    key = target.durations()
    table = _TABLES.get(key)
    if table is None:
        entries = []
        for name in target.operation_names:
            for qargs, props in target[name].items():
                if qargs is None or props is None or not isinstance(props.duration, (int, float)):
                    continue
                entries.append((name, tuple(qargs), target.seconds_to_dt(props.duration)))
        table = _native.duration_table(entries)
        _TABLES[key] = table
    return table


def _is_physical(dag: DAGCircuit) -> bool:
    return len(dag.qregs) == 1 and dag.qregs.get("q", None) is not None


def _runtime():
    """qiskit-ibm-runtime's scheduling passes, for what only they handle."""
    try:
        from qiskit_ibm_runtime.transpiler.passes import scheduling
    except ImportError as err:
        raise ImportError(_messages.IBM_RUNTIME_MISSING) from err
    return scheduling


def _native_ready(dag: DAGCircuit, target: Target | None) -> bool:
    """The native passes need whole dt and no classical variables or stretches."""
    return target is not None and target.dt is not None and not dag.num_vars and not dag.num_stretches


class _Blocks:
    """The Python side of one native run: it finds the control-flow operations the C API reports
    by position, runs a custom ordering, and builds each padded control-flow operation."""

    def __init__(self, dag: DAGCircuit, target: Target | None, ordering: BlockOrderingCallable | None,
                 schedule_idle_qubits: bool, keep_labels: bool = False):
        self.dag = dag
        self.target = target
        self.ordering = ordering
        self.schedule_idle_qubits = schedule_idle_qubits
        self.ops: list[ControlFlowOp] = []  # this run's own copies: their bodies serve as output
        self.widths: list[tuple[int, ...]] = []  # per op: its bodies' widths as read
        self.bits: dict[int, tuple] = {}  # id(CircuitData) -> (it, its qubits, its clbits)
        self.reason: str | None = None
        self.keep_labels = keep_labels
        # (cf, k), or (-1, -1) for the root -> [(instruction index, label)] of the input block
        self.found_labels: dict[tuple[int, int], list[tuple[int, str]]] = {}
        self.top = None
        self.out = None
        # The root's registers; with `borrowed`, `dag` is the input QuantumCircuit itself, whose
        # control-flow operations (and so their bodies) are the input's own and are never cleared.
        self.root_qregs = list(dag.qregs.values()) if isinstance(dag, DAGCircuit) else list(dag.qregs)
        self.borrowed = False

    # Called by the native code.
    def control_flow(self, cf: int, parent: int, k: int, j: int, wants_condition: bool) -> int:
        holder = self.top if parent < 0 else self.ops[parent].blocks[k].data
        op = holder[j].operation
        self.ops.append(op)
        self.widths.append(tuple(block.num_qubits for block in op.blocks))
        if self.keep_labels:
            for k, block in enumerate(op.blocks):
                self.note_labels((cf, k), block._data)
        if not wants_condition:
            return -1
        bits = list(condition_resources(op.condition).clbits)
        if len(bits) != 1:
            return -1
        circuit = self.dag if parent < 0 else self.ops[parent].blocks[k]
        return circuit.find_bit(bits[0]).index

    def topological(self, cf: int, k: int) -> DAGCircuit:
        return circuit_to_dag(self.ops[cf].blocks[k], copy_operations=False)

    def order(self, block: int, cf: int, k: int) -> list[int]:
        if cf < 0:
            dag = self.dag
        else:
            dag = circuit_to_dag(self.ops[cf].blocks[k])
            TimeUnitConversion(target=self.target).run(dag)
        position = {node: i for i, node in enumerate(dag.topological_op_nodes())}
        try:
            return [position[node] for node in self.ordering(dag)]
        except (KeyError, TypeError):
            return []  # refused natively as an order that is not a permutation

    def body(self, cf: int, k: int, fast_path: bool, n_qubits: int) -> QuantumCircuit:
        """An empty output body, laid out as the runtime lays it out: its own clbits and classical
        registers; its own qubits on the fast path, else n_qubits (the root's registers if idle
        qubits are scheduled and the body has registers). The input body, read already, is cleared
        and serves: the op it came from is this run's own copy."""
        body = self.ops[cf].blocks[k]
        if body.qregs:
            registers = []
            if self.schedule_idle_qubits:
                registers = list(body.qregs) if fast_path else self.root_qregs
            qubits = list(body.qubits) if fast_path else [q for reg in registers for q in reg]
            if not registers or len(qubits) != n_qubits:
                registers, qubits = [], [Qubit() for _ in range(n_qubits)]
            out = QuantumCircuit(qubits, body.clbits, name=body.name, global_phase=body.global_phase,
                                 metadata=body.metadata)
            for reg in (*registers, *body.cregs):
                out.add_register(reg)
            return out
        out = body.copy_empty_like() if self.borrowed else body
        data = out._data
        if not self.borrowed:
            data.clear()
        for _ in range(n_qubits - body.num_qubits):
            data.add_qubit(Qubit())
        return out

    def place(self, cf: int, bodies: tuple[QuantumCircuit, ...], data, qubits: tuple[int, ...],
              clbits: tuple[int, ...]) -> None:
        """Appends control-flow operation `cf`, holding the padded `bodies`, to `data`."""
        op = self.ops[cf]
        # Bodies padded in place and as wide as before: the operation holds them already. The
        # runtime builds every operation anew with replace_blocks, which keeps the label of all but
        # a switch: a labelled switch is built anew too.
        if not all(out is body and out.num_qubits == width for out, body, width in zip(bodies, op.blocks, self.widths[cf])) \
                or (op.label is not None and isinstance(op, SwitchCaseOp)):
            op = op.replace_blocks(bodies)
        bits = self.bits.get(id(data))
        if bits is None:
            bits = self.bits[id(data)] = (data, data.qubits, data.clbits)  # `data` kept: ids stay unique
        _, all_qubits, all_clbits = bits
        data.append(CircuitInstruction(op, tuple(map(all_qubits.__getitem__, qubits)),
                                       tuple(map(all_clbits.__getitem__, clbits))))

    def note_labels(self, key: tuple[int, int], data) -> None:
        """Keeps the labels of the input block `data` (a CircuitData) for its output block."""
        found = [(i, inst.label) for i, inst in enumerate(data) if inst.label is not None]
        if found:
            self.found_labels[key] = found

    def labels(self, cf: int, k: int, data, positions: bytes) -> None:
        """Gives the copies in output block `data` the labels of their input instructions: the
        native writer's report, once per output block, of where each copy went."""
        found = self.found_labels.get((cf, k))
        if not found:
            return
        if isinstance(data, QuantumCircuit):
            data = data._data
        at = memoryview(positions).cast("I")
        for i, label in found:
            if i >= len(at) or at[i] == _NOT_COPIED:
                continue
            instruction = data[at[i]]
            op = instruction.operation.to_mutable()
            op.label = label
            data[at[i]] = instruction.replace(operation=op)

    def unsupported(self, reason: str) -> None:
        self.reason = reason


def _drop_in(dag: DAGCircuit, ps) -> bool:
    """Whether a padder runs after an analysis (node_start_time set), which must have scheduled in
    dt; else (fused use) `dag` must be physical. Raises TranspilerError as the runtime's padders do."""
    drop_in = ps["node_start_time"] is not None
    if drop_in:
        ps["time_unit"] = ps["time_unit"] or "dt"
        if ps["time_unit"] != "dt":
            raise TranspilerError(_messages.IBM_NOT_IN_DT)
    elif not _is_physical(dag):
        raise TranspilerError(_messages.IBM_NOT_PHYSICAL)
    return drop_in


def _native_circuits(dag: DAGCircuit, blocks: _Blocks, keep_labels: bool, pad: bool) -> tuple[Any, Any]:
    """The CircuitData the native call reads (the root of `dag`) and, to pad, the empty one it
    writes into. Conversions run here, not natively: Qiskit's C API cannot copy registers Python
    has seen."""
    return _root_circuits(_core_dag_to_circuit(dag, False), blocks, keep_labels, pad)


def _root_circuits(top: Any, blocks: _Blocks, keep_labels: bool, pad: bool) -> tuple[Any, Any]:
    """`top`, the root the native call reads, with its labels noted, and, to pad, an empty
    CircuitData like it for the output."""
    if keep_labels:
        blocks.note_labels((-1, -1), top)
    out = None
    if pad:
        out = top.copy_empty_like()
        out.reserve(2 * len(top))  # delays and barriers: grown once, not doubled along the way
    blocks.top = top
    return top, out


def _direct_circuits(circuit: QuantumCircuit, blocks: _Blocks) -> tuple[Any, Any]:
    """The direct path's root and output: the input's own CircuitData, read in its own order and
    never changed (`blocks` borrows its control-flow operations), and an empty one like it."""
    blocks.borrowed = True
    return _root_circuits(circuit._data, blocks, blocks.keep_labels, True)


def _direct_ready(circuit: Any, target: Target | None, ordering: BlockOrderingCallable | None) -> bool:
    """Whether the direct path promises the pass manager's output for `circuit`: a plain, named,
    physical QuantumCircuit without classical variables or stretches, the default ordering and a
    target with dt."""
    return type(circuit) is QuantumCircuit and bool(circuit.name) and _physical_circuit(circuit) \
        and ordering is None and target is not None and target.dt is not None and plain_circuit_bits(circuit)


def _finish(out: DAGCircuit, dag: DAGCircuit, ps) -> DAGCircuit:
    """The padded output given the input's name and metadata, in dt; the property set's start times,
    which described the input, are dropped."""
    out.name = dag.name
    out.metadata = dag.metadata
    out._unit = "dt"
    ps["time_unit"] = "dt"
    if "node_start_time" in ps:
        del ps["node_start_time"]
    return out


def _run_native(dag: DAGCircuit, target: Target | None, ordering: BlockOrderingCallable | None, *, pad: bool,
                scheduling: str | None = None, given: tuple[bytes, bytes] | None = None,
                fill_very_end: bool = True, schedule_idle_qubits: bool = False,
                keep_labels: bool = False) -> tuple[Any, _Blocks]:
    keep_labels = keep_labels and pad
    blocks = _Blocks(dag, target, ordering, schedule_idle_qubits, keep_labels)
    top, out = _native_circuits(dag, blocks, keep_labels, pad)
    result = _requests.call(_requests.DynamicRequest(
        top=top,
        out=out,
        durations=_duration_table(target),
        dt=target.dt,
        scheduling=scheduling,
        given=given,
        fill_very_end=fill_very_end,
        schedule_idle_qubits=schedule_idle_qubits,
        custom_order=ordering is not None,
        writer=blocks,
        keep_labels=keep_labels,
    ))
    if result is None or not pad:
        return result, blocks
    blocks.top = top = None  # the root's copy is done with: freed before the output's DAG is built
    padded = circuit_to_dag(QuantumCircuit._from_circuit_data(out), copy_operations=False)
    padded._duration = result
    return padded, blocks


def _walk(dag: DAGCircuit, body_dags: Callable[[DAGOpNode], list[DAGCircuit]]):
    """The nodes of `dag` and of its bodies at every depth, in the native program's order: a
    block's nodes in topological order, then, for each of its control-flow nodes, each body
    depth first. Yields (node, is a control-flow node, its body DAGs or None)."""
    stack = [iter([dag])]
    while stack:
        block = next(stack[-1], None)
        if block is None:
            stack.pop()
            continue
        flows = []
        for node in block.topological_op_nodes():
            is_flow = isinstance(node.op, ControlFlowOp)
            bodies = body_dags(node) if is_flow else None
            yield node, bodies
            if is_flow:
                flows.append(bodies)
        stack.append(iter([body for bodies in flows for body in bodies]))


def _fresh_body(block: QuantumCircuit) -> QuantumCircuit:
    """`block` on qubit objects of its own. node_start_time is keyed by DAGOpNode, equal by (node
    id, op, wires): on the qubits Qiskit's builders share with the outer circuit, a body node can
    equal a node of another block, and the two would share one start time."""
    if not block.qregs:
        data = block._data.copy()
        data.replace_bits(qubits=[Qubit() for _ in range(block.num_qubits)])
        return QuantumCircuit._from_circuit_data(data, name=block.name)
    registers = [QuantumRegister(reg.size, reg.name) for reg in block.qregs]
    mapping = {old: new for reg, fresh in zip(block.qregs, registers) for old, new in zip(reg, fresh)}
    out = QuantumCircuit([mapping.setdefault(q, Qubit()) for q in block.qubits], block.clbits, *registers,
                         *block.cregs, name=block.name, global_phase=block.global_phase)
    for inst in block.data:
        out._append(inst.replace(qubits=[mapping[q] for q in inst.qubits]))
    return out


def _body_dags_for(target: Target | None, cache: dict):
    def body_dags(node: DAGOpNode) -> list[DAGCircuit]:
        dags = []
        for block in node.op.blocks:
            body = circuit_to_dag(_fresh_body(block))
            TimeUnitConversion(target=target).run(body)
            dags.append(body)
        cache[node] = dags
        return dags

    return body_dags


def _converted(dag: DAGCircuit, target: Target | None) -> DAGCircuit:
    """`dag` with its delays in dt, as the runtime's analyses convert it in place: the same DAG
    when every delay is in dt already, else a converted copy."""
    if all(node.op.unit == "dt" for node in dag.named_nodes("delay")):
        return dag
    out = copy.deepcopy(dag)
    TimeUnitConversion(target=target).run(out)
    return out


class _Analysis(TransformationPass):
    _alap = True

    def __init__(self, block_ordering_callable: BlockOrderingCallable | None = None, target: Target | None = None):
        super().__init__()
        self._target = target
        self._block_ordering_callable = block_ordering_callable

    def run(self, dag: DAGCircuit) -> DAGCircuit:
        """Schedules `dag` (never modified) and sets node_start_time and node_block_dags; returns
        `dag`, or a copy with its delays converted to dt."""
        if not _is_physical(dag):
            raise TranspilerError(_messages.IBM_NOT_PHYSICAL)
        if not _native_ready(dag, self._target):
            return self._runtime_run(dag)
        out = _converted(dag, self._target)
        result, _ = _run_native(out, self._target, self._block_ordering_callable, pad=False,
                                scheduling="alap" if self._alap else "asap")
        if result is None:
            return self._runtime_run(dag)
        blocks = memoryview(result[0]).cast("I")
        starts = memoryview(result[1]).cast("q")
        node_start_time: dict[DAGOpNode, tuple[int, int]] = {}
        node_block_dags: dict[DAGOpNode, list[DAGCircuit]] = {}
        for i, (node, _) in enumerate(_walk(out, _body_dags_for(self._target, node_block_dags))):
            node_start_time[node] = (blocks[i], starts[i])
        self.property_set["node_start_time"] = node_start_time
        self.property_set["node_block_dags"] = node_block_dags
        return out

    def _runtime_run(self, dag: DAGCircuit) -> DAGCircuit:
        runtime = _runtime()
        cls = runtime.ALAPScheduleAnalysis if self._alap else runtime.ASAPScheduleAnalysis
        analysis = cls(block_ordering_callable=self._block_ordering_callable, target=self._target)
        analysis.property_set = self.property_set
        return analysis.run(copy.deepcopy(dag))


class ALAPScheduleAnalysis(_Analysis):
    """Dynamic-circuit as-late-as-possible scheduling analysis: the runtime's pass of the same
    name and parameters, natively."""

    _alap = True


class ASAPScheduleAnalysis(_Analysis):
    """Dynamic-circuit as-soon-as-possible scheduling analysis: the runtime's pass of the same
    name and parameters, natively."""

    _alap = False


class PadDelay(TransformationPass):
    """Fills the idle time of a dynamic circuit with delays, block by block, like the runtime's
    PadDelay, of the same parameters plus `scheduling` for fused use.

    Args:
        fill_very_end: also pad each qubit up to the end of every block and body.
        schedule_idle_qubits: also pad qubits the circuit never uses.
        block_ordering_callable: the node order within each block; default: the runtime's.
        target: the backend's Target; durations and dt come from it.
        scheduling: "alap" or "asap", the schedule of fused use (alone in a pass manager).
        keep_labels: keep every instruction's label, bodies included, as the runtime does (the
            default). Qiskit's C API does not carry labels: finding them takes a Python object per
            instruction, which False skips; only the control-flow operations keep theirs then.
    """

    def __init__(
        self,
        fill_very_end: bool = True,
        schedule_idle_qubits: bool = False,
        block_ordering_callable: BlockOrderingCallable | None = None,
        target: Target | None = None,
        *,
        scheduling: str = "alap",
        keep_labels: bool = True,
    ):
        super().__init__()
        if scheduling not in ("alap", "asap"):
            raise TranspilerError(_messages.scheduling_choice(scheduling))
        self.fill_very_end = fill_very_end
        self._schedule_idle_qubits = schedule_idle_qubits
        self._block_ordering_callable = block_ordering_callable
        self._target = target
        self.scheduling = scheduling
        self.keep_labels = keep_labels

    def run(self, dag: DAGCircuit) -> DAGCircuit:
        """Pads `dag` (never modified) and returns the padded copy. Fused use: schedules it first.
        Drop-in use: pads the start times of node_start_time and the bodies of node_block_dags."""
        ps = self.property_set
        drop_in = _drop_in(dag, ps)
        if not _native_ready(dag, self._target):
            return self._runtime_run(dag, drop_in)
        options = dict(fill_very_end=bool(self.fill_very_end), schedule_idle_qubits=bool(self._schedule_idle_qubits),
                       keep_labels=bool(self.keep_labels))
        if drop_in:
            given = _given_times(dag, ps["node_start_time"], ps["node_block_dags"])
            result, _ = _run_native(dag, self._target, self._block_ordering_callable, pad=True, given=given, **options)
        else:
            result, _ = _run_native(dag, self._target, self._block_ordering_callable, pad=True,
                                    scheduling=self.scheduling, **options)
        if result is None:
            return self._runtime_run(dag, drop_in)
        return _finish(result, dag, ps)

    def run_circuit(self, circuit: QuantumCircuit) -> QuantumCircuit | None:
        """What `PassManager([self]).run(circuit)` returns, natively from circuit to circuit with no
        DAG in between; None where only the pass manager promises the same output (a circuit that is
        not a plain, named, physical QuantumCircuit, classical variables or stretches, a custom
        ordering, no dt, an instruction on no qubit, or what the native reader leaves to the runtime).
        The input is read in its own order; the core finds the order its DAG lists, and writes every
        block as a DAG of it lists it, as the pass manager's conversions would. Its control-flow
        operations are read, never changed. Sets no property set. O(instructions)."""
        if not _direct_ready(circuit, self._target, self._block_ordering_callable):
            return None
        keep_labels = bool(self.keep_labels)
        blocks = _Blocks(circuit, self._target, None, bool(self._schedule_idle_qubits), keep_labels)
        top, out = _direct_circuits(circuit, blocks)
        duration = _requests.call(_requests.DynamicRequest(
            top=top,
            out=out,
            durations=_duration_table(self._target),
            dt=self._target.dt,
            scheduling=self.scheduling,
            given=None,
            fill_very_end=bool(self.fill_very_end),
            schedule_idle_qubits=bool(self._schedule_idle_qubits),
            custom_order=False,
            writer=blocks,
            keep_labels=keep_labels,
            in_own_order=True,
        ))
        if duration is None:
            return None
        return pass_manager_output(circuit, out, duration, None, None)

    def _runtime_run(self, dag: DAGCircuit, drop_in: bool) -> DAGCircuit:
        runtime = _runtime()
        work = copy.deepcopy(dag)
        if not drop_in:
            cls = runtime.ALAPScheduleAnalysis if self.scheduling == "alap" else runtime.ASAPScheduleAnalysis
            analysis = cls(block_ordering_callable=self._block_ordering_callable, target=self._target)
            analysis.property_set = self.property_set
            work = analysis.run(work)
        pad = runtime.PadDelay(fill_very_end=self.fill_very_end, schedule_idle_qubits=self._schedule_idle_qubits,
                               block_ordering_callable=self._block_ordering_callable, target=self._target)
        pad.property_set = self.property_set
        return pad.run(work)


def _given_times(dag: DAGCircuit, node_start_time, node_block_dags) -> tuple[bytes, bytes]:
    """The property set's start times in the native program's order, looked up as the runtime's
    padder looks them up (by DAGOpNode equality)."""
    blocks = array("I")
    starts = array("q")
    for node, _ in _walk(dag, lambda node: node_block_dags[node]):
        if node not in node_start_time and not isinstance(node.op, ControlFlowOp):
            raise TranspilerError(_messages.ibm_not_scheduled(node))
        block, start = node_start_time[node]
        blocks.append(block)
        starts.append(start)
    return blocks.tobytes(), starts.tobytes()


from .decoupling import PadDynamicalDecoupling  # noqa: E402  (it builds on the passes above)
