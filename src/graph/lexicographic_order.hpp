// Lexicographic topological order: the one order of a wire graph's nodes that their wires alone fix.
#pragma once

#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace tarvex {

/// The ready nodes of a lexicographic topological walk (see lexicographic_order), by first qubit:
/// two nodes ready at once share no wire, so each qubit holds at most one, and the next node is
/// the one of the lowest qubit. A qubit's input is ready from the start (token kInput).
class ReadySlots {
 public:
  static constexpr std::uint32_t kInput = std::numeric_limits<std::uint32_t>::max();

  explicit ReadySlots(std::size_t n_qubits)
      : token_(n_qubits, kInput), ready_((n_qubits + 63) / 64, ~std::uint64_t{0}) {
    if (n_qubits % 64 != 0) ready_.back() = (std::uint64_t{1} << (n_qubits % 64)) - 1;
  }

  /// Node `token`, whose first qubit is `q`, is ready. O(1).
  void set(std::size_t q, std::uint32_t token) {
    assert(q < token_.size() && "a node's first wire is a qubit");
    token_[q] = token;
    ready_[q / 64] |= std::uint64_t{1} << (q % 64);
    if (q / 64 < low_) low_ = q / 64;
  }

  /// Takes the ready node of the lowest qubit: its qubit and token; false when none is ready.
  /// O(1) amortised, plus a scan of n_qubits / 64 words when the set empties.
  bool take(std::size_t& q, std::uint32_t& token) {
    while (low_ < ready_.size() && ready_[low_] == 0) ++low_;
    if (low_ == ready_.size()) return false;
    q = low_ * 64 + static_cast<std::size_t>(std::countr_zero(ready_[low_]));
    ready_[low_] &= ready_[low_] - 1;
    token = token_[q];
    return true;
  }

 private:
  std::vector<std::uint32_t> token_;
  std::vector<std::uint64_t> ready_;
  std::size_t low_ = 0;  // no ready bit below word low_
};

/// The nodes of a wire graph in lexicographic topological order by key (qubits, classical wires).
///
/// Node i acts on the wires `wires(i)` (a range of unsigned wire numbers): its qubits (wires below
/// `n_qubits`) first, then its classical wires (`n_qubits` .. `n_wires` - 1), each group in the
/// node's own order, no wire twice, at least one qubit. The nodes come in a topological order:
/// on every wire, in the order they act on it. Each wire also has an input node before its first
/// node, keyed ([q], [inf]) for qubit q and ([inf], [c]) for classical wire c.
///
/// The order: of the nodes whose predecessors on all their wires are placed, the one with the
/// least key comes next, keys compared as pairs of sequences (element by element, a prefix first).
/// Two nodes ready at once share no wire, so their first qubits differ and decide: the next node
/// is the ready one with the lowest first qubit (ReadySlots); a classical input is placed only
/// when no node with a qubit is ready. This is the order in which a DAG that keys its
/// nodes by their qubit and bit lists walks them, so a circuit written in it lists its
/// instructions as such a DAG of the same circuit does.
///
/// Writes node numbers to `order`. O(incidences + nodes * (1 + n_qubits / 64)) time;
/// O(nodes + incidences + wires) memory, 12 bytes per node and 4 per incidence.
template <class Wires>
void lexicographic_order(std::size_t n_nodes, std::size_t n_qubits, std::size_t n_wires, Wires&& wires,
                         std::vector<std::uint32_t>& order) {
  assert(n_nodes < std::numeric_limits<std::uint32_t>::max() && "node numbers are 32-bit");
  // The nodes on each wire in order, as one array with a start per wire.
  std::vector<std::uint32_t> start(n_wires + 1, 0);
  for (std::size_t i = 0; i < n_nodes; ++i)
    for (auto w : wires(i)) ++start[w + 1];
  for (std::size_t w = 0; w < n_wires; ++w) start[w + 1] += start[w];
  std::vector<std::uint32_t> on_wire(start[n_wires]);
  std::vector<std::uint32_t> next(start.begin(), start.end() - 1);  // next free position, then next to release
  std::vector<std::uint32_t> waiting(n_nodes);  // wires on which the node's predecessor is not placed yet
  for (std::size_t i = 0; i < n_nodes; ++i) {
    std::uint32_t count = 0;
    for (auto w : wires(i)) {
      on_wire[next[w]++] = static_cast<std::uint32_t>(i);
      ++count;
    }
    assert(count > 0 && "every node acts on a qubit");
    waiting[i] = count;
  }
  for (std::size_t w = 0; w < n_wires; ++w) next[w] = start[w];

  ReadySlots slots(n_qubits);
  auto release = [&](std::size_t w) {
    if (next[w] == start[w + 1]) return;
    const std::uint32_t node = on_wire[next[w]++];
    if (--waiting[node] == 0) slots.set(static_cast<std::size_t>(*wires(node).begin()), node);
  };

  order.clear();
  order.reserve(n_nodes);
  std::size_t next_classical = n_qubits;
  for (;;) {
    std::size_t q;
    std::uint32_t node;
    if (!slots.take(q, node)) {
      if (next_classical == n_wires) break;
      release(next_classical++);
      continue;
    }
    if (node == ReadySlots::kInput) {
      release(q);
      continue;
    }
    order.push_back(node);
    for (auto w : wires(node)) release(static_cast<std::size_t>(w));
  }
  assert(order.size() == n_nodes && "the nodes came in a topological order");
}

}  // namespace tarvex
