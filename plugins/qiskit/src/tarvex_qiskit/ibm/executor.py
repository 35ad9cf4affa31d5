"""The dynamical decoupling of IBM's executor-based primitives: their pass manager, run natively.

qiskit-ibm-runtime's executor schedules every circuit of a job (ALAP or ASAP after a unit
conversion), inserts an XX, XpXm or XY4 sequence of X and RZ gates into every idle stretch with
Qiskit's PadDynamicalDecoupling and pads what is left with PadDelay. The pass manager made here
gives the same circuits, start times included, with the fused native pass; where the native path
cannot promise that, it runs those four Qiskit passes itself. Its `run` on QuantumCircuits takes
the direct path, from circuit to circuit with no DAG in between.
"""

from __future__ import annotations

import copy
import math
from typing import Any

from qiskit.circuit import Gate
from qiskit.circuit.library import RZGate, XGate
from qiskit.dagcircuit import DAGCircuit
from qiskit.transpiler import PassManager, Target
from qiskit.transpiler.basepasses import BasePass
from qiskit.transpiler.passes import ALAPScheduleAnalysis, ASAPScheduleAnalysis, TimeUnitConversion
from qiskit.transpiler.passes import PadDelay as QiskitPadDelay
from qiskit.transpiler.passes import PadDynamicalDecoupling as QiskitPadDynamicalDecoupling

from ..passes import PadDynamicalDecoupling

# Each sequence type as the frame angles of its X pulses, in order. A pulse at angle a is
# RZ(a) X RZ(-a): X turned by a in the XY plane (pi: -X, pi/2: +Y, -pi/2: -Y); at 0 it is X alone.
# The frame changes take no time, and no slack is put between them and their pulse.
_PULSE_FRAMES: dict[str, tuple[float, ...]] = {
    "XX": (0.0, 0.0),
    "XpXm": (0.0, math.pi),
    "XY4": (0.0, math.pi / 2, math.pi, -math.pi / 2),
}


def dd_sequence(sequence_type: object) -> tuple[list[Gate], list[float]]:
    """The gates of `sequence_type` ("XX", "XpXm" or "XY4") and the spacing PadDynamicalDecoupling
    takes for them: the slack shared evenly between the pulses, half shares before the first and
    after the last. ValueError for any other type. O(1)."""
    for name, frames in _PULSE_FRAMES.items():
        if sequence_type == name:
            break
    else:
        raise ValueError(f"sequence_type must be 'XX', 'XpXm' or 'XY4', not {sequence_type!r}")
    share = 1 / len(frames)
    gates: list[Gate] = []
    spacing: list[float] = []
    for k, angle in enumerate(frames):
        before = share / 2 if k == 0 else share
        if angle:
            gates += [RZGate(angle), XGate(), RZGate(-angle)]
            spacing += [before, 0.0, 0.0]
        else:
            gates.append(XGate())
            spacing.append(before)
    spacing.append(share / 2)
    return gates, spacing


class ExecutorDecoupling(PadDynamicalDecoupling):
    """The executor's whole pipeline as one pass: unit conversion, scheduling, the sequences and the
    remaining delays. It always schedules the circuit itself, as the pipeline's own analysis does
    whatever an earlier pass left in the property set, and always records start times, which the
    pipeline's output carries."""

    def __init__(
        self,
        target: Target,
        dd_sequence: list[Gate],
        spacing: list[float],
        scheduling: str,
        skip_reset_qubits: bool,
        extra_slack_distribution: str,
    ):
        super().__init__(
            dd_sequence=dd_sequence,
            spacing=spacing,
            skip_reset_qubits=skip_reset_qubits,
            extra_slack_distribution=extra_slack_distribution,
            target=target,
            scheduling=scheduling,
            record_start_times=True,
        )

    def run(self, dag: DAGCircuit) -> DAGCircuit:
        self.property_set["node_start_time"] = None
        return super().run(dag)

    def qiskit_passes(self) -> list[BasePass]:
        """Fresh Qiskit passes of the pipeline: Qiskit's padding keeps per-run state in the pass."""
        target = self.target
        scheduler = ALAPScheduleAnalysis if self.scheduling == "alap" else ASAPScheduleAnalysis
        steps: list[BasePass] = [TimeUnitConversion(target=target)] if target.dt is not None else []
        return steps + [
            scheduler(target=target),
            QiskitPadDynamicalDecoupling(
                dd_sequence=list(self._dd_sequence),  # Qiskit's pass rewrites the list it holds
                spacing=list(self._spacing),
                skip_reset_qubits=self._skip_reset_qubits,
                extra_slack_distribution=self._extra_slack_distribution,
                target=target,
            ),
            QiskitPadDelay(target=target),
        ]

    def _qiskit_fallback(self, dag: DAGCircuit, drop_in: bool, record: bool) -> DAGCircuit:
        work = copy.deepcopy(dag)  # Qiskit's passes change the DAG they run on
        for step in self.qiskit_passes():
            step.property_set = self.property_set
            result = step.run(work)
            if isinstance(result, DAGCircuit):
                work = result
        return work



class ExecutorPassManager(PassManager):
    """The executor's DD pass manager: one ExecutorDecoupling pass. `run` on one QuantumCircuit or a
    list of them, with no callback or property set and nothing added to the pass manager, takes
    the direct path (one circuit after another in this process, whatever `num_processes` says) and
    leaves the property set alone; otherwise it runs as any PassManager."""

    def __init__(self, decoupling: ExecutorDecoupling):
        super().__init__([decoupling])
        self._decoupling = decoupling

    def run(  # type: ignore[override]
        self,
        circuits: Any,
        output_name: str | None = None,
        callback: Any = None,
        num_processes: int | None = None,
        *,
        property_set: dict[str, object] | None = None,
    ) -> Any:
        if callback is None and property_set is None and self._holds_only_its_pass():
            out = self._decoupling.run_circuits(circuits, output_name)
            if out is not NotImplemented:
                return out
        return super().run(circuits, output_name, callback, num_processes, property_set=property_set)

    def _holds_only_its_pass(self) -> bool:
        tasks = self._tasks
        return len(tasks) == 1 and len(tasks[0]) == 1 and tasks[0][0] is self._decoupling


def generate_dd_pass_manager(backend: Any, options: Any) -> PassManager:
    """The executor's DD pass manager for `backend` (anything with a `target`) and `options` (a
    DynamicalDecouplingOptions, or anything with its attributes `sequence_type`,
    `scheduling_method`, `skip_reset_qubits` and `extra_slack_distribution`). Read as the runtime
    reads them: a `scheduling_method` other than "alap" schedules ASAP; an invalid
    `extra_slack_distribution` raises TranspilerError when the first sequence is due. ValueError
    for an unknown `sequence_type`, then for a backend without a target. O(1); the pass builds its
    per-qubit tables on its first run and keeps them while the target's durations stay the same."""
    sequence, spacing = dd_sequence(options.sequence_type)
    target = backend.target
    if target is None:
        raise ValueError("dynamical decoupling needs the backend's target for its timing; this backend has none")
    decoupling = ExecutorDecoupling(
        target=target,
        dd_sequence=sequence,
        spacing=spacing,
        scheduling="alap" if options.scheduling_method == "alap" else "asap",
        skip_reset_qubits=options.skip_reset_qubits,
        extra_slack_distribution=options.extra_slack_distribution,
    )
    return ExecutorPassManager(decoupling)


def apply_dynamical_decoupling(backend: Any, dd_options: Any, quantum_program: Any) -> Any:
    """Replaces the circuit of every item of `quantum_program` (a QuantumProgram, or anything whose
    `items` have a settable `circuit`) by its decoupled circuit, item after item as the runtime
    does, and returns `quantum_program`. O(instructions) per item."""
    pass_manager = generate_dd_pass_manager(backend, dd_options)
    for item in quantum_program.items:
        item.circuit = pass_manager.run(item.circuit)
    return quantum_program
