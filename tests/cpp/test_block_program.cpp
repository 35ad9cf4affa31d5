// BlockProgram: the tree a boundary builds, and the faults its checker names.
#include "graph/block_program.hpp"

#include "block_test_util.hpp"

namespace tarvex {
namespace {

using namespace test;

TEST(BlockProgram, NestedBodiesKeepTheirWires) {
  BlockProgram p(3, 2);
  const NodeId cf = add_all(p, {gate({0}, 10), {BlockOp::kControlFlow, {2, 0}, {4}, 0, 2, false, kNoWire}});
  const std::vector<Wire> qs = {2, 0}, cs = {4};
  const BlockId b1 = p.begin_body(cf + 1, 0, qs, cs);
  const NodeId inner = add_all(p, {measure(0, 4, 5), if_on({2}, 4)});
  const BlockId b2 = p.begin_body(cf + 1, 1, qs, cs);
  const std::vector<Wire> q2 = {2};
  const BlockId b3 = p.begin_body(inner + 1, 0, q2, cs);
  add_all(p, {gate({2}, 3)});
  ASSERT_EQ(p.check_invariants(), "");
  EXPECT_EQ((std::vector<BlockId>(p.bodies(cf + 1).begin(), p.bodies(cf + 1).end())), (std::vector<BlockId>{b1, b2}));
  EXPECT_EQ(p.parent(b3), inner + 1);
  EXPECT_EQ(p.node_end(b2) - p.node_begin(b2), 0u);
  EXPECT_EQ((std::vector<Wire>(p.wires(inner).begin(), p.wires(inner).end())), (std::vector<Wire>{0, 4}));
  EXPECT_EQ(p.control_flow_index(inner + 1), 1u);
}

TEST(BlockProgram, CheckerNamesTheFault) {
  struct Case {
    const char* what;
    std::vector<Wire> body_qubits, body_clbits;
    BlockNode in_body;
    bool begin_second;
    std::string fault;
  };
  const std::vector<Case> cases = {
      {"too few wires", {0}, {3}, gate({0}, 1), true, "block 1 has not as many wires as its parent node"},
      {"a qubit as a clbit", {0, 1}, {1}, gate({0}, 1), true, "block 1 lists a wire out of range or of the wrong kind"},
      {"a node off its block", {0, 1}, {3}, gate({2}, 1), true, "node 1 has a wire outside its block or of the wrong kind"},
      {"a body never begun", {0, 1}, {3}, gate({0}, 1), false, "node 0 lists a body that is not its own"},
  };
  for (const Case& c : cases) {
    BlockProgram p(3, 1);
    add(p, {BlockOp::kControlFlow, {0, 1}, {3}, 0, 2});
    p.begin_body(0, 0, c.body_qubits, c.body_clbits);
    add(p, c.in_body);
    const std::vector<Wire> qs = {0, 1}, cs = {3};
    if (c.begin_second) p.begin_body(0, 1, qs, cs);
    EXPECT_EQ(p.check_invariants(), c.fault) << c.what;
  }
}

}  // namespace
}  // namespace tarvex
