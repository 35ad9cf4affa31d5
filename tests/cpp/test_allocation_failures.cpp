// Allocation failures: every operation, with each of its allocations failing in turn, completes or
// throws std::bad_alloc and leaves the graph exactly as it was.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "failing_allocations.hpp"
#include "graph_test_access.hpp"
#include "graph_test_util.hpp"

namespace tarvex {
namespace {

using namespace test;
using Access = QuantumDAGTestAccess;

TEST(AllocationHook, ColumnGrowthAsksTheHookAndKeepsTheColumnOnFailure) {
  PodVector<std::uint64_t> v;
  while (v.size() < 5 || v.size() != v.capacity()) v.push_back(v.size() * 7);
  const std::size_t size = v.size();
  FailingAllocations::arm(0);
  EXPECT_THROW(v.push_back(1), std::bad_alloc);
  EXPECT_TRUE(FailingAllocations::disarm());
  ASSERT_EQ(v.size(), size);
  EXPECT_EQ(v.capacity(), size);
  for (std::size_t i = 0; i < size; ++i) EXPECT_EQ(v[i], i * 7);

  PodVector<std::uint64_t> w;
  w.push_back(3);
  FailingAllocations::arm(0);
  EXPECT_THROW(w = v, std::bad_alloc);
  EXPECT_TRUE(FailingAllocations::disarm());
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0], 3u);
}

TEST(AllocationHook, OperatorNewAsksTheHookAndOnlyTheArmedOneFails) {
  FailingAllocations::arm(1);
  auto first = std::make_unique<int>(1);
  EXPECT_THROW((void)std::make_unique<int>(2), std::bad_alloc);
  auto third = std::make_unique<int>(3);
  EXPECT_TRUE(FailingAllocations::disarm());
  FailingAllocations::arm(5);
  auto fourth = std::make_unique<int>(4);
  EXPECT_FALSE(FailingAllocations::disarm());
}

// How often each operation was swept, in runs (one per k tried) and outcomes; printed per test.
struct Tally {
  const char* operation;
  std::size_t sweeps = 0, runs = 0, thrown = 0, absorbed = 0, most_runs = 0;
};

void print(const Tally& t) {
  std::printf(
      "[  sweeps  ] %-17s %4zu sweeps, %6zu runs (k tried), %6zu bad_alloc, %3zu absorbed, up to %zu runs\n",
      t.operation, t.sweeps, t.runs, t.thrown, t.absorbed, t.most_runs);
}

/// Runs `op()` with its k-th allocation failing, for k = 0, 1, 2, ... until a run reaches no k-th
/// allocation; returns describe() of that run's result. A run that throws std::bad_alloc must leave
/// `dag` valid and with the dump it had before. A run of a reading operation may also complete in
/// spite of the failure (the standard library absorbs some: stable_sort does without its buffer);
/// its result must equal the final one. A mutating operation changes the graph when it completes,
/// so its sweep ends there, and it must not have absorbed a failure (none does; one that did would
/// need a fresh copy of the graph per k here).
template <class Op, class Describe>
std::string sweep(const QuantumDAG& dag, Tally& tally, bool mutating, Op&& op, Describe&& describe) {
  const std::string before = Access::dump(dag);
  std::vector<std::string> absorbed;
  ++tally.sweeps;
  for (std::size_t k = 0;; ++k) {
    ++tally.runs;
    std::optional<decltype(op())> result;
    bool threw = false;
    FailingAllocations::arm(k);
    try {
      result.emplace(op());
    } catch (const std::bad_alloc&) {
      threw = true;
    }
    const bool reached = FailingAllocations::disarm();
    if (threw) {
      ++tally.thrown;
      EXPECT_TRUE(reached) << tally.operation << " threw std::bad_alloc with no failure injected, k = " << k;
      EXPECT_VALID(dag) << tally.operation << ", k = " << k;
      if (Access::dump(dag) != before) {
        ADD_FAILURE() << tally.operation << " failed at k = " << k << " and changed the graph, from\n"
                      << before << "to\n"
                      << Access::dump(dag);
        return {};
      }
      continue;
    }
    std::string described = describe(*result);
    if (!reached) {
      tally.most_runs = std::max(tally.most_runs, k + 1);
      for (const std::string& a : absorbed)
        EXPECT_EQ(a, described) << tally.operation << " gave another result with a failure absorbed";
      return described;
    }
    ++tally.absorbed;
    if (mutating) {
      ADD_FAILURE() << tally.operation << " completed although allocation " << k << " failed";
      return described;
    }
    absorbed.push_back(std::move(described));
  }
}

std::string describe_nodes(const std::vector<DagNode>& nodes) {
  std::ostringstream os;
  for (const DagNode& n : nodes) {
    os << n.id << " [" << n.name << "] " << Access::bits(n.duration);
    for (Qubit q : n.qubits) os << " " << q;
    os << "\n";
  }
  return os.str();
}

std::string describe_windows(const std::vector<IdleWindow>& windows) {
  std::ostringstream os;
  for (const IdleWindow& w : windows)
    os << w.qubit << " " << Access::bits(w.start) << " " << Access::bits(w.end) << "\n";
  return os.str();
}

/// Gates that make every store of the graph grow again and again: the node columns through their
/// doublings, long qubit lists that outgrow the entry columns at once, a fresh long name (its own
/// allocation) every third gate so that the name table rehashes, dense qubits whose largest index
/// doubles up to 65535 and, with `sparse`, fresh hashed qubits from 65536 up and near 2**64.
/// Durations include negative ones, which put a qubit's starts out of order, and NaN.
std::vector<Gate> growth_gates(bool sparse, std::size_t n) {
  std::vector<Gate> gates;
  for (std::size_t i = 0; i < n; ++i) {
    Gate gate{
        i % 3 == 0 ? "gate_with_a_name_too_long_to_be_inline_" + std::to_string(i) : (i % 2 ? "x" : "cx"),
        {},
        static_cast<double>(10 + i % 290)};
    const Qubit small = i % 23;
    switch (i % 8) {
      case 0:
        gate.qubits = {small};
        break;
      case 1:
        gate.qubits = {(Qubit{1} << (i / 16 % 17)) - 1};  // 0, 1, 3, ..., 65535 at the 257th gate
        break;
      case 2:
        gate.qubits = {small, sparse ? 65536 + i : 1000 + i};
        break;
      case 3:
        gate.qubits = {sparse ? kMaxQubit - i % 5 : 2000 - i % 5, small};
        break;
      case 4:
        break;
      case 5:
        gate.qubits = {small, small};
        break;
      case 6:
        for (std::size_t k = 0; k < (i % 48 == 6 ? 100 : 3); ++k) gate.qubits.push_back((i + k) % 700);
        break;
      case 7:
        gate.qubits = {sparse ? (Qubit{1} << 40) + i : 3000 + i % 100, small};
        break;
    }
    if (i % 37 == 0) gate.duration = -gate.duration;
    if (i % 101 == 0) gate.duration = kNaN;
    gates.push_back(std::move(gate));
  }
  return gates;
}

struct Script {
  const char* label;
  bool sparse;
};

void PrintTo(const Script& s, std::ostream* os) { *os << s.label; }

class AllocationFailures : public ::testing::TestWithParam<Script> {};

// The graph is built gate by gate with every add_gate swept, scheduled twice on the way (so that
// later gates meet a partial schedule, and a later schedule a longer one), and the reading passes
// are swept at points along the way. A reference graph built without failures must match.
TEST_P(AllocationFailures, EveryOperationCompletesOrLeavesTheGraphAsItWas) {
  const std::vector<Gate> gates = growth_gates(GetParam().sparse, 320);
  Tally adds{"add_gate"}, schedules{"build_schedule"}, exports{"get_all_nodes"}, idle{"find_idle_windows"},
      dd{"apply_dd_pass"};
  QuantumDAG dag, reference;

  auto schedule_both = [&] {
    auto schedule = [&] { return (dag.build_schedule(), 0); };
    sweep(dag, schedules, true, schedule, [](int) { return std::string(); });
    reference.build_schedule();
    ASSERT_EQ(Access::dump(dag), Access::dump(reference));
  };
  auto sweep_readers = [&] {
    auto export_nodes = [&] { return dag.get_all_nodes(); };
    EXPECT_EQ(sweep(dag, exports, false, export_nodes, describe_nodes),
              describe_nodes(reference.get_all_nodes()));
    for (double min_gap : {0.0, 100.0}) {
      auto find = [&] { return dag.find_idle_windows(min_gap); };
      EXPECT_EQ(sweep(dag, idle, false, find, describe_windows),
                describe_windows(reference.find_idle_windows(min_gap)));
    }
    auto apply_dd = [&] { return dag.apply_dd_pass(); };
    EXPECT_EQ(sweep(dag, dd, false, apply_dd, Access::dump), Access::dump(reference.apply_dd_pass()));
  };

  sweep_readers();
  for (std::size_t i = 0; i < gates.size(); ++i) {
    const Gate& gate = gates[i];
    auto add = [&] { return dag.add_gate(gate.name, gate.qubits, gate.duration); };
    const std::string id = sweep(dag, adds, true, add, [](NodeId id) { return std::to_string(id); });
    ASSERT_EQ(id, std::to_string(reference.add_gate(gate.name, gate.qubits, gate.duration)));
    if (i == 100 || i == 220) schedule_both();
    if (i == 20 || i == 100) {
      ASSERT_EQ(Access::dump(dag), Access::dump(reference));
      sweep_readers();
    }
  }
  ASSERT_EQ(Access::dump(dag), Access::dump(reference));
  ASSERT_LT(dag.scheduled_count(), dag.node_count());
  sweep_readers();  // with a partial schedule; they met a full one after the first schedule
  schedule_both();
  for (const Tally& t : {adds, schedules, exports, idle, dd}) {
    print(t);
    EXPECT_GT(t.thrown, 0u) << t.operation << " never met a failure";
  }
}

INSTANTIATE_TEST_SUITE_P(Graphs, AllocationFailures,
                         ::testing::Values(Script{"DenseQubits", false},
                                           Script{"DenseAndHashedQubits", true}),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace tarvex
