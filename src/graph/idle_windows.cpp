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
  double last_start_ns = -std::numeric_limits<double>::infinity();
  double last_end_ns = std::numeric_limits<double>::quiet_NaN();
  std::uint32_t group = kNoGroup;  // the qubit's place in the result, in order of first use
  bool out_of_order = false;       // a start below an earlier one: the intervals need a sort
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
  std::vector<IdleWindow> windows;
  with_qubit_values(last_on_qubit_, QubitWalk{},
                    [&](auto& walks) { windows = collect_idle_windows(walks, min_gap_ns); });
  return windows;
}

template <class Walks>
std::vector<IdleWindow> QuantumDAG::collect_idle_windows(Walks& walks, double min_gap_ns) const {
  const std::size_t n_scheduled = start_ns_.size();
  // One walk over the scheduled nodes in id order, qubit-list order within a node: each qubit's
  // intervals arrive in gathering order. Along a qubit the starts nearly always ascend already,
  // and then consecutive intervals in arrival order are consecutive by start (a stable sort by
  // start would keep that order), so the gaps are measured on the fly. The windows of a qubit
  // whose starts go out of order are dropped afterwards and measured again after a sort.
  std::vector<Qubit> group_qubit;
  std::vector<RawWindow> raw;
  const std::size_t* begin = qubit_begin_.data();
  const Qubit* pool = qubit_pool_.data();
  for (NodeId id = 0; id < n_scheduled; ++id) {
    const double start_ns = this->start_ns(id);
    const double end_ns = this->end_ns(id);
    const std::size_t e_end = begin[id + 1];
    for (std::size_t e = begin[id]; e < e_end; ++e) {
      QubitWalk& w = walks.at(pool[e]);
      if (w.group == kNoGroup) [[unlikely]] {
        if (group_qubit.size() >= kNoGroup) throw std::bad_alloc();
        w.group = static_cast<std::uint32_t>(group_qubit.size());
        group_qubit.push_back(pool[e]);
      }
      w.out_of_order |= start_ns < w.last_start_ns;
      if (start_ns - w.last_end_ns >= min_gap_ns) raw.push_back(RawWindow{w.group, w.last_end_ns, start_ns});
      w.last_start_ns = start_ns;
      w.last_end_ns = end_ns;
    }
  }
  const std::size_t n_groups = group_qubit.size();
  std::vector<char> out_of_order(n_groups);
  bool any_out_of_order = false;
  for (std::size_t g = 0; g < n_groups; ++g) {
    out_of_order[g] = walks.at(group_qubit[g]).out_of_order;
    any_out_of_order |= out_of_order[g] != 0;
  }
  std::vector<std::size_t> n_windows(n_groups);
  for (const RawWindow& r : raw) ++n_windows[r.group];

  // A qubit whose starts went out of order (negative durations) gets its intervals gathered again
  // and stably sorted by start; starts are never NaN, so that order is total.
  std::vector<std::vector<IdleWindow>> sorted_windows;
  std::vector<std::uint32_t> sorted_slot;
  if (any_out_of_order) {
    sorted_slot.assign(n_groups, kNoGroup);
    std::vector<std::vector<NodeSchedule>> intervals;
    for (std::uint32_t g = 0; g < n_groups; ++g) {
      if (!out_of_order[g]) continue;
      sorted_slot[g] = static_cast<std::uint32_t>(intervals.size());
      intervals.emplace_back();
    }
    for (NodeId id = 0; id < n_scheduled; ++id) {
      for (std::size_t e = qubit_begin_[id]; e < qubit_begin_[id + 1]; ++e) {
        std::uint32_t slot = sorted_slot[walks.at(qubit_pool_[e]).group];
        if (slot != kNoGroup) intervals[slot].push_back(NodeSchedule{start_ns(id), end_ns(id)});
      }
    }
    sorted_windows.resize(intervals.size());
    auto by_start = [](const NodeSchedule& a, const NodeSchedule& b) { return a.start_ns < b.start_ns; };
    for (std::uint32_t g = 0; g < n_groups; ++g) {
      std::uint32_t slot = sorted_slot[g];
      if (slot == kNoGroup) continue;
      std::vector<NodeSchedule>& list = intervals[slot];
      std::stable_sort(list.begin(), list.end(), by_start);
      for (std::size_t i = 0; i + 1 < list.size(); ++i) {
        if (list[i + 1].start_ns - list[i].end_ns >= min_gap_ns)
          sorted_windows[slot].push_back(IdleWindow{group_qubit[g], list[i].end_ns, list[i + 1].start_ns});
      }
      n_windows[g] = sorted_windows[slot].size();
    }
  }

  // Group the windows by qubit, groups in order of first use: a counting sort over the groups.
  std::vector<std::size_t> cursor(n_groups);
  std::size_t total = 0;
  for (std::size_t g = 0; g < n_groups; ++g) {
    cursor[g] = total;
    total += n_windows[g];
  }
  std::vector<IdleWindow> windows(total);
  for (const RawWindow& r : raw) {
    if (!out_of_order[r.group])
      windows[cursor[r.group]++] = IdleWindow{group_qubit[r.group], r.start_ns, r.end_ns};
  }
  for (std::size_t g = 0; any_out_of_order && g < n_groups; ++g) {
    if (out_of_order[g])
      std::copy(sorted_windows[sorted_slot[g]].begin(), sorted_windows[sorted_slot[g]].end(),
                windows.begin() + cursor[g]);
  }
  return windows;
}

}  // namespace tarvex
