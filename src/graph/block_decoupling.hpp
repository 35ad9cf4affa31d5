// Block decoupling: pulse sequences in the idle stretches of a padded block program, as a filler of
// pad_blocks, with several sequences tried in order, repeated cycles and staggered spacings.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "graph/block_padding.hpp"
#include "graph/block_program.hpp"
#include "graph/padding_plan.hpp"

namespace tarvex {

/// One pulse sequence the filler may place.
struct DecouplingSequence {
  std::uint32_t n_pulses = 0;  ///< at least 1
  /// A stretch takes the sequence only if stretch / (pulses' total) is above this ratio.
  double min_ratio = 2.0;
  /// Whether min_ratio is an integer type to the caller: then a zero cycle length asks for one
  /// cycle, else it cannot be divided by (see DecouplingStatus::kZeroCycleLength).
  bool integral_ratio = false;
  /// Fractions of the slack for the gaps of one cycle: with n_pulses entries a pulse follows every
  /// gap, otherwise one follows every gap but the cycle's last. `alt_spacing` is for qubits of
  /// colour 1.
  std::span<const double> spacing{};
  std::span<const double> alt_spacing{};
  /// One-pulse sequences: the fewest cycles whose pulses multiply to the identity up to phase (0:
  /// none known). With multiple cycles an odd count, or one that is not a multiple of the period,
  /// becomes one cycle (and odd_cycles() is reported): the pulse's inverse is absorbed instead.
  std::uint32_t period = 2;
};

inline constexpr std::uint8_t kNoColour = 0xff;

/// What the filler may do. Per-qubit spans are indexed by root qubit, per-node spans by node id.
struct BlockDecouplingOptions {
  std::span<const DecouplingSequence> sequences{};
  /// Per qubit: sequences may go on it at all (else one delay per stretch).
  std::span<const char> selected{};
  /// Pulse k of sequence s on qubit q at [q * total pulses + (pulses of sequences before s) + k],
  /// read for selected qubits only.
  std::span<const Ticks> pulse_durations{};
  /// Empty: every qubit takes `spacing`. Else per qubit 0 (spacing), 1 (alt_spacing) or kNoColour
  /// (refused where it would take a sequence).
  std::span<const std::uint8_t> colours{};
  /// Non-empty: sequences only in stretches that end at a node marked here (a named barrier).
  std::span<const char> decouple_before{};
  /// Per node (may be empty): a one-qubit gate that a one-pulse sequence can merge its inverse into.
  std::span<const char> absorbs{};
  double alignment = 16.0;
  std::optional<SlackSplit> split = SlackSplit::kMiddle;  ///< nullopt: refused at the first sequence
  /// A qubit takes sequences only once an operation (not a barrier or delay) has acted on it, and
  /// not in the stretch right after a reset until another operation acts on it.
  bool skip_reset = true;
  /// As many cycles as stretch // (cycle length * ratio), at least one.
  bool multiple_cycles = false;
};

enum class DecouplingStatus : std::uint8_t {
  kDone,
  kBadSplit,         ///< a sequence was to be placed with no valid slack split
  kZeroCycleLength,  ///< multiple cycles of a zero-length cycle (or a zero ratio) were asked for
  kTooManyGaps,      ///< a spacing asked for more pulses than the cycles hold
  kUncoloured,       ///< a qubit without a colour was to take a staggered sequence
};

/// The stretch filler of pad_blocks for decoupling. The sink gets, in output order:
///   delay(qubit, length)                   a wait (whole units, rounded half to even)
///   pulse(qubit, s, k)                     pulse k of sequence s
///   absorb(qubit, s, node, into_next)      before the gaps of a one-pulse sequence: the inverse of
///                                          its pulse is to merge into `node` (the stretch's next
///                                          node if into_next, else the node before it)
///   placed(qubit, s, cycles)               after a sequence's pulses and gaps
///   odd_cycles()                           a one-pulse sequence asked for a cycle count >1 that is
///                                          odd or not a whole number of periods, and gets one cycle
/// `touched(id)` must be called for every node the padding walk copies (its sink's node(id)),
/// after the stretches before it were filled. After a refusal (status() not kDone) nothing more is
/// reported: the output is incomplete and the caller refuses the run. O(output) per stretch.
template <class Sink>
class DecouplingFiller {
 public:
  DecouplingFiller(const BlockProgram& program, const BlockDecouplingOptions& options, Sink& sink)
      : p_(program), o_(options), sink_(sink), dirty_(program.n_qubits(), options.skip_reset ? 0 : 1) {
    std::uint32_t total = 0;
    for (const DecouplingSequence& s : options.sequences) {
      offsets_.push_back(total);
      total += s.n_pulses;
    }
    total_pulses_ = total;
  }

  DecouplingStatus status() const { return status_; }

  void touched(NodeId id) {
    const BlockOp op = p_.op(id);
    if (op == BlockOp::kBarrier || op == BlockOp::kDelay || op == BlockOp::kControlFlow) return;
    for (Wire q : p_.qubits(id)) dirty_[q] = 1;
  }

  bool fill(const IdleStretch& s) {
    if (status_ != DecouplingStatus::kDone) return false;
    const Ticks gap = s.stop - s.start;
    const Wire q = s.qubit;
    if (!o_.selected[q]) return plain(q, gap);
    if (o_.skip_reset && s.before.kind == StretchNeighbour::Kind::kNode && p_.op(s.before.node) == BlockOp::kReset)
      dirty_[q] = 0;
    const bool allowed = o_.decouple_before.empty() || (s.next != kNoNode && o_.decouple_before[s.next]);
    if (!dirty_[q] || !allowed) return plain(q, gap);
    for (std::size_t si = 0; si < o_.sequences.size(); ++si) {
      switch (try_sequence(s, static_cast<std::uint32_t>(si), gap)) {
        case Outcome::kPlaced:
          return true;
        case Outcome::kPlain:
          return plain(q, gap);
        case Outcome::kRefused:
          return false;
        case Outcome::kNext:
          break;
      }
    }
    return plain(q, gap);
  }

 private:
  enum class Outcome : std::uint8_t { kPlaced, kPlain, kRefused, kNext };

  bool plain(Wire q, Ticks gap) {
    sink_.delay(q, gap);
    return true;
  }

  Outcome refuse(DecouplingStatus why) {
    status_ = why;
    return Outcome::kRefused;
  }

  // Python's (and numpy's) floor division of doubles: through fmod, so that 1 // 0.1 is 9.
  static double floor_div(double a, double b) {
    double mod = std::fmod(a, b);
    double div = (a - mod) / b;
    if (mod != 0.0 && ((b < 0.0) != (mod < 0.0))) div -= 1.0;
    double floored = std::floor(div);
    if (div - floored > 0.5) floored += 1.0;
    return floored;
  }

  Outcome try_sequence(const IdleStretch& s, std::uint32_t si, Ticks gap) {
    const DecouplingSequence& seq = o_.sequences[si];
    const Wire q = s.qubit;
    const Ticks* lengths = o_.pulse_durations.data() + std::size_t{q} * total_pulses_ + offsets_[si];
    Ticks length = 0;
    for (std::uint32_t k = 0; k < seq.n_pulses; ++k) length += lengths[k];
    // gap / 0 is infinite, above any ratio.
    if (length > 0 && static_cast<double>(gap) / static_cast<double>(length) <= seq.min_ratio) return Outcome::kNext;
    Ticks cycles = 1;
    if (o_.multiple_cycles) {
      const double cycle = static_cast<double>(length) * seq.min_ratio;
      if (cycle == 0.0) {
        if (!seq.integral_ratio) return refuse(DecouplingStatus::kZeroCycleLength);
      } else {
        const double wanted = floor_div(static_cast<double>(gap), cycle);
        // More cycles than the stretch has units cannot fit: no slack, the next sequence.
        if (wanted > static_cast<double>(gap)) return Outcome::kNext;
        cycles = std::max<Ticks>(static_cast<Ticks>(wanted), 1);
      }
      if (seq.n_pulses == 1 && cycles > 1 &&
          (cycles % 2 == 1 || seq.period == 0 || cycles % seq.period != 0)) {
        sink_.odd_cycles();
        cycles = 1;
      }
    }
    if (length > 0 && cycles > gap / length) return Outcome::kNext;
    const Ticks slack = gap - cycles * length;
    if (slack <= 0) return Outcome::kNext;

    if (seq.n_pulses == 1 && cycles == 1) {
      if (s.next != kNoNode && absorbs(s.next)) {
        sink_.absorb(q, si, s.next, true);
      } else if (s.before.kind == StretchNeighbour::Kind::kNode && absorbs(s.before.node)) {
        sink_.absorb(q, si, s.before.node, false);
      } else {
        return Outcome::kPlain;
      }
    }
    std::span<const double> spacing = seq.spacing;
    if (!o_.colours.empty()) {
      const std::uint8_t c = o_.colours[q];
      if (c == kNoColour) return refuse(DecouplingStatus::kUncoloured);
      if (c != 0) spacing = seq.alt_spacing;
    }
    if (!o_.split) return refuse(DecouplingStatus::kBadSplit);
    const std::size_t per_cycle = spacing.size();
    const std::size_t n_gaps = per_cycle * static_cast<std::size_t>(cycles);
    if (n_gaps == 0) return Outcome::kNext;
    fractions_.resize(n_gaps);
    gaps_.resize(n_gaps);
    for (std::size_t i = 0; i < n_gaps; ++i) fractions_[i] = spacing[i % per_cycle] / static_cast<double>(cycles);
    split_slack(static_cast<double>(slack), o_.alignment, fractions_, *o_.split, gaps_);

    // A pulse after every gap when the spacing has one per pulse, else after every gap but the
    // last of each cycle; the gaps of consecutive cycles stay separate.
    const bool after_every = per_cycle == seq.n_pulses;
    const std::size_t n_pulses = std::size_t{seq.n_pulses} * static_cast<std::size_t>(cycles);
    std::size_t placed = 0;
    for (std::size_t i = 0; i < n_gaps; ++i) {
      if (gaps_[i] > 0.0) sink_.delay(q, static_cast<Ticks>(std::nearbyint(gaps_[i])));
      if (after_every || i % per_cycle != per_cycle - 1) {
        if (placed == n_pulses) return refuse(DecouplingStatus::kTooManyGaps);
        sink_.pulse(q, si, static_cast<std::uint32_t>(placed % seq.n_pulses));
        ++placed;
      }
    }
    sink_.placed(q, si, cycles);
    return Outcome::kPlaced;
  }

  bool absorbs(NodeId id) const { return !o_.absorbs.empty() && o_.absorbs[id]; }

  const BlockProgram& p_;
  const BlockDecouplingOptions& o_;
  Sink& sink_;
  std::vector<char> dirty_;  // per qubit
  std::vector<std::uint32_t> offsets_;
  std::uint32_t total_pulses_ = 0;
  std::vector<double> fractions_, gaps_;
  DecouplingStatus status_ = DecouplingStatus::kDone;
};

/// The runtime's colouring of a coupling graph for staggered sequences: a greedy colouring of the
/// undirected graph on nodes 0 .. n_nodes - 1 (edges with an end at or above n_nodes dropped),
/// nodes taken by descending degree (parallel edges and both directions counted), ties by index,
/// each given the lowest colour no neighbour has. Returns one colour per node. O(n log n + E).
std::vector<std::uint32_t> greedy_colouring(std::uint32_t n_nodes,
                                            std::span<const std::pair<std::uint32_t, std::uint32_t>> edges);

}  // namespace tarvex
