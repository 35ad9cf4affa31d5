// Reading a Qiskit DAGCircuit through the C API into the core's graph, in topological order.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "durations.hpp"
#include "graph/quantum_dag.hpp"
#include "qiskit_capi.hpp"

namespace tarvex::qiskit_plugin {

/// What the writer needs to copy a node, beside its wires.
enum class OpKind : std::uint8_t { kGate, kMeasure, kReset, kBarrier, kDelay, kUnitary };

/// A Qiskit DAG as the core sees it: node i of `graph` is Qiskit node `qk_ids[i]`, in a
/// topological order. Wires 0 .. n_qubits - 1 are the qubits, the classical bits follow, so a
/// measurement waits for earlier measurements into the same bit as Qiskit's schedulers require.
/// Durations are in dt, whole numbers held exactly as doubles.
struct ReadDag {
  QuantumDAG graph;
  std::vector<std::uint32_t> qk_ids;
  std::vector<OpKind> kinds;
  std::vector<std::uint8_t> gates;  // the QkGate of kGate nodes
  std::uint32_t n_qubits = 0;
  std::uint32_t n_clbits = 0;
};

/// The DAG inside a Python DAGCircuit, borrowed from it; nullptr with TypeError set otherwise.
QkDag* borrow_dag(PyObject* dag);

/// Reads every operation of `dag` into `out`. Durations come from `table`, those of delays from
/// `delay_dt` (Qiskit node id -> duration in dt); barriers take none. An operation the passes
/// cannot copy (control flow, an operation the C API cannot read) or one without a duration
/// raises TranspilerError naming it and its qubits; then the result is false. O(nodes log nodes)
/// for the topological order, then O(1) expected per node.
bool read_dag(const QkDag* dag, const DurationTable& table,
              const std::unordered_map<std::uint32_t, double>& delay_dt, ReadDag& out);

/// "<name> on qubits [..]" for Qiskit node `qk_id`, for messages.
std::string node_label(const QkDag* dag, std::uint32_t qk_id);

/// Raises TranspilerError "<name> on qubits [..]: <what>" for Qiskit node `qk_id`.
void raise_for_node(const QkDag* dag, std::uint32_t qk_id, const char* what);

/// The DAG's global phase, when it is a plain number.
bool real_global_phase(const QkDag* dag, double& phase);

}  // namespace tarvex::qiskit_plugin
