// Topological export: every node in ascending id order.
#include "graph/quantum_dag.hpp"

namespace tarvex {

std::vector<DagNode> QuantumDAG::get_all_nodes() const {
  std::vector<DagNode> out;
  out.reserve(node_count());
  for (NodeId id = 0; id < node_count(); ++id) {
    std::span<const Qubit> qs = qubits(id);
    out.push_back(DagNode{id, name(id), std::vector<Qubit>(qs.begin(), qs.end()), duration(id)});
  }
  return out;
}

}  // namespace tarvex
