"""The IBM passes' Python messages: every text they raise, built here only."""

from __future__ import annotations

NOT_PHYSICAL = "ASAP schedule runs on physical circuits only"
NOT_IN_DT = 'All blocks must have time units of "dt". Please run TimeUnitConversion pass prior to padding.'
RUNTIME_MISSING = (
    "{what} needs qiskit-ibm-runtime, which is not installed: pip install 'tarvex-qiskit[ibm]'"
)
BAD_SCHEDULING = "scheduling must be 'alap' or 'asap', not {value!r}"


def not_scheduled(node: object) -> str:
    return (
        f"Operation {node!r} is likely added after the circuit is scheduled. "
        "Schedule the circuit again if you transformed it."
    )
