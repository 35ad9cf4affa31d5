// Block padding: delays, block-terminating barriers, bodies on the normal and the fast path, and
// what the filler is told about each stretch.
#include "graph/block_padding.hpp"

#include <sstream>
#include <string>

#include "block_test_util.hpp"
#include "graph/block_order.hpp"

namespace tarvex {
namespace {

using namespace test;

std::string list(std::span<const Wire> ws) {
  std::string s = "[";
  for (std::size_t i = 0; i < ws.size(); ++i) s += (i ? "," : "") + std::to_string(ws[i]);
  return s + "]";
}

// The output as text, one event per entry.
struct Recorder {
  std::vector<std::string> events;
  void node(NodeId id) { events.push_back("n" + std::to_string(id)); }
  void delay(Wire q, Ticks length) { events.push_back("d" + std::to_string(q) + ":" + std::to_string(length)); }
  void barrier(std::span<const Wire> qs) { events.push_back("b" + list(qs)); }
  void begin_body(NodeId cf, std::uint32_t k, bool fast, std::span<const Wire> qs) {
    events.push_back("{" + std::to_string(cf) + "." + std::to_string(k) + (fast ? " fast " : " ") + list(qs));
  }
  void end_body(NodeId cf, std::uint32_t k, Ticks d) {
    events.push_back("}" + std::to_string(cf) + "." + std::to_string(k) + " " + std::to_string(d));
  }
  void control_flow(NodeId cf, std::span<const Wire> qs) { events.push_back("cf" + std::to_string(cf) + list(qs)); }
  void end(Ticks d) { events.push_back("end " + std::to_string(d)); }
};

using Events = std::vector<std::string>;

Events padded(const BlockProgram& p, SchedulePolicy policy, bool fill_ends = true, bool pad_unused = false) {
  const BlockOrder order = order_blocks(p);
  const BlockSchedule s = schedule_blocks(p, order, policy);
  Recorder rec;
  DelayFiller<Recorder> filler{rec, fill_ends};
  pad_blocks(p, order, s, BlockPaddingOptions{.pad_unused_qubits = pad_unused}, filler, rec);
  return rec.events;
}

TEST(PadBlocks, RootBlockDelaysAndBarriers) {
  // q0: x 200, reset 1000; q1: measure 1000 (grouped with the reset); q2 never used; then x on q0
  // in the next block, after a barrier.
  BlockProgram p(3, 1);
  add_all(p, {gate({0}, 200), reset(0, 1000), measure(1, 3, 1000), delay(1, 50), gate({0}, 200)});
  EXPECT_EQ(padded(p, SchedulePolicy::kAsap),
            (Events{"n0", "n1", "d1:200", "n2", "b[0,1]", "n4", "d1:200", "end 200"}));
  EXPECT_EQ(padded(p, SchedulePolicy::kAsap, false), (Events{"n0", "n1", "d1:200", "n2", "b[0,1]", "n4", "end 200"}));
  EXPECT_EQ(padded(p, SchedulePolicy::kAsap, true, true),
            (Events{"n0", "n1", "d1:200", "n2", "d2:1200", "b[0,1,2]", "n4", "d1:200", "d2:200", "end 200"}));
}

TEST(PadBlocks, BodiesOnTheNormalAndTheFastPath) {
  // measure(0 -> c); if (c) on q0 { x(0) }  -- fast path: the if reads its own measurement
  // if (c) on q1 { x(1) }                 -- normal path: the body holds every used qubit
  BlockProgram p(2, 1);
  const NodeId first = add_all(p, {measure(0, 2, 1000), if_on({0}, 2), if_on({1}, 2)});
  const std::vector<Wire> q0 = {0}, q1 = {1}, c = {2};
  p.begin_body(first + 1, 0, q0, c);
  add_all(p, {gate({0}, 300)});
  p.begin_body(first + 2, 0, q1, c);
  add_all(p, {gate({1}, 200)});
  ASSERT_EQ(p.check_invariants(), "");
  EXPECT_EQ(padded(p, SchedulePolicy::kAlap),
            (Events{"n0", "d1:1000", "{1.0 fast [0]", "n3", "}1.0 300", "cf1[0]",
                    // both are control flow: no barrier between the two ifs
                    "{2.0 [0,1]", "n4", "d0:200", "}2.0 200", "cf2[0,1]", "end 0"}));
}

TEST(PadBlocks, FastPathLastInBlockIsFollowedByABarrier) {
  BlockProgram p(2, 1);
  const NodeId first = add_all(p, {gate({0, 1}, 100), measure(0, 2, 1000), if_on({0}, 2)});
  const std::vector<Wire> q0 = {0}, c = {2};
  p.begin_body(first + 2, 0, q0, c);
  add_all(p, {gate({0}, 300)});
  EXPECT_EQ(padded(p, SchedulePolicy::kAsap),
            (Events{"n0", "n1", "d1:1000", "{2.0 fast [0]", "n3", "}2.0 300", "cf2[0]", "b[0,1]", "end 0"}));
}

// Records the stretches the filler is given.
struct StretchLog {
  std::vector<IdleStretch> seen;
  bool fill(const IdleStretch& s) {
    seen.push_back(s);
    return true;
  }
};

TEST(PadBlocks, TheFillerSeesWhatPrecedesAndFollows) {
  BlockProgram p(2, 1);
  add_all(p, {gate({0}, 100), reset(1, 400), gate({1}, 100), gate({0, 1}, 100)});
  const BlockOrder order = order_blocks(p);
  const BlockSchedule s = schedule_blocks(p, order, SchedulePolicy::kAsap);
  Recorder rec;
  StretchLog log;
  pad_blocks(p, order, s, BlockPaddingOptions{}, log, rec);
  using K = StretchNeighbour::Kind;
  struct Seen {
    Wire q;
    Ticks start, stop;
    NodeId next;
    K before;
    NodeId before_node;
  };
  // Block 1: x(0) 0-100, reset(1) 0-400; q0 waits 300 to the block's end, after x(0). Block 2
  // (after the barrier): x(1) 0-100, then cx: q0 waits from the barrier.
  const std::vector<Seen> expected = {{0, 100, 400, kNoNode, K::kNode, 0}, {0, 0, 100, 3, K::kBarrier, kNoNode}};
  ASSERT_EQ(log.seen.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const IdleStretch& got = log.seen[i];
    EXPECT_EQ(got.qubit, expected[i].q);
    EXPECT_EQ(got.start, expected[i].start);
    EXPECT_EQ(got.stop, expected[i].stop);
    EXPECT_EQ(got.next, expected[i].next);
    EXPECT_EQ(got.before.kind, expected[i].before);
    EXPECT_EQ(got.before.node, expected[i].before_node);
  }
}

}  // namespace
}  // namespace tarvex
