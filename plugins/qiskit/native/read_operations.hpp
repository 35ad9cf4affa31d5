// A Qiskit DAG's or circuit's operations as the core's graph: what the readers give the padding.
#pragma once

#include <cstdint>
#include <vector>

#include "graph/quantum_dag.hpp"

namespace tarvex::qiskit_plugin {

/// What the writer needs to copy an operation, beside its wires.
enum class OpKind : std::uint8_t { kGate, kMeasure, kReset, kBarrier, kDelay, kUnitary };

/// The operations of a DAG or circuit as the core sees them: node i of `graph` is the source's
/// operation `source_ids[i]` (a DAG's op node id, a circuit's instruction index), in a topological
/// order. Wires 0 .. n_qubits - 1 are the qubits, the classical bits follow, so a measurement
/// waits for earlier measurements into the same bit as Qiskit's schedulers require; each node
/// lists its qubits in the operation's order, then its bits. Durations are in dt, whole numbers
/// held exactly as doubles.
struct ReadOperations {
  QuantumDAG graph;
  std::vector<std::uint32_t> source_ids;
  std::vector<OpKind> kinds;
  std::vector<std::uint8_t> gates;  // the QkGate of kGate nodes
  std::uint32_t n_qubits = 0;
  std::uint32_t n_clbits = 0;
};

}  // namespace tarvex::qiskit_plugin
