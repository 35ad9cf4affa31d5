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

/// Op node id -> duration in dt of each of a DAG's delays.
using DelayDurations = std::unordered_map<std::uint32_t, double>;

/// The DAG inside a Python DAGCircuit, borrowed from it (it lives as long as the DAGCircuit);
/// TypeError (CastError) for any other object. O(1).
QkDag* extract_dag(PyObject* obj);

/// Reads every operation of `dag` into `out`. Durations come from `table`, those of delays from
/// `delays`; barriers take none. False, with nothing raised, when the DAG holds an operation the
/// native passes cannot copy (a gate that is not a standard gate, say): the caller runs Qiskit's
/// own implementation instead. Otherwise raises TranspilerError naming the first operation that
/// cannot be scheduled (control flow, an operation without a duration) and throws, or returns
/// true. O(nodes log nodes) for the topological order, then O(1) expected per node.
bool read_dag(const QkDag* dag, const DurationTable& table, const DelayDurations& delays, ReadDag& out);

/// "<name> on qubits [..]" for Qiskit node `qk_id`, for messages. O(qubits).
std::string node_label(const QkDag* dag, std::uint32_t qk_id);

/// The DAG's global phase, when it is a plain number. O(1).
bool real_global_phase(const QkDag* dag, double& phase);

}  // namespace tarvex::qiskit_plugin
