// Helpers shared by the block passes' unit tests: programs written as node tables.
#pragma once

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "graph/block_program.hpp"

namespace tarvex::test {

/// One node of a table: an operation on qubits and clbits (root wires; clbits numbered after the
/// qubits), `bodies` bodies if it is control flow.
struct BlockNode {
  BlockOp op;
  std::vector<Wire> qubits;
  std::vector<Wire> clbits = {};
  Ticks duration = 0;
  std::uint32_t bodies = 0;
  bool if_else = false;
  Wire condition = kNoWire;
};

inline NodeId add(BlockProgram& p, const BlockNode& n) {
  if (n.op == BlockOp::kControlFlow) return p.add_control_flow(n.qubits, n.clbits, n.bodies, n.if_else, n.condition);
  return p.add(n.op, n.duration, n.qubits, n.clbits);
}

/// Adds `nodes` to the block begun last; returns the id of the first.
inline NodeId add_all(BlockProgram& p, const std::vector<BlockNode>& nodes) {
  const NodeId first = p.node_count();
  for (const BlockNode& n : nodes) add(p, n);
  return first;
}

inline BlockNode gate(std::vector<Wire> qs, Ticks d) { return {BlockOp::kGate, std::move(qs), {}, d}; }
inline BlockNode measure(Wire q, Wire c, Ticks d) { return {BlockOp::kMeasure, {q}, {c}, d}; }
inline BlockNode reset(Wire q, Ticks d) { return {BlockOp::kReset, {q}, {}, d}; }
inline BlockNode barrier(std::vector<Wire> qs) { return {BlockOp::kBarrier, std::move(qs), {}, 0}; }
inline BlockNode delay(Wire q, Ticks d) { return {BlockOp::kDelay, {q}, {}, d}; }
/// An if on `qubits` reading clbit `c` alone, with `bodies` bodies.
inline BlockNode if_on(std::vector<Wire> qs, Wire c, std::uint32_t bodies = 1) {
  return {BlockOp::kControlFlow, std::move(qs), {c}, 0, bodies, true, c};
}

/// A root-only program of random nodes on `n_qubits` qubits and `n_clbits` clbits: gates,
/// barriers, delays, measurements, resets and control flow without bodies.
inline BlockProgram random_flat_program(std::mt19937& rng, Wire n_qubits, Wire n_clbits, int n_nodes) {
  BlockProgram p(n_qubits, n_clbits);
  auto pick = [&](Wire lo, Wire count, std::size_t k) {
    std::vector<Wire> all;
    for (Wire w = lo; w < lo + count; ++w) all.push_back(w);
    std::shuffle(all.begin(), all.end(), rng);
    all.resize(std::min<std::size_t>(k, all.size()));
    return all;
  };
  for (int i = 0; i < n_nodes; ++i) {
    const int kind = std::uniform_int_distribution<int>(0, 9)(rng);
    const Ticks d = std::uniform_int_distribution<Ticks>(0, 4)(rng) * 100;
    const std::size_t width = std::uniform_int_distribution<std::size_t>(1, n_qubits)(rng);
    const Wire c = n_qubits + std::uniform_int_distribution<Wire>(0, n_clbits - 1)(rng);
    const Wire q = std::uniform_int_distribution<Wire>(0, n_qubits - 1)(rng);
    switch (kind) {
      case 0: case 1: case 2: add(p, gate(pick(0, n_qubits, std::min<std::size_t>(width, 2)), d)); break;
      case 3: add(p, barrier(pick(0, n_qubits, width))); break;
      case 4: add(p, delay(q, d)); break;
      case 5: case 6: add(p, measure(q, c, d)); break;
      case 7: add(p, reset(q, d)); break;
      default: add(p, BlockNode{BlockOp::kControlFlow, pick(0, n_qubits, width), {c}, 0, 0, true, c}); break;
    }
  }
  return p;
}

}  // namespace tarvex::test
