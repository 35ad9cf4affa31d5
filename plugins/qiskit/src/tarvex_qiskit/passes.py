"""PadDynamicalDecoupling and PadDelay: Qiskit's padding passes, scheduled and padded natively.

Each pass reads the DAG through Qiskit's C API, schedules it with the Tarvex core (or takes the
start times a Qiskit scheduling analysis left in the property set), plans every delay and pulse
sequence in the core and writes the output natively. Where the native path cannot promise
Qiskit's exact output (see `_pad_request`, and an operation the C API cannot read, such as a
custom gate), the pass runs Qiskit's own implementation on a copy of the DAG instead, so the
output is the same either way and the input DAG is never modified.
"""

from __future__ import annotations

import copy
from collections.abc import Iterable
from typing import Any

import numpy as np
from qiskit.circuit import Gate, ParameterExpression, QuantumCircuit
from qiskit.circuit.library import IGate
from qiskit.dagcircuit import DAGCircuit
from qiskit.quantum_info.operators.predicates import matrix_equal
from qiskit.transpiler.basepasses import TransformationPass
from qiskit.transpiler.exceptions import TranspilerError
from qiskit.transpiler.instruction_durations import InstructionDurations
from qiskit.transpiler.passmanager import PassManager
from qiskit.transpiler.passes import (
    ALAPScheduleAnalysis,
    ASAPScheduleAnalysis,
    TimeUnitConversion,
)
from qiskit.transpiler.passes import PadDelay as QiskitPadDelay
from qiskit.transpiler.passes import PadDynamicalDecoupling as QiskitPadDynamicalDecoupling
from qiskit.transpiler.target import Target

from . import _circuits, _labels, _messages, _requests, _timing
from ._requests import PadCircuitRequest, PadOptions, PadRequest
from ._start_times import StartTimes

_SCHEDULERS = {"alap": ALAPScheduleAnalysis, "asap": ASAPScheduleAnalysis}
# One byte per qubit for the native code: bit 0 pads the qubit, bit 1 lets it take a sequence.
_PAD, _DECOUPLE = 1, 2


def _physical(dag: DAGCircuit) -> bool:
    """Laid out on the device's qubits, as Qiskit's scheduling requires: one register, named q."""
    return len(dag.qregs) == 1 and dag.qregs.get("q", None) is not None


def _physical_circuit(circuit: QuantumCircuit) -> bool:
    registers = circuit.qregs
    return len(registers) == 1 and registers[0].name == "q"


class _NativePadding(TransformationPass):
    """Shared run logic: native request, fallback and the start-time record."""

    def __init__(
        self,
        target: Target | None,
        durations: InstructionDurations | None,
        scheduling: str,
        record_start_times: bool | None,
        keep_labels: bool,
    ):
        super().__init__()
        if scheduling not in _SCHEDULERS:
            raise TranspilerError(_messages.scheduling_choice(scheduling))
        self.target = target
        self.durations = durations
        self.scheduling = scheduling
        self.record_start_times = record_start_times
        self.keep_labels = keep_labels
        # (the target's durations object, number of qubits, bound options or None): see _options.
        self._target_options: tuple[InstructionDurations, int, Any] | None = None
        self._options_checked = False  # _check_options passed once: it depends on the options only

    def __getstate__(self) -> dict[str, Any]:
        # The bound options are a native object, neither copied nor pickled: made again on use.
        state = self.__dict__.copy()
        state["_target_options"] = None
        return state

    # What subclasses provide.
    def _qiskit_pass(self) -> TransformationPass:
        raise NotImplementedError

    def _pass_options(
        self, durations: InstructionDurations, num_qubits: int, delay_ok: list[bool]
    ) -> PadOptions | None:
        """The subclass's options for a DAG of `num_qubits` qubits; None: fall back."""
        raise NotImplementedError

    def _check_input(self, dag: DAGCircuit) -> None:
        """Refuses what Qiskit's pass refuses, before any work."""
        self._checked_options()

    def _check_options(self) -> None:
        """Refuses what Qiskit's pass refuses of its options alone."""

    def _checked_options(self) -> None:
        """_check_options, run until it passes once. O(1) afterwards."""
        if not self._options_checked:
            self._check_options()
            self._options_checked = True

    def _source_supported(self, source: DAGCircuit | QuantumCircuit) -> bool:
        """False where this DAG or circuit needs Qiskit's implementation."""
        return True

    def run(self, dag: DAGCircuit) -> DAGCircuit:
        """Pads `dag` (never modified) and returns the padded copy.

        Fused use (no node_start_time in the property set): schedules first, "alap" or "asap".
        Drop-in use: takes node_start_time. With `record_start_times` (default: only in drop-in
        use) node_start_time then describes the returned DAG; otherwise it is removed.
        """
        ps = self.property_set
        drop_in = "node_start_time" in ps and ps["node_start_time"] is not None
        record = drop_in if self.record_start_times is None else bool(self.record_start_times)
        if drop_in and ps["time_unit"] == "stretch":
            raise TranspilerError(_messages.STRETCH)
        if not drop_in and not _physical(dag):
            raise TranspilerError(_messages.not_physical(f"{self.scheduling.upper()} scheduling"))
        self._check_input(dag)
        prepared = self._pad_request(dag, drop_in, record)
        result = None if prepared is None else _requests.call(prepared[0])
        if result is None:  # not prepared, or an operation the native code cannot copy
            return self._qiskit_fallback(dag, drop_in, record)
        out, _, end, start_times, first_op, labelled_out = result
        _labels.relabel(out, prepared[1], labelled_out)
        out.name = dag.name
        out.metadata = dag.metadata
        out._unit = "dt"
        out._duration = end
        ps["time_unit"] = "dt"
        if record:
            ps["node_start_time"] = StartTimes(out, first_op, start_times)
        elif "node_start_time" in ps:
            del ps["node_start_time"]
        return out

    def _pad_request(self, dag: DAGCircuit, drop_in: bool, record: bool) -> tuple[PadRequest, list[str]] | None:
        """The native call's request and the labels of its labelled nodes, or None where only
        Qiskit's implementation gives its exact output: no dt, durations that are not whole dt or
        depend on parameters, a clbit write latency (fused), delays given as expressions,
        classical variables or bits outside the registers, and what the subclass refuses."""
        durations, table, options = self._options(dag.num_qubits())
        if options is None or not _timing.plain_bits(dag) or not self._source_supported(dag):
            return None
        if not drop_in and self.property_set["clbit_write_latency"]:
            return None
        delays = _timing.delay_durations(dag, durations.dt)
        if delays is None:
            return None
        ids, labels = _labels.labelled_nodes(dag, self.keep_labels)
        request = PadRequest(
            dag=dag,
            durations=table,
            delays=delays,
            scheduling="given" if drop_in else self.scheduling,
            start_times=self.property_set["node_start_time"] if drop_in else None,
            options=options,
            record=record,
            labelled=ids,
            registers=_timing.register_layout(dag),
        )
        return request, labels

    def run_circuits(self, circuits: Any, output_name: str | None = None) -> Any:
        """What `PassManager([self]).run(circuits, output_name=output_name)` returns, for one
        QuantumCircuit or a list of them (one after another in this process): from circuit to
        circuit natively where the direct path promises the same output, through that pass
        manager otherwise. NotImplemented for any other input. The direct path sets no property
        set. O(instructions) per circuit."""
        if isinstance(circuits, QuantumCircuit):
            return self._run_circuit(circuits, output_name)
        if isinstance(circuits, list) and all(isinstance(c, QuantumCircuit) for c in circuits):
            return [self._run_circuit(c, output_name) for c in circuits]
        return NotImplemented

    def _run_circuit(self, circuit: QuantumCircuit, output_name: str | None) -> QuantumCircuit:
        out = self._direct(circuit, output_name)
        if out is None:
            return PassManager([self]).run(circuit, output_name=output_name)
        return out

    def _direct(self, circuit: QuantumCircuit, output_name: str | None) -> QuantumCircuit | None:
        """The direct path's output, or None where only the pass manager gives the same output or
        message: what _pad_request refuses, and a subclass of QuantumCircuit, a circuit without a
        name (whose output gets a new one), one that is not physical or options Qiskit refuses
        (raised there), and whatever the native reader leaves to it (see read_circuit)."""
        if type(circuit) is not QuantumCircuit or not circuit.name or not _physical_circuit(circuit):
            return None
        try:
            self._checked_options()
        except TranspilerError:
            return None
        durations, table, options = self._options(circuit.num_qubits)
        if options is None or not _timing.plain_circuit_bits(circuit) or not self._source_supported(circuit):
            return None
        labelled, labels = _labels.labelled_instructions(circuit) if self.keep_labels else ([], [])
        request = PadCircuitRequest(
            circuit=circuit._data,
            durations=table,
            dt=durations.dt,
            scheduling=self.scheduling,
            options=options,
            record=bool(self.record_start_times),
            labelled=labelled,
            barriers=not self.keep_labels,
        )
        result = _requests.call(request)
        if result is None:
            return None
        data, _, end, start_times, labelled_out, barriers = result
        if self.keep_labels:
            _labels.relabel_circuit(data, labels, labelled_out)
        else:
            _labels.relabel_barriers(circuit, data, barriers)
        return _circuits.pass_manager_output(circuit, data, end, start_times, output_name)

    def _options(self, num_qubits: int) -> tuple[Any, Any, Any]:
        """The durations Qiskit's passes use (the target's when there is one), their native table
        and the pass's options for a source of `num_qubits` qubits, bound natively (None: fall
        back). A target's are kept while its durations object and the number of qubits stay the
        same (Qiskit replaces that object whenever the target changes): O(1). An
        InstructionDurations given directly may change in place and is read on every run,
        O(entries + qubits x pulses)."""
        if self.target is not None:
            durations, table = _timing.target_table(self.target)
            cached = self._target_options
            if cached is not None and cached[0] is durations and cached[1] == num_qubits:
                return durations, table, cached[2]
        else:
            durations = self.durations
            table = _timing.duration_table(durations)
        options = None
        if table is not None:
            delay_ok = [
                self.target is None or self.target.instruction_supported("delay", qargs=(q,)) for q in range(num_qubits)
            ]
            fields = self._pass_options(durations, num_qubits, delay_ok)
            options = None if fields is None else _requests.call(fields)
        if self.target is not None:
            self._target_options = (durations, num_qubits, options)
        return durations, table, options

    def _qiskit_fallback(self, dag: DAGCircuit, drop_in: bool, record: bool) -> DAGCircuit:
        # Qiskit's passes change the DAG they run on (unit conversion, removed delays): a copy.
        work = copy.deepcopy(dag)
        ps = self.property_set
        steps: list[Any] = []
        if not drop_in:
            scheduler = _SCHEDULERS[self.scheduling]
            steps += [TimeUnitConversion(self.durations, target=self.target), scheduler(self.durations, target=self.target)]
        steps.append(self._qiskit_pass())
        for step in steps:
            step.property_set = ps
            result = step.run(work)
            if isinstance(result, DAGCircuit):
                work = result
        if not record and "node_start_time" in ps:
            del ps["node_start_time"]
        return work


class PadDelay(_NativePadding):
    """Fills every idle stretch of a scheduled circuit with a Delay, like Qiskit's PadDelay.

    Args:
        fill_very_end: also fill each qubit from its last operation to the circuit's end.
        target: the backend's Target; durations and delay support come from it.
        durations: InstructionDurations, used when there is no target.
        scheduling: "alap" or "asap", the schedule of fused use.
        record_start_times: keep node_start_time for the output; default: only in drop-in use.
        keep_labels: keep the labels of every instruction, as Qiskit does (the default); False
            keeps only the barriers' and saves a walk over the instructions in Python.
    """

    def __init__(
        self,
        fill_very_end: bool = True,
        target: Target | None = None,
        durations: InstructionDurations | None = None,
        *,
        scheduling: str = "alap",
        record_start_times: bool | None = None,
        keep_labels: bool = True,
    ):
        super().__init__(target, durations, scheduling, record_start_times, keep_labels)
        self._fill_very_end = fill_very_end

    def _qiskit_pass(self) -> TransformationPass:
        return QiskitPadDelay(fill_very_end=self._fill_very_end, target=self.target, durations=self.durations)

    def _pass_options(
        self, durations: InstructionDurations, num_qubits: int, delay_ok: list[bool]
    ) -> PadOptions | None:
        return PadOptions(
            qubits=bytes(_PAD if ok else 0 for ok in delay_ok),
            decouple=False,
            fill_to_end=bool(self._fill_very_end),
            skip_reset=False,
            alignment=1.0,
            split="middle",
            spacing=[],
            sequence=[],
            pulse_durations=[],
            phase=0.0,
        )


class PadDynamicalDecoupling(_NativePadding):
    """Inserts a dynamical decoupling sequence into idle stretches, like Qiskit's pass of the
    same name and parameters; the sequence must compose to the identity up to a global phase.

    Args:
        durations: InstructionDurations, used when there is no target.
        dd_sequence: the gates of the sequence (required).
        qubits: the physical qubits that get sequences; None: all.
        spacing: fractions of each stretch's slack before, between and after the gates.
        skip_reset_qubits: no sequence right after the circuit's start or a reset.
        pulse_alignment: gaps are multiples of it (the target's, when there is one).
        extra_slack_distribution: "middle" or "edges".
        target: the backend's Target; it takes precedence over durations and pulse_alignment.
        scheduling: "alap" or "asap", the schedule of fused use.
        record_start_times: keep node_start_time for the output; default: only in drop-in use.
        keep_labels: keep the labels of every instruction, as Qiskit does (the default); False
            keeps only the barriers' and saves a walk over the instructions in Python.

    A one-gate sequence (which Qiskit absorbs into neighbouring U gates) and gates that are not
    standard gates with numeric parameters run Qiskit's implementation.
    """

    def __init__(
        self,
        durations: InstructionDurations | None = None,
        dd_sequence: Iterable[Gate] | None = None,
        qubits: Iterable[int] | None = None,
        spacing: Iterable[float] | None = None,
        skip_reset_qubits: bool = True,
        pulse_alignment: int = 1,
        extra_slack_distribution: str = "middle",
        target: Target | None = None,
        *,
        scheduling: str = "alap",
        record_start_times: bool | None = None,
        keep_labels: bool = True,
    ):
        super().__init__(target, durations, scheduling, record_start_times, keep_labels)
        if dd_sequence is None:
            raise TypeError(_messages.DD_SEQUENCE_MISSING)
        self._dd_sequence = list(dd_sequence)
        self._qubits = qubits
        self._spacing = spacing
        self._skip_reset_qubits = skip_reset_qubits
        self._pulse_alignment = pulse_alignment
        self._extra_slack_distribution = extra_slack_distribution
        if target is not None:
            for gate in self._dd_sequence:
                if gate.name not in target.operation_names:
                    raise TranspilerError(_messages.dd_gate_not_in_target(gate.name))

    def _qiskit_pass(self) -> TransformationPass:
        return QiskitPadDynamicalDecoupling(
            durations=self.durations,
            dd_sequence=self._dd_sequence,
            qubits=self._qubits,
            spacing=self._spacing,
            skip_reset_qubits=self._skip_reset_qubits,
            pulse_alignment=self._pulse_alignment,
            extra_slack_distribution=self._extra_slack_distribution,
            target=self.target,
        )

    def _check_input(self, dag: DAGCircuit) -> None:
        if not _physical(dag):
            raise TranspilerError(_messages.not_physical("dynamical decoupling"))
        self._checked_options()

    def _check_options(self) -> None:
        n = len(self._dd_sequence)
        if n != 1 and n % 2:
            raise TranspilerError(_messages.dd_sequence_odd(n))
        spacing = self._spacing_fractions()
        if sum(spacing) != 1 or any(a < 0 for a in spacing):
            raise TranspilerError(_messages.SPACING)
        if n != 1:
            self._sequence_phase()

    def _spacing_fractions(self) -> list[float]:
        if self._spacing is not None:
            return list(self._spacing)
        n = len(self._dd_sequence)
        mid = 1 / n
        return [mid / 2] + [mid] * (n - 1) + [mid / 2]

    def _sequence_phase(self) -> float:
        product = np.eye(2)
        for gate in self._dd_sequence:
            product = product.dot(gate.to_matrix())
        if not matrix_equal(product, IGate().to_matrix(), ignore_phase=True):
            raise TranspilerError(_messages.dd_not_identity([gate.name for gate in self._dd_sequence]))
        return float(np.angle(product[0][0]))

    def _source_supported(self, source: DAGCircuit | QuantumCircuit) -> bool:
        # The sequences' phase is added natively only to a numeric global phase.
        return isinstance(source.global_phase, (int, float))

    def _pass_options(
        self, durations: InstructionDurations, num_qubits: int, delay_ok: list[bool]
    ) -> PadOptions | None:
        sequence = []
        for gate in self._dd_sequence:
            standard = getattr(gate, "_standard_gate", None)
            if (
                len(self._dd_sequence) == 1
                or standard is None
                or gate.label is not None
                or any(isinstance(p, ParameterExpression) for p in gate.params)
            ):
                return None
            sequence.append((int(standard), tuple(float(p) for p in gate.params)))
        alignment = self.target.pulse_alignment if self.target is not None else self._pulse_alignment
        if not isinstance(alignment, int) or alignment < 1:
            return None
        subset = set(self._qubits) if self._qubits else None
        flags = bytearray(num_qubits)
        pulse_durations = [0.0] * (num_qubits * len(sequence))
        for q in range(num_qubits):
            flags[q] = _PAD if delay_ok[q] else 0
            supported = self.target is None or all(
                self.target.instruction_supported(gate.name, qargs=(q,)) for gate in self._dd_sequence
            )
            if not supported or (subset is not None and q not in subset):
                continue
            flags[q] |= _DECOUPLE
            for k, gate in enumerate(self._dd_sequence):
                try:
                    length = durations.get(gate, q)
                except TranspilerError as err:
                    raise TranspilerError(_messages.dd_gate_no_duration(gate.name, q)) from err
                if not _timing.whole(length):
                    return None
                pulse_durations[q * len(sequence) + k] = float(length)
        # Another value is refused where the first sequence would be placed, as Qiskit does.
        split = self._extra_slack_distribution if self._extra_slack_distribution in ("middle", "edges") else ""
        return PadOptions(
            qubits=bytes(flags),
            decouple=True,
            fill_to_end=True,
            skip_reset=bool(self._skip_reset_qubits),
            alignment=float(alignment),
            split=split,
            spacing=[float(s) for s in self._spacing_fractions()],
            sequence=sequence,
            pulse_durations=pulse_durations,
            phase=self._sequence_phase(),
        )
