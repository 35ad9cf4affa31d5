// DD pass: a DD_X/DD_Y pair ahead of every gate whose qubit idled long enough in the stored schedule.
#include "graph_test_util.hpp"

namespace tarvex {
namespace {

using namespace std::string_literals;
using namespace test;

/// Runs the pass on `source` and checks what every run must hold: the source unchanged, the result
/// valid and unscheduled.
QuantumDAG run_pass(const QuantumDAG& source) {
  const std::string before = dump(source);
  QuantumDAG out = source.apply_dd_pass();
  EXPECT_VALID(out);
  EXPECT_VALID(source);
  EXPECT_EQ(out.scheduled_count(), 0u);
  EXPECT_EQ(dump(source), before);
  return out;
}

struct DdCase {
  const char* label;
  std::vector<Gate> source;  // scheduled before the pass
  std::vector<Gate> result;
};

void PrintTo(const DdCase& c, std::ostream* os) { *os << c.label; }

class DdPass : public ::testing::TestWithParam<DdCase> {};

TEST_P(DdPass, InsertsPairsWhereIdleLongEnough) {
  QuantumDAG source = make_dag(GetParam().source);
  schedule(source);
  EXPECT_TRUE(HasNodes(run_pass(source), GetParam().result));
}

const Gate kH{"h", {0}, 10}, kX{"x", {1}, 200}, kCx{"cx", {0, 1}, 20};

const DdCase kDdCases[] = {
    {"WorkedExample", {kH, kX, kCx}, {kH, kX, dd_x(0), dd_y(0), kCx}},
    {"EmptySource", {}, {}},
    {"IdleExactly100",
     {g({0}, 10), g({1}, 110), g({0, 1}, 5)},
     {g({0}, 10), g({1}, 110), dd_x(0), dd_y(0), g({0, 1}, 5)}},
    {"Idle99_999", {g({0}, 10), g({1}, 109.999), g({0, 1}, 5)}, {g({0}, 10), g({1}, 109.999), g({0, 1}, 5)}},
    {"FirstUseAt100CountsFromZero",
     {g({1}, 100), g({0, 1}, 5)},
     {g({1}, 100), dd_x(0), dd_y(0), g({0, 1}, 5)}},
    {"FirstUseAt99_5", {g({1}, 99.5), g({0, 1}, 5)}, {g({1}, 99.5), g({0, 1}, 5)}},
    {"PairsInQubitListOrder",
     {g({2}, 300), g({1, 2, 0}, 5)},
     {g({2}, 300), dd_x(1), dd_y(1), dd_x(0), dd_y(0), g({1, 2, 0}, 5)}},
    {"RepeatedQubitAtMostOnePair",
     {g({1}, 200), g({0, 0, 1}, 5)},
     {g({1}, 200), dd_x(0), dd_y(0), g({0, 0, 1}, 5)}},
    {"EachIdleStretchGetsItsPair",
     {g({0}, 10), g({1}, 200), g({0, 1}, 10), g({1}, 300), g({0, 1}, 1)},
     {g({0}, 10), g({1}, 200), dd_x(0), dd_y(0), g({0, 1}, 10), g({1}, 300), dd_x(0), dd_y(0), g({0, 1}, 1)}},
    {"EmptyQubitListCopiedWithoutPair",
     {g({0}, 500), g({}, 5), g({0}, 1)},
     {g({0}, 500), g({}, 5), g({0}, 1)}},
    {"FiniteEndBeforeGivesPair",
     {g({1}, 500), g({0}, 10), g({0, 1}, 5)},
     {g({1}, 500), g({0}, 10), dd_x(0), dd_y(0), g({0, 1}, 5)}},
    {"NaNEndBeforeGivesNoPair",
     {g({1}, 500), g({0}, kNaN), g({0, 1}, 5)},
     {g({1}, 500), g({0}, kNaN), g({0, 1}, 5)}},
    {"NegativeEndBeforeCountsAsIdle", {g({0}, -500), g({0}, 5)}, {g({0}, -500), dd_x(0), dd_y(0), g({0}, 5)}},
    {"InfiniteStart", {g({1}, kInf), g({0, 1}, 5)}, {g({1}, kInf), dd_x(0), dd_y(0), g({0, 1}, 5)}},
    {"HashedQubitsAndOddNames",
     {{"a\0b"s, {kMaxQubit}, 200}, {"", {70000}, 1}, {"c", {kMaxQubit, 70000, 65536}, 5}},
     {{"a\0b"s, {kMaxQubit}, 200},
      {"", {70000}, 1},
      dd_x(70000),
      dd_y(70000),
      dd_x(65536),
      dd_y(65536),
      {"c", {kMaxQubit, 70000, 65536}, 5}}},
};

INSTANTIATE_TEST_SUITE_P(DdPass, DdPass, ::testing::ValuesIn(kDdCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(DdPass, WorkedExampleResultLinksAndSchedules) {
  QuantumDAG source = make_dag({kH, kX, kCx});
  schedule(source);
  QuantumDAG out = run_pass(source);
  // The pair stands between h and cx on qubit 0.
  const std::vector<std::vector<Edge>> edges = {{{2, 0}}, {{4, 1}}, {{3, 0}}, {{4, 0}}, {}};
  for (NodeId id = 0; id < edges.size(); ++id) EXPECT_EQ(out.edges_from(id), edges[id]) << "node " << id;
  schedule(out);
  EXPECT_TRUE(HasTimes(out, {{0, 10}, {0, 200}, {10, 60}, {60, 110}, {200, 220}}));
}

TEST(DdPass, NeverScheduledSourceGivesEmptyGraph) {
  const QuantumDAG source = make_dag({g({0}, 10), g({1}, 500), g({0, 1}, 5), g({0}, 1000), g({0, 1}, 5)});
  EXPECT_TRUE(HasNodes(run_pass(source), {}));
}

TEST(DdPass, UnscheduledTailIsLeftOut) {
  QuantumDAG source = make_dag({g({0}, 10), g({1}, 300), g({0, 1}, 5)});
  schedule(source);
  add(source, g({0}, 1000));
  add(source, g({0, 1}, 5));  // a fresh schedule would find qubit 1 idle for 1000 ns here
  EXPECT_TRUE(HasNodes(run_pass(source), {g({0}, 10), g({1}, 300), dd_x(0), dd_y(0), g({0, 1}, 5)}));
}

}  // namespace
}  // namespace tarvex
