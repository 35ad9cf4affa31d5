// Block ordering: the round-based order computed in closed form, one block at a time.
#include "graph/block_order.hpp"

#include <algorithm>
#include <utility>

namespace tarvex {

namespace {

constexpr std::uint32_t kUnset = std::numeric_limits<std::uint32_t>::max();

bool triggers(BlockOp op) {
  return op == BlockOp::kMeasure || op == BlockOp::kReset || op == BlockOp::kControlFlow;
}

std::uint32_t order_class(BlockOp op) {
  return op == BlockOp::kControlFlow ? 2 : (op == BlockOp::kMeasure || op == BlockOp::kReset) ? 1 : 0;
}

// Reused across blocks: every array is sized to the block in hand, `last_*` to the wires.
struct Scratch {
  std::vector<std::uint32_t> last_local;  // per wire: the last node seen on it, as a block index
  std::vector<BlockId> last_block;        // per wire: the block last_local belongs to, + 1
  std::vector<std::uint32_t> pred_begin;  // per node + 1
  std::vector<std::uint32_t> preds;       // per edge: the predecessor, as a block index
  std::vector<std::uint32_t> depth;       // a(n)
  std::vector<char> feeds;                // some descendant is a trigger kind
  std::vector<std::uint32_t> round;       // the output round
  std::vector<std::uint32_t> searched;    // the pair whose search last visited the node, + 1
  std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;  // (round, node right after a trigger)
  std::vector<std::uint32_t> stack;
  std::vector<std::uint32_t> count;
  std::vector<std::uint32_t> by_depth;
};

// The block's edges: for each node, the last earlier node on each of its wires. O(entries).
void gather_preds(const BlockProgram& p, BlockId b, Scratch& s) {
  const NodeId begin = p.node_begin(b), end = p.node_end(b);
  const std::size_t n = end - begin;
  s.pred_begin.assign(n + 1, 0);
  s.preds.clear();
  for (std::size_t i = 0; i < n; ++i) {
    for (Wire w : p.wires(begin + i)) {
      if (s.last_block[w] == b + 1) s.preds.push_back(s.last_local[w]);
      s.last_block[w] = b + 1;
      s.last_local[w] = static_cast<std::uint32_t>(i);
    }
    s.pred_begin[i + 1] = static_cast<std::uint32_t>(s.preds.size());
  }
}

void order_block(const BlockProgram& p, BlockId b, Scratch& s, NodeId* out) {
  const NodeId begin = p.node_begin(b);
  const std::size_t n = p.node_end(b) - begin;
  if (n == 0) return;
  gather_preds(p, b, s);
  auto is_trigger = [&](std::uint32_t i) { return triggers(p.op(begin + i)); };
  auto preds_of = [&](std::uint32_t i) {
    return std::span<const std::uint32_t>(s.preds.data() + s.pred_begin[i], s.preds.data() + s.pred_begin[i + 1]);
  };

  // a(n), forward; "feeds a trigger", backward.
  s.depth.assign(n, 0);
  std::uint32_t last_round = 1;
  for (std::uint32_t i = 0; i < n; ++i) {
    for (std::uint32_t q : preds_of(i)) s.depth[i] = std::max(s.depth[i], s.depth[q] + (is_trigger(q) ? 1u : 0u));
    if (is_trigger(i)) last_round = std::max(last_round, s.depth[i] + 2);
  }
  s.feeds.assign(n, 0);
  for (std::uint32_t i = static_cast<std::uint32_t>(n); i-- > 0;) {
    if (is_trigger(i) || s.feeds[i])
      for (std::uint32_t q : preds_of(i)) s.feeds[q] = 1;
  }

  // Triggers and the nodes that feed them go in their first free round. The rest (free nodes) wait
  // for a round whose trigger precedes one of their descendants: such a descendant is a free node
  // right after a trigger, which is then the last trigger on that wire, so each wire gives at most
  // one (round, node) pair. Searching the pairs by round, the first to reach a free node with
  // a(n) below its round places it; its own ancestors are placed by the same search or an earlier
  // one, so a placed node ends the search.
  s.round.assign(n, kUnset);
  s.pairs.clear();
  for (std::uint32_t i = 0; i < n; ++i) {
    const bool is_free = !is_trigger(i) && !s.feeds[i];
    if (!is_free) {
      s.round[i] = s.depth[i] + 1;
      continue;
    }
    for (std::uint32_t q : preds_of(i))
      if (is_trigger(q)) s.pairs.emplace_back(s.depth[q] + 1, i);
  }
  std::sort(s.pairs.begin(), s.pairs.end());
  s.searched.assign(n, 0);
  for (std::uint32_t k = 0; k < s.pairs.size(); ++k) {
    const auto [r, start] = s.pairs[k];
    s.stack.assign(preds_of(start).begin(), preds_of(start).end());
    while (!s.stack.empty()) {
      const std::uint32_t x = s.stack.back();
      s.stack.pop_back();
      if (s.searched[x] == k + 1 || is_trigger(x) || s.feeds[x]) continue;
      s.searched[x] = k + 1;
      if (s.round[x] != kUnset) continue;
      if (s.depth[x] < r) s.round[x] = r;
      for (std::uint32_t q : preds_of(x)) s.stack.push_back(q);
    }
  }
  for (std::uint32_t i = 0; i < n; ++i)
    if (s.round[i] == kUnset) s.round[i] = last_round;

  // Sort by (round, class, a(n), base order): a stable counting sort by a(n), then one by
  // (round, class). Rounds and depths are below n + 2.
  const std::size_t n_keys = 3 * (std::size_t{last_round} + 1);
  s.count.assign(std::max<std::size_t>(n_keys, n + 2) + 1, 0);
  for (std::uint32_t i = 0; i < n; ++i) ++s.count[s.depth[i] + 1];
  for (std::size_t k = 1; k < s.count.size(); ++k) s.count[k] += s.count[k - 1];
  s.by_depth.resize(n);
  for (std::uint32_t i = 0; i < n; ++i) s.by_depth[s.count[s.depth[i]]++] = i;
  auto key = [&](std::uint32_t i) { return std::size_t{s.round[i]} * 3 + order_class(p.op(begin + i)); };
  std::fill(s.count.begin(), s.count.end(), 0);
  for (std::uint32_t i = 0; i < n; ++i) ++s.count[key(i) + 1];
  for (std::size_t k = 1; k < s.count.size(); ++k) s.count[k] += s.count[k - 1];
  for (std::uint32_t i : s.by_depth) out[s.count[key(i)]++] = begin + i;
}

}  // namespace

BlockOrder order_blocks(const BlockProgram& program) {
  BlockOrder order(program.node_count());
  Scratch s;
  s.last_local.assign(program.n_wires(), 0);
  s.last_block.assign(program.n_wires(), 0);
  for (BlockId b = 0; b < program.block_count(); ++b)
    order_block(program, b, s, order.data() + program.node_begin(b));
  return order;
}

}  // namespace tarvex
