"""qiskit-ibm-runtime's dynamic-circuit padders (0.51) with their plain faults mended, for
comparison: the oracle of the differential tests, the benchmark and the demonstration.

Needs the `ibm` extra (qiskit-ibm-runtime 0.51); nothing else in `tarvex_qiskit` imports this
module. Each mend changes only what is plainly wrong and leaves every other choice of the runtime
as it is:

The padders (`MendedPadDelay`, `MendedPadDynamicalDecoupling`), run through `padded()` or
`decoupled()` on a copy of the circuit from `fresh_bodies()`:
- Every control-flow body is rebuilt on fresh qubit objects. The runtime keys start times by
  DAGOpNode, equal by (node id, op, wires), so a body node equal to a node elsewhere takes its time;
  with fresh qubits no two nodes of different blocks are equal.
- A wire the padder has no entry for maps to itself. With fresh body qubits it would otherwise
  raise KeyError where it compares a conditional's qubits with a measurement already written to the
  output (on outer qubits), and where it places a fast-path conditional inside a body.
- A block-terminating barrier counts, in its width, only the idle qubits of the block it is written
  in: the runtime subtracts every idle qubit of the circuit, which inside bodies (that hold no idle
  qubit) gives a barrier narrower than its qubits, or a negative width that raises.

Dynamical decoupling (`MendedPadDynamicalDecoupling`):
- DD gate lengths are whole dt, converted from the target's seconds as every other duration is
  (the runtime uses the seconds as dt: each sequence overruns its window by its own gates, the
  ratio check passes on any gap, and `insert_multiple_cycles` asks for ~10^9 cycles).
- Each insertion adds the phase that undoes what it inserted: minus the angle of its gates' matrices
  multiplied in circuit order (the runtime adds the phase of the last sequence for every insertion, takes the product in
  reverse order, and adds one cycle's phase for several).
- Absorbing a one-gate sequence's inverse into a neighbouring U/U3 keeps the global phase exact
  (the runtime's angle composition drops a phase).
- Absorbing into the next U/U3 gate gives that gate its composed angles when it is written (the
  runtime substitutes a node of the input in the output and raises).
- `qubits=` selects physical qubits in bodies too (the runtime indexes the body being written, so
  it skips selected qubits, decouples others and raises IndexError on some).
- With `insert_multiple_cycles`, a one-gate sequence G whose cycle count k is even but G^k not a
  multiple of the identity gets one cycle, its inverse absorbed, as for odd k (the runtime inserts
  G^k, e.g. four RX(pi/4), which changes the operator).
"""

from __future__ import annotations

import cmath
import math
import warnings
from typing import Any

import numpy as np
from qiskit import QuantumCircuit, QuantumRegister
from qiskit.circuit import ControlFlowOp, Delay, Qubit
from qiskit.circuit.library import U3Gate, UGate
from qiskit.dagcircuit import DAGOpNode
from qiskit.quantum_info.operators.predicates import matrix_equal
from qiskit.transpiler import PassManager, Target
from qiskit_ibm_runtime.transpiler.passes import scheduling as runtime

ANALYSES = {"alap": runtime.ALAPScheduleAnalysis, "asap": runtime.ASAPScheduleAnalysis}


class _IdleInBlock(set):
    """The idle qubits, whose size is the number of them in the block being written."""

    def __init__(self, qubits, padder):
        super().__init__(qubits)
        self._padder = padder

    def __len__(self):
        return sum(1 for q in self._padder._block_dag.qubits if q in self)


class _PadderMends:
    """The padder mends both padders share: unmapped wires taken as mapped, barrier widths counted
    in the block being written."""

    def _pre_runhook(self, dag):
        self._idle_qubits = _IdleInBlock(self._idle_qubits, self)
        super()._pre_runhook(dag)

    def _map_wires(self, wires):
        return [self._wire_map.get(w, w) for w in wires]

    def _apply_scheduled_op(self, block_idx, t_start, oper, qubits, clbits=()):
        if isinstance(qubits, Qubit):
            qubits = [qubits]
        return super()._apply_scheduled_op(block_idx, t_start, oper, self._map_wires(qubits), clbits)


class MendedPadDelay(_PadderMends, runtime.PadDelay):
    """The runtime's PadDelay with the padder mends."""


class PadderMendedDynamicalDecoupling(_PadderMends, runtime.PadDynamicalDecoupling):
    """The runtime's PadDynamicalDecoupling with the padder mends only, its own faults kept: what it
    costs where it runs at all (the benchmark's reference)."""


class _BlockRecorder:
    """Stands for the output block while the runtime pads one stretch: forwards everything to it,
    records which nodes the runtime substitutes, and takes a substitution of a node that is not in
    the block (the input's next node) as that node's operation to write."""

    def __init__(self, dag, next_node):
        object.__setattr__(self, "_dag", dag)
        object.__setattr__(self, "_next", next_node)
        object.__setattr__(self, "substituted", [])

    def substitute_node(self, node, op, *args, **kwargs):
        self.substituted.append((node, op))
        if node is self._next:
            return node
        return self._dag.substitute_node(node, op, *args, **kwargs)

    def __getattr__(self, name):
        return getattr(self._dag, name)

    def __setattr__(self, name, value):
        setattr(self._dag, name, value)


def _is_u(node) -> bool:
    return isinstance(node, DAGOpNode) and isinstance(node.op, (UGate, U3Gate))


def _matrix(op) -> np.ndarray:
    return np.asarray(op.to_matrix(), dtype=complex)


class MendedPadDynamicalDecoupling(_PadderMends, runtime.PadDynamicalDecoupling):
    """The runtime's PadDynamicalDecoupling with the padder mends and its own (see the module)."""

    def _pre_runhook(self, dag):
        super()._pre_runhook(dag)
        if self._target is not None and self._target.dt is not None:
            # Only the first entries per qubit are read; the runtime appends more on every run.
            for lengths in self._dd_sequence_lengths.values():
                lengths[:] = [[self._target.seconds_to_dt(d) for d in seq] for seq in lengths]
        self._absorbed_next = None
        self._inserted = None

    def _pad(self, block_idx, qubit, t_start, t_end, next_node, prev_node, enable_dd=False):
        if self._qubits and self._bit_indices[qubit] not in self._qubits:
            self._apply_scheduled_op(block_idx, t_start, Delay(t_end - t_start, "dt"), qubit)
            return
        selection, self._qubits = self._qubits, None
        if _is_u(next_node):  # a copy, so that the runtime's absorption changes no input node
            next_node = DAGOpNode(next_node.op.copy(), next_node.qargs, next_node.cargs)
        # the matrices before absorption: the runtime changes the operation objects in place
        before = {id(node): _matrix(node.op) for node in (next_node, prev_node) if _is_u(node)}
        block, recorder = self._block_dag, _BlockRecorder(self._block_dag, next_node)
        phase_before = block.global_phase
        self._block_dag, self._inserted = recorder, []
        one_cycle = self._one_cycle_instead(qubit, t_end - t_start)
        kept = self._only_sequence(one_cycle, qubit) if one_cycle is not None else None
        try:
            super()._pad(block_idx, qubit, t_start, t_end, next_node, prev_node, enable_dd)
        finally:
            self._block_dag, self._qubits = block, selection
            if kept is not None:
                (self._dd_sequences, self._sequence_min_length_ratios, self._spacings, self._alt_spacings,
                 self._dd_sequence_lengths, self._insert_multiple_cycles) = kept
        inserted, self._inserted = self._inserted, None
        if not inserted:
            return
        product = np.eye(2, dtype=complex)
        for gate in inserted:
            product = _matrix(gate) @ product
        if recorder.substituted:
            (node, op), = recorder.substituted
            new = _matrix(op)
            whole = new @ product if node is next_node else product @ new
            phase = cmath.phase(np.trace(whole.conj().T @ before[id(node)]))
            if node is next_node:
                self._absorbed_next = op
        else:  # the product is c I: the block's phase takes the opposite of c's angle
            phase = -cmath.phase(product[0][0])
        block.global_phase = phase_before + phase

    def _one_cycle_instead(self, qubit, time_interval):
        """The index of the sequence the runtime's loop takes for this stretch with multiple
        cycles, if it is one gate G whose cycle count k is even with G^k not a multiple of the
        identity (then it takes one cycle, as for odd k); else None. The runtime's own arithmetic;
        where that raises, the runtime raises it itself."""
        if not self._insert_multiple_cycles or all(len(seq) != 1 for seq in self._dd_sequences):
            return None
        try:
            with np.errstate(all="ignore"):
                for i, seq in enumerate(self._dd_sequences):
                    length = np.sum(self._dd_sequence_lengths[qubit][i])
                    ratio = self._sequence_min_length_ratios[i]
                    if time_interval / length <= ratio:
                        continue
                    cycles = max(int(time_interval // (length * ratio)), 1)
                    mended = (len(seq) == 1 and cycles > 1 and cycles % 2 == 0
                              and not matrix_equal(np.linalg.matrix_power(_matrix(seq[0]), cycles), np.eye(2),
                                                   ignore_phase=True))
                    if len(seq) == 1 and cycles % 2 == 1:
                        cycles = 1
                    if time_interval - (1 if mended else cycles) * length <= 0:
                        continue
                    return i if mended else None
        except Exception:
            return None
        return None

    def _only_sequence(self, i, qubit):
        """Leaves the runtime sequence `i` alone, without multiple cycles, and warns as the runtime
        does for odd counts; returns what it replaced."""
        warnings.warn("one-gate DD sequence: its cycles multiply to no identity, one cycle is used")
        kept = (self._dd_sequences, self._sequence_min_length_ratios, self._spacings, self._alt_spacings,
                self._dd_sequence_lengths, self._insert_multiple_cycles)
        self._dd_sequences = [self._dd_sequences[i]]
        self._sequence_min_length_ratios = [self._sequence_min_length_ratios[i]]
        self._spacings = [self._spacings[i]]
        if self._coupling_map:
            self._alt_spacings = [self._alt_spacings[i]]
        self._dd_sequence_lengths = {**self._dd_sequence_lengths, qubit: [self._dd_sequence_lengths[qubit][i]]}
        self._insert_multiple_cycles = False
        return kept

    def _apply_scheduled_op(self, block_idx, t_start, oper, qubits, clbits=()):
        if self._inserted is not None:
            if not isinstance(oper, Delay):
                self._inserted.append(oper)
        elif self._absorbed_next is not None:
            oper, self._absorbed_next = self._absorbed_next, None
        return super()._apply_scheduled_op(block_idx, t_start, oper, qubits, clbits)


def fresh_bodies(circuit: QuantumCircuit) -> QuantumCircuit:
    """A copy of `circuit` whose control-flow bodies, at every depth, use new qubit objects."""
    out = circuit.copy_empty_like()
    for inst in circuit.data:
        op = inst.operation
        if isinstance(op, ControlFlowOp):
            op = op.replace_blocks([_rebuilt_body(block) for block in op.blocks])
        out._append(inst.replace(operation=op))
    return out


def _rebuilt_body(body: QuantumCircuit) -> QuantumCircuit:
    qubit_map: dict[Qubit, Qubit] = {}
    registers = []
    for reg in body.qregs:
        fresh = QuantumRegister(reg.size, reg.name)
        registers.append(fresh)
        qubit_map.update(zip(reg, fresh))
    qubits = [qubit_map.setdefault(q, Qubit()) for q in body.qubits]
    out = QuantumCircuit(qubits, body.clbits, *registers, *body.cregs, name=body.name,
                         global_phase=body.global_phase, metadata=body.metadata)
    for inst in body.data:
        op = inst.operation
        if isinstance(op, ControlFlowOp):
            op = op.replace_blocks([_rebuilt_body(block) for block in op.blocks])
        out._append(inst.replace(operation=op, qubits=[qubit_map[q] for q in inst.qubits]))
    return out


def outcome(run) -> Any:
    """What `run` returns, or the type of the exception it raises."""
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            return run()
    except Exception as err:  # compared by type
        return type(err)


def padded(circuit: QuantumCircuit, target: Target, scheduling: str = "alap", **options: Any) -> Any:
    """The runtime's analysis + PadDelay, mended: its output circuit, or the type of the exception
    it raises."""
    analysis = ANALYSES[scheduling](block_ordering_callable=options.get("block_ordering_callable"), target=target)
    pad = MendedPadDelay(**options, target=target)
    return outcome(lambda: PassManager([analysis, pad]).run(fresh_bodies(circuit)))


def decoupled(circuit: QuantumCircuit, target: Target, scheduling: str = "alap", **options: Any) -> Any:
    """The runtime's analysis + PadDynamicalDecoupling, mended: its output circuit, or the type of
    the exception it raises (at construction or while running)."""
    def run():
        analysis = ANALYSES[scheduling](block_ordering_callable=options.get("block_ordering_callable"),
                                        target=target)
        dd = MendedPadDynamicalDecoupling(**options, target=target)
        return PassManager([analysis, dd]).run(fresh_bodies(circuit))

    return outcome(run)


def phase_distance(a: float, b: float) -> float:
    """|a - b| modulo 2 pi."""
    return abs(math.remainder(float(a) - float(b), 2 * math.pi))
