// Block padding: the padded output of a block schedule, written block by block, with every idle
// stretch handed to a filler (one delay, or a pulse sequence).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "graph/block_program.hpp"
#include "graph/block_schedule.hpp"

namespace tarvex {

/// What stands before an idle stretch on its qubit in the output block being written.
struct StretchNeighbour {
  enum class Kind : std::uint8_t {
    kBlockStart,  ///< nothing: the output block begins there
    kNode,        ///< a copy of input node `node` (control flow included)
    kBarrier,     ///< a block-terminating barrier
    kFill,        ///< what the filler put into the stretch before
  };
  Kind kind = Kind::kBlockStart;
  NodeId node = kNoNode;
};

/// One idle stretch, as the walk hands it to the filler: qubit `qubit` waits from `start` to
/// `stop` (> start) in timing block `block`, before node `next` or, if kNoNode, before the end of
/// its output block.
struct IdleStretch {
  Wire qubit;
  std::uint32_t block;
  Ticks start;
  Ticks stop;
  NodeId next;
  StretchNeighbour before;
};

struct BlockPaddingOptions {
  /// Pad qubits that no node of the root block uses; by default they are left empty.
  bool pad_unused_qubits = false;
};

/// The filler of a plain delay padder: one delay per stretch, through `sink.delay(qubit, length)`;
/// with `fill_block_ends` false, none in a stretch that ends its output block.
template <class Sink>
struct DelayFiller {
  Sink& sink;
  bool fill_block_ends = true;
  bool fill(const IdleStretch& s) {
    if (!fill_block_ends && s.next == kNoNode) return false;
    sink.delay(s.qubit, s.stop - s.start);
    return true;
  }
};

namespace block_padding_detail {

template <class Filler, class Sink>
class Walk {
 public:
  Walk(const BlockProgram& p, const BlockOrder& order, const BlockSchedule& s, const BlockPaddingOptions& o,
       Filler& filler, Sink& sink)
      : p_(p), order_(order), s_(s), pad_unused_(o.pad_unused_qubits), filler_(filler), sink_(sink) {
    const Wire nq = p.n_qubits();
    idle_.assign(nq, pad_unused_ ? 0 : 1);
    if (!pad_unused_)
      for (NodeId id = p.node_begin(0); id < p.node_end(0); ++id)
        for (Wire q : p.qubits(id)) idle_[q] = 0;
    for (Wire q = 0; q < nq; ++q) {
      all_.push_back(q);
      if (!idle_[q]) kept_.push_back(q);
    }
    idle_after_.assign(nq, 0);
    idle_gen_.assign(nq, 0);
    touch_node_.assign(p.n_wires(), kNoNode);
    touch_visit_.assign(p.n_wires(), 0);
    fast_.assign(p.control_flow_count(), 0);
    neighbour_.assign(nq, StretchNeighbour{});
    neighbour_visit_.assign(nq, 0);
  }

  Ticks run() {
    push(0, kNoNode, 0, all_);
    while (true) {
      Frame& f = frames_.back();
      if (f.next < p_.node_end(f.block)) {
        const NodeId id = order_[f.next++];
        if (p_.op(id) == BlockOp::kControlFlow) {
          enter_control_flow(f, id);  // may push a body: `f` is not used past this point
        } else {
          visit(f, id);
          f.prev = id;
        }
        continue;
      }
      const Ticks duration = block_duration_;
      terminate(f, block_duration_, cur_block_);
      if (f.prev != kNoNode && p_.op(f.prev) == BlockOp::kControlFlow && fast(f.prev)) barrier(f);
      restore_neighbours(f.undo_mark);
      if (f.cf == kNoNode) {
        sink_.end(duration);
        return duration;
      }
      const Frame done = f;
      frames_.pop_back();
      sink_.end_body(done.cf, done.k, duration);
      const std::span<const BlockId> bodies = p_.bodies(done.cf);
      if (done.k + 1 < bodies.size()) {
        push_body(done.cf, done.k + 1);
      } else {
        Frame& parent = frames_.back();
        place_control_flow(parent, done.cf);
        parent.prev = done.cf;
      }
    }
  }

 private:
  struct Frame {
    BlockId block;
    NodeId next;
    NodeId cf;
    std::uint32_t k;
    std::span<const Wire> out;  // the output block's qubits
    NodeId prev = kNoNode;      // the input node visited before, in this block
    std::uint32_t visit;        // this output block's serial
    std::size_t undo_mark;
  };
  struct Undo {
    Wire qubit;
    StretchNeighbour neighbour;
    std::uint32_t visit;
  };

  bool fast(NodeId cf) const { return fast_[p_.control_flow_index(cf)] != 0; }

  void push(BlockId b, NodeId cf, std::uint32_t k, std::span<const Wire> out) {
    frames_.push_back(Frame{b, p_.node_begin(b), cf, k, out, kNoNode, ++visits_, undo_.size()});
    block_duration_ = 0;
  }

  void push_body(NodeId cf, std::uint32_t k) {
    const BlockId body = p_.bodies(cf)[k];
    const bool fast_path = fast(cf);
    const std::span<const Wire> out =
        fast_path ? p_.block_qubits(body) : std::span<const Wire>(pad_unused_ ? all_ : kept_);
    push(body, cf, k, out);
    sink_.begin_body(cf, k, fast_path, out);
  }

  Ticks idle_after(Wire q) const { return idle_gen_[q] == gen_ ? idle_after_[q] : 0; }
  void set_idle_after(Wire q, Ticks t) {
    idle_after_[q] = t;
    idle_gen_[q] = gen_;
  }

  StretchNeighbour neighbour(const Frame& f, Wire q) const {
    return neighbour_visit_[q] == f.visit ? neighbour_[q] : StretchNeighbour{};
  }
  void set_neighbour(const Frame& f, Wire q, StretchNeighbour n) {
    if (neighbour_visit_[q] != f.visit) {
      undo_.push_back(Undo{q, neighbour_[q], neighbour_visit_[q]});
      neighbour_visit_[q] = f.visit;
    }
    neighbour_[q] = n;
  }
  void restore_neighbours(std::size_t mark) {
    while (undo_.size() > mark) {
      const Undo& u = undo_.back();
      neighbour_[u.qubit] = u.neighbour;
      neighbour_visit_[u.qubit] = u.visit;
      undo_.pop_back();
    }
  }

  void fill(const Frame& f, Wire q, std::uint32_t block, Ticks start, Ticks stop, NodeId next) {
    if (filler_.fill(IdleStretch{q, block, start, stop, next, neighbour(f, q)}))
      set_neighbour(f, q, StretchNeighbour{StretchNeighbour::Kind::kFill, kNoNode});
  }

  // Pads every qubit of the output block up to `until`; the next block's times start at 0.
  void terminate(const Frame& f, Ticks until, std::uint32_t block) {
    block_duration_ = 0;
    for (Wire q : f.out) {
      if (idle_[q]) continue;
      const Ticks from = idle_after(q);
      if (until - from > 0) fill(f, q, block, from, until, kNoNode);
    }
    ++gen_;
  }

  // The output block's qubits without the unused ones.
  std::span<const Wire> padded_qubits(const Frame& f) {
    if (pad_unused_) return f.out;
    scratch_.clear();
    for (Wire q : f.out)
      if (!idle_[q]) scratch_.push_back(q);
    return scratch_;
  }

  void barrier(const Frame& f) {
    const std::span<const Wire> qs = padded_qubits(f);
    if (qs.empty()) return;
    sink_.barrier(qs);
    for (Wire q : qs) set_neighbour(f, q, StretchNeighbour{StretchNeighbour::Kind::kBarrier, kNoNode});
  }

  // A barrier or control-flow node as wide as the output block already keeps the blocks apart.
  bool spans_block(const Frame& f, NodeId id) const {
    const BlockOp op = p_.op(id);
    return (op == BlockOp::kBarrier || op == BlockOp::kControlFlow) && p_.qubits(id).size() == f.out.size();
  }

  void barrier_before(const Frame& f, NodeId curr) {
    const NodeId prev = f.prev;
    if (prev == kNoNode) return;
    const bool cf_curr = p_.op(curr) == BlockOp::kControlFlow;
    if (cf_curr && p_.op(prev) == BlockOp::kControlFlow) return;
    if (spans_block(f, prev) || spans_block(f, curr) || (cf_curr && fast(curr))) return;
    barrier(f);
  }

  void visit(const Frame& f, NodeId id) {
    const std::uint32_t b = s_.block[id];
    const Ticks t0 = s_.start[id];
    if (b > cur_block_) {
      terminate(f, block_duration_, cur_block_);
      barrier_before(f, id);
    }
    cur_block_ = b;
    const Ticks t1 = t0 + p_.duration(id);
    block_duration_ = std::max(block_duration_, t1);
    if (p_.op(id) == BlockOp::kDelay) return;  // its time is idle time, padded anew
    for (Wire q : p_.qubits(id)) {
      if (idle_[q]) continue;
      const Ticks from = idle_after(q);
      if (t0 - from > 0) fill(f, q, b, from, t0, id);
      set_idle_after(q, t1);
    }
    sink_.node(id);
    for (Wire q : p_.qubits(id)) set_neighbour(f, q, StretchNeighbour{StretchNeighbour::Kind::kNode, id});
    for (Wire w : p_.wires(id)) {
      touch_node_[w] = id;
      touch_visit_[w] = f.visit;
    }
  }

  // The fast path of an if/else: its single condition bit was last written, in this output block,
  // by a measurement on exactly the if's qubits, and its bodies hold only gates and delays.
  bool takes_fast_path(const Frame& f, NodeId cf) const {
    const Wire c = p_.condition_bit(cf);
    if (!p_.if_else(cf) || c == kNoWire || touch_visit_[c] != f.visit) return false;
    const NodeId m = touch_node_[c];
    if (p_.op(m) != BlockOp::kMeasure) return false;
    const std::span<const Wire> a = p_.qubits(cf), b = p_.qubits(m);
    auto within = [](std::span<const Wire> x, std::span<const Wire> y) {
      return std::all_of(x.begin(), x.end(), [&](Wire w) { return std::find(y.begin(), y.end(), w) != y.end(); });
    };
    if (!within(a, b) || !within(b, a)) return false;
    for (BlockId body : p_.bodies(cf))
      for (NodeId id = p_.node_begin(body); id < p_.node_end(body); ++id)
        if (p_.op(id) != BlockOp::kGate && p_.op(id) != BlockOp::kDelay) return false;
    return true;
  }

  void enter_control_flow(Frame& f, NodeId cf) {
    if (takes_fast_path(f, cf)) fast_[p_.control_flow_index(cf)] = 1;
    terminate(f, s_.start[cf], s_.block[cf]);
    barrier_before(f, cf);
    if (p_.bodies(cf).empty()) {
      place_control_flow(f, cf);
      f.prev = cf;
      return;
    }
    push_body(cf, 0);
  }

  void place_control_flow(const Frame& f, NodeId cf) {
    const std::span<const Wire> qs = fast(cf) ? p_.qubits(cf) : padded_qubits(f);
    sink_.control_flow(cf, qs);
    for (Wire q : qs) set_neighbour(f, q, StretchNeighbour{StretchNeighbour::Kind::kNode, cf});
  }

  const BlockProgram& p_;
  const BlockOrder& order_;
  const BlockSchedule& s_;
  const bool pad_unused_;
  Filler& filler_;
  Sink& sink_;
  std::vector<char> idle_;  // per qubit: unused at the root, and left empty
  std::vector<Wire> all_, kept_, scratch_;
  std::uint32_t cur_block_ = 0;
  Ticks block_duration_ = 0;
  std::vector<Ticks> idle_after_;  // per qubit: busy until, valid while its gen is gen_
  std::vector<std::uint32_t> idle_gen_;
  std::uint32_t gen_ = 1;
  std::vector<NodeId> touch_node_;  // per wire: the last node copied onto it (not delays or control flow)
  std::vector<std::uint32_t> touch_visit_;
  std::vector<char> fast_;  // per control-flow node
  std::vector<StretchNeighbour> neighbour_;  // per qubit, valid for the output block in neighbour_visit_
  std::vector<std::uint32_t> neighbour_visit_;
  std::vector<Undo> undo_;
  std::vector<Frame> frames_;
  std::uint32_t visits_ = 0;
};

}  // namespace block_padding_detail

/// Walks the blocks of `program` in `order` with the start times of `schedule`, and reports the
/// padded output to `sink`, output block by output block; every idle stretch goes to
/// `filler.fill(stretch)`, which puts what it wants into it through its own sink (returning true
/// if it put anything) or leaves it empty. This is the runtime's block padder:
///
/// - Qubits no node of the root block uses are left empty, unless options.pad_unused_qubits.
/// - A node of a later timing block than the one before it ends the current one: every qubit of
///   the output block is padded up to the block's duration, and time restarts at 0; then a barrier
///   over the output block's (padded) qubits separates the two, unless the node is the first of its
///   output block, both nodes are control flow, either is a barrier or control flow as wide as the
///   output block, or the node is a fast-path if/else.
/// - A node's qubits are padded from when each was last busy to its start, then it is copied;
///   delays only stretch the block and are never copied.
/// - A control-flow node ends its block at its own start, the same barrier rule applies, then each
///   body is written as an output block of its own: on the output block's padded qubits, or, for a
///   fast-path if/else (see takes_fast_path), on the node's own qubits; then the node is placed on
///   the same qubits. A fast-path node left last in an output block is followed by a barrier.
///
/// Sink calls, in output order per output block:
///   node(id)                            a copy of input node `id` on its wires
///   barrier(qubits)                     a block-terminating barrier
///   begin_body(cf, k, fast_path, qubits)  output block for body k of `cf` begins, on `qubits`
///   end_body(cf, k, duration)           it ends, `duration` long
///   control_flow(cf, qubits)            `cf` with the bodies just ended, on `qubits` and its clbits
///   end(duration)                       the root output block ends
/// Returns the root output block's duration. O(nodes + entries + blocks * qubits + output).
template <class Filler, class Sink>
Ticks pad_blocks(const BlockProgram& program, const BlockOrder& order, const BlockSchedule& schedule,
                 const BlockPaddingOptions& options, Filler& filler, Sink& sink) {
  block_padding_detail::Walk<Filler, Sink> walk(program, order, schedule, options, filler, sink);
  return walk.run();
}

}  // namespace tarvex
