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
  /// Every stored fact as text, one column a line: the name table, each node's name id, duration
  /// and qubit offset, each entry's qubit and recorded predecessor, last_on_qubit and the schedule.
  /// Capacities and the layout of hashed tables are left out: they may change where the contents
  /// do not. Doubles are written as bit patterns, so NaN matches NaN and -0.0 differs from 0.0.
  /// Reads each column whole on its own, so it also describes a graph whose columns disagree.
  static std::string dump(const QuantumDAG& dag) {
    std::ostringstream os;
    os << "names";
    for (std::size_t i = 0; i < dag.names_.size(); ++i)
      os << " [" << dag.names_[static_cast<NameId>(i)] << "]";
    os << "\nname ids";
    for (NameId id : dag.name_ids_) os << " " << id;
    os << "\ndurations";
    for (double d : dag.durations_) os << " " << bits(d);
    os << "\noffsets";
    for (std::size_t b : dag.qubit_begin_) os << " " << b;
    os << "\nqubits";
    for (Qubit q : dag.qubit_pool_) os << " " << q;
    os << "\npredecessors";
    for (NodeId p : dag.pred_pool_) os << " " << p;
    os << "\nlast";
    std::vector<std::pair<Qubit, NodeId>> last;
    dag.last_on_qubit_.for_each([&](Qubit q, NodeId id) { last.emplace_back(q, id); });
    std::sort(last.begin(), last.end());
    for (const auto& [q, id] : last) os << " " << q << "=" << id;
    os << "\nschedule";
    for (double start : dag.starts_) os << " " << bits(start);
    os << "\n";
    return os.str();
  }

  static std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

  // The stored columns, to be broken by the checker's tests.
  static PodVector<NameId>& name_ids(QuantumDAG& dag) { return dag.name_ids_; }
  static PodVector<double>& durations(QuantumDAG& dag) { return dag.durations_; }
  static PodVector<std::size_t>& qubit_begin(QuantumDAG& dag) { return dag.qubit_begin_; }
  static PodVector<Qubit>& qubit_pool(QuantumDAG& dag) { return dag.qubit_pool_; }
  static PodVector<NodeId>& pred_pool(QuantumDAG& dag) { return dag.pred_pool_; }
  static QubitMap<NodeId>& last_on_qubit(QuantumDAG& dag) { return dag.last_on_qubit_; }
  static PodVector<double>& start_time(QuantumDAG& dag) { return dag.starts_; }
};

}  // namespace tarvex
