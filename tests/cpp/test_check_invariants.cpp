// The invariant checker: silent on a sound graph, and reporting each kind of stored fact when broken.
#include "graph_test_access.hpp"
#include "graph_test_util.hpp"

namespace tarvex {
namespace {

using namespace test;
using Access = QuantumDAGTestAccess;

/// Entries by id, (qubit <- recorded predecessor), "-" for none:
///   0 h  [0 <- -]               3 cx [1 <- 1, 70000 <- 2]
///   1 cx [0 <- 0, 1 <- -]       4 y  []
///   2 x  [70000 <- -]           5 z  [2 <- -, 2 <- 5]
/// Offsets 0 1 3 4 6 6 8; all six scheduled.
QuantumDAG sound_graph() {
  QuantumDAG dag = make_dag({{"h", {0}, 10.0},
                             {"cx", {0, 1}, 20.0},
                             {"x", {70000}, 5.0},
                             {"cx", {1, 70000}, 20.0},
                             {"y", {}, 1.0},
                             {"z", {2, 2}, 3.0}});
  schedule(dag);
  return dag;
}

struct Corruption {
  const char* label;
  void (*corrupt)(QuantumDAG&);
  const char* report;  // what check_invariants() must say
};

void PrintTo(const Corruption& c, std::ostream* os) { *os << c.label; }

constexpr const char* kSizes = "per-node or per-entry arrays disagree in size";

const Corruption kCorruptions[] = {
    {"NameIdColumnLonger", [](QuantumDAG& d) { Access::name_ids(d).push_back(0); }, kSizes},
    {"DurationColumnLonger", [](QuantumDAG& d) { Access::durations(d).push_back(1.0); }, kSizes},
    {"OffsetColumnLonger", [](QuantumDAG& d) { Access::qubit_begin(d).push_back(8); }, kSizes},
    {"QubitColumnLonger", [](QuantumDAG& d) { Access::qubit_pool(d).push_back(3); }, kSizes},
    {"PredecessorColumnLonger", [](QuantumDAG& d) { Access::pred_pool(d).push_back(kNoNode); }, kSizes},
    {"FirstOffsetNotZero", [](QuantumDAG& d) { Access::qubit_begin(d)[0] = 1; }, kSizes},
    {"LastOffsetShort", [](QuantumDAG& d) { Access::qubit_begin(d)[6] = 7; }, kSizes},
    // Node 3 then spans entries 4..6, which stay consistent, and node 4 runs from 7 back to 6.
    {"OffsetsDecrease", [](QuantumDAG& d) { Access::qubit_begin(d)[4] = 7; }, "qubit offsets decrease"},
    {"NameIdOutOfRange",
     [](QuantumDAG& d) { Access::name_ids(d)[3] = static_cast<NameId>(d.names().size()); },
     "name id out of range"},
    {"PredecessorWrong", [](QuantumDAG& d) { Access::pred_pool(d)[4] = 0; },
     "entry 0 of node 3 records predecessor 0 but the last node on qubit 1 was 1"},
    {"PredecessorMissing", [](QuantumDAG& d) { Access::pred_pool(d)[5] = kNoNode; },
     "entry 1 of node 3 records predecessor 18446744073709551615 but the last node on qubit 70000 was 2"},
    {"PredecessorWhereNoneWas", [](QuantumDAG& d) { Access::pred_pool(d)[2] = 0; },
     "entry 1 of node 1 records predecessor 0 but the last node on qubit 1 was 18446744073709551615"},
    {"SelfEdgeLost", [](QuantumDAG& d) { Access::pred_pool(d)[7] = kNoNode; },
     "entry 1 of node 5 records predecessor 18446744073709551615 but the last node on qubit 2 was 5"},
    {"EdgeFromHigherId", [](QuantumDAG& d) { Access::pred_pool(d)[1] = 3; },
     "an edge runs from a higher id to a lower one"},
    // Node 1 now lists qubit 5, so node 3's edge on qubit 1 has no source.
    {"QubitListEntryChanged", [](QuantumDAG& d) { Access::qubit_pool(d)[2] = 5; },
     "entry 0 of node 3 records predecessor 1 but the last node on qubit 1 was 18446744073709551615"},
    {"LastOnQubitWrong", [](QuantumDAG& d) { Access::last_on_qubit(d).set(0, 0); },
     "last_on_qubit of qubit 0 is not the highest id using it"},
    {"LastOnHashedQubitWrong", [](QuantumDAG& d) { Access::last_on_qubit(d).set(70000, 2); },
     "last_on_qubit of qubit 70000 is not the highest id using it"},
    {"LastOnQubitForgotten", [](QuantumDAG& d) { Access::last_on_qubit(d).set(1, kNoNode); },
     "last_on_qubit of qubit 1 is not the highest id using it"},
    {"LastOnQubitUnlisted",
     [](QuantumDAG& d) {
       const Qubit q[] = {9};
       Access::last_on_qubit(d).reserve_for(q);
       Access::last_on_qubit(d).set(9, 4);
     },
     "last_on_qubit holds qubit 9 that no node lists"},
    {"LastOnHashedQubitUnlisted",
     [](QuantumDAG& d) {
       const Qubit q[] = {Qubit{1} << 40};
       Access::last_on_qubit(d).reserve_for(q);
       Access::last_on_qubit(d).set(q[0], 0);
     },
     "last_on_qubit holds qubit 1099511627776 that no node lists"},
    {"ScheduleLongerThanGraph", [](QuantumDAG& d) { Access::start_time(d).push_back(0.0); },
     "schedule covers ids that do not exist"},
};

class CheckInvariants : public ::testing::TestWithParam<Corruption> {};

TEST_P(CheckInvariants, ReportsTheBrokenFact) {
  QuantumDAG dag = sound_graph();
  ASSERT_EQ(dag.check_invariants(), "");
  const std::string before = Access::dump(dag);
  GetParam().corrupt(dag);
  ASSERT_NE(Access::dump(dag), before) << "the corruption changed nothing";
  EXPECT_EQ(dag.check_invariants(), GetParam().report);
}

INSTANTIATE_TEST_SUITE_P(Corruptions, CheckInvariants, ::testing::ValuesIn(kCorruptions),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace tarvex
