// The full-window list frames of the flow and query lists: body tag, caption
// bar, title bar with the toolbar, a content area that follows the window
// width, and a message row that can carry the pager.
#include <string>

#include "host/page.h"
#include "layout/frame_parts.h"

namespace oapx1 {
namespace {

using layout::image_base;

// Both list frames draw exactly this; only the method named in a failure
// report differs.
void draw_list_frame(Page& page, Variant& caption, Variant& title, Variant& showpager) {
  // Read first, so a value that is no boolean fails before anything is drawn.
  const bool with_pager = !showpager.is_null() && showpager.to_bool();

  write_line(0, " <body scroll=no onresize=setmyIDWidth() >");
  write_line(0, R"( <TABLE class=View_table id=ViewMainTable cellSpacing=0 cellPadding=0 width="100%" border=0 >)");
  write_line(1, " <TBODY>");
  if (!caption.str().empty()) {
    write_line(1, " <TR vAlign=top>");
    write_line(1, R"( <TD vAlign=center width="100%" height=23>)");
    write_line(1, R"( <TABLE cellSpacing=0 height=23 cellPadding=0 width="100%" class=ViewBar border=0 background=)" +
                      image_base() + "imagesV10/bar.gif>");
    write_line(1, " <TBODY>");
    write_line(1, " <TR >");
    write_line(1, R"( <TD width=20 ><IMG height=12 style="margin-left:5px;margin-right:5px;margin-top:3px;" src=")" +
                      image_base() + R"(imagesV10/barlu.gif" ></TD>)");
    write_line(1, R"( <TD valign=center align=left nowrap ><p style="margin-top:4px;" >)" + caption.str() +
                      "</p></TD>");
    write_line(3, "</TR></TBODY></TABLE></TD></TR>");
  }
  write_line(1, " <TR vAlign=top>");
  write_line(1, R"( <TD width="100%" height="100%" style="PADDING-Top: 1px;">)");
  write_line(0,
             "<!------------------开始---------------------------->\t"
             R"( <TABLE class=com_layoutTable height="100%" cellSpacing=0 cellPadding=0 width="100%" align=center border=0>)");
  write_line(1, R"( <TBODY> <TR vAlign=top> <TD class=form_boxDis width="100%"> )");
  write_line(1, R"( <TABLE height="100%" cellSpacing=0 cellPadding=0 width="100%" border=0>)");
  write_line(1, " <TBODY>");
  write_line(1, " <TR vAlign=top>");
  write_line(1, R"( <TD width="100%"> )");
  write_line(1, R"( <TABLE cellSpacing=0 cellPadding=0 width="100%" border=0>)");
  write_line(1, " <TBODY>");
  write_line(1, " <TR vAlign=top>");
  if (!title.str().empty()) {
    write_line(6, R"( <TD style="BACKGROUND-REPEAT: repeat-x" background=)" + image_base() + "imagesV10/Title2.gif>");
    write_line(1, " <TABLE cellSpacing=0 cellPadding=0 width=100% border=0>");
    write_line(1, " <TBODY>");
    write_line(1, " <TR vAlign=top>");
    write_line(1, R"( <TD nowrap class=h32 style="BACKGROUND-REPEAT: no-repeat" width="100%" >)");
    write_line(1, R"( <P class=view style="margin-left:2px;margin-right:3px"><IMG class=menu_icon0 height=9 src=")" +
                      image_base() + R"(imagesV10/k7.gif" width=9 )");
    write_line(1, " align=absMiddle> " + title.str() + " </p></TD></TR></TBODY></TABLE></TD>");
    write_line(1, " <TD width=10><IMG height=21 ");
    write_line(1, R"( src=")" + image_base() + R"(imagesV10/Title3.gif" )");
    write_line(1, " width=16></TD>");
  }
  write_line(1, R"( <TD style="BACKGROUND-REPEAT: repeat-x" vAlign=bottom width="100%" background=)" + image_base() +
                    "imagesV10/Title4.gif >");
  write_line(1,
             R"( <TABLE cellSpacing=0 cellPadding=0 width="100%" style="margin-bottom:0px;margin-top:0px" border=0>)");
  write_line(1, " <TBODY>");
  write_line(1, " <TR vAlign=top>");
  write_line(1, " <TD vAlign=bottom >");
  write_line(1, R"( <TABLE cellSpacing=0 cellPadding=0 width="100%" border=0>)");
  write_line(1, " <TBODY>");
  write_line(1, " <TR vAlign=top>");
  write_line(1, R"( <TD vAlign=bottom width="100%" >)");
  write_line(1, R"( <TABLE cellSpacing=0 cellPadding=0 width="100%" style="margin-top:12px" border=0>)");
  write_line(1, " <TBODY>");
  write_line(1, " <TR vAlign=top>");
  write_line(1, R"( <TD vAlign=bottom width="100%" align=right>)");
  write_line(1, " <DIV align=right>");
  write_text(1, " ");
  page.winmenu();
  write_line(1, " </DIV></TD></TR></TBODY></TABLE></TD></TR></TBODY></TABLE>");
  write_line(1, " </TD>");
  write_line(1, R"( <TD vAlign=bottom width="15">&nbsp;</TD>)");
  write_line(1, " </TR></TBODY></TABLE></TD></TR></TBODY></TABLE></TD></TR>");
  write_line(5, "<TR vAlign=top>");
  write_line(5,
             R"( <TD width="100%" height="100%" style="PADDING-RIGHT: 4px;PADDING-left: 4px;PADDING-bottom: 4px;PADDING-Top: 4px;" >)");
  write_line(7,
             R"( <TABLE height="100%" class=viewMainWhite cellSpacing=0 cellPadding=0 width="100%" align=center border=0 style=" background-repeat: no-repeat;background-position: top right; " id=FunWinTDMain>)");
  write_line(7, "<TR vAlign=top>");
  write_line(7,
             R"( <TD width="100%"  style="PADDING-RIGHT: 4px;PADDING-left: 4px;PADDING-bottom: 4px;PADDING-Top: 4px;">)");
  write_line(7,
             R"( <div id=myIDWidth name=myIDWidth style="PADDING-RIGHT: 3px; PADDING-LEFT: 3px; PADDING-BOTTOM: 3px; OVERFLOW: auto; WORD-BREAK: break-all; PADDING-TOP: 3px; HEIGHT: 100%" >)");
  write_text(0, " ");
  write_text(8, "");
  page.showcontent();
  write_text(0, " ");
  write_line(8, "</Div>");
  write_text(0, " ");
  write_line(7, "</TD></TR>");
  write_line(5, " <script language=javascript>");
  write_line(5, " function setmyIDWidth()");
  write_line(5, " {");
  write_line(7, "myIDWidth.style.width =document.body.clientWidth-20;");
  write_line(7, R"~(//setTimeout("setmyIDWidth()", 100);)~");
  write_line(5, " }");
  write_line(5, " setmyIDWidth();");
  write_line(5, " </script>\t");
  write_line(7, "</TABLE>");
  write_line(5, " </TD></TR>");
  write_line(4, "<TR>");
  write_line(7, R"( <TD width="100%">)");
  write_line(9, R"(<TABLE height="100%" cellSpacing=0 cellPadding=0 width="100%" align=center border=0 valign=bottom>)");
  write_line(10, "<TR vAlign=center>");
  const std::string message = layout::frame_message(page.msg);
  write_text(11, R"(<TD id=msgDis name=msgDis style="padding-left:5px;" )");
  if (!message.empty()) {
    write_line(11, R"(height="27")");
    write_text(11, "");
  }
  write_line(11, "><font color=666666>" + message + "</font></TD>");
  if (with_pager) {
    write_text(11, R"(<TD vAlign=center style="padding-right:5px;" height="27"><DIV align=right>)");
    page.searchform();
    write_text(0, "</DIV></TD>");
  }
  write_line(11, "</TR>");
  write_line(9, " </TABLE>");
  write_line(7, " </TD></TR>");
  write_line(4, " </TBODY></TABLE><!------------------结束---------------------------->\t </TD></TR>");
  write_line(1, " </TBODY></TABLE></TD></TR></TBODY></TABLE>");
}

}  // namespace

void Page::funshowflow(Variant& caption, Variant& title, Variant& showpager, Variant& /*extra*/) {
  report_and_leave(__func__, [&] { draw_list_frame(*this, caption, title, showpager); });
}

void Page::funshowchaxun(Variant& caption, Variant& title, Variant& showpager, Variant& /*extra*/) {
  report_and_leave(__func__, [&] { draw_list_frame(*this, caption, title, showpager); });
}

}  // namespace oapx1
