// NameTable: one dense id per distinct byte string, NULs included.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "graph/name_table.hpp"

namespace tarvex {
namespace {

using namespace std::string_literals;

TEST(NameTable, InternsEachDistinctNameOnce) {
  const std::vector<std::string> names = {"h", "cx", "", "\0"s, "\0\0"s, "a\0b"s, "a\0c"s, "a", "H", "h\0"s};
  NameTable table;
  for (NameId id = 0; id < names.size(); ++id) EXPECT_EQ(table.intern(names[id]), id);
  for (NameId id = names.size(); id-- > 0;) EXPECT_EQ(table.intern(names[id]), id);
  ASSERT_EQ(table.size(), names.size());
  for (NameId id = 0; id < names.size(); ++id) EXPECT_EQ(table[id], names[id]);
}

TEST(NameTable, ManyNamesStayFoundAcrossRehashes) {
  std::vector<std::string> names;
  for (int i = 0; i < 20000; ++i) names.push_back((i % 2 ? "\0g"s : "g"s) + std::to_string(i / 2));
  NameTable table;
  for (NameId id = 0; id < names.size(); ++id) ASSERT_EQ(table.intern(names[id]), id);
  for (NameId id = 0; id < names.size(); ++id) ASSERT_EQ(table.intern(names[id]), id) << id;
  EXPECT_EQ(table.size(), names.size());
  for (NameId id = 0; id < names.size(); ++id) ASSERT_EQ(table[id], names[id]);
}

TEST(NameTable, NamesAroundWordBoundariesStayApart) {
  // Names are hashed eight bytes at a time with the last word zero-padded: names that differ only
  // in a later word, in padding-like NULs or in length must still get their own ids.
  const std::vector<std::string> names = {
      "cr_echo_",           "cr_echo_\0"s,      "cr_echo_l",         "cr_echo_long_90",   "cr_echo_long_91",
      "cr_echo_long_90\0"s, "cr_echo_long_90_", "cr_echo_long_90_x", "\0\0\0\0\0\0\0\0"s, "\0\0\0\0\0\0\0"s,
      "12345678",           "1234567",          "123456789",         "23456781",          "sy_drag_slow"};
  NameTable table;
  for (NameId id = 0; id < names.size(); ++id) EXPECT_EQ(table.intern(names[id]), id) << id;
  for (NameId id = 0; id < names.size(); ++id) EXPECT_EQ(table.intern(names[id]), id) << id;
  EXPECT_EQ(table.size(), names.size());
}

}  // namespace
}  // namespace tarvex
