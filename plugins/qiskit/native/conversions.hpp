// Conversions between Qiskit circuits and the core module's QuantumDAG, natively and in bulk.
#pragma once

#include <Python.h>

namespace tarvex::qiskit_plugin {

/// _native.to_quantum_dag(source, *, is_dag, factory, durations, delays, dt_ns) -> QuantumDAG:
/// every instruction of `source` (a DAGCircuit, or a QuantumCircuit's CircuitData) in topological
/// order becomes factory().add_gate(name, qubits, duration). Durations come from `durations`,
/// those of a DAG's delays from `delays` (node id -> duration), a circuit's delays from their unit
/// and `dt_ns` (the length of one dt in the output's unit, or None).
PyObject* to_quantum_dag(PyObject* self, PyObject* args, PyObject* kwargs);

/// _native.from_quantum_dag(graph, *, source, num_qubits, num_clbits, in_dt) -> QuantumCircuit:
/// the scheduled graph's nodes in id order, with delays filling every qubit's idle time up to the
/// end, in ns or (`in_dt`) whole dt. DD_X and DD_Y become x and y; "delay" nodes become idle time; with
/// `source` (a CircuitData) the other nodes are its instructions in order, else standard gates without
/// parameters, measure (into the clbit of the qubit's index), reset and barrier.
PyObject* from_quantum_dag(PyObject* self, PyObject* args, PyObject* kwargs);

}  // namespace tarvex::qiskit_plugin
