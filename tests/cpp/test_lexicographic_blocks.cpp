// Padded blocks in lexicographic order: the root and bodies reordered by their own numbering, each
// qubit's items kept in the walk's order, and the walk's order where an item has no qubit.
#include "graph/lexicographic_blocks.hpp"

#include <algorithm>
#include <map>
#include <string>
#include <utility>

#include "block_test_util.hpp"
#include "graph/block_order.hpp"
#include "graph/block_padding.hpp"

namespace tarvex {
namespace {

using namespace test;
using Events = std::vector<std::string>;

std::string list(std::span<const Wire> ws) {
  std::string s = "[";
  for (std::size_t i = 0; i < ws.size(); ++i) s += (i ? "," : "") + std::to_string(ws[i]);
  return s + "]";
}

// The output as text, one event per entry, and per output block and qubit the items on it.
struct Recorder {
  explicit Recorder(const BlockProgram& program) : p(program) {}
  const BlockProgram& p;
  Events events;
  std::map<std::pair<std::string, Wire>, Events> on_qubit;  // keyed by (output block, qubit)
  std::vector<std::string> open = {"root"};
  void item(std::string e, std::span<const Wire> qs) {
    for (Wire q : qs) on_qubit[{open.back(), q}].push_back(e);
    events.push_back(std::move(e));
  }
  void node(NodeId id) { item("n" + std::to_string(id), p.qubits(id)); }
  void delay(Wire q, Ticks length) {
    item("d" + std::to_string(q) + ":" + std::to_string(length), std::span<const Wire>(&q, 1));
  }
  void barrier(std::span<const Wire> qs) { item("b" + list(qs), qs); }
  void begin_body(NodeId cf, std::uint32_t k, bool fast, std::span<const Wire> qs) {
    open.push_back(std::to_string(cf) + "." + std::to_string(k));
    events.push_back("{" + open.back() + (fast ? " fast " : " ") + list(qs));
  }
  void end_body(NodeId cf, std::uint32_t k, Ticks d) {
    open.pop_back();
    events.push_back("}" + std::to_string(cf) + "." + std::to_string(k) + " " + std::to_string(d));
  }
  void control_flow(NodeId cf, std::span<const Wire> qs) { item("cf" + std::to_string(cf) + list(qs), qs); }
  void end(Ticks d) { events.push_back("end " + std::to_string(d)); }
};

// pad_blocks with ASAP times into `rec`, through the adapter if `ordered`; returns in_order().
bool pad(const BlockProgram& p, Recorder& rec, bool ordered) {
  const BlockOrder order = order_blocks(p);
  const BlockSchedule s = schedule_blocks(p, order, SchedulePolicy::kAsap);
  if (!ordered) {
    DelayFiller<Recorder> filler{rec};
    pad_blocks(p, order, s, BlockPaddingOptions{}, filler, rec);
    return true;
  }
  LexicographicBlocks<Recorder> lex(p, rec);
  DelayFiller<LexicographicBlocks<Recorder>> filler{lex};
  pad_blocks(p, order, s, BlockPaddingOptions{}, filler, lex);
  return lex.in_order();
}

TEST(LexicographicBlocks, RootBlockComesInLexicographicOrderWithEachQubitsOrderKept) {
  // ASAP: x(2) 0-100, x(1) 0-100, x(0) 0-400, cx(1,2) 100-200, cx(0,1) 400-500; q1 waits 200
  // before cx(0,1), q2 waits 300 to the end.
  BlockProgram p(3, 0);
  add_all(p, {gate({2}, 100), gate({1}, 100), gate({0}, 400), gate({1, 2}, 100), gate({0, 1}, 100)});
  Recorder walk(p), lex(p);
  ASSERT_TRUE(pad(p, walk, false));
  EXPECT_TRUE(pad(p, lex, true));
  EXPECT_EQ(walk.events, (Events{"n0", "n1", "n2", "n3", "d1:200", "n4", "d2:300", "end 500"}));
  // Of the ready items, the one on the lowest qubit first; a delay is ready once its qubit's
  // item before it is placed.
  EXPECT_EQ(lex.events, (Events{"n2", "n1", "n0", "n3", "d1:200", "n4", "d2:300", "end 500"}));
  // The same items, and on every qubit in the walk's order.
  Events a = walk.events, b = lex.events;
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  EXPECT_EQ(a, b);
  EXPECT_EQ(walk.on_qubit, lex.on_qubit);
}

TEST(LexicographicBlocks, BodyIsOrderedByItsOwnNumberingAndTheParentByItsOwn) {
  // measure(0,1 -> c); if (c) on [1, 0] { x(0) 300; x(1) 100 }  -- fast path, body qubits [1, 0];
  // then x(1), x(0) 200 in the root, after the body has renumbered q0 and q1 for itself.
  BlockProgram p(2, 1);
  const NodeId first =
      add_all(p, {BlockNode{BlockOp::kMeasure, {0, 1}, {2}, 1000}, if_on({1, 0}, 2), gate({1}, 100), gate({0}, 200)});
  const std::vector<Wire> body_qubits = {1, 0}, c = {2};
  p.begin_body(first + 1, 0, body_qubits, c);
  add_all(p, {gate({0}, 300), gate({1}, 100)});
  ASSERT_EQ(p.check_invariants(), "");
  Recorder walk(p), lex(p);
  pad(p, walk, false);
  EXPECT_TRUE(pad(p, lex, true));
  EXPECT_EQ(walk.events, (Events{"n0", "{1.0 fast [1,0]", "n4", "n5", "d1:200", "}1.0 300", "cf1[1,0]", "n2", "n3",
                                 "d1:100", "end 200"}));
  // In the body q1 is qubit 0: x(1) and its delay come before x(0). The body is framed as the walk
  // frames it; the root's items follow it at the root's end, the if after the measurement, and
  // x(0) before x(1) again.
  EXPECT_EQ(lex.events, (Events{"{1.0 fast [1,0]", "n5", "d1:200", "n4", "}1.0 300", "n0", "cf1[1,0]", "n3", "n2",
                                "d1:100", "end 200"}));
  // Within each output block, every qubit's items as the walk put them.
  EXPECT_EQ(walk.on_qubit, lex.on_qubit);
}

TEST(LexicographicBlocks, ABlockWithAnItemOnNoQubitGoesOnInTheWalksOrder) {
  // Root: x(1), x(0), an if on [0, 1] reading c, whose body holds x(1), x(0) and an operation on
  // c alone (body clbit 2).
  BlockProgram p(2, 1);
  const NodeId first = add_all(p, {gate({1}, 100), gate({0}, 100), if_on({0, 1}, 2)});
  const std::vector<Wire> qs = {0, 1}, c = {2};
  p.begin_body(first + 2, 0, qs, c);
  add_all(p, {gate({1}, 100), gate({0}, 100), BlockNode{BlockOp::kOther, {}, {2}, 50}});
  ASSERT_EQ(p.check_invariants(), "");

  // The body goes on as walked; the root, all on qubits, is still reordered.
  Recorder rec(p);
  LexicographicBlocks<Recorder> lex(p, rec);
  lex.node(0);
  lex.node(1);
  lex.begin_body(2, 0, false, qs);
  lex.node(3);
  lex.node(4);
  lex.node(5);
  lex.end_body(2, 0, 100);
  lex.control_flow(2, qs);
  lex.end(200);
  EXPECT_FALSE(lex.in_order());
  EXPECT_EQ(rec.events, (Events{"{2.0 [0,1]", "n3", "n4", "n5", "}2.0 100", "n1", "n0", "cf2[0,1]", "end 200"}));

  // The same operation on c in the root: the root goes on as walked, the body reordered.
  BlockProgram r(2, 1);
  add_all(r, {gate({1}, 100), gate({0}, 100), BlockNode{BlockOp::kOther, {}, {2}, 50}, if_on({0, 1}, 2)});
  r.begin_body(3, 0, qs, c);
  add_all(r, {gate({1}, 100), gate({0}, 100)});
  ASSERT_EQ(r.check_invariants(), "");
  Recorder rec2(r);
  LexicographicBlocks<Recorder> lex2(r, rec2);
  for (NodeId id = 0; id < 3; ++id) lex2.node(id);
  lex2.begin_body(3, 0, false, qs);
  lex2.node(4);
  lex2.node(5);
  lex2.end_body(3, 0, 100);
  lex2.control_flow(3, qs);
  lex2.end(200);
  EXPECT_FALSE(lex2.in_order());
  EXPECT_EQ(rec2.events, (Events{"{3.0 [0,1]", "n5", "n4", "}3.0 100", "n0", "n1", "n2", "cf3[0,1]", "end 200"}));
}

}  // namespace
}  // namespace tarvex
