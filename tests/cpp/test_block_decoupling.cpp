// Block decoupling: sequence choice by ratio, cycles, spacings, reset skipping, named barriers,
// staggering and absorption, on programs padded by pad_blocks; and the greedy colouring.
#include "graph/block_decoupling.hpp"

#include <algorithm>
#include <string>

#include "block_test_util.hpp"
#include "graph/block_order.hpp"
#include "graph/block_schedule.hpp"

namespace tarvex {
namespace {

using namespace test;
using Events = std::vector<std::string>;

struct Recorder {
  DecouplingFiller<Recorder>* filler = nullptr;
  Events events;
  int odd = 0;
  void node(NodeId id) {
    filler->touched(id);
    events.push_back("n" + std::to_string(id));
  }
  void delay(Wire q, Ticks length) { events.push_back("d" + std::to_string(q) + ":" + std::to_string(length)); }
  void pulse(Wire q, std::uint32_t s, std::uint32_t k) {
    events.push_back("p" + std::to_string(q) + ":" + std::to_string(s) + "." + std::to_string(k));
  }
  void absorb(Wire q, std::uint32_t s, NodeId node, bool next) {
    events.push_back("a" + std::to_string(q) + ":" + std::to_string(s) + (next ? ">n" : "<n") + std::to_string(node));
  }
  void placed(Wire q, std::uint32_t s, Ticks cycles) {
    events.push_back("s" + std::to_string(q) + ":" + std::to_string(s) + "x" + std::to_string(cycles));
  }
  void odd_cycles() { ++odd; }
  void barrier(std::span<const Wire>) { events.push_back("b"); }
  void begin_body(NodeId, std::uint32_t, bool, std::span<const Wire>) { events.push_back("{"); }
  void end_body(NodeId, std::uint32_t, Ticks) { events.push_back("}"); }
  void control_flow(NodeId cf, std::span<const Wire>) { events.push_back("cf" + std::to_string(cf)); }
  void end(Ticks) {}
};

struct Config {
  std::vector<DecouplingSequence> sequences;
  std::vector<char> selected;
  std::vector<Ticks> durations;
  BlockDecouplingOptions options;
};

Recorder run(const BlockProgram& p, Config& s, SchedulePolicy policy = SchedulePolicy::kAsap,
             DecouplingStatus expected = DecouplingStatus::kDone) {
  s.options.sequences = s.sequences;
  s.options.selected = s.selected;
  s.options.pulse_durations = s.durations;
  const BlockOrder order = order_blocks(p);
  const BlockSchedule schedule = schedule_blocks(p, order, policy);
  Recorder rec;
  DecouplingFiller<Recorder> filler(p, s.options, rec);
  rec.filler = &filler;
  pad_blocks(p, order, schedule, BlockPaddingOptions{}, filler, rec);
  EXPECT_EQ(filler.status(), expected);
  return rec;
}

const double kXX[] = {0.25, 0.5, 0.25};

TEST(BlockDecoupling, PulsesLeaveRoomForThemselves) {
  // q0 busy 8, idle 232, busy 8; q1 holds the circuit's length. Two 8-unit pulses in 232 leave
  // 216 of slack: 48 + 96 + 48 rounded to 16, and the extra 24 split 16 to the middle, 8 to the end.
  BlockProgram p(2, 0);
  add_all(p, {gate({0}, 8), gate({1}, 240), gate({0, 1}, 8)});
  Config s{{{2, 2.0, false, kXX, {}}}, {1, 1}, {8, 8, 8, 8}, {}};
  const Recorder r = run(p, s);
  EXPECT_EQ(r.events, (Events{"n0", "n1", "d0:48", "p0:0.0", "d0:112", "p0:0.1", "d0:56", "s0:0x1", "n2"}));
}

TEST(BlockDecoupling, RatioPicksTheSequenceAndCyclesStaySeparate) {
  // A 64-unit stretch: the first sequence (pulses 16 + 16, ratio 3) does not fit, the second
  // (pulses 8 + 8, ratio 1.5) does. With multiple cycles it is repeated 64 // 24 = 2 times, the
  // fractions halved, and the gaps between cycles not merged.
  BlockProgram p(2, 0);
  add_all(p, {gate({0}, 8), gate({1}, 72), gate({0, 1}, 8)});
  Config s{{{2, 3.0, false, kXX, {}}, {2, 1.5, false, kXX, {}}}, {1, 1}, {16, 16, 8, 8, 16, 16, 8, 8}, {}};
  s.options.alignment = 1;
  EXPECT_EQ(run(p, s).events, (Events{"n0", "n1", "d0:12", "p0:1.0", "d0:24", "p0:1.1", "d0:12", "s0:1x1", "n2"}));
  s.options.multiple_cycles = true;
  EXPECT_EQ(run(p, s).events, (Events{"n0", "n1", "d0:4", "p0:1.0", "d0:8", "p0:1.1", "d0:4", "d0:4", "p0:1.0",
                                      "d0:8", "p0:1.1", "d0:4", "s0:1x2", "n2"}));
}

TEST(BlockDecoupling, CleanQubitsAndNamedBarriersGetDelays) {
  // With reset skipping, q0 is clean before its first gate and right after the reset; without it,
  // every stretch may take a sequence.
  BlockProgram p(2, 0);
  add_all(p, {gate({1}, 200), gate({0, 1}, 8), reset(0, 100), gate({1}, 300), gate({0, 1}, 8)});
  Config s{{{2, 2.0, false, kXX, {}}}, {1, 1}, {8, 8, 8, 8}, {}};
  s.options.alignment = 1;
  // The reset's group ends the block: time restarts after a barrier.
  const Events skipping = run(p, s).events;
  EXPECT_EQ(skipping, (Events{"n0", "d0:200", "n1", "n3", "n2", "d0:200", "b", "n4"}));
  s.options.skip_reset = false;
  const Events all = run(p, s).events;
  EXPECT_EQ(all, (Events{"n0", "d0:46", "p0:0.0", "d0:92", "p0:0.1", "d0:46", "s0:0x1", "n1", "n3", "n2", "d0:46",
                         "p0:0.0", "d0:92", "p0:0.1", "d0:46", "s0:0x1", "b", "n4"}));
  // Only before a marked node: node 1 is marked; the stretch after the reset ends its block.
  const std::vector<char> marked = {0, 1, 0, 0, 1};
  s.options.decouple_before = marked;
  const Events named = run(p, s).events;
  EXPECT_EQ(named[1], "d0:46");
  EXPECT_EQ(named[10], "d0:200");
}

TEST(BlockDecoupling, StaggeredQubitsTakeTheAltSpacing) {
  BlockProgram q(3, 0);
  add_all(q, {gate({0, 1}, 8), gate({2}, 100), gate({0, 1, 2}, 8)});
  const double alt[] = {0.5, 0.5, 0.0};
  Config s{{{2, 2.0, false, kXX, alt}}, {1, 1, 1}, std::vector<Ticks>(6, 8), {}};
  s.options.alignment = 1;
  const std::vector<std::uint8_t> colours = {0, 1, 0};
  s.options.colours = colours;
  const Events e = run(q, s).events;
  // q0 (colour 0): 76 slack -> 19 + 38 + 19; q1 (colour 1): 38 + 38, no gap after the last pulse.
  EXPECT_EQ(e, (Events{"n0", "n1", "d0:19", "p0:0.0", "d0:38", "p0:0.1", "d0:19", "s0:0x1", "d1:38", "p1:0.0",
                       "d1:38", "p1:0.1", "s1:0x1", "n2"}));
  const std::vector<std::uint8_t> uncoloured = {0, kNoColour, 0};
  s.options.colours = uncoloured;
  run(q, s, SchedulePolicy::kAsap, DecouplingStatus::kUncoloured);
  s.options.colours = {};
  s.options.split = std::nullopt;
  run(q, s, SchedulePolicy::kAsap, DecouplingStatus::kBadSplit);
  s.options.split = SlackSplit::kMiddle;
  s.options.multiple_cycles = true;
  s.sequences[0].min_ratio = 0.0;
  run(q, s, SchedulePolicy::kAsap, DecouplingStatus::kZeroCycleLength);
  s.sequences[0].integral_ratio = true;  // 0 as an integer: one cycle
  const Events one = run(q, s).events;
  EXPECT_EQ(std::count(one.begin(), one.end(), "s1:0x1"), 1);
}

TEST(BlockDecoupling, OnePulseSequencesAbsorbIntoANeighbour) {
  // Under ALAP q0 idles 108 between node 1 and node 3. Absorbing into the next node is tried
  // first, then the previous one; with neither, the stretch is a plain delay.
  BlockProgram p(2, 0);
  add_all(p, {gate({0}, 8), gate({0, 1}, 8), gate({1}, 116), gate({0}, 8), gate({0, 1}, 8)});
  const double half[] = {0.5, 0.5};
  Config s{{{1, 2.0, false, half, {}}}, {1, 1}, {8, 8}, {}};
  s.options.alignment = 1;
  std::vector<char> absorbs = {0, 1, 0, 1, 0};
  s.options.absorbs = absorbs;
  const SchedulePolicy alap = SchedulePolicy::kAlap;
  EXPECT_EQ(run(p, s, alap).events,
            (Events{"n0", "d1:8", "n1", "n2", "a0:0>n3", "d0:50", "p0:0.0", "d0:50", "s0:0x1", "n3", "n4"}));
  absorbs = {0, 1, 0, 0, 0};
  EXPECT_EQ(run(p, s, alap).events[4], "a0:0<n1");
  absorbs = {0, 0, 0, 0, 0};
  EXPECT_EQ(run(p, s, alap).events[4], "d0:108");
  // 108 // (8 * 4) = 3 cycles of a one-pulse sequence become one, with a warning.
  absorbs = {0, 1, 0, 1, 0};
  s.options.multiple_cycles = true;
  s.sequences[0].min_ratio = 4.0;
  const Recorder r = run(p, s, alap);
  EXPECT_EQ(r.odd, 1);
  EXPECT_EQ(r.events[4], "a0:0>n3");
}

TEST(BlockDecoupling, OnePulseCyclesStayOnlyForWholePeriods) {
  // 108 // (8 * 3) = 4 cycles of a one-pulse sequence: kept where 4 is a whole number of its
  // periods (X: 2, or 4), else one cycle whose inverse is absorbed, with a warning (a period of 8,
  // or none known).
  BlockProgram p(2, 0);
  add_all(p, {gate({0}, 8), gate({0, 1}, 8), gate({1}, 116), gate({0}, 8), gate({0, 1}, 8)});
  const double half[] = {0.5, 0.5};
  Config s{{{1, 3.0, false, half, {}}}, {1, 1}, {8, 8}, {}};
  s.options.alignment = 1;
  s.options.multiple_cycles = true;
  const std::vector<char> absorbs = {0, 1, 0, 1, 0};
  s.options.absorbs = absorbs;
  for (const std::uint32_t period : {2u, 4u}) {
    s.sequences[0].period = period;
    const Recorder r = run(p, s, SchedulePolicy::kAlap);
    EXPECT_EQ(r.odd, 0) << period;
    EXPECT_EQ(std::count(r.events.begin(), r.events.end(), "p0:0.0"), 4) << period;
    EXPECT_NE(std::find(r.events.begin(), r.events.end(), "s0:0x4"), r.events.end()) << period;
  }
  for (const std::uint32_t period : {8u, 0u}) {
    s.sequences[0].period = period;
    const Recorder r = run(p, s, SchedulePolicy::kAlap);
    EXPECT_EQ(r.odd, 1) << period;
    EXPECT_EQ(r.events[4], "a0:0>n3") << period;
    EXPECT_EQ(std::count(r.events.begin(), r.events.end(), "p0:0.0"), 1) << period;
  }
}

TEST(GreedyColouring, DescendingDegreeTiesByIndexParallelEdgesCounted) {
  // Node 3 has the highest degree only through parallel edges; it is coloured first.
  const std::pair<std::uint32_t, std::uint32_t> edges[] = {{0, 1}, {2, 3}, {3, 2}, {2, 3}, {1, 3}, {3, 9}};
  EXPECT_EQ(greedy_colouring(4, edges), (std::vector<std::uint32_t>{0, 1, 1, 0}));
  // A triangle needs a third colour.
  const std::pair<std::uint32_t, std::uint32_t> triangle[] = {{0, 1}, {1, 2}, {2, 0}};
  EXPECT_EQ(greedy_colouring(3, triangle), (std::vector<std::uint32_t>{0, 1, 2}));
  EXPECT_TRUE(greedy_colouring(0, {}).empty());
}

}  // namespace
}  // namespace tarvex
