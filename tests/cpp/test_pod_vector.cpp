// PodVector: growth keeps the contents, also for blocks large enough to be mapped ahead of writing.
#include <gtest/gtest.h>

#include <cstdint>

#include "graph/pod_vector.hpp"

namespace tarvex {
namespace {

TEST(PodVector, GrowingPastTheSizeMappedAheadKeepsEveryValue) {
  // 6 Mi values of 8 bytes: 48 MiB, past the size from which new room is mapped before it is filled.
  constexpr std::size_t kSmall = 1000, kLarge = std::size_t{6} << 20;
  PodVector<std::uint64_t> v;
  for (std::size_t i = 0; i < kSmall; ++i) v.push_back(i * 3 + 1);
  v.resize_uninitialized(kLarge);
  ASSERT_EQ(v.size(), kLarge);
  for (std::size_t i = 0; i < kSmall; ++i) ASSERT_EQ(v[i], i * 3 + 1) << i;
  for (std::size_t i = kSmall; i < kLarge; ++i) v[i] = i * 3 + 1;
  v.reserve_to_fill(2 * kLarge);
  ASSERT_EQ(v.size(), kLarge);
  for (std::size_t i = 0; i < kLarge; ++i) ASSERT_EQ(v[i], i * 3 + 1) << i;
}

}  // namespace
}  // namespace tarvex
