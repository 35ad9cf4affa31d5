// Helpers shared by the core's unit tests: gate tables, checked mutation and NaN-aware comparison.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <ostream>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "graph/quantum_dag.hpp"

namespace tarvex {

inline void PrintTo(const Edge& e, std::ostream* os) { *os << "(" << e.successor << ", " << e.qubit << ")"; }

namespace test {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();
inline constexpr Qubit kMaxQubit = std::numeric_limits<Qubit>::max();

/// The graph's own checker finds nothing wrong; run after every operation that changes a graph.
#define EXPECT_VALID(dag) EXPECT_EQ((dag).check_invariants(), std::string())

struct Gate {
  std::string name;
  std::vector<Qubit> qubits;
  double duration;
};

/// A gate whose name does not matter to the test.
inline Gate g(std::vector<Qubit> qubits, double duration) { return Gate{"g", std::move(qubits), duration}; }
inline Gate dd_x(Qubit q) { return Gate{std::string(kDdFirstName), {q}, DD_PULSE_NS}; }
inline Gate dd_y(Qubit q) { return Gate{std::string(kDdSecondName), {q}, DD_PULSE_NS}; }

inline NodeId add(QuantumDAG& dag, const Gate& gate) {
  const NodeId id = dag.add_gate(gate.name, gate.qubits, gate.duration);
  EXPECT_EQ(id + 1, dag.node_count());
  EXPECT_VALID(dag);
  return id;
}

inline QuantumDAG make_dag(const std::vector<Gate>& gates) {
  QuantumDAG dag;
  for (const Gate& gate : gates) add(dag, gate);
  return dag;
}

inline void schedule(QuantumDAG& dag) {
  dag.build_schedule();
  EXPECT_EQ(dag.scheduled_count(), dag.node_count());
  EXPECT_VALID(dag);
}

/// Equal as stored: NaN matches NaN, anything else must be exactly equal.
inline bool same(double a, double b) { return std::isnan(a) ? std::isnan(b) : a == b; }

inline std::string describe(const std::string& name, std::span<const Qubit> qubits, double duration) {
  std::ostringstream os;
  os << ::testing::PrintToString(name) << " [";
  for (Qubit q : qubits) os << q << " ";
  os << "] " << duration;
  return os.str();
}

/// The graph holds exactly `gates`, in id order, through both the export and the node accessors.
inline ::testing::AssertionResult HasNodes(const QuantumDAG& dag, const std::vector<Gate>& gates) {
  const std::vector<DagNode> nodes = dag.get_all_nodes();
  if (nodes.size() != gates.size() || dag.node_count() != gates.size())
    return ::testing::AssertionFailure() << "export has " << nodes.size() << " nodes and node_count() is "
                                         << dag.node_count() << ", expected " << gates.size();
  for (std::size_t i = 0; i < gates.size(); ++i) {
    const DagNode& n = nodes[i];
    const Gate& want = gates[i];
    const std::span<const Qubit> qs = dag.qubits(i);
    const bool ok = n.id == i && n.name == want.name && n.qubits == want.qubits &&
                    same(n.duration, want.duration) && dag.name(i) == want.name &&
                    std::ranges::equal(qs, want.qubits) && same(dag.duration(i), want.duration);
    if (!ok)
      return ::testing::AssertionFailure()
             << "node " << i << " is " << describe(n.name, n.qubits, n.duration) << " (id " << n.id
             << "), expected " << describe(want.name, want.qubits, want.duration);
  }
  return ::testing::AssertionSuccess();
}

/// The stored schedule covers exactly the first `times.size()` ids, with these times.
inline ::testing::AssertionResult HasTimes(const QuantumDAG& dag, const std::vector<NodeSchedule>& times) {
  if (dag.scheduled_count() != times.size())
    return ::testing::AssertionFailure()
           << "scheduled_count() is " << dag.scheduled_count() << ", expected " << times.size();
  for (NodeId id = 0; id < times.size(); ++id) {
    const std::optional<NodeSchedule> got = dag.node_schedule(id);
    if (!got) return ::testing::AssertionFailure() << "node " << id << " has no times";
    if (!same(got->start, times[id].start) || !same(got->end, times[id].end))
      return ::testing::AssertionFailure() << "node " << id << " runs " << got->start << "-" << got->end
                                           << ", expected " << times[id].start << "-" << times[id].end;
  }
  if (dag.node_schedule(times.size()))
    return ::testing::AssertionFailure() << "node " << times.size() << " has times";
  return ::testing::AssertionSuccess();
}

using Window = std::tuple<Qubit, double, double>;

inline std::vector<Window> windows(const QuantumDAG& dag, double min_gap) {
  std::vector<Window> out;
  for (const IdleWindow& w : dag.find_idle_windows(min_gap)) out.emplace_back(w.qubit, w.start, w.end);
  return out;
}

/// Everything observable about a graph, as text: nodes, times, edges and last_on_qubit.
inline std::string dump(const QuantumDAG& dag) {
  std::ostringstream os;
  os.precision(17);
  for (NodeId id = 0; id <= dag.node_count(); ++id) {
    if (id < dag.node_count()) {
      os << id << ": " << describe(dag.name(id), dag.qubits(id), dag.duration(id)) << " edges";
      for (const Edge& e : dag.edges_from(id)) os << " " << ::testing::PrintToString(e);
      for (Qubit q : dag.qubits(id)) os << " last(" << q << ")=" << dag.last_on_qubit(q).value_or(kNoNode);
    }
    if (auto t = dag.node_schedule(id)) os << " at " << t->start << "-" << t->end;
    os << "\n";
  }
  return os.str();
}

/// A reproducible circuit mixing dense qubits, the dense/hashed boundary, huge indices and fresh
/// random ones; durations are whole ns (exact sums) with some NaN, negative and zero ones.
inline std::vector<Gate> random_gates(std::uint64_t seed, std::size_t n_gates) {
  static const Qubit pool[] = {
      0, 1, 2, 3, 5, 8, 65535, 65536, 65537, Qubit{1} << 32, kMaxQubit, kMaxQubit - 1};
  static const char* const names[] = {"x", "sx", "cx", "rz"};
  std::mt19937_64 rng(seed);
  std::vector<Gate> gates;
  for (std::size_t i = 0; i < n_gates; ++i) {
    Gate gate{names[rng() % 4], {}, static_cast<double>(rng() % 300)};
    const std::size_t n_qubits = rng() % 5;
    for (std::size_t k = 0; k < n_qubits; ++k)
      gate.qubits.push_back(rng() % 5 == 0 ? rng() : pool[rng() % 12]);
    switch (rng() % 20) {
      case 0:
        gate.duration = kNaN;
        break;
      case 1:
        gate.duration = -gate.duration;
        break;
      case 2:
        gate.duration = 0.0;
        break;
      default:
        break;
    }
    gates.push_back(std::move(gate));
  }
  return gates;
}

}  // namespace test
}  // namespace tarvex
