// Idle-window detection on the stored schedule.
#include <algorithm>
#include <limits>
#include <vector>

#include "graph/quantum_dag.hpp"

namespace tarvex {

namespace {

constexpr std::uint32_t kNoGroup = std::numeric_limits<std::uint32_t>::max();

// What one qubit's walk has seen so far. Before its first interval the last end reads as NaN, so
// the first gap is NaN and never reported, and the last start as -inf, which no start is below.
struct QubitWalk {
  double last_start = -std::numeric_limits<double>::infinity();
  double last_end = std::numeric_limits<double>::quiet_NaN();
  std::uint32_t group = kNoGroup;  // the qubit's place in the result, in order of first use
  bool out_of_order = false;       // a start below an earlier one: the intervals need a sort
};

struct RawWindow {
  std::uint32_t group;
  double start;
  double end;
};

// What the gap walk gathers: the qubits in order of first use (a qubit's group is its index here)
// and every window it measured, in the order it found them.
struct GapScan {
  std::vector<Qubit> group_qubit;
  std::vector<RawWindow> raw;
};

// The groups whose qubit's starts went out of order, with their windows measured again.
struct Resorted {
  std::vector<char> out_of_order;                // per group
  bool any = false;                              // any group out of order
  std::vector<std::uint32_t> slot;               // per group: its index in `windows`, or kNoGroup
  std::vector<std::vector<IdleWindow>> windows;  // per out-of-order group, ascending in time
};

/// Re-measures the groups whose starts went out of order (negative durations): gathers each such
/// qubit's intervals again, stably sorts them by start (starts are never NaN, so that order is
/// total) and takes the gaps of at least `min_gap` between neighbours. Their windows in `scan`
/// are void. O(entries) when any group is out of order, plus the sorts; else O(groups).
template <class Walks>
Resorted resort_out_of_order(const QuantumDAG& dag, Walks& walks, const GapScan& scan, double min_gap) {
  const std::size_t n_groups = scan.group_qubit.size();
  Resorted out;
  out.out_of_order.resize(n_groups);
  for (std::size_t g = 0; g < n_groups; ++g) {
    out.out_of_order[g] = walks.at(scan.group_qubit[g]).out_of_order;
    out.any |= out.out_of_order[g] != 0;
  }
  if (!out.any) return out;

  out.slot.assign(n_groups, kNoGroup);
  std::vector<std::vector<NodeSchedule>> intervals;
  for (std::uint32_t g = 0; g < n_groups; ++g) {
    if (!out.out_of_order[g]) continue;
    out.slot[g] = static_cast<std::uint32_t>(intervals.size());
    intervals.emplace_back();
  }
  for (NodeId id = 0; id < dag.scheduled_count(); ++id) {
    for (Qubit q : dag.qubits(id)) {
      const std::uint32_t slot = out.slot[walks.at(q).group];
      if (slot != kNoGroup) intervals[slot].push_back(NodeSchedule{dag.start_time(id), dag.end_time(id)});
    }
  }
  out.windows.resize(intervals.size());
  auto by_start = [](const NodeSchedule& a, const NodeSchedule& b) { return a.start < b.start; };
  for (std::uint32_t g = 0; g < n_groups; ++g) {
    const std::uint32_t slot = out.slot[g];
    if (slot == kNoGroup) continue;
    std::vector<NodeSchedule>& list = intervals[slot];
    std::stable_sort(list.begin(), list.end(), by_start);
    for (std::size_t i = 0; i + 1 < list.size(); ++i) {
      if (list[i + 1].start - list[i].end >= min_gap)
        out.windows[slot].push_back(IdleWindow{scan.group_qubit[g], list[i].end, list[i + 1].start});
    }
  }
  return out;
}

/// The result: every group's windows together, groups in order of first use; a group in order
/// keeps the windows of `scan` in the order found, an out-of-order one takes those of `resorted`.
/// A counting sort over the groups: O(windows + groups).
std::vector<IdleWindow> group_by_qubit(const GapScan& scan, const Resorted& resorted) {
  const std::size_t n_groups = scan.group_qubit.size();
  std::vector<std::size_t> n_windows(n_groups);
  for (const RawWindow& r : scan.raw) ++n_windows[r.group];
  for (std::size_t g = 0; resorted.any && g < n_groups; ++g) {
    if (resorted.out_of_order[g]) n_windows[g] = resorted.windows[resorted.slot[g]].size();
  }
  std::vector<std::size_t> cursor(n_groups);
  std::size_t total = 0;
  for (std::size_t g = 0; g < n_groups; ++g) {
    cursor[g] = total;
    total += n_windows[g];
  }
  std::vector<IdleWindow> windows(total);
  for (const RawWindow& r : scan.raw) {
    if (!resorted.out_of_order[r.group])
      windows[cursor[r.group]++] = IdleWindow{scan.group_qubit[r.group], r.start, r.end};
  }
  for (std::size_t g = 0; resorted.any && g < n_groups; ++g) {
    if (resorted.out_of_order[g]) {
      const std::vector<IdleWindow>& sorted = resorted.windows[resorted.slot[g]];
      std::copy(sorted.begin(), sorted.end(), windows.begin() + cursor[g]);
    }
  }
  return windows;
}

}  // namespace

std::vector<IdleWindow> QuantumDAG::find_idle_windows(double min_gap) const {
  // Only the stored schedule counts: nodes added since the last build_schedule are not seen.
  if (starts_.size() == 0) return {};
  std::vector<IdleWindow> windows;
  with_qubit_values(last_on_qubit_, QubitWalk{}, [&](auto& walks) {
    GapScan scan;
    walk_gaps(walks, min_gap, scan);
    const Resorted resorted = resort_out_of_order(*this, walks, scan, min_gap);
    windows = group_by_qubit(scan, resorted);
  });
  return windows;
}

template <class Walks, class Scan>
void QuantumDAG::walk_gaps(Walks& walks, double min_gap, Scan& scan) const {
  // One walk over the scheduled nodes in id order, qubit-list order within a node: each qubit's
  // intervals arrive in gathering order. Along a qubit the starts nearly always ascend already,
  // and then consecutive intervals in arrival order are consecutive by start (a stable sort by
  // start would keep that order), so the gaps are measured on the fly. A qubit whose starts go out
  // of order is marked, for resort_out_of_order.
  const std::size_t n_scheduled = starts_.size();
  const std::size_t* begin = qubit_begin_.data();
  const Qubit* pool = qubit_pool_.data();
  for (NodeId id = 0; id < n_scheduled; ++id) {
    const double start = this->start_time(id);
    const double end = this->end_time(id);
    const std::size_t e_end = begin[id + 1];
    for (std::size_t e = begin[id]; e < e_end; ++e) {
      QubitWalk& w = walks.at(pool[e]);
      if (w.group == kNoGroup) [[unlikely]] {
        if (scan.group_qubit.size() >= kNoGroup) throw std::bad_alloc();
        w.group = static_cast<std::uint32_t>(scan.group_qubit.size());
        scan.group_qubit.push_back(pool[e]);
      }
      w.out_of_order |= start < w.last_start;
      if (start - w.last_end >= min_gap) scan.raw.push_back(RawWindow{w.group, w.last_end, start});
      w.last_start = start;
      w.last_end = end;
    }
  }
}

}  // namespace tarvex
