"""Native Qiskit passes built on the Tarvex core.

`PadDynamicalDecoupling` and `PadDelay` take the constructor parameters of Qiskit's passes of the
same names, plus `scheduling` ("alap" or "asap") and `record_start_times`. Placed alone in a
pass manager they schedule the circuit themselves (fused use); placed after Qiskit's
`ALAPScheduleAnalysis` or `ASAPScheduleAnalysis` they take its start times (drop-in use). Either
way the output equals Qiskit's own analysis plus padding pass.

`decouple` and `pad_delays` give the same from QuantumCircuit to QuantumCircuit without a pass
manager (the direct path). `transpile(..., scheduling_method="tarvex_alap")` (or "tarvex_asap")
runs the native `PadDelay` as the scheduling stage. `to_quantum_dag` and `from_quantum_dag` convert between Qiskit circuits
and `_tarvex.QuantumDAG`.

Importing this package checks that the installed Qiskit is of the minor series the native module
was built against, and raises ImportError otherwise.
"""

from ._native import QISKIT_BUILD_VERSION
from .conversions import from_quantum_dag, to_quantum_dag
from .direct import decouple, pad_delays
from .passes import PadDelay, PadDynamicalDecoupling

__all__ = [
    "PadDynamicalDecoupling",
    "PadDelay",
    "decouple",
    "pad_delays",
    "to_quantum_dag",
    "from_quantum_dag",
    "QISKIT_BUILD_VERSION",
]
