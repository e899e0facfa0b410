// The dialog, search and full-window editor frames, and the caption bar alone.
#include <string>
#include <string_view>

#include "host/page.h"
#include "layout/frame_parts.h"

namespace oapx1 {
namespace {

using layout::image_base;
using layout::system_url;

// The caption bar rows: the bar's cell and table (the frames differ in its
// height and attributes), the icon, then `title` as given.
void write_caption(const Variant& title, std::string_view cell, std::string_view table, std::string_view icon) {
  write_line(1, " <TR vAlign=top>");
  write_line(1, cell);
  write_line(1, std::string(table) + image_base() + "imagesV10/bar.gif>");
  write_line(1, " <TBODY>");
  write_line(1, " <TR vAlign=top>");
  write_line(1, std::string(icon) + R"(style="margin-left:10px;margin-right:8px;margin-top:4px;" src=")" +
                    image_base() + R"(imagesV10/barlu.gif" ></TD>)");
  write_line(1, " <TD valign=center align=left nowrap >");
  write_line(1, R"( <P style="margin-right:20px;margin-top:1px;">)" + title.str() + "</p></TD>");
  write_line(3, "</TR></TBODY></TABLE></TD></TR>");
}

constexpr std::string_view kCaptionCell23 = R"( <TD vAlign=center width="100%" height=23>)";
constexpr std::string_view kCaptionTable23 =
    R"( <TABLE cellSpacing=0 height=23 cellPadding=0 width="100%" class=ViewBar border=0 background=)";
constexpr std::string_view kIcon = " <TD width=25 ><IMG ";
constexpr std::string_view kIcon12 = " <TD width=25 ><IMG height=12 ";

// The dialog frame; without `scroll` there is no background style and the
// content sits directly in its cell. Content first, toolbar row below it.
void draw_dialog(Page& page, const Variant& title, bool scroll) {
  if (scroll) {
    write_line(0, "<style>");
    write_line(0, "body{");
    write_line(0, "background-color:C2D9F9;");
    write_line(0, "}");
    write_line(0, "</style>");
  }
  write_line(0, R"(<TABLE height="100%" cellSpacing=0 cellPadding=0 width="100%" border=0>)");
  write_line(0, " <TBODY>");
  write_caption(title, kCaptionCell23, kCaptionTable23, kIcon);
  write_line(0, " <TR vAlign=top >");
  write_line(0, " <TD height=2 ></TD></TR>");
  write_line(0, " <TR >");
  write_line(0, R"( <TD width="98%" height="100%" valign=top align=center >)");
  if (scroll) {
    write_line(0,
               R"(  <div id=myIDWidth name=myIDWidth style="PADDING-RIGHT: 3px; PADDING-LEFT: 3px; PADDING-BOTTOM: 3px; OVERFLOW: auto; WORD-BREAK: break-all; PADDING-TOP: 3px; HEIGHT: 100%" >)");
    write_text(0, " ");
    page.showcontent();
    write_line(0, " </div>");
    write_line(0, " </TD></TR>");
  } else {
    write_text(0, " ");
    page.showcontent();
    write_line(0, " </TD></TR>");
  }
  write_line(0, " <TR vAlign=top >");
  write_line(0, " <TD height=5 ></TD></TR>");
  write_line(0, "<TR vAlign=top>");
  write_line(0, R"( <TD class=Dia_line width="100%" background=")" + image_base() +
                    R"(imagesV10/LineBg.gif"></TD></TR> )");
  write_line(0, " <TR vAlign=top>");
  write_line(0, R"( <TD vAlign=center width="100%" height=40 >)");
  write_line(2, "<TABLE WIDTH=100% BORDER=0 CELLSPACING=0 CELLPADDING=0>");
  write_line(3, "<TR>");
  write_text(4, "<TD align=right>");
  page.winmenu();
  write_line(0, "</TD>");
  write_line(4, "<TD width=10>&nbsp;</TD>");
  write_line(3, "</TR>");
  write_line(2, "</TABLE>");
  write_line(0, " </DIV></TD></TR></TBODY></TABLE>");
}

// The full-window editor frames: `xinwen` draws the grey variant with its own
// toolbar icon, a width script filling the window and no message row.
void draw_editor(Page& page, bool xinwen) {
  const auto line = [](std::string_view text) { write_line(0, text); };
  line(" <body scroll=no onresize=setmyIDWidth() >");
  if (xinwen) {
    line("<style>");
    line("body{");
    line("background-color:f3f3f3;");
    line("}");
    line("</style>");
    line(R"( <TABLE height="100%" cellSpacing=0 cellPadding=0 width="100%" align=center border=0 >)");
  } else {
    line(R"(<TABLE height="100%" cellSpacing=0 cellPadding=0 width="100%" align=center border=0>)");
  }
  line(" <TR vAlign=top>");
  line(std::string(xinwen ? R"( <TD vAlign=center width="100%" background=")"
                          : R"( <TD class=com_top vAlign=center width="100%" background=")") +
       system_url() + R"(images/btn_bg.gif" height=28>)");
  line(xinwen ? " <TABLE cellSpacing=0 cellPadding=0 border=0 height=28 >" : " <TABLE cellSpacing=0 cellPadding=0 border=0>");
  line(" <TBODY>");
  line(xinwen ? " <TR vAlign=top height=28>" : " <TR vAlign=top>");
  line(" <TD vAlign=center width=20><IMG ");
  line(R"( src=")" + system_url() + R"(images/topMenuLeft.gif" ></TD>)");
  line(xinwen ? " <TD vAlign=center width=341>" : " <TD vAlign=bottom width=400>");
  line(" </TD>");
  line(" <TD vAlign=center width=20>");
  line(R"( <DIV align=center><img src=")" + system_url() +
       (xinwen ? "include/imagesV10/toolbar_group.gif" : "include/imagesV10/group.gif") + R"(" height=14 ></DIV></TD>)");
  line(xinwen ? " <TD vAlign=center width=291>" : " <TD vAlign=bottom width=291>");
  if (xinwen) {
    line(" </TD></TR></TBODY>");
  } else {
    line(" </TD></TR>");
    line(" </TBODY>");
  }
  line(" </TABLE>");
  line(" </TD>");
  line("</TR>");
  line(" <TR vAlign=top>");
  line(xinwen ? R"( <TD height=100% valign=top width="100%">)"
              : R"( <TD height=100% valign=top width="100%" style="PADDING-TOP: 5px;PADDING-Left: 5px;PADDING-right: 10px;PADDING-bottom: 0px;">)");
  line(R"( <div id=myIDWidth name=myIDWidth style="PADDING-RIGHT: 3px; PADDING-LEFT: 3px; PADDING-BOTTOM: 3px; OVERFLOW: auto; WORD-BREAK: break-all; PADDING-TOP: 3px; HEIGHT: 100%" >)");
  write_text(0, " ");
  page.showcontent();
  line(" </DIV>");
  line(" </TD></TR>");
  if (xinwen) line(" </TABLE>");
  line(xinwen ? "<script language=javascript>" : " <script language=javascript>");
  line("function setmyIDWidth()");
  line("{");
  line(xinwen ? "myIDWidth.style.width =document.body.clientWidth;" : "myIDWidth.style.width =document.body.clientWidth-5;");
  line(R"~(//setTimeout("setmyIDWidth()", 100);)~");
  line("}");
  line("setmyIDWidth();");
  line("</script>");
  if (xinwen) return;
  const std::string message = layout::frame_message(page.msg);
  if (!message.empty()) {
    line("<TR>");
    line(R"( <TD width="100%" height="21">)");
    line(R"( <TABLE cellSpacing=0 cellPadding=0 width="96%" align=center border=0 valign=bottom>)");
    line("<TR vAlign=bottom>");
    line(R"( <TD width="100%" id=msgDis name=msgDis>)");
    line(" <font color=666666>" + message + "</font>");
    line("</TD></TR></TABLE>");
    line(" </TD></TR>");
  }
  line(" </TABLE>");
}

}  // namespace

void Page::popwindow(Variant& title) {
  report_and_leave(__func__, [&] { draw_dialog(*this, title, true); });
}

void Page::popwindownoscroll(Variant& title) {
  report_and_leave(__func__, [&] { draw_dialog(*this, title, false); });
}

void Page::searchwindow(Variant& title) {
  report_and_leave(__func__, [&] {
    write_line(0, R"(<TABLE height="100%" cellSpacing=0 cellPadding=0 width="100%" border=0>)");
    write_line(0, " <TBODY>");
    write_caption(title, R"( <TD vAlign=center width="100%" height=24>)",
                  R"( <TABLE cellSpacing=0 height=22 cellPadding=0 width="100%" style="margin-top:1px;" border=0 background=)",
                  kIcon12);
    write_line(0, " <TR vAlign=top height=2>");
    write_line(0, R"( <TD width="100%" >)");
    write_line(0, " </TD></TR>");
    write_line(0, " <TR vAlign=top>");
    write_line(0,
               R"( <TD width="100%" height="100%"style="margin-left:10px;margin-right:8px;margin-top:0px;" >)");
    write_text(0, " ");
    showcontent();
    write_line(0, " </TD></TR>");
    write_line(0, "</TBODY></TABLE>");
  });
}

void Page::funshowtitle(Variant& title) {
  report_and_leave(__func__, [&] {
    write_line(1, R"( <TABLE cellSpacing=0 cellPadding=0 width="100%" border=0 height=22>)");
    write_line(1, " <TBODY>");
    write_caption(title, kCaptionCell23, kCaptionTable23, kIcon12);
    write_line(1, " </TBODY></TABLE>");
  });
}

void Page::fulledit() {
  report_and_leave(__func__, [&] { draw_editor(*this, false); });
}

void Page::winxinwentype() {
  report_and_leave(__func__, [&] { draw_editor(*this, true); });
}

}  // namespace oapx1
