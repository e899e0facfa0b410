#include "util/ids_and_lists.h"

#include <gtest/gtest.h>

namespace oapx1 {
namespace {

TEST(WholeNumber, reads_one_to_eighteen_digits_and_nothing_else) {
  struct Case {
    const char* text;
    std::optional<int64_t> expected;
  } cases[] = {
      {"0", 0},
      {"007", 7},  // leading zeros: the same id as the database compares it
      {"123456789012345678", 123456789012345678},
      {"1234567890123456789", std::nullopt},  // 19 digits may not fit an integer column
      {"", std::nullopt},
      {"-1", std::nullopt},
      {"+1", std::nullopt},
      {" 1", std::nullopt},
      {"1 ", std::nullopt},
      {"1.0", std::nullopt},
      {"1e3", std::nullopt},
      {"0x1", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(whole_number(c.text), c.expected) << '"' << c.text << '"';
}

TEST(ListEntries, splits_on_any_separator_and_drops_empty_entries_untrimmed) {
  using Entries = std::vector<std::string>;
  struct Case {
    const char* list;
    const char* separators;
    Entries expected;
  } cases[] = {
      {"", ";", {}},
      {";;", ";", {}},
      {"zhangsan", ";", {"zhangsan"}},
      {";zhangsan;;lisi;", ";", {"zhangsan", "lisi"}},
      {" a ; b", ";", {" a ", " b"}},  // entries are as written
      {"1,2", ";", {"1,2"}},
      {"1,2;3,", ";,", {"1", "2", "3"}},
  };
  for (const Case& c : cases) EXPECT_EQ(list_entries(c.list, c.separators), c.expected) << '"' << c.list << '"';
  EXPECT_EQ(list_entries("a;b"), (Entries{"a", "b"}));  // ";" unless given
}

}  // namespace
}  // namespace oapx1
