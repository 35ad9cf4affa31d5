// Padded blocks in lexicographic topological order: the order in which a DAG of each output block
// lists its operations, whatever order the padding walk visits them in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "graph/block_program.hpp"
#include "graph/lexicographic_order.hpp"

namespace tarvex {

/// A sink of pad_blocks (see graph/block_padding.hpp) that stands before another: it holds each
/// output block's copies, delays, barriers and control flow (and a filler's pulses and changed
/// copies, where the sink before it hands those on) and passes them on when the block ends
/// (a body before its end_body, the root before end), in the lexicographic topological order of
/// that block's output (see lexicographic_order), each item keyed by its qubits and then its
/// clbits as the block numbers them. Each wire's items keep the walk's order, so the output is the
/// same circuit, listed as a DAG of it lists its operations. Bodies begin as the walk begins them.
///
/// That order needs every item to act on a qubit of its block. Where one does not (control flow on
/// no qubit, say), its block goes on in the walk's order and in_order() is false.
/// O(items + wires) memory for the blocks being written; O(1) amortised per item, plus
/// lexicographic_order's time per block and O(wires) per body.
template <class Sink>
class LexicographicBlocks {
 public:
  LexicographicBlocks(const BlockProgram& program, Sink& sink) : p_(program), sink_(sink), local_(program.n_wires()) {
    for (Wire w = 0; w < program.n_wires(); ++w) local_[w] = w;
    levels_.push_back(Level{program.n_qubits(), program.n_wires(), 0, 0, 0});
  }

  void node(NodeId id) { hold(Item{Kind::kNode, id, 0, 0}, p_.qubits(id), p_.clbits(id)); }
  void delay(Wire qubit, Ticks length) {
    hold(Item{Kind::kDelay, kNoNode, qubit, length}, std::span<const Wire>(&qubit, 1), {});
  }
  void barrier(std::span<const Wire> qubits) { hold(Item{Kind::kBarrier, kNoNode, 0, 0}, qubits, {}); }
  void control_flow(NodeId cf, std::span<const Wire> qubits) {
    hold(Item{Kind::kControlFlow, cf, 0, 0}, qubits, p_.clbits(cf));
  }
  /// A filler's own pulse (`gate`, in its numbering) on `qubit`: passed on as sink.pulse(qubit, gate).
  void pulse(Wire qubit, std::uint32_t gate) {
    hold(Item{Kind::kPulse, kNoNode, qubit, 0, gate}, std::span<const Wire>(&qubit, 1), {});
  }
  /// The copy of node `id` a filler changed: passed on as sink.overridden(id).
  void overridden(NodeId id) { hold(Item{Kind::kChanged, id, 0, 0}, p_.qubits(id), p_.clbits(id)); }
  void begin_body(NodeId cf, std::uint32_t k, bool fast_path, std::span<const Wire> qubits) {
    // The body's own numbering: its output qubits, then its clbits, each in order.
    const std::span<const Wire> clbits = p_.block_clbits(p_.bodies(cf)[k]);
    levels_.push_back(Level{static_cast<Wire>(qubits.size()), static_cast<Wire>(qubits.size() + clbits.size()),
                            items_.size(), wires_.size(), undo_.size()});
    for (std::size_t i = 0; i < qubits.size(); ++i) renumber(qubits[i], static_cast<Wire>(i));
    for (std::size_t i = 0; i < clbits.size(); ++i) renumber(clbits[i], static_cast<Wire>(qubits.size() + i));
    sink_.begin_body(cf, k, fast_path, qubits);
  }
  void end_body(NodeId cf, std::uint32_t k, Ticks duration) {
    pass_on_block();
    const Level& done = levels_.back();
    for (std::size_t i = undo_.size(); i > done.undo; --i) local_[undo_[i - 1].first] = undo_[i - 1].second;
    undo_.resize(done.undo);
    levels_.pop_back();
    sink_.end_body(cf, k, duration);
  }
  void end(Ticks duration) {
    pass_on_block();
    sink_.end(duration);
  }

  /// Whether every block went on in lexicographic order (every item acts on a qubit).
  bool in_order() const { return in_order_; }

 private:
  enum class Kind : std::uint8_t { kNode, kDelay, kBarrier, kControlFlow, kPulse, kChanged };
  struct Item {
    Kind kind;
    NodeId id;
    Wire qubit;
    Ticks length;
    std::uint32_t gate = 0;
    std::size_t begin = 0;  // its wires at wires_ / keys_ [begin, begin + count)
    std::uint32_t count = 0;
    std::uint32_t n_qubits = 0;
  };
  struct Level {
    Wire n_qubits, n_wires;            // the output block's own numbering
    std::size_t items, wires, undo;    // where its items, wires and renumbering begin
  };

  void renumber(Wire w, Wire local) {
    undo_.emplace_back(w, local_[w]);
    local_[w] = local;
  }

  void hold(Item item, std::span<const Wire> qubits, std::span<const Wire> clbits) {
    item.begin = wires_.size();
    for (std::span<const Wire> part : {qubits, clbits})
      for (Wire w : part) {
        wires_.push_back(w);
        keys_.push_back(local_[w]);
      }
    item.count = static_cast<std::uint32_t>(qubits.size() + clbits.size());
    item.n_qubits = static_cast<std::uint32_t>(qubits.size());
    items_.push_back(item);
  }

  void pass_on_block() {
    const Level& level = levels_.back();
    const std::size_t first = level.items, n = items_.size() - first;
    bool ordered = true;
    for (std::size_t i = first; i < items_.size(); ++i) ordered = ordered && items_[i].n_qubits != 0;
    for (std::size_t i = level.wires; ordered && i < keys_.size(); ++i) ordered = keys_[i] < level.n_wires;
    order_.clear();
    if (ordered) {
      lexicographic_order(n, level.n_qubits, level.n_wires,
                          [this, first](std::size_t i) {
                            const Item& item = items_[first + i];
                            return std::span<const Wire>(keys_.data() + item.begin, item.count);
                          },
                          order_);
    } else {
      in_order_ = false;
      for (std::size_t i = 0; i < n; ++i) order_.push_back(static_cast<std::uint32_t>(i));
    }
    // Passing an item on may pass nothing else on: the order is read before anything is popped.
    for (std::uint32_t i : order_) pass_on(items_[first + i]);
    items_.resize(first);
    wires_.resize(level.wires);
    keys_.resize(level.wires);
  }

  void pass_on(const Item& item) {
    const std::span<const Wire> wires(wires_.data() + item.begin, item.count);
    switch (item.kind) {
      case Kind::kNode:
        return sink_.node(item.id);
      case Kind::kDelay:
        return sink_.delay(item.qubit, item.length);
      case Kind::kBarrier:
        return sink_.barrier(wires);
      case Kind::kControlFlow:
        return sink_.control_flow(item.id, wires.first(item.n_qubits));
      case Kind::kPulse:  // held only where the sink takes pulses
        if constexpr (requires(Sink& s) { s.pulse(Wire{}, std::uint32_t{}); }) sink_.pulse(item.qubit, item.gate);
        return;
      case Kind::kChanged:
        if constexpr (requires(Sink& s) { s.overridden(NodeId{}); }) sink_.overridden(item.id);
        return;
    }
  }

  const BlockProgram& p_;
  Sink& sink_;
  std::vector<Wire> local_;  // per root wire: its number in the output block being written
  std::vector<std::pair<Wire, Wire>> undo_;
  std::vector<Level> levels_;
  std::vector<Item> items_;
  std::vector<Wire> wires_, keys_;  // per held item: its root wires, and the same as its block numbers them
  std::vector<std::uint32_t> order_;
  bool in_order_ = true;
};

}  // namespace tarvex
