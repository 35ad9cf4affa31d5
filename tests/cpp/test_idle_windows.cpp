// Idle windows: gaps between consecutive intervals of one qubit in the stored schedule.
#include <algorithm>
#include <map>

#include "graph_test_util.hpp"

namespace tarvex {
namespace {

using namespace test;

// a [0] 10, b [1] 30, c [0, 1] 5, d [0] 10 run a 0-10, b 0-30, c 30-35, d 35-45: qubit 0 has gaps
// of 20 and 0, qubit 1 a gap of 0.
QuantumDAG worked_example() {
  QuantumDAG dag = make_dag({{"a", {0}, 10}, {"b", {1}, 30}, {"c", {0, 1}, 5}, {"d", {0}, 10}});
  schedule(dag);
  return dag;
}

class WorkedExample : public ::testing::TestWithParam<std::pair<double, std::vector<Window>>> {};

TEST_P(WorkedExample, ReportsGapsAtLeastTheThreshold) {
  const auto& [min_gap, expected] = GetParam();
  const QuantumDAG dag = worked_example();
  EXPECT_EQ(windows(dag, min_gap), expected);
}

const std::vector<Window> kAllGaps = {{0, 10.0, 30.0}, {0, 35.0, 35.0}, {1, 30.0, 30.0}};

INSTANTIATE_TEST_SUITE_P(
    IdleWindows, WorkedExample,
    ::testing::Values(std::pair{20.0, std::vector<Window>{{0, 10.0, 30.0}}},  // inclusive
                      std::pair{19.999, std::vector<Window>{{0, 10.0, 30.0}}},
                      std::pair{20.000001, std::vector<Window>{}}, std::pair{0.0, kAllGaps},
                      std::pair{-kInf, kAllGaps}, std::pair{kInf, std::vector<Window>{}},
                      std::pair{kNaN, std::vector<Window>{}}));

TEST(IdleWindows, NeverScheduledFindsNothing) {
  const QuantumDAG dag = make_dag({g({0}, 10), g({1}, 300), g({0, 1}, 5), g({0}, 10)});
  for (double min_gap : {-kInf, 0.0, kNaN}) EXPECT_TRUE(windows(dag, min_gap).empty());
}

TEST(IdleWindows, GatesAddedAfterSchedulingAreUnseen) {
  // Runs 0-10 on qubit 0, 0-50 on qubit 1, then 50-60 on both.
  QuantumDAG dag = make_dag({g({0}, 10), g({1}, 50), g({0, 1}, 10)});
  schedule(dag);
  const std::vector<Window> scheduled = {{0, 10.0, 50.0}, {1, 50.0, 50.0}};
  EXPECT_EQ(windows(dag, -kInf), scheduled);
  add(dag, g({0}, 5));
  add(dag, g({5, 5}, 0));
  EXPECT_EQ(windows(dag, -kInf), scheduled);
  schedule(dag);
  EXPECT_EQ(windows(dag, -kInf),
            (std::vector<Window>{{0, 10.0, 50.0}, {0, 60.0, 60.0}, {1, 50.0, 50.0}, {5, 0.0, 0.0}}));
}

TEST(IdleWindows, NoWindowBeforeFirstOrAfterLastUse) {
  // Qubit 1's only gate starts at 1000: nothing before it counts.
  QuantumDAG dag = make_dag({g({0}, 1000), g({0, 1}, 10)});
  schedule(dag);
  EXPECT_EQ(windows(dag, -kInf), (std::vector<Window>{{0, 1000.0, 1000.0}}));
}

TEST(IdleWindows, NaNGapIsNeverReported) {
  // Qubit 0 runs (0, NaN) then (7, 12); qubit 1 runs (0, 7) then (7, 12).
  QuantumDAG dag = make_dag({g({1}, 7), g({0}, kNaN), g({0, 1}, 5)});
  schedule(dag);
  EXPECT_EQ(windows(dag, -kInf), (std::vector<Window>{{1, 7.0, 7.0}}));
}

TEST(IdleWindows, RepeatedQubitOverlapsItself) {
  QuantumDAG zero = make_dag({g({2, 2}, 0)});
  schedule(zero);
  EXPECT_EQ(windows(zero, 0.0), (std::vector<Window>{{2, 0.0, 0.0}}));
  QuantumDAG five = make_dag({g({2, 2}, 5)});
  schedule(five);
  EXPECT_TRUE(windows(five, 0.0).empty());
  EXPECT_TRUE(windows(five, -4.5).empty());
  EXPECT_EQ(windows(five, -5.0), (std::vector<Window>{{2, 5.0, 0.0}}));
}

TEST(IdleWindows, GroupsFollowFirstUseNotQubitIndex) {
  QuantumDAG dag = make_dag({g({70000}, 10), g({9}, 10), g({2}, 10), g({2, 9, 70000}, 10)});
  schedule(dag);
  EXPECT_EQ(windows(dag, 0.0), (std::vector<Window>{{70000, 10.0, 10.0}, {9, 10.0, 10.0}, {2, 10.0, 10.0}}));
}

TEST(IdleWindows, OutOfOrderStartsAreSortedStably) {
  // Qubit 0 runs (0, 100), (100, 0), (0, 0), (0, 7): by start, stably, (0, 100), (0, 0), (0, 7), (100, 0).
  QuantumDAG dag = make_dag({g({0}, 100), g({0}, -100), g({0}, 0), g({0}, 7)});
  schedule(dag);
  EXPECT_EQ(windows(dag, -kInf), (std::vector<Window>{{0, 100.0, 0.0}, {0, 0.0, 0.0}, {0, 7.0, 100.0}}));
  EXPECT_EQ(windows(dag, 0.0), (std::vector<Window>{{0, 0.0, 0.0}, {0, 7.0, 100.0}}));
}

// The windows of a random circuit, with unscheduled gates after the scheduled ones, against a
// direct computation: per qubit in order of first use, intervals stably sorted by start.
TEST(IdleWindows, RandomCircuitMatchesDirectComputation) {
  QuantumDAG dag = make_dag(random_gates(23, 2000));
  schedule(dag);
  for (const Gate& gate : random_gates(24, 50)) add(dag, gate);
  std::vector<Qubit> first_use;
  std::map<Qubit, std::vector<NodeSchedule>> intervals;
  for (NodeId id = 0; id < dag.scheduled_count(); ++id) {
    for (Qubit q : dag.qubits(id)) {
      if (!intervals.contains(q)) first_use.push_back(q);
      intervals[q].push_back(*dag.node_schedule(id));
    }
  }
  for (auto& [q, list] : intervals) std::ranges::stable_sort(list, {}, &NodeSchedule::start);
  for (double min_gap : {-kInf, -50.0, 0.0, 37.0, 150.0, kNaN}) {
    std::vector<Window> expected;
    for (Qubit q : first_use) {
      const std::vector<NodeSchedule>& list = intervals[q];
      for (std::size_t i = 0; i + 1 < list.size(); ++i)
        if (list[i + 1].start - list[i].end >= min_gap)
          expected.emplace_back(q, list[i].end, list[i + 1].start);
    }
    EXPECT_EQ(windows(dag, min_gap), expected) << "min_gap " << min_gap;
  }
}

}  // namespace
}  // namespace tarvex
