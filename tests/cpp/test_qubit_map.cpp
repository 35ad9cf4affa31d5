// QubitMap: dense below 65536, hashed from there on, growth only when reserving.
#include <map>
#include <random>

#include "graph_test_util.hpp"

namespace tarvex {
namespace {

using test::kMaxQubit;

TEST(QubitMap, MissingKeysReadAsTheDefault) {
  const QubitMap<NodeId> map(kNoNode);
  for (Qubit q : {Qubit{0}, Qubit{65535}, Qubit{65536}, kMaxQubit}) EXPECT_EQ(map.get(q), kNoNode) << q;
  EXPECT_EQ(map.dense_size(), 0u);
  EXPECT_EQ(map.sparse_count(), 0u);
}

TEST(QubitMap, DenseBelowTheBoundaryHashedFromIt) {
  QubitMap<int> map(-1);
  const std::vector<Qubit> keys = {0, 65535, 65536, kMaxQubit};
  map.reserve_for(keys);
  EXPECT_EQ(map.dense_size(), 65536u);
  EXPECT_EQ(map.sparse_count(), 0u);
  for (std::size_t i = 0; i < keys.size(); ++i) map.set(keys[i], static_cast<int>(i));
  EXPECT_EQ(map.dense_size(), 65536u);
  EXPECT_EQ(map.sparse_count(), 2u);
  for (std::size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(map.get(keys[i]), static_cast<int>(i));
  for (Qubit q : {Qubit{1}, Qubit{65534}, Qubit{65537}, kMaxQubit - 1}) EXPECT_EQ(map.get(q), -1) << q;

  QubitMap<int> sparse_only(-1);
  sparse_only.reserve_for(std::vector<Qubit>{70000, kMaxQubit});
  EXPECT_EQ(sparse_only.dense_size(), 0u);
}

TEST(QubitMap, AtInsertsTheDefaultOnce) {
  QubitMap<int> map(-1);
  map.reserve_for(std::vector<Qubit>{3, 70000});
  for (Qubit q : {Qubit{3}, Qubit{70000}}) {
    EXPECT_EQ(map.at(q), -1);
    map.at(q) = 7;
    map.at(q) += 1;
    EXPECT_EQ(map.get(q), 8);
  }
  EXPECT_EQ(map.sparse_count(), 1u);
}

// Clustered, low-bits-zero and random keys, reserved one at a time and then all at once.
TEST(QubitMap, ManySparseKeysSurviveGrowth) {
  std::vector<Qubit> keys;
  std::mt19937_64 rng(5);
  for (Qubit i = 0; i < 1000; ++i) keys.push_back(65536 + i);
  for (Qubit i = 1; i <= 1000; ++i) keys.push_back(i << 32);
  while (keys.size() < 5000) keys.push_back(rng() | (Qubit{1} << 40));
  keys.push_back(kMaxQubit);
  for (bool one_at_a_time : {true, false}) {
    QubitMap<NodeId> map(kNoNode);
    std::map<Qubit, NodeId> expected;
    if (!one_at_a_time) map.reserve_for(keys);
    for (NodeId i = 0; i < keys.size(); ++i) {
      if (one_at_a_time) map.reserve_for(std::span(&keys[i], 1));
      map.set(keys[i], i);
      expected[keys[i]] = i;
    }
    map.set(keys[0], 42);  // overwriting adds no entry
    expected[keys[0]] = 42;
    EXPECT_EQ(map.sparse_count(), expected.size());
    EXPECT_EQ(map.dense_size(), 0u);
    for (const auto& [q, v] : expected) ASSERT_EQ(map.get(q), v) << q;
    for (Qubit i = 1000; i < 1100; ++i) EXPECT_EQ(map.get(65536 + i), kNoNode);
    std::map<Qubit, NodeId> seen;
    map.for_each([&](Qubit q, NodeId v) { EXPECT_TRUE(seen.emplace(q, v).second) << q; });
    EXPECT_EQ(seen, expected);
  }
}

TEST(QubitMap, ReserveLikeCoversEveryKeyOfTheOther) {
  QubitMap<NodeId> source(kNoNode);
  std::vector<Qubit> keys = {0, 299, 65535, 65536, kMaxQubit};
  std::mt19937_64 rng(9);
  for (int i = 0; i < 3000; ++i) keys.push_back(rng() % 2 ? rng() % 400 : rng());
  source.reserve_for(keys);
  for (NodeId i = 0; i < keys.size(); ++i) source.set(keys[i], i);

  QubitMap<double> copy(-1.0);
  copy.reserve_like(source);
  EXPECT_GE(copy.dense_size(), source.dense_size());
  // Debug builds assert inside set when a key was not reserved for.
  source.for_each([&](Qubit q, NodeId v) { copy.set(q, static_cast<double>(v)); });
  EXPECT_EQ(copy.sparse_count(), source.sparse_count());
  source.for_each([&](Qubit q, NodeId v) { EXPECT_EQ(copy.get(q), static_cast<double>(v)) << q; });
}

}  // namespace
}  // namespace tarvex
