// Idle-window detection on the stored schedule.
#include <algorithm>
#include <limits>
#include <vector>

#include "graph/quantum_dag.hpp"

namespace tarvex {

namespace {

// What one qubit's walk has seen so far.
struct QubitWalk {
  double last_start_ns;
  double last_end_ns;
  std::size_t n_windows = 0;
  bool seen = false;
  bool out_of_order = false;  // a start below an earlier one: the intervals need a sort
};

struct RawWindow {
  std::uint32_t group;
  double start_ns;
  double end_ns;
};

}  // namespace

std::vector<IdleWindow> QuantumDAG::find_idle_windows(double min_gap_ns) const {
  // Only the stored schedule counts: nodes added since the last build_schedule are not seen.
  const std::size_t n_scheduled = start_ns_.size();
  if (n_scheduled == 0) return {};

  // One walk over the scheduled nodes in id order, qubit-list order within a node: each qubit's
  // intervals arrive in gathering order. Along a qubit the starts nearly always ascend already,
  // and then consecutive intervals in arrival order are consecutive by start (a stable sort by
  // start would keep that order), so the gaps are measured on the fly.
  constexpr std::uint32_t kNoGroup = std::numeric_limits<std::uint32_t>::max();
  QubitMap<std::uint32_t> group_of(kNoGroup);
  group_of.reserve_like(last_on_qubit_);
  std::vector<QubitWalk> walks;
  std::vector<Qubit> group_qubit;
  std::vector<RawWindow> raw;
  bool any_out_of_order = false;
  for (NodeId id = 0; id < n_scheduled; ++id) {
    const NodeSchedule s{start_ns_[id], start_ns_[id] + durations_ns_[id]};
    for (std::size_t e = qubit_begin_[id]; e < qubit_begin_[id + 1]; ++e) {
      std::uint32_t& g = group_of.at(qubit_pool_[e]);
      if (g == kNoGroup) {
        if (walks.size() >= kNoGroup) throw std::bad_alloc();
        g = static_cast<std::uint32_t>(walks.size());
        walks.emplace_back();
        group_qubit.push_back(qubit_pool_[e]);
      }
      QubitWalk& w = walks[g];
      if (w.seen && !w.out_of_order) {
        if (s.start_ns < w.last_start_ns) {
          w.out_of_order = any_out_of_order = true;
        } else if (s.start_ns - w.last_end_ns >= min_gap_ns) {  // never true for a NaN gap
          raw.push_back(RawWindow{g, w.last_end_ns, s.start_ns});
          ++w.n_windows;
        }
      }
      w.seen = true;
      w.last_start_ns = s.start_ns;
      w.last_end_ns = s.end_ns;
    }
  }

  // A qubit whose starts went out of order (negative durations) gets its intervals gathered again
  // and stably sorted by start; starts are never NaN, so that order is total.
  std::vector<std::vector<IdleWindow>> sorted_windows;
  std::vector<std::uint32_t> sorted_slot;
  if (any_out_of_order) {
    sorted_slot.assign(walks.size(), kNoGroup);
    std::vector<std::vector<NodeSchedule>> intervals;
    for (std::uint32_t g = 0; g < walks.size(); ++g) {
      if (!walks[g].out_of_order) continue;
      sorted_slot[g] = static_cast<std::uint32_t>(intervals.size());
      intervals.emplace_back();
    }
    for (NodeId id = 0; id < n_scheduled; ++id) {
      for (std::size_t e = qubit_begin_[id]; e < qubit_begin_[id + 1]; ++e) {
        std::uint32_t slot = sorted_slot[group_of.get(qubit_pool_[e])];
        if (slot != kNoGroup) intervals[slot].push_back(NodeSchedule{start_ns_[id], start_ns_[id] + durations_ns_[id]});
      }
    }
    sorted_windows.resize(intervals.size());
    auto by_start = [](const NodeSchedule& a, const NodeSchedule& b) { return a.start_ns < b.start_ns; };
    for (std::uint32_t g = 0; g < walks.size(); ++g) {
      std::uint32_t slot = sorted_slot[g];
      if (slot == kNoGroup) continue;
      std::vector<NodeSchedule>& list = intervals[slot];
      std::stable_sort(list.begin(), list.end(), by_start);
      for (std::size_t i = 0; i + 1 < list.size(); ++i) {
        if (list[i + 1].start_ns - list[i].end_ns >= min_gap_ns)
          sorted_windows[slot].push_back(IdleWindow{group_qubit[g], list[i].end_ns, list[i + 1].start_ns});
      }
      walks[g].n_windows = sorted_windows[slot].size();
    }
  }

  // Group the windows by qubit, groups in order of first use: a counting sort over the groups.
  std::vector<std::size_t> cursor(walks.size());
  std::size_t total = 0;
  for (std::size_t g = 0; g < walks.size(); ++g) {
    cursor[g] = total;
    total += walks[g].n_windows;
  }
  std::vector<IdleWindow> windows(total);
  for (const RawWindow& r : raw) {
    if (!walks[r.group].out_of_order) windows[cursor[r.group]++] = IdleWindow{group_qubit[r.group], r.start_ns, r.end_ns};
  }
  for (std::size_t g = 0; any_out_of_order && g < walks.size(); ++g) {
    if (walks[g].out_of_order) std::copy(sorted_windows[sorted_slot[g]].begin(), sorted_windows[sorted_slot[g]].end(), windows.begin() + cursor[g]);
  }
  return windows;
}

}  // namespace tarvex
