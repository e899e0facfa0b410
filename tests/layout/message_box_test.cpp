// The print button: the query of its seven values and what is escaped in it.
#include <string>

#include "support/page_fixture.h"

namespace oapx1::testing {
namespace {

using PrintFormTest = PageFixture<>;

TEST_F(PrintFormTest, writes_one_button_whose_arguments_cannot_end_the_script_or_the_attribute) {
  struct Case {
    Variant sql, title, each, width, columns, widths, bottom;
    const char* query;
  } cases[] = {
      {"", "", "", "", "", "", "", "SQL=&Title=&BottomInfo=&EachPageNum=&PageWidth=&TitleColumn=&ColumnWidth="},
      {Variant(), Variant::null(), Variant(), Variant(), Variant(), Variant(), Variant::null(),
       "SQL=&Title=&BottomInfo=&EachPageNum=&PageWidth=&TitleColumn=&ColumnWidth="},
      {"select * from t where a='x'", "O'Neil's \"report\"", 20, 600, "名称,日期", "100,80", "第 1 页 & <b>",
       "SQL=select * from t where a=\\'x\\'&Title=O\\'Neil\\'s &quot;report&quot;&BottomInfo=第 1 页 & <b>"
       "&EachPageNum=20&PageWidth=600&TitleColumn=名称,日期&ColumnWidth=100,80"},
      {"\"');alert(1);//", "", "", "", "", "", "",
       "SQL=&quot;\\');alert(1);//&Title=&BottomInfo=&EachPageNum=&PageWidth=&TitleColumn=&ColumnWidth="},
  };
  for (Case& c : cases) {
    request.response.body().clear();
    page->printform(c.sql, c.title, c.each, c.width, c.columns, c.widths, c.bottom);
    EXPECT_EQ(output(),
              std::string(" <input type=\"button\" class=\"bttn\" value=\"打印\" name=\"add\" "
                          "onclick=\"window.open('../../include/dialog/PrintDlg.asp?") +
                  c.query + "','print','width=30,height=20,scrollbars=0,resizable=0,top=1150,left=350');\">\r\n");
  }
  EXPECT_TRUE(events().empty());
}

}  // namespace
}  // namespace oapx1::testing
