// Padding planner: which stretches get delays or pulse sequences, and how slack is split.
#include "graph/padding_plan.hpp"

#include <memory>

#include "graph/lexicographic_order.hpp"
#include "graph_test_util.hpp"

namespace tarvex {
namespace {

using namespace test;

TEST(SplitSlack, RoundsEachGapDownThenPlacesTheRest) {
  // A 4-pulse sequence of 160-cycle pulses in a 992-cycle stretch with alignment 16: 352 to spare.
  const std::vector<double> spacing = {0.125, 0.25, 0.25, 0.25, 0.125};
  PaddingOptions options{.alignment = 16, .spacing = spacing};
  std::vector<double> gaps(5);
  split_slack(352, options, gaps);
  EXPECT_EQ(gaps, (std::vector<double>{32, 80, 128, 80, 32}));
  options.slack_split = SlackSplit::kEdges;
  split_slack(352, options, gaps);
  EXPECT_EQ(gaps, (std::vector<double>{48, 80, 80, 80, 64}));
  // What is not a multiple of the alignment goes to the last gap.
  options.slack_split = SlackSplit::kMiddle;
  split_slack(360, options, gaps);
  EXPECT_EQ(gaps, (std::vector<double>{32, 80, 128, 80, 40}));
}

// Records the planner's output as text, one event per entry.
struct Recorder {
  std::vector<std::string> events;
  void node(NodeId id, double t) { add() << "n" << id << "@" << t; }
  void delay(Qubit q, double t, double length) { add() << "d" << q << "@" << t << "+" << length; }
  void pulse(Qubit q, std::size_t k, double t) { add() << "p" << k << "q" << q << "@" << t; }

  // The stream for the next event; it lands in `events` when the next one starts or on take().
  std::ostringstream& add() {
    flush();
    pending = true;
    return os;
  }
  void flush() {
    if (pending) events.push_back(os.str());
    os.str("");
    pending = false;
  }
  std::vector<std::string> take() {
    flush();
    return events;
  }
  std::ostringstream os;
  bool pending = false;
};

struct Planned {
  PaddingOutcome outcome;
  std::vector<std::string> events;
};

// Schedules `gates` ASAP and plans on `n_qubits` qubits; gates named "delay" and "reset" take
// those roles.
Planned plan(const std::vector<Gate>& gates, PaddingOptions options, std::vector<QubitPadding> qubits) {
  QuantumDAG dag = make_dag(gates);
  dag.build_schedule();
  options.qubits = qubits;
  Recorder rec;
  auto role = [&](NodeId id) {
    if (dag.name(id) == "delay") return PaddingRole::kIdle;
    return dag.name(id) == "reset" ? PaddingRole::kReset : PaddingRole::kOperation;
  };
  PaddingOutcome outcome = plan_padding(dag, dag.start_times(), options, role, rec);
  return {outcome, rec.take()};
}

using Events = std::vector<std::string>;

TEST(PlanPadding, DelaysFillEveryStretchUpToTheEnd) {
  // h 0-10 on q0, x 0-200 on q1, cx 200-220 on both; q2 is never used.
  const std::vector<Gate> gates = {{"h", {0}, 10}, {"x", {1}, 200}, {"cx", {0, 1}, 20}};
  Planned p = plan(gates, {}, std::vector<QubitPadding>(3));
  EXPECT_EQ(p.events, (Events{"n0@0", "n1@0", "d0@10+190", "n2@200", "d2@0+220"}));
  EXPECT_EQ(p.outcome.end, 220);
  p = plan(gates, {.fill_to_end = false}, std::vector<QubitPadding>(3));
  EXPECT_EQ(p.events, (Events{"n0@0", "n1@0", "d0@10+190", "n2@200"}));
  // A qubit that is not padded keeps its gaps.
  p = plan(gates, {}, {{}, {}, {.pad = false}});
  EXPECT_EQ(p.events, (Events{"n0@0", "n1@0", "d0@10+190", "n2@200"}));
}

TEST(PlanPadding, WaitsAlreadyThereBecomePartOfTheStretch) {
  // The delay on q0 is dropped; the measurement-like gate's classical wire 5 is never padded.
  const std::vector<Gate> gates = {{"x", {0}, 10}, {"delay", {0}, 50}, {"m", {0, 5}, 30}, {"x", {1}, 100}};
  Planned p = plan(gates, {}, std::vector<QubitPadding>(2));
  EXPECT_EQ(p.events, (Events{"n0@0", "d0@10+50", "n2@60", "n3@0", "d0@90+10"}));
  EXPECT_EQ(p.outcome.end, 100);
}

TEST(PlanPadding, SequencesGoWhereTheQubitWasBusyBefore) {
  const std::vector<double> spacing = {0.25, 0.5, 0.25};
  const std::vector<double> pulses = {10, 10, 10, 10};  // two pulses on each of two qubits
  PaddingOptions options{.decouple = true, .spacing = spacing, .n_pulses = 2, .pulse_durations = pulses};
  // q0: x 0-10, idle 10-110, cx 110-120. q1: idle from the start, then reset 0-5, idle, cx.
  const std::vector<Gate> gates = {
      {"x", {0}, 10}, {"y", {1}, 60}, {"reset", {1}, 5}, {"x", {0}, 100}, {"cx", {0, 1}, 10}};
  Planned p = plan(gates, options, std::vector<QubitPadding>(2));
  EXPECT_EQ(p.events, (Events{"n0@0", "n1@0", "n2@60", "n3@10", "d1@65+45", "n4@110"}));
  EXPECT_EQ(p.outcome.n_sequences, 0u);

  const std::vector<Gate> busy_then_idle = {{"x", {0}, 10}, {"y", {1}, 110}, {"cx", {0, 1}, 10}};
  p = plan(busy_then_idle, options, std::vector<QubitPadding>(2));
  EXPECT_EQ(p.events,
            (Events{"n0@0", "n1@0", "d0@10+20", "p0q0@30", "d0@40+40", "p1q0@80", "d0@90+20", "n2@110"}));
  EXPECT_EQ(p.outcome.n_sequences, 1u);
  // The same stretch with decoupling off for q0, and a stretch too short for the pulses.
  p = plan(busy_then_idle, options, {{.decouple = false}, {}});
  EXPECT_EQ(p.events, (Events{"n0@0", "n1@0", "d0@10+100", "n2@110"}));
  p = plan({{"x", {0}, 10}, {"y", {1}, 30}, {"cx", {0, 1}, 10}}, options, std::vector<QubitPadding>(2));
  EXPECT_EQ(p.events, (Events{"n0@0", "n1@0", "d0@10+20", "n2@30"}));
  // Without skipping, the stretch after the circuit's start gets a sequence too.
  options.skip_after_reset = false;
  p = plan({{"x", {0}, 100}, {"cx", {0, 1}, 10}}, options, std::vector<QubitPadding>(2));
  EXPECT_EQ(p.events, (Events{"n0@0", "d1@0+20", "p0q1@20", "d1@30+40", "p1q1@70", "d1@80+20", "n1@100"}));
}

TEST(PlanPadding, StopsAtTheFirstMisalignedStretch) {
  const std::vector<double> spacing = {0.5, 0.5};
  const std::vector<double> pulses = {16, 16};
  PaddingOptions options{
      .decouple = true, .alignment = 16, .spacing = spacing, .n_pulses = 1, .pulse_durations = pulses};
  Planned p =
      plan({{"x", {0}, 16}, {"y", {1}, 40}, {"cx", {0, 1}, 16}}, options, std::vector<QubitPadding>(2));
  EXPECT_EQ(p.outcome.status, PaddingStatus::kMisaligned);
  EXPECT_EQ(p.outcome.qubit, 0u);
  EXPECT_EQ(p.outcome.start, 16);
  EXPECT_EQ(p.outcome.stop, 40);
  EXPECT_EQ(p.outcome.before, 0u);
  EXPECT_EQ(p.outcome.after, 2u);
  EXPECT_EQ(p.events, (Events{"n0@0", "n1@0"}));
}

// What the planner reports, with each entry's wires: the padded graph, in the order reported.
struct WiredRecorder {
  const QuantumDAG& dag;
  std::vector<std::string> events;
  std::vector<std::vector<Qubit>> wires;
  void node(NodeId id, double t) { add("n" + std::to_string(id) + "@" + std::to_string(t), dag.qubits(id)); }
  void delay(Qubit q, double t, double length) {
    add("d" + std::to_string(q) + "@" + std::to_string(t) + "+" + std::to_string(length), {&q, 1});
  }
  void pulse(Qubit q, std::size_t k, double t) {
    add("p" + std::to_string(k) + "q" + std::to_string(q) + "@" + std::to_string(t), {&q, 1});
  }
  void add(std::string event, std::span<const Qubit> on) {
    events.push_back(std::move(event));
    wires.emplace_back(on.begin(), on.end());
  }
};

// Random circuits on `n_qubits` qubits and two classical wires: gates on one or two qubits,
// measurements (a qubit and a classical wire), resets and waits, with whole durations.
std::vector<Gate> random_padding_circuit(std::mt19937& rng, std::size_t n_qubits) {
  std::vector<Gate> gates;
  const std::size_t n = rng() % 60;
  for (std::size_t i = 0; i < n; ++i) {
    const Qubit a = rng() % n_qubits, b = (a + 1 + rng() % (n_qubits - 1)) % n_qubits;
    const double d = 8.0 * static_cast<double>(1 + rng() % 6);
    switch (rng() % 6) {
      case 0: gates.push_back({"cx", {a, b}, d}); break;
      case 1: gates.push_back({"measure", {a, n_qubits + rng() % 2}, 2 * d}); break;
      case 2: gates.push_back({"reset", {a}, d}); break;
      case 3: gates.push_back({"delay", {a}, d}); break;
      default: gates.push_back({"x", {a}, d}); break;
    }
  }
  return gates;
}

TEST(PlanPaddingLexicographic, ReportsThePlanInTheLexicographicOrderOfThePaddedGraph) {
  // The reference: plan_padding's entries, put in order by lexicographic_order (itself checked
  // against the definition) over the graph they form.
  std::mt19937 rng(11);
  const std::vector<double> spacing = {0.25, 0.5, 0.25};
  for (int trial = 0; trial < 300; ++trial) {
    const std::size_t n_qubits = 2 + rng() % 5;
    const std::vector<Gate> gates = random_padding_circuit(rng, n_qubits);
    QuantumDAG dag = make_dag(gates);
    if (trial % 2) {
      dag.build_schedule();
    } else {
      dag.build_alap_schedule();
    }
    std::vector<QubitPadding> qubits(n_qubits);
    for (QubitPadding& q : qubits) q = {.pad = rng() % 5 != 0, .decouple = rng() % 3 != 0};
    const std::vector<double> pulses(n_qubits * 2, 8.0);
    const PaddingOptions options{.qubits = qubits,
                                 .decouple = trial % 3 != 0,
                                 .fill_to_end = rng() % 2 == 0,
                                 .skip_after_reset = rng() % 2 == 0,
                                 .alignment = trial % 5 == 0 ? 16.0 : 1.0,
                                 .spacing = spacing,
                                 .n_pulses = 2,
                                 .pulse_durations = pulses};
    auto role = [&](NodeId id) {
      if (dag.name(id) == "delay") return PaddingRole::kIdle;
      return dag.name(id) == "reset" ? PaddingRole::kReset : PaddingRole::kOperation;
    };
    WiredRecorder walked{dag, {}, {}}, ordered{dag, {}, {}};
    const PaddingOutcome a = plan_padding(dag, dag.start_times(), options, role, walked);
    const PaddingOutcome b = plan_padding_lexicographic(dag, dag.start_times(), options, n_qubits + 2, role, ordered);
    ASSERT_EQ(a.status, b.status) << "trial " << trial;
    if (a.status != PaddingStatus::kDone) {
      EXPECT_EQ(std::tie(a.qubit, a.start, a.stop, a.before, a.after), std::tie(b.qubit, b.start, b.stop, b.before, b.after));
      EXPECT_TRUE(ordered.events.empty());
      continue;
    }
    EXPECT_EQ(std::tie(a.n_sequences, a.end), std::tie(b.n_sequences, b.end)) << "trial " << trial;
    std::vector<std::uint32_t> order;
    lexicographic_order(walked.events.size(), n_qubits, n_qubits + 2,
                        [&](std::size_t i) { return std::span<const Qubit>(walked.wires[i]); }, order);
    std::vector<std::string> expected;
    for (std::uint32_t i : order) expected.push_back(walked.events[i]);
    ASSERT_EQ(ordered.events, expected) << "trial " << trial;
  }
}

}  // namespace
}  // namespace tarvex
