// ALAP schedule: nodes end as late as the nodes after them allow, within the circuit's length.
#include "graph_test_util.hpp"

namespace tarvex {
namespace {

using namespace test;

struct AlapCase {
  const char* label;
  std::vector<Gate> gates;
  std::vector<NodeSchedule> times;
};

void PrintTo(const AlapCase& c, std::ostream* os) { *os << c.label; }

class AlapSchedule : public ::testing::TestWithParam<AlapCase> {};

TEST_P(AlapSchedule, EndsAsLateAsTheNodesAfterAllow) {
  const AlapCase& c = GetParam();
  QuantumDAG dag = make_dag(c.gates);
  dag.build_alap_schedule();
  EXPECT_VALID(dag);
  EXPECT_TRUE(HasTimes(dag, c.times));
}

constexpr double kBig = 4503599627370497.0;  // 2^52 + 1: a whole number with no spare bit

const AlapCase kAlapCases[] = {
    {"EmptyGraph", {}, {}},
    {"JoinPullsTheShortBranchLate", {g({0}, 20), g({1}, 30), g({0, 1}, 10)}, {{10, 30}, {0, 30}, {30, 40}}},
    {"LoneShortGateEndsWithTheCircuit", {g({0}, 100), g({1}, 10)}, {{0, 100}, {90, 100}}},
    {"ChainKeepsItsOrder", {g({0}, 5), g({0}, 7), g({1}, 20)}, {{8, 13}, {13, 20}, {0, 20}}},
    // A classical bit shared by two measurements orders them, as the qubits order gates.
    {"SharedClassicalWireSerialises",
     {g({0, 100}, 50), g({1, 100}, 50), g({0}, 10)},
     {{0, 50}, {50, 100}, {90, 100}}},
    {"EmptyQubitListEndsWithTheCircuit", {g({0}, 30), g({}, 5)}, {{0, 30}, {25, 30}}},
    {"RepeatedQubitWaitsOnce", {g({2}, 10), g({2, 2}, 5), g({2}, 1)}, {{0, 10}, {10, 15}, {15, 16}}},
    {"WholeNumbersStayExact",
     {g({0}, kBig), g({1}, 1), g({0, 1}, 2)},
     {{0, kBig}, {kBig - 1, kBig}, {kBig, kBig + 2}}},
};

INSTANTIATE_TEST_SUITE_P(AlapSchedule, AlapSchedule, ::testing::ValuesIn(kAlapCases),
                         [](const auto& info) { return std::string(info.param.label); });

// On random circuits with whole, non-negative durations: every dependency holds, no node starts
// before its ASAP start, and the circuit has the ASAP length.
TEST(AlapSchedule, RespectsDependenciesWithinTheAsapLength) {
  for (std::uint64_t seed = 1; seed <= 20; ++seed) {
    std::vector<Gate> gates = random_gates(seed, 300);
    for (Gate& gate : gates)
      if (!(gate.duration >= 0)) gate.duration = 3;
    QuantumDAG dag = make_dag(gates);
    dag.build_schedule();
    const std::vector<double> asap(dag.start_times().begin(), dag.start_times().end());
    double length = 0;
    for (NodeId id = 0; id < dag.node_count(); ++id) length = std::max(length, dag.node_schedule(id)->end);
    dag.build_alap_schedule();
    for (NodeId id = 0; id < dag.node_count(); ++id) {
      const NodeSchedule t = *dag.node_schedule(id);
      EXPECT_GE(t.start, asap[id]) << "seed " << seed << " node " << id;
      EXPECT_LE(t.end, length) << "seed " << seed << " node " << id;
      for (const Edge& e : dag.edges_from(id)) {
        if (e.successor == id) continue;  // a repeated qubit's self-edge
        EXPECT_LE(t.end, dag.node_schedule(e.successor)->start);
      }
    }
  }
}

}  // namespace
}  // namespace tarvex
