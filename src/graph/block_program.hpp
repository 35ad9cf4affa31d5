// BlockProgram: a circuit with control flow as the block passes see it, a tree of blocks of timed nodes.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "graph/vocabulary.hpp"

namespace tarvex {

/// A time in the program's unit (hardware cycles, say): a whole number, as the block schedule
/// counts it.
using Ticks = std::int64_t;
/// A wire of the root circuit: qubits are 0 .. n_qubits - 1, classical bits follow them.
using Wire = std::uint32_t;
/// A block: 0 is the root circuit, every control-flow body is one more.
using BlockId = std::uint32_t;

inline constexpr Wire kNoWire = std::numeric_limits<Wire>::max();
inline constexpr BlockId kNoBlock = std::numeric_limits<BlockId>::max();

/// What a node is to the block passes.
enum class BlockOp : std::uint8_t {
  kGate,         ///< a unitary gate: schedulable, and allowed in a fast-path body
  kOther,        ///< any other timed operation
  kBarrier,      ///< no duration; first among equal ends in the ALAP sweep
  kDelay,        ///< a wait: scheduled, never copied, its time padded anew
  kMeasure,      ///< grouped with measurements and resets on disjoint qubits
  kReset,        ///< grouped like a measurement; a group holding one ends its block
  kControlFlow,  ///< no duration; its bodies are blocks of their own
};

/// The program: nodes in one array, each block's nodes contiguous and in a topological order of
/// that block (its base order), blocks numbered in the order they were begun.
///
/// Invariants (checked by `check_invariants`):
/// - Block 0 is the root: all qubits and all clbits, no parent. Every other block is body k of a
///   control-flow node of an earlier block, and that node lists it as its body k.
/// - Block b owns the nodes [node_begin(b), node_end(b)); the ranges follow one another in block
///   order and cover every node.
/// - A node's wires are wires of its block; its qubits come first, its clbits after.
/// - A body's qubits and clbits are distinct root wires, as many as its control-flow node has.
///
/// Storage is a structure of arrays by node (about 26 bytes per node plus 4 per wire). Building
/// appends only; nothing is removed or changed afterwards.
class BlockProgram {
 public:
  /// An empty program whose root block has `n_qubits` qubits and `n_clbits` clbits.
  BlockProgram(Wire n_qubits, Wire n_clbits);

  /// Appends a node that is not control flow to the block begun last (the root until a body is
  /// begun); returns its id. `qubits` and `clbits` are root wires (clbits numbered from
  /// n_qubits()). O(wires) amortised.
  NodeId add(BlockOp op, Ticks duration, std::span<const Wire> qubits, std::span<const Wire> clbits);

  /// Appends a control-flow node (no duration) with `n_bodies` bodies, begun later with
  /// begin_body. `if_else` marks an if/else; `condition_bit` is the one clbit its condition reads,
  /// or kNoWire when it reads none or several. O(wires + n_bodies) amortised.
  NodeId add_control_flow(std::span<const Wire> qubits, std::span<const Wire> clbits, std::uint32_t n_bodies,
                          bool if_else, Wire condition_bit);

  /// Begins body `k` of control-flow node `cf`, whose qubits and clbits (in body order) stand for
  /// the given root wires; the nodes added next belong to it. Every node of the block begun before
  /// must have been added. O(wires) amortised.
  BlockId begin_body(NodeId cf, std::uint32_t k, std::span<const Wire> qubits, std::span<const Wire> clbits);

  std::size_t node_count() const noexcept { return ops_.size(); }
  std::size_t block_count() const noexcept { return blocks_.size(); }
  Wire n_qubits() const noexcept { return n_qubits_; }
  Wire n_wires() const noexcept { return n_qubits_ + n_clbits_; }

  // Node accessors; `id` must be below node_count().
  BlockOp op(NodeId id) const noexcept { return ops_[id]; }
  Ticks duration(NodeId id) const noexcept { return durations_[id]; }
  /// The qubits, then the clbits. O(1).
  std::span<const Wire> wires(NodeId id) const noexcept {
    return {wire_pool_.data() + wire_begin_[id], wire_pool_.data() + wire_begin_[id + 1]};
  }
  std::span<const Wire> qubits(NodeId id) const noexcept { return wires(id).first(n_node_qubits_[id]); }
  std::span<const Wire> clbits(NodeId id) const noexcept { return wires(id).subspan(n_node_qubits_[id]); }

  // Control-flow accessors; `cf` must be a control-flow node.
  std::span<const BlockId> bodies(NodeId cf) const noexcept {
    const ControlFlow& c = control_flow_[cf_slot_[cf]];
    return {body_pool_.data() + c.body_begin, c.n_bodies};
  }
  bool if_else(NodeId cf) const noexcept { return control_flow_[cf_slot_[cf]].if_else; }
  Wire condition_bit(NodeId cf) const noexcept { return control_flow_[cf_slot_[cf]].condition_bit; }
  /// A dense index of control-flow nodes, 0 .. control_flow_count() - 1, in node order.
  std::uint32_t control_flow_index(NodeId cf) const noexcept { return cf_slot_[cf]; }
  std::size_t control_flow_count() const noexcept { return control_flow_.size(); }

  // Block accessors; `b` must be below block_count().
  NodeId node_begin(BlockId b) const noexcept { return blocks_[b].node_begin; }
  NodeId node_end(BlockId b) const noexcept {
    return b + 1 < blocks_.size() ? blocks_[b + 1].node_begin : ops_.size();
  }
  std::span<const Wire> block_qubits(BlockId b) const noexcept {
    const Block& k = blocks_[b];
    return {block_wire_pool_.data() + k.wire_begin, k.n_qubits};
  }
  std::span<const Wire> block_clbits(BlockId b) const noexcept {
    const Block& k = blocks_[b];
    return {block_wire_pool_.data() + k.wire_begin + k.n_qubits, k.n_clbits};
  }
  /// The control-flow node a body belongs to, or kNoNode for the root. O(1).
  NodeId parent(BlockId b) const noexcept { return blocks_[b].parent; }

  /// An empty string when every invariant above holds, else the first broken one. O(nodes + wires).
  std::string check_invariants() const;

 private:
  struct Block {
    NodeId node_begin;
    NodeId parent;
    std::size_t wire_begin;
    std::uint32_t n_qubits;
    std::uint32_t n_clbits;
  };
  struct ControlFlow {
    std::size_t body_begin;
    std::uint32_t n_bodies;
    Wire condition_bit;
    bool if_else;
  };
  static constexpr std::uint32_t kNoSlot = std::numeric_limits<std::uint32_t>::max();

  Wire n_qubits_;
  Wire n_clbits_;
  std::vector<BlockOp> ops_;
  std::vector<Ticks> durations_;
  std::vector<std::uint32_t> n_node_qubits_;
  std::vector<std::size_t> wire_begin_;  // per node + 1
  std::vector<Wire> wire_pool_;
  std::vector<std::uint32_t> cf_slot_;   // per node: its index in control_flow_, or kNoSlot
  std::vector<ControlFlow> control_flow_;
  std::vector<BlockId> body_pool_;       // kNoBlock until begin_body fills the slot
  std::vector<Block> blocks_;
  std::vector<Wire> block_wire_pool_;
};

/// One node order per block, all in one array: block b's visit order is
/// order[node_begin(b) .. node_end(b)), a permutation of the block's node ids.
using BlockOrder = std::vector<NodeId>;

}  // namespace tarvex
