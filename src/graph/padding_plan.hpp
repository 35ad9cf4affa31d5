// Padding planner: the delays and decoupling pulses that fill every idle stretch of a scheduled graph.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

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
  const std::size_t n = dag.node_count();
  for (NodeId id = 0; id < n; ++id) {
    const double stop = starts[id] + dag.duration(id);
    if (stop > out.end) out.end = stop;
  }

  const std::size_t n_qubits = options.qubits.size();
  struct Wire {
    double idle_from = 0.0;
    NodeId last = kNoNode;
    bool fresh = true;  // at the circuit's start or right after a reset
  };
  std::vector<Wire> wires(n_qubits);
  std::vector<double> gaps(options.spacing.size());
  std::vector<double> pulse_total(options.decouple ? n_qubits : 0, 0.0);
  for (std::size_t q = 0; q < pulse_total.size(); ++q)
    for (std::size_t k = 0; k < options.n_pulses; ++k)
      pulse_total[q] += options.pulse_durations[q * options.n_pulses + k];

  // Fills [from, to) on qubit q; false stops the walk with `out` describing the stretch.
  auto fill = [&](Qubit q, double from, double to, NodeId after) -> bool {
    const double length = to - from;
    const Wire& w = wires[q];
    if (!options.decouple) {
      if (options.fill_to_end || after != kNoNode) sink.delay(q, from, length);
      return true;
    }
    if (std::fmod(length, options.alignment) == 0.0) {
      const double slack = length - pulse_total[q];
      const bool plain = !options.qubits[q].decouple || (options.skip_after_reset && w.fresh) ||
                         !(slack > 0.0) || gaps.empty();
      if (plain) {
        sink.delay(q, from, length);
        return true;
      }
      split_slack(slack, options, gaps);
      const std::size_t n_steps = std::max(options.n_pulses, gaps.size());
      const double* durations = options.pulse_durations.data() + q * options.n_pulses;
      double t = from;
      for (std::size_t i = 0; i < n_steps; ++i) {
        if (i < gaps.size() && gaps[i] > 0.0) {
          sink.delay(q, t, gaps[i]);
          t += gaps[i];
        }
        if (i < options.n_pulses) {
          sink.pulse(q, i, t);
          t += durations[i];
        }
      }
      ++out.n_sequences;
      return true;
    }
    out.status = PaddingStatus::kMisaligned;
    out.qubit = q;
    out.start = from;
    out.stop = to;
    out.before = w.last;
    out.after = after;
    return false;
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

}  // namespace tarvex
