// Gate insertion: ids, stored values, recorded edges and last_on_qubit.
#include <map>
#include <optional>

#include "graph_test_util.hpp"

namespace tarvex {
namespace {

using namespace std::string_literals;
using namespace test;

TEST(Insert, NewGraphIsEmpty) {
  QuantumDAG dag;
  EXPECT_VALID(dag);
  EXPECT_EQ(dag.node_count(), 0u);
  EXPECT_EQ(dag.entry_count(), 0u);
  EXPECT_EQ(dag.scheduled_count(), 0u);
  EXPECT_TRUE(dag.get_all_nodes().empty());
  EXPECT_TRUE(dag.edges_from(0).empty());
  EXPECT_EQ(dag.last_on_qubit(0), std::nullopt);
  EXPECT_EQ(dag.last_on_qubit(kMaxQubit), std::nullopt);
}

TEST(Insert, IdsCountUpAndValuesAreStoredUnchanged) {
  const std::vector<Gate> gates = {
      {"h", {0}, 10.0},     {"", {}, kNaN},
      {"h", {0}, 10.0},     {"cx", {kMaxQubit, 0}, -kInf},
      {"x", {7, 7}, 0.0},   {"a\0b"s, {65535, 65536}, -5.0},
      {"a\0c"s, {1}, kInf}, {"\0"s, {kMaxQubit - 1}, 1e-300},
  };
  QuantumDAG dag;
  dag.reserve(3, 4);
  EXPECT_VALID(dag);
  EXPECT_EQ(dag.node_count(), 0u);
  for (std::size_t k = 0; k < gates.size(); ++k) EXPECT_EQ(add(dag, gates[k]), k);
  EXPECT_TRUE(HasNodes(dag, gates));
  EXPECT_EQ(dag.entry_count(), 10u);
  EXPECT_EQ(dag.names().size(), 7u);  // the node count counts nodes, not distinct names
  EXPECT_EQ(dag.name_id(0), dag.name_id(2));
  EXPECT_NE(dag.name_id(5), dag.name_id(6));
}

struct EdgeCase {
  const char* label;
  std::vector<std::vector<Qubit>> gates;
  std::vector<std::vector<Edge>> edges;                       // per node, in recorded order
  std::vector<std::pair<Qubit, std::optional<NodeId>>> last;  // expected last_on_qubit
};

void PrintTo(const EdgeCase& c, std::ostream* os) { *os << c.label; }

class Edges : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(Edges, RecordedPerQubitListPosition) {
  const EdgeCase& c = GetParam();
  QuantumDAG dag;
  for (const auto& qubits : c.gates) add(dag, g(qubits, 1.0));
  ASSERT_EQ(c.edges.size(), dag.node_count());
  for (NodeId id = 0; id < dag.node_count(); ++id)
    EXPECT_EQ(dag.edges_from(id), c.edges[id]) << "node " << id;
  for (const auto& [q, id] : c.last) EXPECT_EQ(dag.last_on_qubit(q), id) << "qubit " << q;
}

const EdgeCase kEdgeCases[] = {
    {"FreshQubit", {{5}}, {{}}, {{5, 0}, {4, std::nullopt}, {6, std::nullopt}}},
    {"ChainOnOneQubit", {{0}, {0}, {0}}, {{{1, 0}}, {{2, 0}}, {}}, {{0, 2}}},
    {"JoinOfTwoQubits", {{0}, {1}, {0, 1}}, {{{2, 0}}, {{2, 1}}, {}}, {{0, 2}, {1, 2}}},
    {"OneEdgePerSharedQubit", {{0, 1}, {0, 1}}, {{{1, 0}, {1, 1}}, {}}, {{0, 1}, {1, 1}}},
    {"EdgesFollowSuccessorListOrder", {{0, 1}, {1, 0}}, {{{1, 1}, {1, 0}}, {}}, {{0, 1}, {1, 1}}},
    {"RepeatedQubitSelfEdge", {{3}, {3, 3}}, {{{1, 3}}, {{1, 3}}}, {{3, 1}}},
    {"TripleRepeat", {{4, 4, 4}}, {{{0, 4}, {0, 4}}}, {{4, 0}}},
    {"EmptyQubitListIsSkipped", {{}, {0}, {}, {0}}, {{}, {{3, 0}}, {}, {}}, {{0, 3}}},
    {"OrderedBySuccessorThenPosition",
     {{0, 1, 2}, {2}, {1, 0}},
     {{{1, 2}, {2, 1}, {2, 0}}, {}, {}},
     {{0, 2}, {1, 2}, {2, 1}}},
    {"HashedAndDenseQubitsMixed",
     {{kMaxQubit}, {70000, 0}, {kMaxQubit, 70000, 65535}, {65536, 0}},
     {{{2, kMaxQubit}}, {{2, 70000}, {3, 0}}, {}, {}},
     {{kMaxQubit, 2},
      {70000, 2},
      {65535, 2},
      {65536, 3},
      {0, 3},
      {65534, std::nullopt},
      {65537, std::nullopt},
      {kMaxQubit - 1, std::nullopt},
      {Qubit{70000} << 20, std::nullopt}}},
};

INSTANTIATE_TEST_SUITE_P(Insert, Edges, ::testing::ValuesIn(kEdgeCases),
                         [](const auto& info) { return std::string(info.param.label); });

// Many gates over thousands of qubits, most of them hashed, against a direct replay of the rule:
// each qubit-list entry links to the last node that held its qubit, the node itself included.
TEST(Insert, RandomCircuitMatchesReplayedEdgeRule) {
  const std::vector<Gate> gates = random_gates(11, 2000);
  std::map<Qubit, NodeId> last;
  std::vector<std::vector<Edge>> edges(gates.size());
  QuantumDAG dag;
  dag.reserve(100, 100);
  for (NodeId id = 0; id < gates.size(); ++id) {
    for (Qubit q : gates[id].qubits) {
      if (auto it = last.find(q); it != last.end()) edges[it->second].push_back(Edge{id, q});
      last[q] = id;
    }
    EXPECT_EQ(add(dag, gates[id]), id);
  }
  EXPECT_TRUE(HasNodes(dag, gates));
  for (NodeId id = 0; id < gates.size(); ++id) EXPECT_EQ(dag.edges_from(id), edges[id]) << "node " << id;
  for (const auto& [q, id] : last) EXPECT_EQ(dag.last_on_qubit(q), id) << "qubit " << q;
  for (Qubit q : {Qubit{4}, Qubit{65538}, Qubit{12345678901}}) EXPECT_EQ(dag.last_on_qubit(q), std::nullopt);
}

}  // namespace
}  // namespace tarvex
