#include "util/date_time.h"

#include <array>

#include "support/page_fixture.h"

namespace oapx1::testing {
namespace {

using DateTimeTest = PageFixture<>;

TEST_F(DateTimeTest, template_tokens_are_replaced_longest_first_and_case_sensitively) {
  const DateTime may = make_datetime(2026, 5, 6, 9, 7, 3);
  const DateTime jan = make_datetime(2005, 1, 2, 3, 4, 5);
  const DateTime dec = make_datetime(2026, 12, 31, 23, 59, 59);
  struct Case {
    DateTime when;
    const char* format;
    const char* expected;
  } cases[] = {
      {may, "yyyy-mm-dd hh:nn", "2026-05-06 09:07"},
      {jan, "yy/m/d h:n:s", "05/1/2 3:4:5"},
      {jan, "yyyymmdd", "20050102"},
      {jan, "YYYY-MM-DD", "YYYY-MM-DD"},
      {jan, "mm:ss", "01:05"},  // "mm" is the month; the minute is "nn"
      {jan, "month", "1o4t3"},  // every lower-case m, n, h is a token
      {dec, "yyyy年m月d日 hh:nn:ss", "2026年12月31日 23:59:59"},
      {dec, "yyy", "26y"},  // "yy" is replaced, the lone "y" is no token
      {may, "", ""},
  };
  for (const Case& c : cases) {
    for (auto method : {&Page::lwformatdatetime, &Page::mydategeshi}) {
      Variant when = c.when;
      Variant format = c.format;
      EXPECT_EQ(describe(((*page).*method)(when, format)), std::string("text:") + c.expected)
          << c.format;
    }
  }
  EXPECT_TRUE(events().empty());
}

TEST_F(DateTimeTest, texts_that_read_as_dates_are_formatted) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"2026-5-6", "2026-05-06 00:00:00"},
      {"2026/05/06 9:07", "2026-05-06 09:07:00"},
      {"2026-05-06 09:07:03", "2026-05-06 09:07:03"},
  };
  for (const Case& c : cases) {
    Variant when = c.text;
    Variant format = "yyyy-mm-dd hh:nn:ss";
    EXPECT_EQ(describe(page->lwformatdatetime(when, format)), std::string("text:") + c.expected);
  }
}

TEST_F(DateTimeTest, values_that_are_not_dates_come_back_unchanged) {
  const Variant inputs[] = {Variant("abc"),        Variant(""),          Variant(42),
                            Variant(4.5),          Variant::null(),      Variant(),
                            Variant("2026-13-01"), Variant("2026-2-30"), Variant("2026-5-6 24:00"),
                            Variant("5/6/2026"),   Variant("2026-5-6x")};
  for (const Variant& input : inputs) {
    for (auto method : {&Page::lwformatdatetime, &Page::mydategeshi}) {
      Variant when = input;
      Variant format = "yyyy";
      EXPECT_EQ(describe(((*page).*method)(when, format)), describe(input));
    }
  }
  EXPECT_TRUE(events().empty());
  EXPECT_EQ(output(), "");
}

TEST_F(DateTimeTest, formatdate_writes_year_month_day_unpadded) {
  struct Case {
    Variant date;
    const char* expected;
  } cases[] = {
      {make_datetime(2026, 12, 1), "text:2026-12-1"},
      {make_datetime(2026, 5, 6, 23, 59, 59), "text:2026-5-6"},
      {Variant("2026-05-06 09:07"), "text:2026-5-6"},
  };
  for (Case& c : cases) EXPECT_EQ(describe(page->formatdate(c.date)), c.expected);
  EXPECT_TRUE(events().empty());
}

TEST_F(DateTimeTest, formatdate_of_a_non_date_reports_and_returns_empty) {
  Variant text = "abc";
  EXPECT_EQ(describe(page->formatdate(text)), "empty");
  Variant null = Variant::null();
  EXPECT_EQ(describe(page->formatdate(null)), "empty");

  const auto logged = events();
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_EQ(logged[0].first, kEventError);
  EXPECT_EQ(logged[0].second, " 13Type mismatch LINE #0 Routine : tvwortqflowjiedia.formatdate");
  EXPECT_EQ(logged[1].second,
            " 94Invalid use of Null LINE #0 Routine : tvwortqflowjiedia.formatdate");
  EXPECT_EQ(output(),
            " Error Type mismatch LINE0 Routine : tvwortqflowjiedia.formatdate"
            " Error Invalid use of Null LINE0 Routine : tvwortqflowjiedia.formatdate");
}

TEST_F(DateTimeTest, getsj_reads_the_page_clock_with_chinese_weekday_names) {
  struct Case {
    DateTime now;
    const char* expected;
  } cases[] = {
      {make_datetime(2026, 5, 6, 9, 7, 3), "2026年05月06日 星期三 09:07:03"},
      {make_datetime(2026, 5, 10, 0, 0, 0), "2026年05月10日 星期日 00:00:00"},
      {make_datetime(2026, 12, 12, 23, 59, 59), "2026年12月12日 星期六 23:59:59"},
  };
  for (const Case& c : cases) {
    set_clock(c.now);
    EXPECT_EQ(describe(page->getsj()), std::string("text:") + c.expected);
  }
}

TEST_F(DateTimeTest, getsj_names_the_present_day_whatever_day_the_week_begins_with) {
  set_weekday_names({"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"},
                    2);
  set_clock(make_datetime(2026, 5, 10, 8, 0, 0));  // a Sunday
  EXPECT_EQ(describe(page->getsj()), "text:2026年05月10日 Sunday 08:00:00");
  set_clock(make_datetime(2026, 5, 11, 8, 0, 0));  // a Monday
  EXPECT_EQ(describe(page->getsj()), "text:2026年05月11日 Monday 08:00:00");
  set_weekday_names({"星期日", "星期一", "星期二", "星期三", "星期四", "星期五", "星期六"});
  EXPECT_EQ(describe(page->getsj()), "text:2026年05月11日 星期一 08:00:00");
}

}  // namespace
}  // namespace oapx1::testing
