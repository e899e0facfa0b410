// The scripting rules of the variant: comparison, conversion, dates.
#include <gtest/gtest.h>

#include "platform/script/variant.h"

namespace oapx1 {
namespace {

enum class Cmp { kEqual, kUnequal, kNeither };

TEST(Variant, comparison_follows_the_scripting_rules) {
  const DateTime may6 = make_datetime(2026, 5, 6);
  struct Case {
    Variant a, b;
    Cmp expected;
  } cases[] = {
      {Variant(1), "1", Cmp::kEqual},          // a stored number equals the constant
      {Variant(1.0), "1", Cmp::kEqual},
      {Variant(1), " 1 ", Cmp::kEqual},        // the constant read as a number
      {Variant(1), "01", Cmp::kEqual},
      {Variant(2), "1", Cmp::kUnequal},
      {Variant(1), "abc", Cmp::kUnequal},      // not a number: never equal
      {"1", "1", Cmp::kEqual},
      {"1", "01", Cmp::kUnequal},              // texts compare exactly
      {"a", "A", Cmp::kUnequal},               // case-sensitively
      {Variant(), "", Cmp::kEqual},            // empty equals only the empty text
      {Variant(), "0", Cmp::kUnequal},
      {Variant(), Variant(0), Cmp::kEqual},    // and 0 as a number
      {Variant::null(), "0", Cmp::kNeither},   // null satisfies neither test
      {Variant::null(), Variant::null(), Cmp::kNeither},
      {Variant(true), Variant(-1), Cmp::kEqual},
      {Variant(may6), "2026-5-6", Cmp::kEqual},
      {Variant(may6), "2026-05-07", Cmp::kUnequal},
  };
  for (const Case& c : cases) {
    const bool eq = script_equal(c.a, c.b);
    const bool ne = script_unequal(c.a, c.b);
    const Cmp got = eq ? Cmp::kEqual : (ne ? Cmp::kUnequal : Cmp::kNeither);
    EXPECT_EQ(got, c.expected) << c.a.str() << " vs " << c.b.str();
    EXPECT_EQ(script_equal(c.b, c.a), eq) << "symmetry " << c.a.str() << " vs " << c.b.str();
  }
}

TEST(Variant, ordering_puts_numbers_before_texts_and_compares_numbers_numerically) {
  EXPECT_EQ(*script_compare(Variant(9), "10"), -1);
  EXPECT_EQ(*script_compare("9", "10"), 1);  // as texts
  EXPECT_EQ(*script_compare(Variant(5), "x"), -1);
  EXPECT_EQ(*script_compare("x", Variant(5)), 1);
  EXPECT_FALSE(script_compare(Variant::null(), Variant(1)).has_value());
}

TEST(Variant, conversion_to_text_and_numbers) {
  EXPECT_EQ(Variant(1.5).str(), "1.5");
  EXPECT_EQ(Variant(3.0).str(), "3");
  EXPECT_EQ(Variant(0.1 + 0.2).str(), "0.3");
  EXPECT_EQ(Variant(1e20).str(), "1E+20");
  EXPECT_EQ(Variant(true).str(), "True");
  EXPECT_EQ(Variant::null().str(), "");
  EXPECT_EQ(Variant().str(), "");
  EXPECT_THROW(Variant::null().to_text(), ScriptError);
  EXPECT_EQ(Variant("2.5").to_integer(), 2);  // half to even
  EXPECT_EQ(Variant("3.5").to_integer(), 4);
  EXPECT_EQ(Variant(" 42 ").to_double(), 42);
  EXPECT_EQ(Variant("&H1F").to_double(), 31);
  EXPECT_EQ(Variant("&HFFFF").to_double(), -1);  // four digits: a 16-bit value
  EXPECT_EQ(Variant("&H10000").to_double(), 65536);
  EXPECT_EQ(Variant("&HFFFFFFFF").to_double(), -1);
  EXPECT_FALSE(is_numeric(Variant("&HFFFFFFFFFFFFFFFF")));  // more than eight digits
  EXPECT_THROW(Variant(1e300).to_date(), ScriptError);
  EXPECT_THROW(Variant(2958466).to_date(), ScriptError);
  EXPECT_EQ(civil(Variant(2958465).to_date()).year, 9999);
  try {
    Variant("abc").to_double();
    FAIL();
  } catch (const ScriptError& e) {
    EXPECT_EQ(e.number(), err::kTypeMismatch);
  }
  EXPECT_TRUE(Variant("True").to_bool());
  EXPECT_FALSE(Variant("0").to_bool());
}

TEST(Variant, is_numeric_and_is_date_recognise_what_the_platform_does) {
  for (const char* yes : {"1", " 1 ", "-1.5", "+3", ".5", "1e3", "&HFF"})
    EXPECT_TRUE(is_numeric(Variant(yes))) << yes;
  for (const char* no : {"", " ", "1a", "1,000", "--1", "e3", "."})
    EXPECT_FALSE(is_numeric(Variant(no))) << no;
  EXPECT_TRUE(is_numeric(Variant()));
  EXPECT_FALSE(is_numeric(Variant::null()));

  for (const char* yes : {"2026-5-6", "2026/05/06", "2026-5-6 9:07", "2026-05-06 09:07:03", " 2024-2-29 "})
    EXPECT_TRUE(is_date(Variant(yes))) << yes;
  for (const char* no : {"", "abc", "2026-13-1", "2025-2-29", "2026-5-6 25:00", "2026-5", "20260506",
                         "2026-5/6", "12"})
    EXPECT_FALSE(is_date(Variant(no))) << no;
}

TEST(Variant, dates_split_print_and_know_their_weekday) {
  const DateTime t = make_datetime(2026, 5, 6, 9, 7, 3);
  const CivilTime c = civil(t);
  EXPECT_EQ(c.year, 2026);
  EXPECT_EQ(c.month, 5);
  EXPECT_EQ(c.day, 6);
  EXPECT_EQ(c.hour, 9);
  EXPECT_EQ(c.minute, 7);
  EXPECT_EQ(c.second, 3);
  EXPECT_EQ(c.weekday, 4);  // a Wednesday; Sunday is 1
  EXPECT_EQ(format_datetime(t), "2026-5-6 9:07:03");
  EXPECT_EQ(format_datetime(make_datetime(2026, 12, 1)), "2026-12-1");
  EXPECT_EQ(format_iso(t), "2026-05-06 09:07:03");
  EXPECT_EQ(*parse_datetime("2026-05-06 09:07:03"), t);
  EXPECT_EQ(civil(make_datetime(1899, 12, 30)).weekday, 7);
  EXPECT_EQ(civil(make_datetime(2000, 2, 29, 23, 59, 59)).second, 59);
}

}  // namespace
}  // namespace oapx1
