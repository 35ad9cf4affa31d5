// Block schedule: the forward pass over timing blocks and measurement groups, and the ALAP sweep.
#include "graph/block_schedule.hpp"

#include <algorithm>

namespace tarvex {

namespace {

constexpr std::uint32_t kNoGroup = std::numeric_limits<std::uint32_t>::max();

struct Frame {
  BlockId block;
  NodeId next;        // the next position in `order`
  NodeId cf;          // the control-flow node this block is a body of, or kNoNode for the root
  std::uint32_t k;    // which body
};

// The forward pass. Wire times carry the block they were written in, so that opening a block frees
// every wire without touching it.
class ForwardPass {
 public:
  ForwardPass(const BlockProgram& p, bool alap)
      : p_(p), alap_(alap), time_(p.n_wires(), 0), time_block_(p.n_wires(), 0),
        group_mark_(p.n_qubits(), kNoGroup) {
    const std::size_t n = p.node_count();
    out_.block.assign(n, 0);
    out_.start.assign(n, 0);
    end_.assign(n, 0);
    group_of_.assign(n, kNoGroup);
    max_end_.push_back(0);  // block 0 is never used: the first block is 1
    visited_.reserve(n);
  }

  void run(const BlockOrder& order) {
    std::vector<Frame> stack;
    open_block();
    stack.push_back(Frame{0, p_.node_begin(0), kNoNode, 0});
    while (!stack.empty()) {
      Frame& f = stack.back();
      if (f.next < p_.node_end(f.block)) {
        const NodeId id = order[f.next++];
        if (p_.op(id) == BlockOp::kControlFlow) {
          const Ticks t0 = latest(p_.wires(id));
          set(id, t0, t0);
          if (!p_.bodies(id).empty()) {
            cf_flag_ = true;
            open_block();
            stack.push_back(Frame{p_.bodies(id)[0], p_.node_begin(p_.bodies(id)[0]), id, 0});
          } else {
            open_block();
          }
        } else {
          visit(id);
        }
        continue;
      }
      close_group();
      const Frame done = f;
      stack.pop_back();
      if (done.cf == kNoNode) break;
      const std::span<const BlockId> bodies = p_.bodies(done.cf);
      if (done.k + 1 < bodies.size()) {
        cf_flag_ = true;
        open_block();
        stack.push_back(Frame{bodies[done.k + 1], p_.node_begin(bodies[done.k + 1]), done.cf, done.k + 1});
      } else {
        open_block();  // the exit of the control-flow node
      }
    }
  }

  // What the ALAP sweep needs besides the schedule.
  BlockSchedule out_;
  std::vector<Ticks> end_;              // per node
  std::vector<std::uint32_t> group_of_;  // per node: its measurement group, or kNoGroup
  std::vector<std::uint32_t> group_begin_{0};  // per closed group + 1, into group_members_
  std::vector<NodeId> group_members_;
  std::vector<Ticks> max_end_;          // per block: the latest end in it
  std::vector<NodeId> visited_;         // nodes in the order first scheduled

 private:
  Ticks read(Wire w) const { return time_block_[w] == block_ ? time_[w] : 0; }
  void write(Wire w, Ticks t) {
    time_[w] = t;
    time_block_[w] = block_;
  }
  Ticks latest(std::span<const Wire> ws) const {
    Ticks t = 0;
    for (Wire w : ws) t = std::max(t, read(w));
    return t;
  }

  void set(NodeId id, Ticks t0, Ticks t1) {
    if (out_.block[id] == 0) visited_.push_back(id);
    out_.block[id] = block_;
    out_.start[id] = t0;
    end_[id] = t1;
    max_end_[block_] = std::max(max_end_[block_], t1);
    for (Wire w : p_.wires(id)) write(w, t1);
  }

  void open_block() {
    ++block_;
    max_end_.push_back(0);
    cf_flag_ = false;
    close_group();
  }

  void close_group() {
    has_reset_ = false;
    if (group_.empty()) return;
    for (NodeId m : group_) {
      group_of_[m] = static_cast<std::uint32_t>(group_begin_.size() - 1);
      group_members_.push_back(m);
    }
    group_begin_.push_back(static_cast<std::uint32_t>(group_members_.size()));
    group_.clear();
    ++group_serial_;
  }

  bool overlaps_group(NodeId id) const {
    for (Wire q : p_.qubits(id))
      if (group_mark_[q] == group_serial_) return true;
    return false;
  }

  // The check before a node that overlaps the group: a reset in it ends the block.
  void leave_group() {
    if (has_reset_) {
      open_block();
    } else {
      close_group();
    }
  }

  void visit(NodeId id) {
    const BlockOp op = p_.op(id);
    if (op == BlockOp::kMeasure || op == BlockOp::kReset) {
      if (op == BlockOp::kReset) has_reset_ = true;
      visit_measure(id);
      if (op == BlockOp::kReset) cf_flag_ = true;
      return;
    }
    if (alap_ && cf_flag_) open_block();
    if (overlaps_group(id)) leave_group();
    const Ticks t0 = latest(p_.wires(id));
    set(id, t0, t0 + p_.duration(id));
  }

  void visit_measure(NodeId id) {
    Ticks t0 = latest(p_.qubits(id));
    if (overlaps_group(id)) {
      const bool ends_block = has_reset_;
      leave_group();
      if (ends_block) t0 = 0;
    } else {
      for (NodeId m : group_) t0 = std::max(t0, out_.start[m]);
    }
    group_.push_back(id);
    for (Wire q : p_.qubits(id)) group_mark_[q] = group_serial_;
    // Every member moves to t0. A clbit two members write is free after the later of them, which
    // is the sound reading of what the runtime leaves to its set's iteration order.
    for (NodeId m : group_) set(m, t0, t0 + p_.duration(m));
    if (group_.size() > 1) {
      for (NodeId m : group_)
        for (Wire c : p_.clbits(m)) time_[c] = std::max(time_[c], end_[m]);
    }
  }

  const BlockProgram& p_;
  bool alap_;
  std::uint32_t block_ = 0;
  bool cf_flag_ = false;  // a reset was visited since the block opened
  std::vector<Ticks> time_;
  std::vector<std::uint32_t> time_block_;
  std::vector<NodeId> group_;
  bool has_reset_ = false;
  std::uint32_t group_serial_ = 0;
  std::vector<std::uint32_t> group_mark_;  // per qubit: the group serial that holds it
};

// The ALAP sweep over the forward pass's result.
void sweep_alap(const BlockProgram& p, ForwardPass& f) {
  struct Key {
    std::uint32_t block;
    Ticks neg_end;
    bool not_barrier;
    Ticks duration;
    std::uint32_t seq;
    NodeId id;
    bool operator<(const Key& o) const {
      if (block != o.block) return block < o.block;
      if (neg_end != o.neg_end) return neg_end < o.neg_end;
      if (not_barrier != o.not_barrier) return not_barrier < o.not_barrier;
      if (duration != o.duration) return duration < o.duration;
      return seq < o.seq;
    }
  };
  std::vector<Key> keys;
  keys.reserve(f.visited_.size());
  for (std::uint32_t seq = 0; seq < f.visited_.size(); ++seq) {
    const NodeId id = f.visited_[seq];
    keys.push_back(Key{f.out_.block[id], -f.end_[id], p.op(id) != BlockOp::kBarrier, p.duration(id), seq, id});
  }
  std::sort(keys.begin(), keys.end());

  // Free times by qubit, valid for the block they carry.
  std::vector<Ticks> free_at(p.n_qubits(), 0);
  std::vector<std::uint32_t> free_block(p.n_qubits(), 0);
  std::vector<char> done(p.node_count(), 0);
  auto latest_start = [&](NodeId m) {
    const std::uint32_t b = f.out_.block[m];
    Ticks t = f.max_end_[b];
    bool any = false;
    for (Wire q : p.qubits(m)) {
      const Ticks free = free_block[q] == b ? free_at[q] : f.max_end_[b];
      t = any ? std::min(t, free) : free;
      any = true;
    }
    return t - (f.end_[m] - f.out_.start[m]);
  };
  auto place = [&](NodeId m, Ticks t) {
    done[m] = 1;
    f.out_.start[m] = t;
    const std::uint32_t b = f.out_.block[m];
    for (Wire q : p.qubits(m)) {
      free_at[q] = t;
      free_block[q] = b;
    }
  };
  for (const Key& k : keys) {
    if (done[k.id]) continue;
    const std::uint32_t g = f.group_of_[k.id];
    if (g == kNoGroup) {
      place(k.id, latest_start(k.id));
      continue;
    }
    const std::span<const NodeId> members(f.group_members_.data() + f.group_begin_[g],
                                          f.group_members_.data() + f.group_begin_[g + 1]);
    Ticks t = latest_start(members[0]);
    for (NodeId m : members) t = std::min(t, latest_start(m));
    for (NodeId m : members) place(m, t);
  }
}

}  // namespace

BlockSchedule schedule_blocks(const BlockProgram& program, const BlockOrder& order, SchedulePolicy policy) {
  ForwardPass f(program, policy == SchedulePolicy::kAlap);
  f.run(order);
  if (policy == SchedulePolicy::kAlap) sweep_alap(program, f);
  return std::move(f.out_);
}

}  // namespace tarvex
