// ASAP schedule: start at the latest end among a node's qubits, and a schedule that goes stale.
#include "graph_test_util.hpp"

namespace tarvex {
namespace {

using namespace test;

struct ScheduleCase {
  const char* label;
  std::vector<Gate> gates;
  std::vector<NodeSchedule> times;
};

void PrintTo(const ScheduleCase& c, std::ostream* os) { *os << c.label; }

class Schedule : public ::testing::TestWithParam<ScheduleCase> {};

TEST_P(Schedule, StartsWhenEveryQubitIsFree) {
  const ScheduleCase& c = GetParam();
  QuantumDAG dag = make_dag(c.gates);
  schedule(dag);
  EXPECT_TRUE(HasTimes(dag, c.times));
  schedule(dag);  // a second run stores the same times
  EXPECT_TRUE(HasTimes(dag, c.times));
}

const ScheduleCase kScheduleCases[] = {
    {"EmptyGraph", {}, {}},
    {"SingleGate", {g({0}, 20)}, {{0, 20}}},
    {"JoinWaitsForLatest", {g({0}, 20), g({1}, 30), g({0, 1}, 10)}, {{0, 20}, {0, 30}, {30, 40}}},
    {"DisjointQubitsStartAtZero",
     {g({2}, 5), g({0}, 50), g({1}, 7), g({kMaxQubit}, 3), g({70000}, 1)},
     {{0, 5}, {0, 50}, {0, 7}, {0, 3}, {0, 1}}},
    {"HashedQubitsWaitToo",
     {g({kMaxQubit}, 20), g({65536}, 30), g({65536, kMaxQubit, 0}, 10), g({0}, 1)},
     {{0, 20}, {0, 30}, {30, 40}, {40, 41}}},
    {"EmptyQubitListNeitherWaitsNorDelays",
     {g({0}, 1000), g({}, 5), g({0}, 1)},
     {{0, 1000}, {0, 5}, {1000, 1001}}},
    {"RepeatedQubitWaitsOnce", {g({2}, 10), g({2, 2}, 5), g({2}, 1)}, {{0, 10}, {10, 15}, {15, 16}}},
    {"NegativeDurationNeverPullsBelowZero", {g({0}, -10), g({0}, 5)}, {{0, -10}, {0, 5}}},
    {"NegativeInfiniteDuration", {g({0}, -kInf), g({0}, 5)}, {{0, -kInf}, {0, 5}}},
    {"NaNEndIsIgnored", {g({0}, kNaN), g({1}, 7), g({0, 1}, 5)}, {{0, kNaN}, {0, 7}, {7, 12}}},
    {"NaNEndAloneLeavesStartAtZero", {g({0}, 30), g({0}, kNaN), g({0}, 5)}, {{0, 30}, {30, kNaN}, {0, 5}}},
    {"InfiniteEndDelaysForever",
     {g({0}, kInf), g({0}, 5), g({1}, 3), g({1, 0}, 1)},
     {{0, kInf}, {kInf, kInf}, {0, 3}, {kInf, kInf}}},
};

INSTANTIATE_TEST_SUITE_P(Schedule, Schedule, ::testing::ValuesIn(kScheduleCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(Schedule, NothingBeforeTheFirstRun) {
  QuantumDAG dag = make_dag({g({0}, 20), g({1}, 30)});
  EXPECT_TRUE(HasTimes(dag, {}));
  EXPECT_EQ(dag.node_schedule(0), std::nullopt);
  EXPECT_EQ(dag.node_schedule(kNoNode), std::nullopt);
}

TEST(Schedule, InsertionLeavesItStaleUntilTheNextRun) {
  QuantumDAG dag = make_dag({g({0}, 20), g({1}, 30)});
  schedule(dag);
  add(dag, g({0, 1}, 10));
  add(dag, g({}, 4));
  EXPECT_TRUE(HasTimes(dag, {{0, 20}, {0, 30}}));
  EXPECT_EQ(dag.node_schedule(3), std::nullopt);
  schedule(dag);
  EXPECT_TRUE(HasTimes(dag, {{0, 20}, {0, 30}, {30, 40}, {0, 4}}));
}

}  // namespace
}  // namespace tarvex
