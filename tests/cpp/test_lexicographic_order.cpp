// Lexicographic topological order: against the definition, on hand-made and random wire graphs.
#include "graph/lexicographic_order.hpp"

#include <set>
#include <span>
#include <utility>

#include "graph_test_util.hpp"

namespace tarvex {
namespace {

using Wiring = std::vector<std::vector<std::uint32_t>>;

std::vector<std::uint32_t> fast_order(const Wiring& nodes, std::size_t n_qubits, std::size_t n_wires) {
  std::vector<std::uint32_t> order;
  lexicographic_order(nodes.size(), n_qubits, n_wires,
                      [&](std::size_t i) { return std::span<const std::uint32_t>(nodes[i]); }, order);
  return order;
}

// The definition, step by step: every wire's input and output are nodes of their own, and the ready
// node of least (qubits, classical wires) key, ties by number, is placed next.
std::vector<std::uint32_t> reference_order(const Wiring& nodes, std::size_t n_qubits, std::size_t n_wires) {
  constexpr std::uint32_t kInf = std::numeric_limits<std::uint32_t>::max();
  using Key = std::pair<std::vector<std::uint32_t>, std::vector<std::uint32_t>>;
  const std::size_t n = nodes.size();
  std::vector<Key> keys;
  std::vector<std::vector<std::size_t>> successors(n + 2 * n_wires);
  std::vector<std::size_t> waiting(n + 2 * n_wires, 0);
  for (const auto& wires : nodes) {
    Key key;
    for (auto w : wires) (w < n_qubits ? key.first : key.second).push_back(w);
    keys.push_back(key);
  }
  for (std::size_t w = 0; w < n_wires; ++w)  // inputs n .. n + n_wires - 1
    keys.push_back(w < n_qubits ? Key{{static_cast<std::uint32_t>(w)}, {kInf}} : Key{{kInf}, {static_cast<std::uint32_t>(w)}});
  for (std::size_t w = 0; w < n_wires; ++w) keys.push_back(Key{{kInf}, {kInf}});  // outputs
  for (std::size_t w = 0; w < n_wires; ++w) {
    std::size_t last = n + w;
    for (std::size_t i = 0; i < n; ++i) {
      for (auto x : nodes[i]) {
        if (x != w) continue;
        successors[last].push_back(i);
        ++waiting[i];
        last = i;
      }
    }
    successors[last].push_back(n + n_wires + w);
    ++waiting[n + n_wires + w];
  }
  std::set<std::pair<Key, std::size_t>> ready;
  for (std::size_t v = 0; v < keys.size(); ++v)
    if (waiting[v] == 0) ready.insert({keys[v], v});
  std::vector<std::uint32_t> order;
  while (!ready.empty()) {
    const std::size_t v = ready.begin()->second;
    ready.erase(ready.begin());
    if (v < n) order.push_back(static_cast<std::uint32_t>(v));
    for (std::size_t s : successors[v])
      if (--waiting[s] == 0) ready.insert({keys[s], s});
  }
  return order;
}

TEST(LexicographicOrder, ReadyNodesGoByFirstQubitAndInputsInterleave) {
  // x(5), x(1), cx(3, 2), cx(0, 9), x(2) on ten qubits: the input of qubit 9 comes last, so cx(0, 9)
  // waits for it although it names qubit 0 first.
  const Wiring nodes = {{5}, {1}, {3, 2}, {0, 9}, {2}};
  EXPECT_EQ(fast_order(nodes, 10, 10), (std::vector<std::uint32_t>{1, 2, 4, 0, 3}));
  EXPECT_EQ(fast_order(nodes, 10, 10), reference_order(nodes, 10, 10));
}

TEST(LexicographicOrder, ClassicalInputsWaitUntilNoQubitNodeIsReady) {
  // Two qubits, two bits (wires 2 and 3): measure(1 -> 3), x(0), measure(0 -> 2), x(1). Both
  // measurements wait for their bits' inputs, placed only once nothing else can go.
  const Wiring nodes = {{1, 3}, {0}, {0, 2}, {1}};
  EXPECT_EQ(fast_order(nodes, 2, 4), (std::vector<std::uint32_t>{1, 2, 0, 3}));
  EXPECT_EQ(fast_order(nodes, 2, 4), reference_order(nodes, 2, 4));
}

TEST(LexicographicOrder, EqualsTheDefinitionOnRandomWireGraphs) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 400; ++trial) {
    const std::size_t n_qubits = 1 + rng() % 70;  // past one word of the bit set
    const std::size_t n_clbits = rng() % 4;
    const std::size_t n_nodes = rng() % 120;
    Wiring nodes;
    for (std::size_t i = 0; i < n_nodes; ++i) {
      std::vector<std::uint32_t> qubits(n_qubits);
      for (std::size_t q = 0; q < n_qubits; ++q) qubits[q] = static_cast<std::uint32_t>(q);
      std::shuffle(qubits.begin(), qubits.end(), rng);
      qubits.resize(1 + rng() % std::min<std::size_t>(n_qubits, 3));
      if (n_clbits > 0 && rng() % 4 == 0) qubits.push_back(static_cast<std::uint32_t>(n_qubits + rng() % n_clbits));
      nodes.push_back(qubits);
    }
    ASSERT_EQ(fast_order(nodes, n_qubits, n_qubits + n_clbits), reference_order(nodes, n_qubits, n_qubits + n_clbits))
        << "trial " << trial;
  }
}

}  // namespace
}  // namespace tarvex
