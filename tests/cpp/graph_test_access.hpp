// Test-only access to a graph's stored columns: a dump of every stored fact, and its columns to break.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "graph/quantum_dag.hpp"

namespace tarvex {

struct QuantumDAGTestAccess {
  /// Every stored fact as text: the name table, each node's name id, duration, qubit offset and
  /// entries (qubit and recorded predecessor), last_on_qubit and the schedule. Capacities and the
  /// layout of hashed tables are left out: they may change where the contents do not. Doubles are
  /// written as bit patterns, so NaN matches NaN and -0.0 differs from 0.0.
  static std::string dump(const QuantumDAG& dag) {
    std::ostringstream os;
    os << "names";
    for (std::size_t i = 0; i < dag.names_.size(); ++i)
      os << " [" << dag.names_[static_cast<NameId>(i)] << "]";
    os << "\nnodes " << dag.durations_ns_.size() << " name ids " << dag.name_ids_.size() << " offsets "
       << dag.qubit_begin_.size() << " entries " << dag.qubit_pool_.size() << "/" << dag.pred_pool_.size()
       << "\n";
    for (std::size_t id = 0; id < dag.durations_ns_.size(); ++id) {
      os << id << ": name " << dag.name_ids_[id] << " duration " << bits(dag.durations_ns_[id]) << " at "
         << dag.qubit_begin_[id] << ":";
      for (std::size_t e = dag.qubit_begin_[id]; e < dag.qubit_begin_[id + 1]; ++e)
        os << " " << dag.qubit_pool_[e] << "<-" << dag.pred_pool_[e];
      os << "\n";
    }
    os << "end " << dag.qubit_begin_.back() << "\nlast";
    std::vector<std::pair<Qubit, NodeId>> last;
    dag.last_on_qubit_.for_each([&](Qubit q, NodeId id) { last.emplace_back(q, id); });
    std::sort(last.begin(), last.end());
    for (const auto& [q, id] : last) os << " " << q << "=" << id;
    os << "\nschedule";
    for (double start_ns : dag.start_ns_) os << " " << bits(start_ns);
    os << "\n";
    return os.str();
  }

  static std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

  // The stored columns, to be broken by the checker's tests.
  static PodVector<NameId>& name_ids(QuantumDAG& dag) { return dag.name_ids_; }
  static PodVector<double>& durations_ns(QuantumDAG& dag) { return dag.durations_ns_; }
  static PodVector<std::size_t>& qubit_begin(QuantumDAG& dag) { return dag.qubit_begin_; }
  static PodVector<Qubit>& qubit_pool(QuantumDAG& dag) { return dag.qubit_pool_; }
  static PodVector<NodeId>& pred_pool(QuantumDAG& dag) { return dag.pred_pool_; }
  static QubitMap<NodeId>& last_on_qubit(QuantumDAG& dag) { return dag.last_on_qubit_; }
  static PodVector<double>& start_ns(QuantumDAG& dag) { return dag.start_ns_; }
};

}  // namespace tarvex
