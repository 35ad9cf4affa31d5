// Padding planner: how one pulse sequence divides the slack of a stretch into aligned gaps.
#include "graph/padding_plan.hpp"

#include <cassert>

namespace tarvex {

void split_slack(double slack, const PaddingOptions& options, std::span<double> gaps) {
  split_slack(slack, options.alignment, options.spacing.first(gaps.size()), options.slack_split, gaps);
}

void split_slack(double slack, double alignment, std::span<const double> fractions, SlackSplit split,
                 std::span<double> gaps) {
  assert(!gaps.empty() && fractions.size() == gaps.size() && "a sequence has at least one gap");
  const auto round_down = [alignment](double v) { return alignment * std::floor(v / alignment); };
  // Gaps rounded down to the alignment are whole multiples of it, so with whole-number inputs
  // their sum is exact in any order.
  double used = 0.0;
  for (std::size_t i = 0; i < gaps.size(); ++i) {
    gaps[i] = round_down(slack * fractions[i]);
    used += gaps[i];
  }
  const double extra = slack - used;
  if (split == SlackSplit::kMiddle) {
    const double to_middle = round_down(extra);
    gaps[(gaps.size() - 1) / 2] += to_middle;
    if (extra - to_middle != 0.0) gaps.back() += extra - to_middle;
  } else {
    const double to_first = round_down(extra / 2.0);
    gaps.front() += to_first;
    gaps.back() += extra - to_first;
  }
}

}  // namespace tarvex
