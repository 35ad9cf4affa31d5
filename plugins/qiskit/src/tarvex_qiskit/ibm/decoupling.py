"""Dynamical decoupling for dynamic circuits: qiskit-ibm-runtime's PadDynamicalDecoupling natively
on the Tarvex core, with its plain faults mended (see docs/dynamic-circuits.md).

The pass takes the runtime pass's constructor parameters, plus `scheduling` for fused use. Alone in
a pass manager it schedules the circuit itself (fused use); after either ALAP or ASAP analysis,
ours or the runtime's, it pads the start times in the property set (drop-in use). Options are
checked where the runtime checks them: at construction, before the run, or at the first sequence
that would be placed.

Everything per gate runs natively: sequence choice, cycles, spacings, alignment and slack split
are the core's block decoupling filler, the pulses are written through Qiskit's C API. Python runs
once per run for the options, once per control-flow operation and once per barrier with
`dd_barrier`.
"""

from __future__ import annotations

import copy
import warnings
from collections.abc import Sequence
from typing import Any

import numpy as np
from qiskit.circuit import Gate, Qubit
from qiskit.circuit.parameterexpression import ParameterExpression
from qiskit.converters import circuit_to_dag
from qiskit.circuit import QuantumCircuit
from qiskit.dagcircuit import DAGCircuit
from qiskit.quantum_info.operators.predicates import matrix_equal
from qiskit.synthesis import OneQubitEulerDecomposer
from qiskit.transpiler import CouplingMap
from qiskit.transpiler.basepasses import TransformationPass
from qiskit.transpiler.exceptions import TranspilerError
from qiskit.transpiler.target import Target

from .. import _messages, _native, _requests
from .._circuits import pass_manager_output
from .._labels import relabel_circuit
from .scheduling import (
    BlockOrderingCallable,
    _Blocks,
    _drop_in,
    _duration_table,
    _finish,
    _given_times,
    _direct_circuits,
    _direct_ready,
    _is_physical,
    _native_circuits,
    _native_ready,
    _runtime,
)


def _nested(lists: Any) -> Any:
    """A flat list wrapped into a list of one: what the runtime accepts for one sequence."""
    if lists is not None:
        try:
            iter(lists[0])
        except TypeError:
            lists = [lists]
    return lists


def _phase_compensation(gates: Sequence[Gate], repeat: int = 1) -> float:
    """The global phase that keeps the operator when `gates` (repeated) go in: the angle of
    entry [0][0] of the adjoint of their product in circuit order. For Hermitian gates this is the
    angle of the product taken in list order."""
    product = np.eye(2)
    for gate in list(gates) * repeat:
        product = product.dot(np.asarray(gate.to_matrix()).conj().T)
    return float(np.angle(product[0][0]))


# The longest period looked for: a one-gate sequence whose powers reach the identity (up to phase)
# only later is taken to have none, and cycles of it always become one absorbed cycle.
_LONGEST_PERIOD = 1024


def _period(gate: Gate) -> int:
    """The fewest repetitions of `gate` that multiply to the identity up to phase, or 0 if none up
    to _LONGEST_PERIOD: from the angle between its eigenvalues, as a fraction of a turn."""
    first, second = np.linalg.eigvals(np.asarray(gate.to_matrix(), dtype=complex))
    turn = float(np.angle(first / second)) / (2 * np.pi)
    for p in range(1, _LONGEST_PERIOD + 1):
        if abs(p * turn - round(p * turn)) < 1e-9:
            return p
    return 0


class _DecouplingBlocks(_Blocks):
    """The Python side of one native decoupling run: _Blocks's callbacks, plus the named barriers,
    the phase each body gains and the labels of labelled pulses."""

    # Per pulse gate of the sequences, flattened in order: bytes, 1 where the gate has a label (read
    # by the native code before the walk), and the labels; None when no gate has one.
    labelled_pulses: bytes | None = None
    pulse_labels: tuple[str | None, ...] = ()

    def __init__(self, dag: DAGCircuit, target: Target | None, ordering: BlockOrderingCallable | None,
                 schedule_idle_qubits: bool, dd_barrier: str | None, keep_labels: bool):
        super().__init__(dag, target, ordering, schedule_idle_qubits, keep_labels)
        self.dd_barrier = dd_barrier
        self.written: dict[tuple[int, int], QuantumCircuit] = {}

    def labelled(self, cf: int, k: int, j: int) -> bool:
        holder = self.top if cf < 0 else self.ops[cf].blocks[k].data
        label = holder[j].operation.label
        return bool(label) and self.dd_barrier in label

    def body(self, cf: int, k: int, fast_path: bool, n_qubits: int) -> QuantumCircuit:
        out = super().body(cf, k, fast_path, n_qubits)
        self.written[(cf, k)] = out
        return out

    def phase(self, cf: int, k: int, value: float) -> None:
        body = self.written[(cf, k)]
        body.global_phase = body.global_phase + value

    def label_pulses(self, cf: int, k: int, data, entries: bytes) -> None:
        """Gives the pulses of output block `data` their gates' labels, as the runtime's copies of
        the sequence's gates keep them: `entries` holds (index in data, pulse gate) pairs of uint32."""
        at = memoryview(entries).cast("I")
        relabel_circuit(data._data if isinstance(data, QuantumCircuit) else data,
                        [self.pulse_labels[gate] for gate in at[1::2]], list(at[0::2]))


# Refusals of the native run, by status (graph/block_decoupling.hpp's DecouplingStatus).
_REFUSALS = {
    2: (OverflowError, _messages.DD_ZERO_CYCLE),
    3: (IndexError, _messages.DD_SPACING_TOO_LONG),
    4: (KeyError, _messages.DD_QUBIT_UNCOLOURED),
}


class PadDynamicalDecoupling(TransformationPass):
    """Fills the idle time of a dynamic circuit with dynamical-decoupling sequences, block by
    block, like the runtime's pass of the same name and parameters, plus `scheduling` for fused
    use ("alap" or "asap": the schedule used when no analysis ran before).

    Args:
        dd_sequences: a gate list, or several, tried in order in each idle stretch.
        qubits: the physical qubits to decouple (all when empty or None).
        spacings: per sequence, fractions of the slack around its gates (summing to 1).
        skip_reset_qubits: no sequence on a qubit still in its initial state or right after a reset.
        pulse_alignment: the gaps are multiples of this, in dt.
        extra_slack_distribution: "middle" or "edges".
        sequence_min_length_ratios: per sequence, the ratio of stretch to sequence above which it goes in.
        insert_multiple_cycles: repeat a sequence as often as the ratio allows.
        coupling_map: stagger neighbouring qubits (two colours), with `alt_spacings` on colour 1.
        alt_spacings: per sequence, the spacings of colour-1 qubits.
        schedule_idle_qubits: also pad qubits the circuit never uses.
        dd_barrier: only before barriers whose label contains this string.
        block_ordering_callable: the node order within each block; default: the runtime's.
        target: the backend's Target; durations and dt come from it.
        scheduling: the schedule of fused use.
        keep_labels: keep every instruction's label, bodies included, as the runtime does (the
            default); as PadDelay's keyword of that name.
    """

    def __init__(
        self,
        dd_sequences: list[Gate] | list[list[Gate]] | None = None,
        qubits: list[int] | None = None,
        spacings: list[list[float]] | list[float] | None = None,
        skip_reset_qubits: bool = True,
        pulse_alignment: int = 16,
        extra_slack_distribution: str = "middle",
        sequence_min_length_ratios: int | list[int] | None = None,
        insert_multiple_cycles: bool = False,
        coupling_map: CouplingMap | None = None,
        alt_spacings: list[list[float]] | list[float] | None = None,
        schedule_idle_qubits: bool = False,
        dd_barrier: str | None = None,
        block_ordering_callable: BlockOrderingCallable | None = None,
        target: Target | None = None,
        *,
        scheduling: str = "alap",
        keep_labels: bool = True,
    ):
        super().__init__()
        self.keep_labels = keep_labels
        if scheduling not in ("alap", "asap"):
            raise TranspilerError(_messages.scheduling_choice(scheduling))
        self.scheduling = scheduling
        self._target = target
        self._args = dict(dd_sequences=dd_sequences, qubits=qubits, spacings=spacings,
                          skip_reset_qubits=skip_reset_qubits, pulse_alignment=pulse_alignment,
                          extra_slack_distribution=extra_slack_distribution,
                          sequence_min_length_ratios=sequence_min_length_ratios,
                          insert_multiple_cycles=insert_multiple_cycles, coupling_map=coupling_map,
                          alt_spacings=alt_spacings, schedule_idle_qubits=schedule_idle_qubits,
                          dd_barrier=dd_barrier, block_ordering_callable=block_ordering_callable, target=target)
        if dd_sequences:
            try:
                iter(dd_sequences[0])
            except TypeError:
                dd_sequences = [dd_sequences]
        self._dd_sequences = dd_sequences
        self._qubits = qubits
        self._skip_reset_qubits = skip_reset_qubits
        self._alignment = pulse_alignment
        self._extra_slack_distribution = extra_slack_distribution
        self._insert_multiple_cycles = insert_multiple_cycles
        self._coupling_map = coupling_map
        self._schedule_idle_qubits = schedule_idle_qubits
        self._dd_barrier = dd_barrier
        self._block_ordering_callable = block_ordering_callable
        self._spacings = _nested(spacings)
        self._alt_spacings = _nested(alt_spacings)
        if self._spacings and len(self._spacings) != len(self._dd_sequences):
            raise TranspilerError(_messages.DD_SPACINGS_COUNT)
        if self._alt_spacings:
            if not self._coupling_map:
                warnings.warn(_messages.DD_ALT_SPACINGS_IGNORED)
            elif len(self._alt_spacings) != len(self._dd_sequences):
                raise TranspilerError(_messages.DD_ALT_SPACINGS_COUNT)
        if sequence_min_length_ratios is None:
            ratios = [2.0 for _ in self._dd_sequences]
        else:
            try:
                iter(sequence_min_length_ratios)  # type: ignore[arg-type]
                ratios = sequence_min_length_ratios
            except TypeError:
                ratios = [sequence_min_length_ratios]
        self._ratios = ratios
        if len(self._ratios) != len(self._dd_sequences):
            raise TranspilerError(_messages.DD_RATIOS_COUNT)
        self._runtime_pass = None  # the runtime's pass, for what only it handles
        # What runs reuse while the target's durations stay the same object: the sequence fields,
        # and per (qubit count, idle qubits) the selection and pulse durations.
        self._cache_key: Any = None
        self._cache: dict[Any, Any] = {}

    # ---- the checks the runtime makes before padding, in its order ----------------------------

    def _colours(self, n_qubits: int) -> bytes:
        if not self._coupling_map:
            return b""
        n_nodes = min(n_qubits, self._coupling_map.size())
        flat = [end for edge in self._coupling_map.get_edges() for end in edge]
        colours = _native.greedy_colouring(n_nodes, edges=flat)
        if any(c > 1 for c in colours):
            raise TranspilerError(_messages.DD_STAGGER_TOPOLOGY)
        return colours + b"\xff" * (n_qubits - n_nodes)

    def _check_sequences(self, physical: bool) -> None:
        """Fills in the default spacings (kept for later runs, as the runtime keeps them) and checks
        the given ones and each sequence, on a circuit that is `physical` or not."""
        spacings_required = self._spacings is None
        if spacings_required:
            self._spacings = []
        alt_required = self._alt_spacings is None and self._coupling_map is not None
        if alt_required:
            self._alt_spacings = []
        for i, seq in enumerate(self._dd_sequences):
            n = len(seq)
            if not physical:
                raise TranspilerError(_messages.DD_NOT_PHYSICAL)
            if spacings_required:
                self._spacings.append([1 / n / 2] + [1 / n] * (n - 1) + [1 / n / 2])
            elif sum(self._spacings[i]) != 1 or any(a < 0 for a in self._spacings[i]):
                raise TranspilerError(_messages.DD_SPACINGS_NOT_FRACTIONS)
            if self._coupling_map:
                if alt_required:
                    self._alt_spacings.append([1 / n] * n + [0])
                elif sum(self._alt_spacings[i]) != 1 or any(a < 0 for a in self._alt_spacings[i]):
                    raise TranspilerError(_messages.DD_SPACINGS_NOT_FRACTIONS)
            if n != 1:
                if n % 2:
                    raise TranspilerError(_messages.DD_SEQUENCE_ODD)
                product = np.eye(2)
                for gate in seq:
                    product = product.dot(gate.to_matrix())
                if not matrix_equal(product, np.eye(2), ignore_phase=True):
                    raise TranspilerError(_messages.DD_NOT_IDENTITY)

    def _pulse_durations(self, n_qubits: int, idle: set[int]) -> tuple[bytes, list[int]]:
        """Per qubit: whether it may take sequences (`qubits=` read as physical qubits), and the
        pulses' durations in whole dt from the target (checked for the qubits that need them)."""
        wanted = set(self._qubits) if self._qubits else None
        gates = [gate for seq in self._dd_sequences for gate in seq]
        selected = bytearray(n_qubits)
        durations = [0] * (n_qubits * len(gates))
        for q in range(n_qubits):
            if (wanted is not None and q not in wanted) or q in idle:
                continue
            selected[q] = 1
            for k, gate in enumerate(gates):
                seconds = None
                try:
                    seconds = self._target[gate.name].get((q,)).duration
                except Exception:  # any missing entry: no duration, as the runtime reads it
                    pass
                if seconds is None:
                    raise TranspilerError(_messages.dd_duration_not_found(gate, q))
                durations[q * len(gates) + k] = int(self._target.seconds_to_dt(seconds))
        return bytes(selected), durations

    # ---- the run ------------------------------------------------------------------------------

    def run(self, dag: DAGCircuit) -> DAGCircuit:
        """Pads `dag` (never modified) and returns the padded copy. Fused use: schedules it first.
        Drop-in use: pads the start times of node_start_time and the bodies of node_block_dags."""
        ps = self.property_set
        drop_in = _drop_in(dag, ps)
        if not _native_ready(dag, self._target) or not self._native_sequences():
            return self._runtime_run(dag, drop_in)
        idle = set()
        if not self._schedule_idle_qubits:
            idle = {dag.find_bit(w).index for w in dag.idle_wires() if isinstance(w, Qubit)}
        blocks, per_qubit = self._blocks(dag, dag.num_qubits(), idle, _is_physical(dag))
        top, out = _native_circuits(dag, blocks, bool(self.keep_labels), pad=True)
        given = _given_times(dag, ps["node_start_time"], ps["node_block_dags"]) if drop_in else None
        result = self._call(blocks, per_qubit, top, out, given, None if drop_in else self.scheduling)
        if result is None:
            return self._runtime_run(dag, drop_in)
        duration, phase = self._outcome(result, raise_refusals=True)
        padded = circuit_to_dag(QuantumCircuit._from_circuit_data(out), copy_operations=False)
        padded._duration = duration
        if phase:
            padded.global_phase = padded.global_phase + phase
        return _finish(padded, dag, ps)

    def run_circuit(self, circuit: QuantumCircuit) -> QuantumCircuit | None:
        """What `PassManager([self]).run(circuit)` returns, natively from circuit to circuit with no
        DAG in between (see PadDelay.run_circuit); None where only the pass manager promises the same
        output or message (the refusals of a run included). Raises what that pass manager raises
        for the options. O(instructions)."""
        if not _direct_ready(circuit, self._target, self._block_ordering_callable) or not self._native_sequences():
            return None
        n_qubits = circuit.num_qubits
        idle = set()
        if not self._schedule_idle_qubits:
            active = circuit._data.active_bits()[0]
            idle = {i for i, q in enumerate(circuit.qubits) if q not in active}
        blocks, per_qubit = self._blocks(circuit, n_qubits, idle, True)
        top, out = _direct_circuits(circuit, blocks)
        result = self._call(blocks, per_qubit, top, out, None, self.scheduling, in_own_order=True)
        if result is None:
            return None
        outcome = self._outcome(result, raise_refusals=False)
        if outcome is None:
            return None
        duration, phase = outcome
        if phase:
            out.global_phase = out.global_phase + phase
        return pass_manager_output(circuit, out, duration, None, None)

    def _blocks(self, source: Any, n_qubits: int, idle: set[int], physical: bool) -> tuple[_DecouplingBlocks, tuple]:
        """The checks a run makes before padding, in the runtime's order (the pulses' durations
        last), the run's writer, and the per-qubit fields: colours, the selection and the pulses'
        durations, the latter reused while the target's durations and the qubits stay the same."""
        colours = self._colours(n_qubits)
        self._check_sequences(physical)
        durations_key = self._target.durations()
        if self._cache_key is not durations_key:
            self._cache_key, self._cache = durations_key, {}
        qubit_key = (n_qubits, frozenset(idle))
        if qubit_key not in self._cache:
            self._cache[qubit_key] = self._pulse_durations(n_qubits, idle)
        selected, pulse_durations = self._cache[qubit_key]
        if "fields" not in self._cache:
            self._cache["fields"] = self._sequence_fields()
        blocks = _DecouplingBlocks(source, self._target, self._block_ordering_callable, self._schedule_idle_qubits,
                                   self._dd_barrier, bool(self.keep_labels))
        pulse_labels = tuple(gate.label for seq in self._dd_sequences for gate in seq)
        if any(label is not None for label in pulse_labels):
            blocks.labelled_pulses = bytes(label is not None for label in pulse_labels)
            blocks.pulse_labels = pulse_labels
        return blocks, (colours, selected, pulse_durations)

    def _call(self, blocks: _DecouplingBlocks, per_qubit: tuple, top: Any, out: Any, given: Any,
              scheduling: str | None, in_own_order: bool = False) -> Any:
        """The native run."""
        colours, selected, pulse_durations = per_qubit
        return _requests.call(_requests.DecouplingRequest(
            top=top,
            out=out,
            durations=_duration_table(self._target),
            dt=self._target.dt,
            scheduling=scheduling,
            given=given,
            schedule_idle_qubits=bool(self._schedule_idle_qubits),
            custom_order=self._block_ordering_callable is not None,
            writer=blocks,
            dd_barrier=bool(self._dd_barrier),
            selected=selected,
            pulse_durations=pulse_durations,
            colours=colours,
            keep_labels=blocks.keep_labels,
            in_own_order=in_own_order,
            **self._cache["fields"],
        ))

    def _outcome(self, result: Any, raise_refusals: bool) -> tuple[int, float] | None:
        """The duration and added phase of a native run; a refusal raises what the runtime raises
        (None instead, unless `raise_refusals`); odd cycles warn as the runtime warns."""
        duration, phase, status, odd = result
        if status == 1 or status in _REFUSALS:
            if not raise_refusals:
                return None
            if status == 1:
                raise TranspilerError(_messages.dd_slack_distribution(self._extra_slack_distribution))
            error, text = _REFUSALS[status]
            raise error(text)
        if odd:
            warnings.warn(_messages.DD_ODD_CYCLES)
        return duration, phase

    def _native_sequences(self) -> bool:
        """Every pulse is a standard gate with numeric parameters: written natively."""
        return all(
            getattr(gate, "_standard_gate", None) is not None
            and not any(isinstance(p, ParameterExpression) for p in gate.params)
            for seq in self._dd_sequences
            for gate in seq
        )

    def _sequence_fields(self) -> dict[str, Any]:
        n_pulses, integral, spacings, spacing_counts, alt, alt_counts, gates, phases, inverses, periods = (
            [], bytearray(), [], [], [], [], [], [], [], [])
        for i, seq in enumerate(self._dd_sequences):
            n_pulses.append(len(seq))
            integral.append(isinstance(self._ratios[i], (int, np.integer)) and not isinstance(self._ratios[i], bool))
            spacings += [float(s) for s in self._spacings[i]]
            spacing_counts.append(len(self._spacings[i]))
            if self._coupling_map:
                alt += [float(s) for s in self._alt_spacings[i]]
                alt_counts.append(len(self._alt_spacings[i]))
            else:
                alt_counts.append(0)
            gates += [(int(g._standard_gate), tuple(float(p) for p in g.params)) for g in seq]
            if len(seq) == 1:
                periods.append(_period(seq[0]))
                phases.append(_phase_compensation(seq, periods[-1]) if periods[-1] else 0.0)
                inverse = OneQubitEulerDecomposer().angles_and_phase(seq[0].inverse().to_matrix())
                inverses += [float(a) for a in inverse]
            else:
                phases.append(_phase_compensation(seq))
                inverses += [0.0] * 4
                periods.append(0)
        split = self._extra_slack_distribution
        return dict(
            n_pulses=n_pulses,
            ratios=[float(r) for r in self._ratios],
            integral_ratios=bytes(integral),
            spacings=spacings,
            spacing_counts=spacing_counts,
            alt_spacings=alt,
            alt_counts=alt_counts,
            gates=gates,
            alignment=float(self._alignment),
            split=split if split in ("middle", "edges") else "",
            skip_reset=bool(self._skip_reset_qubits),
            multiple_cycles=bool(self._insert_multiple_cycles),
            phases=phases,
            inverses=inverses,
            periods=periods,
        )

    def _runtime_run(self, dag: DAGCircuit, drop_in: bool) -> DAGCircuit:
        """The runtime's own passes, on a copy, for what the native run does not take."""
        runtime = _runtime()
        work = copy.deepcopy(dag)
        if not drop_in:
            cls = runtime.ALAPScheduleAnalysis if self.scheduling == "alap" else runtime.ASAPScheduleAnalysis
            analysis = cls(block_ordering_callable=self._block_ordering_callable, target=self._target)
            analysis.property_set = self.property_set
            work = analysis.run(work)
        if self._runtime_pass is None:
            args = dict(self._args)
            args["dd_sequences"] = copy.deepcopy(args["dd_sequences"])  # the runtime rewrites them
            self._runtime_pass = runtime.PadDynamicalDecoupling(**args)
        self._runtime_pass.property_set = self.property_set
        return self._runtime_pass.run(work)
