// Block schedule: timing blocks, measurement groups and the ALAP sweep, on the runtime's scenarios.
#include "graph/block_schedule.hpp"

#include <utility>

#include "block_test_util.hpp"
#include "graph/block_order.hpp"

namespace tarvex {
namespace {

using namespace test;

using Times = std::vector<std::pair<std::uint32_t, Ticks>>;  // (block, start) per node

Times times(const BlockProgram& p, SchedulePolicy policy) {
  const BlockSchedule s = schedule_blocks(p, order_blocks(p), policy);
  Times out;
  for (NodeId id = 0; id < p.node_count(); ++id) out.emplace_back(s.block[id], s.start[id]);
  return out;
}

struct Case {
  const char* what;
  Wire n_qubits;
  std::vector<BlockNode> nodes;
  Times asap, alap;
};

TEST(ScheduleBlocks, RootBlockScenarios) {
  const Wire c = 3;  // the one clbit, after 3 qubits
  const std::vector<Case> cases = {
      {"measurements on disjoint qubits start together; an overlap closes the group, not the block",
       3,
       {gate({0}, 200), measure(0, c, 1000), measure(1, c, 1000), gate({2}, 200), measure(1, c, 1000),
        measure(2, c, 1000)},
       {{1, 0}, {1, 200}, {1, 200}, {1, 0}, {1, 1200}, {1, 1200}},
       {{1, 0}, {1, 200}, {1, 200}, {1, 1000}, {1, 1200}, {1, 1200}}},
      {"a group holding a reset ends the block at the next overlap",
       3,
       {gate({0}, 200), reset(0, 1000), measure(1, c, 1000), gate({2}, 200), measure(1, c, 1000),
        measure(2, c, 1000), measure(0, c, 1000)},
       {{1, 0}, {1, 200}, {1, 200}, {1, 0}, {2, 0}, {2, 0}, {2, 0}},
       {{1, 0}, {1, 200}, {1, 200}, {1, 1000}, {2, 0}, {2, 0}, {2, 0}}},
      {"under ALAP the first gate after a reset opens a block even off the group's qubits",
       3,
       {reset(0, 600), gate({1}, 200)},
       {{1, 0}, {1, 0}},
       {{1, 0}, {2, 0}}},
      {"a reset overlapping a reset-free group ends the block all the same",
       3,
       {measure(0, c, 1000), reset(0, 600), measure(1, c, 1000)},
       {{1, 0}, {2, 0}, {2, 0}},
       {{1, 0}, {2, 0}, {2, 0}}},
      {"a clbit two members write is free after the later; zero-length nodes sort before equal ends",
       3,
       {measure(0, c, 1000), measure(1, c, 700), if_on({2}, c, 0), gate({2}, 0), barrier({2})},
       {{1, 0}, {1, 0}, {1, 1000}, {2, 0}, {2, 0}},
       {{1, 0}, {1, 0}, {1, 1000}, {2, 0}, {2, 0}}},
      {"a node without wires starts at 0, and under ALAP at its block's end",
       2,
       {measure(0, 2, 1000), {BlockOp::kControlFlow, {}, {}, 0, 0}},
       {{1, 0}, {1, 0}},
       {{1, 0}, {1, 1000}}},
  };
  for (const Case& k : cases) {
    BlockProgram p(k.n_qubits, 1);
    add_all(p, k.nodes);
    ASSERT_EQ(p.check_invariants(), "") << k.what;
    EXPECT_EQ(times(p, SchedulePolicy::kAsap), k.asap) << k.what;
    EXPECT_EQ(times(p, SchedulePolicy::kAlap), k.alap) << k.what;
  }
}

TEST(ScheduleBlocks, BodiesAreBlocksOfTheirOwn) {
  // x(1); measure(0 -> c); if (c) { x(1) } else { x(0); x(0) }; x(1)
  BlockProgram p(2, 1);
  const NodeId cf = add_all(p, {gate({1}, 200), measure(0, 2, 1000), if_on({0, 1}, 2, 2), gate({1}, 200)}) + 2;
  const std::vector<Wire> qs = {0, 1}, cs = {2};
  p.begin_body(cf, 0, qs, cs);
  add_all(p, {gate({1}, 200)});
  p.begin_body(cf, 1, qs, cs);
  add_all(p, {gate({0}, 200), gate({0}, 200)});
  ASSERT_EQ(p.check_invariants(), "");
  // The if starts when its clbit is written and takes no time; each body opens a block, and so
  // does the if's end. ALAP pushes the first gate against the if.
  EXPECT_EQ(times(p, SchedulePolicy::kAsap), (Times{{1, 0}, {1, 0}, {1, 1000}, {4, 0}, {2, 0}, {3, 0}, {3, 200}}));
  EXPECT_EQ(times(p, SchedulePolicy::kAlap), (Times{{1, 800}, {1, 0}, {1, 1000}, {4, 0}, {2, 0}, {3, 0}, {3, 200}}));
}

}  // namespace
}  // namespace tarvex
