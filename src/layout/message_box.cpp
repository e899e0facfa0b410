// The notice box around a message, and the print button that opens the print
// dialog page with a report's parameters.
#include <string>

#include "host/page.h"
#include "platform/script/script.h"

namespace oapx1 {

Variant Page::messagebox(Variant& message) {
  return reported(__func__, [&](Variant&) {
    write_line(0, R"( <p align="center">)");
    write_line(0, " <TABLE cellSpacing=0 cellPadding=0 width=230>");
    write_line(0, " <TR>");
    write_line(0, " <TD align=middle>");
    write_line(0, " <TABLE cellSpacing=0 cellPadding=0 width=308 bgColor=#4867AE>");
    write_line(0, " <TBODY>");
    write_line(0, " <TR>");
    write_line(0, R"( <TD height=2 width="89">)");
    write_line(0, " <p align=\"center\">\u3000</TD>");
    write_line(0, R"( <TD height=20 width="215">)");
    write_line(0, " <DIV align=left><font color=#ffffff>系统提示</font></DIV></TD></TR></TBODY></TABLE>");
    write_line(0, R"( <div align="center">)");
    write_line(0, " <center>");
    write_line(0, R"( <TABLE cellSpacing=1 cellPadding=4 width=306 bgColor=#4867AE height="100">)");
    write_line(0, " <TBODY>");
    write_line(0, " <TR vAlign=top bgColor=#EFF7FF>");
    write_line(0, R"( <TD class=main1 width="292" height="53">)");
    write_line(0, R"( <p align="center"><br>)" + message.str() + "</p> </p> </TD></TR>");
    write_line(0, " </TBODY></TABLE>");
    write_line(0, " </center>");
    write_line(0, " </div>");
    write_line(0, " <TABLE cellSpacing=0 cellPadding=0 width=307 bgColor=#6d8e4d>");
    write_line(0, " <TBODY>");
    write_line(0, " <TR>");
    write_line(0, " <TD width=119 height=2></TD>");
    write_line(0, " <TD width=206 height=2>");
    write_text(0, " <DIV align=right></DIV></TD></TR></TBODY></TABLE></TD></TR></TABLE></p>");
  });
}

void Page::printform(Variant& querysql, Variant& title, Variant& eachpagenum, Variant& pagewidth,
                     Variant& titlecolumn, Variant& columnwidth, Variant& bottominfo) {
  report_and_leave(__func__, [&] {
    std::string query = "SQL=" + querysql.str() + "&Title=" + title.str() + "&BottomInfo=" + bottominfo.str() +
                        "&EachPageNum=" + eachpagenum.str() + "&PageWidth=" + pagewidth.str() +
                        "&TitleColumn=" + titlecolumn.str() + "&ColumnWidth=" + columnwidth.str();
    // The query stands in a single-quoted script string inside a double-quoted
    // attribute: apostrophes are escaped for the one, double quotes for the
    // other, so no argument can end either.
    query = vb::Replace(query, "'", "\\'");
    query = vb::Replace(query, "\"", "&quot;");
    write_line(0, R"( <input type="button" class="bttn" value="打印" name="add" onclick="window.open('../../include/dialog/PrintDlg.asp?)" +
                      query + R"(','print','width=30,height=20,scrollbars=0,resizable=0,top=1150,left=350');">)");
  });
}

}  // namespace oapx1
