// Block ordering: the closed form against the round-based ordering it replaces, and its shapes.
#include "graph/block_order.hpp"

#include <algorithm>

#include "block_test_util.hpp"

namespace tarvex {
namespace {

using namespace test;

bool is_trigger(BlockOp op) {
  return op == BlockOp::kMeasure || op == BlockOp::kReset || op == BlockOp::kControlFlow;
}

// The round-based ordering as written: each round searches descendants afresh.
std::vector<NodeId> by_rounds(const BlockProgram& p, BlockId b) {
  const NodeId begin = p.node_begin(b), end = p.node_end(b);
  std::vector<std::vector<NodeId>> succ(end - begin), pred(end - begin);
  std::vector<NodeId> last(p.n_wires(), kNoNode);
  for (NodeId id = begin; id < end; ++id) {
    for (Wire w : p.wires(id)) {
      if (last[w] != kNoNode) {
        succ[last[w] - begin].push_back(id);
        pred[id - begin].push_back(last[w]);
      }
      last[w] = id;
    }
  }
  auto descendants = [&](NodeId id) {
    std::vector<char> seen(end - begin, 0);
    std::vector<NodeId> stack = succ[id - begin], out;
    while (!stack.empty()) {
      const NodeId x = stack.back();
      stack.pop_back();
      if (seen[x - begin]) continue;
      seen[x - begin] = 1;
      out.push_back(x);
      stack.insert(stack.end(), succ[x - begin].begin(), succ[x - begin].end());
    }
    return out;
  };
  std::vector<NodeId> list, out;
  for (NodeId id = begin; id < end; ++id) list.push_back(id);
  while (!list.empty()) {
    std::vector<char> held(end - begin, 0), trigger(end - begin, 0);
    std::vector<NodeId> next, to_push, measures, flows;
    for (NodeId id : list) {
      if (held[id - begin]) {
        next.push_back(id);
      } else if (is_trigger(p.op(id))) {
        trigger[id - begin] = 1;
        for (NodeId d : descendants(id)) held[d - begin] = 1;
        (p.op(id) == BlockOp::kControlFlow ? flows : measures).push_back(id);
      } else {
        to_push.push_back(id);
      }
    }
    std::vector<NodeId> deferred;
    for (NodeId id : to_push) {
      const std::vector<NodeId> ds = descendants(id);
      const bool emit = std::any_of(ds.begin(), ds.end(), [&](NodeId d) {
        return is_trigger(p.op(d)) ||
               std::any_of(pred[d - begin].begin(), pred[d - begin].end(), [&](NodeId q) { return trigger[q - begin]; });
      });
      (emit ? out : deferred).push_back(id);
    }
    out.insert(out.end(), measures.begin(), measures.end());
    out.insert(out.end(), flows.begin(), flows.end());
    if (measures.empty() && flows.empty()) {
      out.insert(out.end(), deferred.begin(), deferred.end());
      break;
    }
    list = deferred;
    list.insert(list.end(), next.begin(), next.end());
  }
  return out;
}

TEST(OrderBlocks, EqualsTheRoundsOnRandomPrograms) {
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; ++round) {
    const Wire nq = std::uniform_int_distribution<Wire>(1, 6)(rng);
    const Wire nc = std::uniform_int_distribution<Wire>(1, 3)(rng);
    const int n = std::uniform_int_distribution<int>(0, round < 2500 ? 30 : 120)(rng);
    const BlockProgram p = random_flat_program(rng, nq, nc, n);
    ASSERT_EQ(p.check_invariants(), "");
    const BlockOrder order = order_blocks(p);
    ASSERT_EQ(order, by_rounds(p, 0)) << "program " << round;
  }
}

using Order = std::vector<NodeId>;

TEST(OrderBlocks, Shapes) {
  struct Case {
    const char* what;
    std::vector<BlockNode> nodes;
    Order expected;
  };
  const Wire c0 = 3;  // clbits follow the 3 qubits
  const std::vector<Case> cases = {
      {"no trigger: base order", {gate({0}, 1), gate({1}, 1), gate({0, 1}, 1)}, {0, 1, 2}},
      {"a gate feeding no measurement waits past it", {gate({1}, 1), gate({0}, 1), measure(0, c0, 1)}, {1, 2, 0}},
      {"measurements before control flow, control flow before the rest",
       {if_on({2}, c0, 0), measure(0, c0 + 1, 1), gate({1}, 1)},
       {1, 0, 2}},
      {"a free gate joins the round whose trigger precedes its descendant",
       {gate({1}, 1), measure(0, c0, 1), gate({0}, 1), measure(0, c0, 1), gate({0, 1}, 1)},
       {1, 0, 2, 3, 4}},
      {"a held measurement waits a round", {measure(0, c0, 1), gate({0}, 1), measure(0, c0, 1), gate({1}, 1)},
       {0, 1, 2, 3}},
  };
  for (const Case& c : cases) {
    BlockProgram p(3, 2);
    add_all(p, c.nodes);
    EXPECT_EQ(order_blocks(p), c.expected) << c.what;
    EXPECT_EQ(order_blocks(p), by_rounds(p, 0)) << c.what;
  }
}

TEST(OrderBlocks, EachBodyInItsOwnRange) {
  BlockProgram p(2, 1);
  const NodeId cf = add_all(p, {gate({1}, 1), if_on({0, 1}, 2, 2), gate({1}, 1)}) + 1;
  const std::vector<Wire> qs = {1, 0}, cs = {2};
  p.begin_body(cf, 0, qs, cs);
  add_all(p, {gate({1}, 1), measure(0, 2, 5), gate({0}, 1)});
  p.begin_body(cf, 1, qs, cs);
  ASSERT_EQ(p.check_invariants(), "");
  // Root: the gate before the if feeds it; the body's first gate feeds nothing and waits.
  EXPECT_EQ(order_blocks(p), (Order{0, 1, 2, 4, 3, 5}));
}

}  // namespace
}  // namespace tarvex
