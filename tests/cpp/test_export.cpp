// Export: every node as a copy, in ascending id order, whatever the qubits or the schedule.
#include "graph_test_util.hpp"

namespace tarvex {
namespace {

using namespace std::string_literals;
using namespace test;

TEST(Export, EmptyGraphExportsNothing) { EXPECT_TRUE(QuantumDAG().get_all_nodes().empty()); }

TEST(Export, InsertionOrderNotQubitOrTimeOrder) {
  QuantumDAG dag = make_dag({{"X", {0}, 1.5},
                             {"CX", {0, 1}, 2.5},
                             {"H", {1}, 3.5},
                             {"Z", {5}, 100.0},
                             {"H", {1}, 0.25},
                             {"", {}, -1.0},
                             {"M\0"s, {3, 3}, 7.0}});
  const std::vector<DagNode> expected = {
      {0, "X", {0}, 1.5},  {1, "CX", {0, 1}, 2.5}, {2, "H", {1}, 3.5},       {3, "Z", {5}, 100.0},
      {4, "H", {1}, 0.25}, {5, "", {}, -1.0},      {6, "M\0"s, {3, 3}, 7.0},
  };
  EXPECT_EQ(dag.get_all_nodes(), expected);
  schedule(dag);  // the schedule plays no part
  EXPECT_EQ(dag.get_all_nodes(), expected);
}

}  // namespace
}  // namespace tarvex
