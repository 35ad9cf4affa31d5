// Graph store: gate insertion, the recorded edges and the invariant checker.
#include "graph/quantum_dag.hpp"

#include <string>

namespace tarvex {

QuantumDAG::QuantumDAG() { qubit_begin_.push_back(0); }

void QuantumDAG::reserve(std::size_t n_nodes, std::size_t n_entries) {
  const std::size_t capacity = node_count() + n_nodes;
  name_ids_.reserve_to_fill(capacity);
  durations_.reserve_to_fill(capacity);
  qubit_begin_.reserve_to_fill(capacity + 1);
  pred_pool_.reserve_to_fill(pred_pool_.size() + n_entries);
  qubit_pool_.reserve_to_fill(qubit_pool_.size() + n_entries);
}

// In both groups the column that reserve_insert checks grows last. When a growth fails halfway, the
// columns grown before the failure only have spare room; the checked one still has none, so the
// next insertion grows the group again instead of appending past the end of a column left short.

void QuantumDAG::grow_nodes(std::size_t capacity) {
  name_ids_.reserve(capacity);
  durations_.reserve(capacity);
  qubit_begin_.reserve(capacity + 1);
}

void QuantumDAG::grow_entries(std::size_t size, std::size_t extra) {
  if (size + extra < extra) throw std::bad_alloc();
  const std::size_t capacity = std::max(size + extra, 2 * qubit_pool_.capacity());
  pred_pool_.reserve(capacity);
  qubit_pool_.reserve(capacity);
}

std::vector<Edge> QuantumDAG::edges_from(NodeId id) const {
  std::vector<Edge> out;
  if (id >= node_count()) return out;
  // Successors have ids >= id, so their entries start at this node's own.
  NodeId successor = id;
  for (std::size_t e = qubit_begin_[id]; e < qubit_pool_.size(); ++e) {
    while (e >= qubit_begin_[successor + 1]) ++successor;
    if (pred_pool_[e] == id) out.push_back(Edge{successor, qubit_pool_[e]});
  }
  return out;
}

std::string QuantumDAG::check_invariants() const {
  const std::size_t n = node_count();
  if (name_ids_.size() != n || qubit_begin_.size() != n + 1 || qubit_begin_[0] != 0 ||
      qubit_begin_.back() != qubit_pool_.size() || pred_pool_.size() != qubit_pool_.size()) {
    return "per-node or per-entry arrays disagree in size";
  }
  if (starts_.size() > n) return "schedule covers ids that do not exist";
  QubitMap<NodeId> last(kNoNode);
  for (NodeId id = 0; id < n; ++id) {
    if (qubit_begin_[id] > qubit_begin_[id + 1]) return "qubit offsets decrease";
    if (name_ids_[id] >= names_.size()) return "name id out of range";
    std::span<const Qubit> qs = qubits(id);
    last.reserve_for(qs);
    for (std::size_t k = 0; k < qs.size(); ++k) {
      std::size_t e = qubit_begin_[id] + k;
      NodeId pred = pred_pool_[e];
      // Checked first: the comparison below fails too, but would name the wrong fault.
      if (pred != kNoNode && pred > id) return "an edge runs from a higher id to a lower one";
      if (pred != last.get(qs[k])) {
        // std::to_string, not a string stream: streams would pull the locale machinery into every
        // module that links the core.
        return "entry " + std::to_string(k) + " of node " + std::to_string(id) + " records predecessor " +
               std::to_string(pred) + " but the last node on qubit " + std::to_string(qs[k]) + " was " +
               std::to_string(last.get(qs[k]));
      }
      last.set(qs[k], id);
    }
  }
  std::string mismatch;
  last.for_each([&](Qubit q, NodeId id) {
    if (mismatch.empty() && last_on_qubit_.get(q) != id)
      mismatch = "last_on_qubit of qubit " + std::to_string(q) + " is not the highest id using it";
  });
  if (!mismatch.empty()) return mismatch;
  last_on_qubit_.for_each([&](Qubit q, NodeId id) {
    if (mismatch.empty() && last.get(q) != id)
      mismatch = "last_on_qubit holds qubit " + std::to_string(q) + " that no node lists";
  });
  return mismatch;
}

}  // namespace tarvex
