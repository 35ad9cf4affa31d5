// Padding planner: how one pulse sequence divides the slack of a stretch into aligned gaps.
#include "graph/padding_plan.hpp"

namespace tarvex {

bool split_slack(double slack_ns, const PaddingOptions& options, std::span<double> gaps_ns) {
  if (options.slack_split == SlackSplit::kInvalid || gaps_ns.empty()) return false;
  const double alignment = options.alignment;
  const auto round_down = [alignment](double v) { return alignment * std::floor(v / alignment); };
  // Gaps rounded down to the alignment are whole multiples of it, so with whole-number inputs
  // their sum is exact in any order.
  double used = 0.0;
  for (std::size_t i = 0; i < gaps_ns.size(); ++i) {
    gaps_ns[i] = round_down(slack_ns * options.spacing[i]);
    used += gaps_ns[i];
  }
  const double extra = slack_ns - used;
  if (options.slack_split == SlackSplit::kMiddle) {
    const double to_middle = round_down(extra);
    gaps_ns[(gaps_ns.size() - 1) / 2] += to_middle;
    if (extra - to_middle != 0.0) gaps_ns.back() += extra - to_middle;
  } else {
    const double to_first = round_down(extra / 2.0);
    gaps_ns.front() += to_first;
    gaps_ns.back() += extra - to_first;
  }
  return true;
}

}  // namespace tarvex
