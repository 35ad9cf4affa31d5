// BlockProgram: building the block tree and checking its invariants.
#include "graph/block_program.hpp"

#include <algorithm>

namespace tarvex {

namespace {

// Room for `extra` more elements, doubling: reserving exactly on every append would copy the
// column each time.
template <class T>
void make_room(std::vector<T>& v, std::size_t extra) {
  if (v.capacity() - v.size() < extra) v.reserve(std::max(v.size() + extra, 2 * v.capacity()));
}

}  // namespace

BlockProgram::BlockProgram(Wire n_qubits, Wire n_clbits) : n_qubits_(n_qubits), n_clbits_(n_clbits) {
  wire_begin_.push_back(0);
  blocks_.push_back(Block{0, kNoNode, 0, n_qubits, n_clbits});
  block_wire_pool_.resize(std::size_t{n_qubits} + n_clbits);
  for (Wire w = 0; w < n_qubits + n_clbits; ++w) block_wire_pool_[w] = w;
}

NodeId BlockProgram::add(BlockOp op, Ticks duration, std::span<const Wire> qubits, std::span<const Wire> clbits) {
  assert(op != BlockOp::kControlFlow && "control flow goes through add_control_flow");
  const NodeId id = ops_.size();
  // Every column grows before the first one changes size, so a failed allocation leaves the
  // program as it was.
  make_room(ops_, 1);
  make_room(durations_, 1);
  make_room(n_node_qubits_, 1);
  make_room(cf_slot_, 1);
  make_room(wire_begin_, 1);
  make_room(wire_pool_, qubits.size() + clbits.size());
  wire_pool_.insert(wire_pool_.end(), qubits.begin(), qubits.end());
  wire_pool_.insert(wire_pool_.end(), clbits.begin(), clbits.end());
  wire_begin_.push_back(wire_pool_.size());
  ops_.push_back(op);
  durations_.push_back(duration);
  n_node_qubits_.push_back(static_cast<std::uint32_t>(qubits.size()));
  cf_slot_.push_back(kNoSlot);
  return id;
}

NodeId BlockProgram::add_control_flow(std::span<const Wire> qubits, std::span<const Wire> clbits,
                                      std::uint32_t n_bodies, bool if_else, Wire condition_bit) {
  make_room(control_flow_, 1);
  make_room(body_pool_, n_bodies);
  const NodeId id = add(BlockOp::kGate, 0, qubits, clbits);
  ops_[id] = BlockOp::kControlFlow;
  cf_slot_[id] = static_cast<std::uint32_t>(control_flow_.size());
  control_flow_.push_back(ControlFlow{body_pool_.size(), n_bodies, condition_bit, if_else});
  body_pool_.resize(body_pool_.size() + n_bodies, kNoBlock);
  return id;
}

BlockId BlockProgram::begin_body(NodeId cf, std::uint32_t k, std::span<const Wire> qubits,
                                 std::span<const Wire> clbits) {
  assert(op(cf) == BlockOp::kControlFlow && k < bodies(cf).size() && "a body of a control-flow node");
  const BlockId b = static_cast<BlockId>(blocks_.size());
  make_room(blocks_, 1);
  make_room(block_wire_pool_, qubits.size() + clbits.size());
  const std::size_t wire_begin = block_wire_pool_.size();
  block_wire_pool_.insert(block_wire_pool_.end(), qubits.begin(), qubits.end());
  block_wire_pool_.insert(block_wire_pool_.end(), clbits.begin(), clbits.end());
  blocks_.push_back(Block{ops_.size(), cf, wire_begin, static_cast<std::uint32_t>(qubits.size()),
                          static_cast<std::uint32_t>(clbits.size())});
  body_pool_[control_flow_[cf_slot_[cf]].body_begin + k] = b;
  return b;
}

std::string BlockProgram::check_invariants() const {
  const std::size_t n = ops_.size();
  if (durations_.size() != n || n_node_qubits_.size() != n || cf_slot_.size() != n || wire_begin_.size() != n + 1 ||
      wire_begin_.back() != wire_pool_.size())
    return "per-node arrays disagree in size";
  if (blocks_.empty() || blocks_[0].parent != kNoNode || blocks_[0].node_begin != 0 ||
      blocks_[0].n_qubits != n_qubits_ || blocks_[0].n_clbits != n_clbits_)
    return "block 0 is not the root";
  // Which block lists each wire, and as what: the wire's position + 1, 0 where absent.
  std::vector<std::uint32_t> in_block(n_wires(), 0);
  for (BlockId b = 0; b < blocks_.size(); ++b) {
    const std::string where = "block " + std::to_string(b);
    if (node_begin(b) > node_end(b)) return where + " has a negative node range";
    if (b > 0) {
      const NodeId cf = blocks_[b].parent;
      if (cf >= node_begin(b) || ops_[cf] != BlockOp::kControlFlow) return where + " has no earlier parent";
      const std::span<const BlockId> listed = bodies(cf);
      if (std::find(listed.begin(), listed.end(), b) == listed.end()) return where + " is not listed by its parent";
      if (block_qubits(b).size() != qubits(cf).size() || block_clbits(b).size() != clbits(cf).size())
        return where + " has not as many wires as its parent node";
    }
    const std::span<const Wire> qs = block_qubits(b), cs = block_clbits(b);
    for (std::size_t i = 0; i < qs.size() + cs.size(); ++i) {
      const Wire w = i < qs.size() ? qs[i] : cs[i - qs.size()];
      const bool is_qubit = i < qs.size();
      if (w >= n_wires() || (w < n_qubits_) != is_qubit) return where + " lists a wire out of range or of the wrong kind";
      if (in_block[w] != 0) return where + " lists a wire twice";
      in_block[w] = static_cast<std::uint32_t>(i + 1);
    }
    for (NodeId id = node_begin(b); id < node_end(b); ++id) {
      const std::span<const Wire> ws = wires(id);
      for (std::size_t i = 0; i < ws.size(); ++i) {
        const bool is_qubit = i < n_node_qubits_[id];
        if (ws[i] >= n_wires() || in_block[ws[i]] == 0 || (ws[i] < n_qubits_) != is_qubit)
          return "node " + std::to_string(id) + " has a wire outside its block or of the wrong kind";
      }
      if ((ops_[id] == BlockOp::kControlFlow) != (cf_slot_[id] != kNoSlot))
        return "node " + std::to_string(id) + " is control flow in one column only";
      if (cf_slot_[id] != kNoSlot) {
        for (BlockId body : bodies(id))
          if (body == kNoBlock || body >= blocks_.size() || blocks_[body].parent != id)
            return "node " + std::to_string(id) + " lists a body that is not its own";
      }
    }
    for (Wire w : qs) in_block[w] = 0;
    for (Wire w : cs) in_block[w] = 0;
  }
  return {};
}

}  // namespace tarvex
