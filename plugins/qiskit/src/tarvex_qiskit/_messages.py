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

# ---- dynamical decoupling of dynamic circuits (ibm/decoupling.py) -----------------------------
DD_SPACINGS_COUNT = "spacings: give one spacing list per DD sequence"
DD_ALT_SPACINGS_COUNT = "alt_spacings: give one spacing list per DD sequence"
DD_ALT_SPACINGS_IGNORED = "alt_spacings are not used without a coupling_map"
DD_RATIOS_COUNT = "sequence_min_length_ratios: give one ratio per DD sequence"
DD_STAGGER_TOPOLOGY = (
    "staggered dynamical decoupling needs the coupling map's qubits in two colours; this topology needs more"
)
DD_NOT_PHYSICAL = "dynamical decoupling needs a physical circuit: one quantum register named 'q'"
DD_SPACINGS_NOT_FRACTIONS = "spacings must be fractions of the slack, none negative, that sum to 1"
DD_SEQUENCE_ODD = "a DD sequence needs an even number of gates, or one"
DD_NOT_IDENTITY = "the DD sequence's gates do not multiply to the identity"
DD_ZERO_CYCLE = "insert_multiple_cycles: a zero sequence length or ratio leaves the cycle count infinite"
DD_SPACING_TOO_LONG = "a spacing list asks for more gates than its DD sequence has"
DD_QUBIT_UNCOLOURED = "a qubit outside the coupling map was to take a staggered DD sequence"
DD_ODD_CYCLES = (
    "a one-gate DD sequence fits a number of cycles that would not multiply to the identity (odd, or a power of the "
    "gate that is not the identity): one cycle is used"
)


def dd_duration_not_found(gate: object, qubit: int) -> str:
    return f"no duration for DD gate {gate} on qubit {qubit} in the target"


def dd_slack_distribution(value: object) -> str:
    return f"extra_slack_distribution={value!r}: use 'middle' or 'edges'"
