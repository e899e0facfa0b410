// The window frames against hand-transcribed markup, the order of their
// callbacks, and their failures.
#include <functional>
#include <string>

#include "support/page_fixture.h"

namespace oapx1::testing {
namespace {

// A page whose callbacks write markers, so the frame's own markup and the
// order of the callbacks (content before toolbar in the dialog frames) show in
// the expected files.
class MarkerPage : public Page {
 public:
  void I_init() override {}
  void winmenu() override { response_object().write("[winmenu]"); }
  void showcontent() override { response_object().write("[showcontent]"); }
};

class FramesTest : public PageFixture<MarkerPage> {
 protected:
  void expect_frame(const std::string& file) {
    const std::string expected = read_source_file("tests/golden/frames/" + file);
    EXPECT_TRUE(expected == output()) << file << ": " << first_difference(expected, output());
    EXPECT_TRUE(events().empty()) << file;
  }
};

TEST_F(FramesTest, each_frame_writes_its_markup_around_the_callbacks) {
  struct Case {
    const char* file;
    const char* request_msg;  // the request item "msg", when set
    const char* page_msg;     // the page message
    std::function<void(Page&)> draw;
  } cases[] = {
      {"list_frame_full.html", "a<b&c", "<i>保存成功</i>",
       [](Page& p) {
         Variant caption = "待办<b>流程</b>", title = "流程列表", pager = true, extra = "x";
         p.currentpage = 2;
         p.pagesize = "20";
         p.recordcount = 45;
         p.sortcolumn = "名\"称";
         p.sortdirection = "desc";
         p.searchcondition = "a<b & 'c'";
         p.funshowflow(caption, title, pager, extra);
       }},
      {"list_frame_bare.html", nullptr, "",
       [](Page& p) {
         Variant caption = "", title, pager = Variant::null(), extra;
         p.funshowchaxun(caption, title, pager, extra);
       }},
      {"popwindow.html", nullptr, "",
       [](Page& p) {
         Variant title = "部门<选择>";
         p.popwindow(title);
       }},
      {"popwindownoscroll.html", nullptr, "",
       [](Page& p) {
         Variant title;
         p.popwindownoscroll(title);
       }},
      {"searchwindow.html", nullptr, "",
       [](Page& p) {
         Variant title = "查询";
         p.searchwindow(title);
       }},
      {"funshowtitle.html", nullptr, "",
       [](Page& p) {
         Variant title = "<b>标题</b>";
         p.funshowtitle(title);
       }},
      {"fulledit.html", nullptr, "", [](Page& p) { p.fulledit(); }},
      {"fulledit_message.html", "\"已保存\"", "", [](Page& p) { p.fulledit(); }},
      {"winxinwentype.html", "不显示", "也不显示", [](Page& p) { p.winxinwentype(); }},
      {"messagebox.html", nullptr, "",
       [](Page& p) {
         Variant message = "确定删除<b>吗</b>？";
         EXPECT_EQ(describe(p.messagebox(message)), "empty");
       }},
  };
  for (const Case& c : cases) {
    request.response.body().clear();
    request.request = MemoryRequest();
    if (c.request_msg) request.request.add_query("msg", c.request_msg);
    page = std::make_unique<MarkerPage>();
    page->msg = c.page_msg;
    c.draw(*page);
    expect_frame(c.file);
  }
}

TEST_F(FramesTest, list_frames_are_one_frame_and_call_the_pager_only_when_asked) {
  const auto draw = [&](bool chaxun, Variant pager) {
    request.response.body().clear();
    Variant caption = "c", title = "t", extra = "ignored";
    page->pagesize = 10;
    page->recordcount = 3;
    page->currentpage = 1;
    if (chaxun) {
      page->funshowchaxun(caption, title, pager, extra);
    } else {
      extra = Variant::null();
      page->funshowflow(caption, title, pager, extra);
    }
    return output();
  };
  const std::string flow = draw(false, true);
  EXPECT_EQ(draw(true, true), flow);
  EXPECT_NE(flow.find("<DIV align=right>\t<TABLE cellSpacing=0 cellPadding=0 border=0>\r\n"), std::string::npos);
  EXPECT_LT(flow.find("[winmenu]"), flow.find("[showcontent]"));
  EXPECT_LT(flow.find("[showcontent]"), flow.find("name=\"currentPg\""));
  for (Variant off : {Variant(false), Variant(), Variant::null(), Variant(0), Variant("False")}) {
    const std::string without = draw(false, off);
    EXPECT_EQ(without.find("currentPg"), std::string::npos) << describe(off);
    EXPECT_NE(without.find("</font></TD>\r\n\t\t\t\t\t\t\t\t\t\t\t</TR>\r\n"), std::string::npos);
  }
  EXPECT_TRUE(events().empty());
}

TEST_F(FramesTest, a_frame_that_fails_writes_its_trailer_and_the_page_goes_on) {
  // A pager flag that is no boolean fails before the frame writes anything.
  Variant caption = "c", title = "t", pager = "ja", extra;
  page->funshowflow(caption, title, pager, extra);
  EXPECT_EQ(output(), " Error Type mismatch LINE0 Routine : tvwortqflowjiedia.funshowflow");
  ASSERT_EQ(events().size(), 1u);

  // A pager that fails inside the frame leaves its own trailer in the pager
  // cell; the frame is finished.
  request.response.body().clear();
  pager = true;
  page->pagesize = 0;
  page->funshowchaxun(caption, title, pager, extra);
  EXPECT_NE(output().find("<DIV align=right> Error Division by zero LINE0 Routine : tvwortqflowjiedia.searchform</DIV></TD>"),
            std::string::npos);
  EXPECT_TRUE(output().ends_with(" </TBODY></TABLE></TD></TR></TBODY></TABLE>\r\n"));
  ASSERT_EQ(events().size(), 2u);
  EXPECT_EQ(events()[1].second, " 11Division by zero LINE #0 Routine : tvwortqflowjiedia.searchform");
}

}  // namespace
}  // namespace oapx1::testing
