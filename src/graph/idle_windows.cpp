// Idle-window detection on the stored schedule.
#include <algorithm>
#include <limits>
#include <utility>

#include "graph/quantum_dag.hpp"

namespace tarvex {

std::vector<IdleWindow> QuantumDAG::find_idle_windows(double min_gap_ns) const {
  std::vector<IdleWindow> windows;
  // Only the stored schedule counts: nodes added since the last build_schedule are not seen.
  const std::size_t n_scheduled = schedule_.size();
  if (n_scheduled == 0) return windows;
  const std::size_t n_entries = qubit_begin_[n_scheduled];

  // Pass 1: number the qubits in order of first use and count each one's intervals.
  constexpr std::uint32_t kNoGroup = std::numeric_limits<std::uint32_t>::max();
  QubitMap<std::uint32_t> group_of(kNoGroup);
  group_of.reserve_like(last_on_qubit_);
  std::vector<std::uint32_t> entry_group(n_entries);
  std::vector<std::size_t> group_begin;
  std::vector<Qubit> group_qubit;
  for (std::size_t e = 0; e < n_entries; ++e) {
    std::uint32_t& g = group_of.at(qubit_pool_[e]);
    if (g == kNoGroup) {
      if (group_qubit.size() >= kNoGroup) throw std::bad_alloc();
      g = static_cast<std::uint32_t>(group_qubit.size());
      group_qubit.push_back(qubit_pool_[e]);
      group_begin.push_back(0);
    }
    ++group_begin[g];
    entry_group[e] = g;
  }
  const std::size_t n_groups = group_qubit.size();
  std::size_t offset = 0;
  for (std::size_t& b : group_begin) offset += std::exchange(b, offset);
  group_begin.push_back(offset);

  // Pass 2: gather every scheduled node's interval into each of its qubits' lists, in id order and
  // qubit-list order (a qubit listed twice gets the interval twice).
  std::vector<NodeSchedule> intervals(n_entries);
  std::vector<std::size_t> cursor(group_begin.begin(), group_begin.end() - 1);
  for (NodeId id = 0; id < n_scheduled; ++id) {
    for (std::size_t e = qubit_begin_[id]; e < qubit_begin_[id + 1]; ++e)
      intervals[cursor[entry_group[e]]++] = schedule_[id];
  }

  // Pass 3: per qubit, the gaps between consecutive intervals by start time. Starts are never NaN,
  // and along one qubit they are almost always ascending already, so a sort runs only when needed.
  auto by_start = [](const NodeSchedule& a, const NodeSchedule& b) { return a.start_ns < b.start_ns; };
  for (std::size_t g = 0; g < n_groups; ++g) {
    NodeSchedule* first = intervals.data() + group_begin[g];
    NodeSchedule* last = intervals.data() + group_begin[g + 1];
    if (last - first < 2) continue;
    if (!std::is_sorted(first, last, by_start)) std::stable_sort(first, last, by_start);
    for (NodeSchedule* s = first; s + 1 != last; ++s) {
      const double gap_ns = s[1].start_ns - s[0].end_ns;
      if (gap_ns >= min_gap_ns) windows.push_back(IdleWindow{group_qubit[g], s[0].end_ns, s[1].start_ns});
    }
  }
  return windows;
}

}  // namespace tarvex
