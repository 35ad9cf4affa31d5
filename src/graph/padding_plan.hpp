// Padding planner: the delays and decoupling pulses that fill every idle stretch of a scheduled graph.
#pragma once

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "graph/lexicographic_order.hpp"
#include "graph/quantum_dag.hpp"

namespace tarvex {

/// What one node is to the planner.
enum class PaddingRole : std::uint8_t {
  kOperation,  ///< occupies its wires and is copied to the output
  kIdle,       ///< a wait already in the circuit (a delay): its time counts as idle and it is dropped
  kReset,      ///< an operation that leaves its qubits in a known state, like a reset
};

/// What the planner may put into the idle stretches of one qubit.
struct QubitPadding {
  bool pad = true;       ///< the stretches are filled at all; if false the qubit is left with its gaps
  bool decouple = true;  ///< a pulse sequence may fill them; if false, one delay per stretch
};

/// Where a pulse sequence puts the slack that rounding to the alignment leaves over.
enum class SlackSplit : std::uint8_t {
  kMiddle,  ///< into the middle gap (what is not a multiple of the alignment into the last gap)
  kEdges,   ///< half into the first gap, rounded down to the alignment, the rest into the last
};

/// How the idle stretches are filled. Times are in the graph's unit (ns, or hardware cycles).
struct PaddingOptions {
  /// One entry per qubit: wires 0 .. size() - 1 are the qubits. Higher wires (classical bits, say)
  /// order the nodes but are never padded.
  std::span<const QubitPadding> qubits{};
  /// False: each stretch becomes one delay. True: a pulse sequence where the qubit allows it.
  bool decouple = false;
  /// Also fill each qubit from its last operation to the circuit's end.
  bool fill_to_end = true;
  /// No sequence in a stretch that starts at the beginning of the circuit or right after a kReset
  /// node: a qubit in a known state needs no protection.
  bool skip_after_reset = true;
  /// With `decouple`, every stretch must be a multiple of this, and the gaps of a sequence are
  /// rounded down to multiples of it.
  double alignment = 1.0;
  SlackSplit slack_split = SlackSplit::kMiddle;
  /// Fractions of the slack (the stretch minus the pulses) for the gaps before, between and after
  /// the pulses: gap i goes before pulse i. Usually one more than the pulses; a shorter list leaves
  /// the last pulses without a gap before them, a longer one adds gaps after the last pulse.
  std::span<const double> spacing{};
  std::size_t n_pulses = 0;
  /// Duration of pulse k on qubit q at [q * n_pulses + k]; read only for qubits that decouple.
  std::span<const double> pulse_durations{};
};

enum class PaddingStatus : std::uint8_t {
  kDone,
  kMisaligned,  ///< a stretch is not a multiple of the alignment
};

/// What the planner did; on failure, which stretch it stopped at.
struct PaddingOutcome {
  PaddingStatus status = PaddingStatus::kDone;
  std::size_t n_sequences = 0;  ///< pulse sequences placed
  double end = 0.0;             ///< the circuit's end: the latest end of any node, or 0
  // The failing stretch: on `qubit` from `start` to `stop`, after node `before` (kNoNode: the
  // circuit's start) and before node `after` (kNoNode: the circuit's end).
  Qubit qubit = 0;
  double start = 0.0;
  double stop = 0.0;
  NodeId before = kNoNode;
  NodeId after = kNoNode;
};

/// The gaps of one pulse sequence in a stretch with `slack` to spare, written to `gaps`
/// (one per spacing fraction): each fraction of the slack rounded down to the alignment, and the
/// remainder placed as `options.slack_split` says. Every step is one IEEE operation in a fixed
/// order, so whole-number inputs give the same gaps as any implementation that follows the same
/// steps in double precision. `gaps` must not be empty. O(spacing).
void split_slack(double slack, const PaddingOptions& options, std::span<double> gaps);

/// The same steps with the fractions, alignment and split given directly: gap i takes fraction i
/// of the slack. `fractions` and `gaps` have the same, nonzero, length. O(gaps).
void split_slack(double slack, double alignment, std::span<const double> fractions, SlackSplit split,
                 std::span<double> gaps);

namespace padding_detail {

// One stretch's delays and pulses: what both walks of the planner report for a stretch.
class StretchFiller {
 public:
  explicit StretchFiller(const PaddingOptions& options)
      : options_(options),
        gaps_(options.spacing.size()),
        pulse_total_(options.decouple ? options.qubits.size() : 0, 0.0) {
    for (std::size_t q = 0; q < pulse_total_.size(); ++q)
      for (std::size_t k = 0; k < options.n_pulses; ++k)
        pulse_total_[q] += options.pulse_durations[q * options.n_pulses + k];
  }

  // A stretch of this length may be filled: a multiple of the alignment when sequences may go in.
  bool fits(double length) const { return !options_.decouple || std::fmod(length, options_.alignment) == 0.0; }

  // Reports [from, to) on qubit q, a stretch that fits; `fresh`: it follows the circuit's start or
  // a reset; `at_end`: it runs to the circuit's end. True where a pulse sequence went in.
  template <class Sink>
  bool fill(Qubit q, double from, double to, bool fresh, bool at_end, Sink& sink) {
    const double length = to - from;
    if (!options_.decouple) {
      if (options_.fill_to_end || !at_end) sink.delay(q, from, length);
      return false;
    }
    const double slack = length - pulse_total_[q];
    const bool plain = !options_.qubits[q].decouple || (options_.skip_after_reset && fresh) || !(slack > 0.0) ||
                       gaps_.empty();
    if (plain) {
      sink.delay(q, from, length);
      return false;
    }
    split_slack(slack, options_, gaps_);
    const std::size_t n_steps = std::max(options_.n_pulses, gaps_.size());
    const double* durations = options_.pulse_durations.data() + q * options_.n_pulses;
    double t = from;
    for (std::size_t i = 0; i < n_steps; ++i) {
      if (i < gaps_.size() && gaps_[i] > 0.0) {
        sink.delay(q, t, gaps_[i]);
        t += gaps_[i];
      }
      if (i < options_.n_pulses) {
        sink.pulse(q, i, t);
        t += durations[i];
      }
    }
    return true;
  }

 private:
  const PaddingOptions& options_;
  std::vector<double> gaps_;
  std::vector<double> pulse_total_;
};

// The circuit's end: the latest end of any node, or 0.
inline double end_of(const QuantumDAG& dag, std::span<const double> starts) {
  double end = 0.0;
  for (NodeId id = 0; id < dag.node_count(); ++id) end = std::max(end, starts[id] + dag.duration(id));
  return end;
}

}  // namespace padding_detail

/// Walks the nodes of `dag` in id order with their start times `starts` (one per node) and
/// reports what the padded circuit holds, wire by wire in time order, to `sink`:
///   sink.node(id, start)              a copy of node `id` (not for kIdle nodes);
///   sink.delay(qubit, start, length)  a wait;
///   sink.pulse(qubit, k, start)       pulse k of the sequence.
/// A node's idle stretches come just before it, for its qubits in list order; the stretches up to
/// the circuit's end come last, by ascending qubit. A stretch is the time between the end of the
/// previous kOperation/kReset node on the qubit (or 0) and a node's start, when positive. It gets
/// a sequence when `decouple` is set, the qubit allows it, it does not follow the circuit's start
/// or a reset (with `skip_after_reset`) and the pulses leave slack; otherwise one delay.
/// `role(id)` classifies the nodes. Stops at the first failing stretch; the sink has then seen
/// part of the output. The sink may also end the walk by throwing: the planner holds nothing but
/// memory it owns. O(nodes + entries + qubits + output).
template <class Role, class Sink>
PaddingOutcome plan_padding(const QuantumDAG& dag, std::span<const double> starts,
                            const PaddingOptions& options, Role&& role, Sink&& sink) {
  PaddingOutcome out;
  out.end = padding_detail::end_of(dag, starts);
  const std::size_t n = dag.node_count();
  const std::size_t n_qubits = options.qubits.size();
  struct Wire {
    double idle_from = 0.0;
    NodeId last = kNoNode;
    bool fresh = true;  // at the circuit's start or right after a reset
  };
  std::vector<Wire> wires(n_qubits);
  padding_detail::StretchFiller filler(options);

  // Fills [from, to) on qubit q; false stops the walk with `out` describing the stretch.
  auto fill = [&](Qubit q, double from, double to, NodeId after) -> bool {
    const Wire& w = wires[q];
    if (!filler.fits(to - from)) {
      out.status = PaddingStatus::kMisaligned;
      out.qubit = q;
      out.start = from;
      out.stop = to;
      out.before = w.last;
      out.after = after;
      return false;
    }
    if (filler.fill(q, from, to, w.fresh, after == kNoNode, sink)) ++out.n_sequences;
    return true;
  };

  for (NodeId id = 0; id < n; ++id) {
    const PaddingRole r = role(id);
    if (r == PaddingRole::kIdle) continue;
    const double t0 = starts[id];
    const double t1 = t0 + dag.duration(id);
    const std::span<const Qubit> qs = dag.qubits(id);
    for (Qubit q : qs) {
      if (q >= n_qubits) continue;
      Wire& w = wires[q];
      if (options.qubits[q].pad && t0 - w.idle_from > 0.0 && !fill(q, w.idle_from, t0, id)) return out;
      w.idle_from = t1;
    }
    sink.node(id, t0);
    for (Qubit q : qs) {
      if (q >= n_qubits) continue;
      wires[q].last = id;
      wires[q].fresh = r == PaddingRole::kReset;
    }
  }
  for (Qubit q = 0; q < n_qubits; ++q) {
    const Wire& w = wires[q];
    if (options.qubits[q].pad && out.end - w.idle_from > 0.0 && !fill(q, w.idle_from, out.end, kNoNode))
      return out;
  }
  return out;
}

/// The plan of plan_padding, reported to `sink` in another order: the lexicographic topological
/// order of the padded graph by (qubits, classical wires) (see lexicographic_order.hpp), the order
/// in which a DAG that keys its nodes by their qubit and bit lists walks them. The padded graph
/// holds the kOperation and kReset nodes on their wires (qubits below options.qubits.size(),
/// classical wires from there below `n_wires`; each node lists its qubits first and has one) and
/// each stretch's delays and pulses, a chain on its qubit between the nodes around it. A chain
/// comes out whole: once its first piece is the next, so is each following one.
///
/// Misalignment is looked for before anything is reported, in plan_padding's order, so the
/// outcome names the stretch plan_padding would stop at and the sink has seen nothing. The sink
/// may end the walk by throwing. O(nodes + entries + wires + output), plus n_qubits / 64 words
/// scanned each time no node with a qubit is ready; 16 bytes per node and 4 per entry.
template <class Role, class Sink>
PaddingOutcome plan_padding_lexicographic(const QuantumDAG& dag, std::span<const double> starts,
                                          const PaddingOptions& options, std::size_t n_wires, Role&& role,
                                          Sink&& sink) {
  PaddingOutcome out;
  out.end = padding_detail::end_of(dag, starts);
  const std::size_t n = dag.node_count();
  const std::size_t n_qubits = options.qubits.size();
  assert(n < std::numeric_limits<std::uint32_t>::max() - 1 && "node numbers are 32-bit");
  padding_detail::StretchFiller filler(options);

  // The nodes that stay on each wire, in order: one array with a start per wire.
  std::vector<std::uint32_t> start(n_wires + 1, 0);
  for (NodeId id = 0; id < n; ++id)
    if (role(id) != PaddingRole::kIdle)
      for (Qubit w : dag.qubits(id)) ++start[w + 1];
  for (std::size_t w = 0; w < n_wires; ++w) start[w + 1] += start[w];
  std::vector<std::uint32_t> on_wire(start[n_wires]);
  std::vector<std::uint32_t> next(start.begin(), start.end() - 1);
  std::vector<std::uint32_t> waiting(n, 0);  // wires on which the node's predecessor is not placed yet
  for (NodeId id = 0; id < n; ++id) {
    if (role(id) == PaddingRole::kIdle) continue;
    for (Qubit w : dag.qubits(id)) on_wire[next[w]++] = static_cast<std::uint32_t>(id);
    waiting[id] = static_cast<std::uint32_t>(dag.qubits(id).size());
  }
  for (std::size_t w = 0; w < n_wires; ++w) next[w] = start[w];

  // Per qubit: where its idle time began, the node before it, and whether that was the start or
  // a reset.
  struct Wire {
    double idle_from = 0.0;
    NodeId last = kNoNode;
    bool fresh = true;
  };
  std::vector<Wire> wires(n_qubits);
  auto stretch_end = [&](std::size_t q) { return next[q] == start[q + 1] ? out.end : starts[on_wire[next[q]]]; };
  auto has_stretch = [&](std::size_t q) {
    return options.qubits[q].pad && stretch_end(q) - wires[q].idle_from > 0.0;
  };

  // Misalignment first, walking as plan_padding does.
  if (options.decouple) {
    for (NodeId id = 0; id < n; ++id) {
      if (role(id) == PaddingRole::kIdle) continue;
      for (Qubit q : dag.qubits(id)) {
        if (q >= n_qubits) continue;
        Wire& w = wires[q];
        if (options.qubits[q].pad && starts[id] - w.idle_from > 0.0 && !filler.fits(starts[id] - w.idle_from)) {
          out.status = PaddingStatus::kMisaligned;
          out.qubit = q;
          out.start = w.idle_from;
          out.stop = starts[id];
          out.before = w.last;
          out.after = id;
          return out;
        }
        w.idle_from = starts[id] + dag.duration(id);
        w.last = id;
      }
    }
    for (Qubit q = 0; q < n_qubits; ++q) {
      const Wire& w = wires[q];
      if (options.qubits[q].pad && out.end - w.idle_from > 0.0 && !filler.fits(out.end - w.idle_from)) {
        out.status = PaddingStatus::kMisaligned;
        out.qubit = q;
        out.start = w.idle_from;
        out.stop = out.end;
        out.before = w.last;
        out.after = kNoNode;
        return out;
      }
    }
    std::fill(wires.begin(), wires.end(), Wire{});
  }

  constexpr std::uint32_t kStretch = ReadySlots::kInput - 1;  // the token of a qubit's next stretch
  ReadySlots slots(n_qubits);
  auto advance = [&](std::size_t w) {
    if (next[w] == start[w + 1]) return;
    const std::uint32_t id = on_wire[next[w]];
    if (--waiting[id] == 0) slots.set(static_cast<std::size_t>(dag.qubits(id)[0]), id);
  };
  // The wire's previous node (or its input) is out: its stretch is next on a qubit, else the node.
  auto release = [&](std::size_t w) {
    if (w < n_qubits && has_stretch(w)) {
      slots.set(w, kStretch);
      return;
    }
    advance(w);
  };

  std::size_t next_classical = n_qubits;
  for (;;) {
    std::size_t q;
    std::uint32_t token;
    if (!slots.take(q, token)) {
      if (next_classical == n_wires) break;
      release(next_classical++);
      continue;
    }
    if (token == ReadySlots::kInput) {
      release(q);
    } else if (token == kStretch) {
      Wire& w = wires[q];
      const bool at_end = next[q] == start[q + 1];
      if (filler.fill(static_cast<Qubit>(q), w.idle_from, stretch_end(q), w.fresh, at_end, sink)) ++out.n_sequences;
      advance(q);
    } else {
      const NodeId id = token;
      sink.node(id, starts[id]);
      const bool reset = role(id) == PaddingRole::kReset;
      for (Qubit wire : dag.qubits(id)) {
        ++next[wire];
        if (wire < n_qubits) wires[wire] = Wire{starts[id] + dag.duration(id), id, reset};
        release(static_cast<std::size_t>(wire));
      }
    }
  }
  return out;
}

}  // namespace tarvex
