"""Every text the Python side of tarvex_qiskit shows a user (the native module's own are in
native/messages.cpp)."""

from __future__ import annotations

STRETCH = "circuits with stretch durations cannot be scheduled"
DD_SEQUENCE_MISSING = "PadDynamicalDecoupling() missing required argument 'dd_sequence'"
SPACING = "spacing must be non-negative fractions of the slack that sum to 1"
NEEDS_TARVEX = "tarvex_qiskit conversions need the tarvex package: pip install . (the repository root)"
UNIT_DT_NEEDS_DT = "unit='dt' needs a target with dt"
DURATIONS_NOT_WHOLE = "the target's durations are not whole numbers of dt"
DELAY_EXPRESSION = "a delay given as an expression has no duration in dt"


def scheduling_choice(scheduling: object) -> str:
    return f"scheduling must be 'alap' or 'asap', not {scheduling!r}"


def unit_choice(unit: object) -> str:
    return f"unit must be 'ns' or 'dt', not {unit!r}"


def not_physical(what: str) -> str:
    """`what` ("ALAP scheduling", "dynamical decoupling", ...) refused on a circuit that is not
    laid out on the device's qubits."""
    return f"{what} needs a physical circuit: one quantum register named 'q'"


def dd_gate_not_in_target(name: str) -> str:
    return f"the target does not support {name}, a gate of the DD sequence"


def dd_sequence_odd(n: int) -> str:
    return f"the DD sequence has {n} gates; it needs an even number (or one)"


def dd_not_identity(names: list[str]) -> str:
    return f"the DD sequence [{', '.join(names)}] is not the identity up to a global phase"


def dd_gate_no_duration(name: str, qubit: int) -> str:
    return f"{name} on qubits [{qubit}]: no duration for it, so no DD there"


# The dynamic-circuit passes (ibm/scheduling.py), in the runtime's wording where they refuse what it refuses.
IBM_NOT_PHYSICAL = "ASAP schedule runs on physical circuits only"
IBM_NOT_IN_DT = 'All blocks must have time units of "dt". Please run TimeUnitConversion pass prior to padding.'
IBM_RUNTIME_MISSING = "This circuit needs qiskit-ibm-runtime, which is not installed: pip install 'tarvex-qiskit[ibm]'"


def ibm_not_scheduled(node: object) -> str:
    return (
        f"Operation {node!r} is likely added after the circuit is scheduled. "
        "Schedule the circuit again if you transformed it."
    )
