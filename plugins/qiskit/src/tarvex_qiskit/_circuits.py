"""The QuantumCircuit the direct path returns: what a pass manager's output carries, around native data."""

from __future__ import annotations

from typing import Any

from qiskit.circuit import QuantumCircuit
from qiskit.circuit.quantumcircuit import _OuterCircuitScopeInterface


def pass_manager_output(
    source: QuantumCircuit, data: Any, duration_dt: int, start_times: list[int] | None, output_name: str | None
) -> QuantumCircuit:
    """The circuit PassManager.run returns for `source` when its passes leave the instructions of
    `data` (a CircuitData with the source's bits, registers and the output's global phase, in the
    order a DAG lists them): the source's name or `output_name`, a shallow copy of its metadata,
    the duration in dt, the start times (None when there are none), and no layout or latencies, as
    a fresh property set has none. Assumes a plain QuantumCircuit. O(1)."""
    out = QuantumCircuit.__new__(QuantumCircuit)
    # Every attribute this Qiskit gives a circuit, then each one a pass manager's output sets anew.
    out.__dict__.update(source.__dict__)
    name = source.name if output_name is None else output_name
    out._base_name = name
    out.name = name
    out._data = data
    out._ancillas = source._ancillas.copy()
    out._builder_api = _OuterCircuitScopeInterface(out)
    out._control_flow_scopes = []
    out.metadata = source.metadata.copy()
    out._layout = None
    out._duration = duration_dt
    out._unit = "dt"
    out._op_start_times = start_times or None  # a pass manager keeps only non-empty start times
    out._clbit_write_latency = None
    out._conditional_latency = None
    QuantumCircuit._increment_instances()  # as the pass manager's new circuit counts for automatic names
    return out
