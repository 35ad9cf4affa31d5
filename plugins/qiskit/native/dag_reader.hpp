// Reading a Qiskit DAGCircuit through the C API into the core's graph, in topological order.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "durations.hpp"
#include "qiskit_capi.hpp"
#include "read_operations.hpp"

namespace tarvex::qiskit_plugin {

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
bool read_dag(const QkDag* dag, const DurationTable& table, const DelayDurations& delays, ReadOperations& out);

/// "<name> on qubits [..]" for Qiskit node `qk_id`, for messages. O(qubits).
std::string node_label(const QkDag* dag, std::uint32_t qk_id);

/// The DAG's global phase, when it is a plain number. O(1).
bool real_global_phase(const QkDag* dag, double& phase);

}  // namespace tarvex::qiskit_plugin
