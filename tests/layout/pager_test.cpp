// The pager: its markup for a whole paging state, the derived page numbers
// and selections at the boundaries, encoding of the sort fields, and a page
// size of 0.
#include <string>
#include <vector>

#include "support/page_fixture.h"

namespace oapx1::testing {
namespace {

using PagerTest = PageFixture<>;

TEST_F(PagerTest, writes_the_paging_state_lists_and_buttons) {
  page->currentpage = "2";
  page->pagesize = 20;
  page->recordcount = 45;
  page->sortcolumn = "名\"称";
  page->sortdirection = "desc";
  page->searchcondition = "a<b & 'c'";
  page->searchform();
  const std::string expected = read_source_file("tests/golden/frames/pager.html");
  EXPECT_TRUE(expected == output()) << first_difference(expected, output());
  EXPECT_TRUE(events().empty());
}

TEST_F(PagerTest, page_count_neighbours_and_selections_follow_the_state) {
  struct Case {
    Variant records, size, current;
    std::vector<std::string> expected;  // pieces the pager must write
    std::vector<std::string> absent;    // pieces it must not write
  } cases[] = {
      {40, 20, 2,
       {"name=\"lastPg\" type=\"hidden\" value=\"2\">", "name=\"totalRecord\" type=\"hidden\" value=\"2\">",
        "name=\"nextPg\" type=\"hidden\" value=\"3\">", "<OPTION  selected>2</OPTION>\r\n\t\t\t </SELECT>",
        "<OPTION selected value=20>"},
       {"<OPTION >3</OPTION>"}},
      {0, 20, 1,
       {"name=\"lastPg\" type=\"hidden\" value=\"0\">", "name=\"prevPg\" type=\"hidden\" value=\"0\">",
        " name=txtGoto>\r\n\t \t </SELECT> 页"},
       {"<OPTION >", "<OPTION  selected>"}},
      {"25", "12", "3",
       {"name=\"lastPg\" type=\"hidden\" value=\"3\">", "<OPTION  selected>3</OPTION>",
        "<OPTION value=10 >10</OPTION>", "<OPTION  value=15>"},
       {"selected value=", "value=10 selected"}},
      {1, 10, 1,
       {"name=\"lastPg\" type=\"hidden\" value=\"1\">", "<OPTION value=10 selected>10</OPTION>",
        "<OPTION  selected>1</OPTION>"},
       {"selected value="}},
      // Counted in whole numbers (801 / 80 leaves a remainder), but 80.4 is
      // not the size 80 of the list.
      {801, 80.4, 11,
       {"name=\"lastPg\" type=\"hidden\" value=\"11\">", "name=\"nextPg\" type=\"hidden\" value=\"12\">",
        "<OPTION  selected>11</OPTION>"},
       {"selected value="}},
  };
  for (Case& c : cases) {
    request.response.body().clear();
    page->recordcount = c.records;
    page->pagesize = c.size;
    page->currentpage = c.current;
    page->searchform();
    for (const std::string& piece : c.expected)
      EXPECT_NE(output().find(piece), std::string::npos) << describe(c.records) << " / " << describe(c.size) << ": " << piece;
    for (const std::string& piece : c.absent)
      EXPECT_EQ(output().find(piece), std::string::npos) << describe(c.records) << " / " << describe(c.size) << ": " << piece;
  }
  EXPECT_TRUE(events().empty());
}

TEST_F(PagerTest, sort_fields_and_search_condition_cannot_end_their_attribute) {
  page->pagesize = 10;
  page->sortcolumn = "x\" onfocus=\"alert(1)";
  page->sortdirection = "<script>";
  page->searchcondition = "name='a' and id>\"3\"";
  page->searchform();
  EXPECT_NE(output().find("value=\"x&quot; onfocus=&quot;alert(1)\">"), std::string::npos);
  EXPECT_NE(output().find("name=\"sortDirection\" type=\"hidden\" value=\"&lt;script&gt;\">"), std::string::npos);
  EXPECT_NE(output().find("value=\"name=&#39;a&#39; and id&gt;&quot;3&quot;\">"), std::string::npos);
}

TEST_F(PagerTest, page_size_zero_writes_only_the_trailer) {
  for (Variant size : {Variant(0), Variant(), Variant("0"), Variant(0.4)}) {
    request.response.body().clear();
    page->recordcount = 45;
    page->pagesize = size;
    page->searchform();
    EXPECT_EQ(output(), " Error Division by zero LINE0 Routine : tvwortqflowjiedia.searchform") << describe(size);
  }
  ASSERT_EQ(events().size(), 4u);
  EXPECT_EQ(events()[0], (std::pair<int, std::string>(1, " 11Division by zero LINE #0 Routine : tvwortqflowjiedia.searchform")));
}

}  // namespace
}  // namespace oapx1::testing
