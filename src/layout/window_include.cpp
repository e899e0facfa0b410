// The window include: its head block and the pop-up window frame drawn around
// a page's toolbar and content.
#include <string>
#include <string_view>

#include "host/page.h"
#include "layout/frame_parts.h"
#include "platform/script/script.h"

namespace oapx1 {
namespace layout {

std::string system_url() { return session_object().item("SystemURL").str(); }

std::string image_base() { return system_url() + "/Include/"; }

std::string frame_message(const Variant& page_msg) {
  return html_encode(request_object().item("msg").str()) + page_msg.str();
}

}  // namespace layout

using layout::image_base;

void Page::tvincfunctionwindI_init() {
  initialiser(__func__, [&] {
    Response& out = response_object();
    write_line(0, R"(<meta http-equiv="Content-Type" content="text/html; charset=gb2312">)");
    out.write(R"(<LINK href=")");
    out.write(session_object().item("SystemURL").str() + "Include/");
    write_line(0, R"(imagesV10/CSSForV10.css" type=text/css rel=stylesheet>)");
    out.write(R"(<script language="JavaScript" src=")");
    out.write(session_object().item("SystemURL").str() + "Include/");
    write_line(0, R"(js/orderby.js"></script>)");
    write_line(0, "<STYLE>");
    write_line(0, "thead .arrow\t\t{font-family: webdings; color: black; }");
    write_line(0, "}");
    write_line(0, "</STYLE>");
    out.write("");
  });
}

void Page::showpopwindow(Variant& title) {
  report_and_leave(__func__, [&] {
    write_line(0, R"( <TABLE height="100%" cellSpacing=0 cellPadding=0 width="100%" align=center border=0>)");
    write_line(0, " <TR vAlign=top>");
    write_line(0, R"( <TD class=form_box width="100%" bgColor=#ffffff>)");
    write_line(0, R"( <TABLE height="100%" cellSpacing=0 cellPadding=0 width="100%" border=0>)");
    write_line(0, " <TR vAlign=top>");
    write_line(0, R"( <TD width="100%">)");
    write_line(8, R"(<TABLE cellSpacing=0 cellPadding=0 width="100%" border=0>)");
    write_line(10, "<TR vAlign=top>");
    // The image folder is looked up once and written between the pieces of
    // each line, not joined into a new text per line.
    const std::string images = image_base();
    write_text(10, R"( <TD style="BACKGROUND-REPEAT: repeat-x" background=)");
    write_text(0, images);
    write_line(0, "imagesV10/Title2.gif>");
    write_line(10, " <TABLE cellSpacing=0 cellPadding=0 width=100% border=0>");
    write_line(10, " <TBODY>");
    write_line(10, " <TR vAlign=top>");
    write_line(10, R"( <TD nowrap class=h32 style="BACKGROUND-REPEAT: no-repeat" width="100%" >)");
    write_text(10, R"( <P class=view style="margin-left:5px;margin-right:10px"><IMG class=menu_icon0 height=9 src=")");
    write_text(0, images);
    write_line(0, R"(imagesV10/k7.gif" width=9 )");
    write_text(10, " align=absMiddle>");
    if (title.is_text()) {
      write_text(0, title.text());
    } else {
      write_text(0, title.str());
    }
    write_line(0, "</p></TD></TR></TBODY></TABLE></TD>");
    write_line(10, " <TD width=10><IMG height=21 ");
    write_text(10, R"( src=")");
    write_text(0, images);
    write_line(0, R"(imagesV10/Title3.gif" )");
    write_line(10, " width=16></TD>");
    write_text(10, R"( <TD style="BACKGROUND-REPEAT: repeat-x" vAlign=bottom width="100%" background=)");
    write_text(0, images);
    write_line(0, "imagesV10/Title4.gif >");
    write_line(13,
         R"( <TABLE cellSpacing=0 cellPadding=0 width="100%" style="margin-bottom:3px;margin-top:3px" border=0>)");
    write_line(13, " <TBODY>");
    write_line(13, " <TR vAlign=top>");
    write_line(13, " <TD vAlign=bottom >");
    write_line(13, R"( <TABLE cellSpacing=0 cellPadding=0 width="100%" border=0>)");
    write_line(13, " <TBODY>");
    write_line(13, " <TR vAlign=top>");
    write_line(13, R"( <TD vAlign=bottom width="100%" height=28>)");
    write_line(13, R"( <TABLE cellSpacing=0 cellPadding=0 width="100%" border=0>)");
    write_line(13, " <TBODY>");
    write_line(13, " <TR vAlign=top>");
    write_line(13, R"( <TD vAlign=bottom width="100%" height=28 align=right>)");
    write_line(13, " <DIV align=right>");
    write_text(13, " ");
    winmenu();
    write_line(13, " </DIV></TD></TR></TBODY></TABLE>");
    write_line(13, " </TD></TR></TBODY>");
    write_line(13, " </TABLE>");
    write_line(13, " </TD>");
    write_line(13, R"( <TD vAlign=bottom width="15">&nbsp;</TD>)");
    write_line(13, " </TR></TBODY>");
    write_line(13, " </TABLE> ");
    write_line(8, " </TD></TR>");
    write_line(8, " </TABLE>");
    write_line(0, " </TD></TR>");
    write_line(0, " <TR vAlign=top>");
    write_line(0, R"( <TD width="100%" height="100%">)");
    write_line(8,
         R"(<TABLE class=view_MapList height="100%" cellSpacing=0 cellPadding=0 width="96%" align=center border=0>)");
    write_line(8, " <TR vAlign=top>");
    write_line(8, R"( <TD width="100%" >)");
    write_text(0, " ");
    write_text(8, " ");
    showcontent();
    write_text(0, " ");
    write_line(8, " </TD></TR>");
    write_line(8, " </TABLE>");
    write_line(0, " </TD></TR>");
    write_line(2, "<TR>");
    write_line(2, R"( <TD width="100%" height="21">)");
    write_line(4, R"( <TABLE cellSpacing=0 cellPadding=0 width="96%" align=center border=0 valign=bottom>)");
    write_line(4, "<TR vAlign=bottom>");
    write_line(4, R"( <TD width="100%" id=msgDis name=msgDis>)");
    const std::string message = layout::frame_message(msg);
    write_text(4, " <font color=666666>");
    write_text(0, message);
    write_line(0, "</font>");
    write_line(4, "</TD></TR></TABLE>");
    write_line(2, " </TD></TR>");
    write_line(0, " </TABLE>");
    write_line(0, " </TD></TR>");
    write_line(0, " </TABLE>");
  });
}

}  // namespace oapx1
