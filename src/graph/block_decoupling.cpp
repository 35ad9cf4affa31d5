// Block decoupling: the greedy colouring of a coupling graph that staggers neighbouring qubits.
#include "graph/block_decoupling.hpp"

#include <algorithm>
#include <numeric>

namespace tarvex {

std::vector<std::uint32_t> greedy_colouring(std::uint32_t n_nodes,
                                            std::span<const std::pair<std::uint32_t, std::uint32_t>> edges) {
  // Adjacency in one array; an edge counts at both ends, a self-loop once.
  std::vector<std::uint32_t> start(std::size_t{n_nodes} + 1, 0);
  auto kept = [n_nodes](const std::pair<std::uint32_t, std::uint32_t>& e) {
    return e.first < n_nodes && e.second < n_nodes;
  };
  for (const auto& e : edges) {
    if (!kept(e)) continue;
    ++start[e.first + 1];
    if (e.second != e.first) ++start[e.second + 1];
  }
  for (std::uint32_t v = 0; v < n_nodes; ++v) start[v + 1] += start[v];
  std::vector<std::uint32_t> adjacent(start[n_nodes]);
  std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
  for (const auto& e : edges) {
    if (!kept(e)) continue;
    adjacent[fill[e.first]++] = e.second;
    if (e.second != e.first) adjacent[fill[e.second]++] = e.first;
  }
  std::vector<std::uint32_t> order(n_nodes);
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return start[a + 1] - start[a] > start[b + 1] - start[b];
  });
  constexpr std::uint32_t kUncoloured = UINT32_MAX;
  std::vector<std::uint32_t> colour(n_nodes, kUncoloured);
  std::vector<std::uint32_t> seen_by;  // per colour: the last node whose neighbour had it
  for (std::uint32_t v : order) {
    for (std::uint32_t i = start[v]; i < start[v + 1]; ++i) {
      const std::uint32_t c = colour[adjacent[i]];
      if (c == kUncoloured) continue;
      if (c >= seen_by.size()) seen_by.resize(c + 1, kUncoloured);
      seen_by[c] = v;
    }
    std::uint32_t c = 0;
    while (c < seen_by.size() && seen_by[c] == v) ++c;
    colour[v] = c;
  }
  return colour;
}

}  // namespace tarvex
