"""Scheduling-stage plugins for transpile: "tarvex_alap" and "tarvex_asap".

Registered under Qiskit's `qiskit.transpiler.scheduling` entry points. Each builds the stage that
Qiskit's "alap" / "asap" plugin builds, with the native PadDelay as its padding pass. Without
timing constraints beyond 1 the native pass also schedules (one pass); otherwise Qiskit's
scheduling analysis and alignment passes run first and the native pass pads after them. Start
times are recorded, so the transpiled circuit carries op_start_times as with Qiskit's stage.
"""

from __future__ import annotations

from qiskit.passmanager import ConditionalController
from qiskit.transpiler import PassManager, PassManagerConfig
from qiskit.transpiler.passes import (
    ALAPScheduleAnalysis,
    ASAPScheduleAnalysis,
    ConstrainedReschedule,
    InstructionDurationCheck,
    TimeUnitConversion,
)
from qiskit.transpiler.preset_passmanagers.plugin import PassManagerStagePlugin
from qiskit.transpiler.timing_constraints import TimingConstraints

from .passes import PadDelay


class _SchedulingStage(PassManagerStagePlugin):
    scheduling = "alap"

    def pass_manager(self, pass_manager_config: PassManagerConfig, optimization_level: int | None = None) -> PassManager:
        durations = pass_manager_config.instruction_durations
        target = pass_manager_config.target
        constraints = pass_manager_config.timing_constraints or TimingConstraints()
        pad = PadDelay(target=target, durations=durations, scheduling=self.scheduling, record_start_times=True)
        aligned = (
            constraints.granularity == 1
            and constraints.min_length == 1
            and constraints.acquire_alignment == 1
            and constraints.pulse_alignment == 1
        )
        if aligned:
            return PassManager([pad])
        analysis = ALAPScheduleAnalysis if self.scheduling == "alap" else ASAPScheduleAnalysis
        alignment = dict(acquire_alignment=constraints.acquire_alignment, pulse_alignment=constraints.pulse_alignment)
        return PassManager(
            [
                TimeUnitConversion(durations, target=target),
                analysis(durations, target=target),
                InstructionDurationCheck(target=target, **alignment),
                ConditionalController(
                    ConstrainedReschedule(target=target, **alignment),
                    condition=lambda property_set: property_set["reschedule_required"],
                ),
                pad,
            ]
        )


class AlapSchedulingStage(_SchedulingStage):
    """transpile(..., scheduling_method="tarvex_alap"): Qiskit's "alap" stage, padded natively."""

    scheduling = "alap"


class AsapSchedulingStage(_SchedulingStage):
    """transpile(..., scheduling_method="tarvex_asap"): Qiskit's "asap" stage, padded natively."""

    scheduling = "asap"
