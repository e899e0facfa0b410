// The pager of a list page: hidden fields with the paging state, the record
// count, a page jump list, a page size list and four navigation buttons. The
// list page's scripts do the paging; this only writes the markup.
#include <cmath>
#include <cstdint>
#include <string>

#include "host/page.h"
#include "layout/frame_parts.h"
#include "platform/script/script.h"
#include "platform/script/script_error.h"

namespace oapx1 {
namespace {

using layout::image_base;

// The page number `delta` away from `page`, as the platform adds a number to a
// value: null stays null, whole results stay whole.
Variant page_offset(const Variant& page, int delta) {
  if (page.is_null()) return Variant::null();
  if (page.type() == Variant::Type::kInteger) return Variant(page.integer() + delta);
  const double sum = page.to_double() + delta;
  if (sum == std::trunc(sum) && std::fabs(sum) < 9e15) return Variant(static_cast<int64_t>(sum));
  return Variant(sum);
}

}  // namespace

void Page::searchform() {
  report_and_leave(__func__, [&] {
    // Everything derived is computed before the first write, so a paging state
    // that cannot be read (a page size of 0 above all) leaves only the trailer.
    const int64_t records = recordcount.to_integer();
    const int64_t size = pagesize.to_integer();
    if (size == 0) throw ScriptError(err::kDivisionByZero, "Division by zero");
    const int64_t pages = records / size + (records % size > 0 ? 1 : 0);
    const std::string last = std::to_string(pages);
    const std::string current = html_encode(currentpage.str());
    const std::string previous = html_encode(page_offset(currentpage, -1).str());
    const std::string next = html_encode(page_offset(currentpage, 1).str());

    write_line(1, "<TABLE cellSpacing=0 cellPadding=0 border=0>");
    write_line(2, R"(<input name="start" type="hidden" value=")" + current + R"(">)");
    write_line(2, R"(<input name="currentPg" type="hidden" value=")" + current + R"(">)");
    write_line(2, R"(<input name="lastPg" type="hidden" value=")" + last + R"(">)");
    write_line(2, R"(<input name="prevPg" type="hidden" value=")" + previous + R"(">)");
    write_line(2, R"(<input name="nextPg" type="hidden" value=")" + next + R"(">)");
    write_line(2, R"(<input name="totalRecord" type="hidden" value=")" + last + R"(">)");
    // The sort fields and the search condition usually carry what the user
    // typed; they stand in attributes and are encoded.
    write_line(2, R"(<input name="sortColumn" type="hidden" value=")" + html_encode(sortcolumn.str()) + R"(">)");
    write_line(2, R"(<input name="sortDirection" type="hidden" value=")" + html_encode(sortdirection.str()) +
                      R"(">)");
    write_line(2, R"(<input name="foundRec" type="hidden">)");
    write_line(2, R"(<input name="btnAction" type="hidden">)");
    write_line(2, R"(<input name="searchcondation" type="hidden" value=")" + html_encode(searchcondition.str()) +
                      R"(">)");
    write_line(1, "<TBODY>");
    write_line(1, "<TR vAlign=top>");
    write_line(1, R"( <TD id=PageInfo vAlign=bottom ><IMG height=1 alt="" src=")" + image_base() +
                      R"(imagesV10/ecblank.gif" width=1 border=0></TD>)");
    write_line(1, " <TD id=ddd ><nobr>共有：<font color=red>&nbsp;" + html_encode(recordcount.str()) +
                      "</font>&nbsp;条记录，\t \t 转到第 <SELECT class=page ");
    write_line(1, R"( onchange="return validateGotoS(searchform);" name=txtGoto>)");
    write_text(1, " ");
    for (int64_t n = 1; n <= pages; ++n) {
      const bool selected = script_equal(Variant(n), currentpage);
      write_text(3, std::string("<OPTION ") + (selected ? " selected" : "") + ">" + std::to_string(n) +
                        "</OPTION>\r\n");
      write_text(2, "");
    }
    write_line(1, " </SELECT> 页 每页显示 <SELECT class=page ");
    write_line(1, " onchange=changePagecount(searchform); name=MaxRowPerPage> ");
    const auto is_size = [&](int64_t v) { return script_equal(pagesize, Variant(v)); };
    write_line(1, std::string(" <OPTION value=10 ") + (is_size(10) ? "selected" : "") + ">10</OPTION>");
    for (int64_t v : {15, 20, 25, 30, 35, 40, 50, 60, 70, 80}) {
      const std::string n = std::to_string(v);
      write_line(1, std::string(" <OPTION ") + (is_size(v) ? "selected" : "") + " value=" + n + ">" + n +
                        "</OPTION>");
    }
    write_line(1, " </SELECT> 条</nobr> ");
    write_line(1, " \t </TD>");
    write_line(1, " <TD width=50>&nbsp;</TD>");
    write_line(1, " \t <TD width=20>");
    write_line(1, R"( <TABLE cellSpacing=0 cellPadding=0 width="100%" border=0>)");
    write_line(1, " <TBODY>");
    write_line(1, " <TR vAlign=top>");
    write_line(1, R"( <TD vAlign=center width="26%">)");
    write_line(1, R"( <IMG class=icon0 id=ImgFirstPage style="MARGIN-LEFT: 4px" onclick="return gotoFirst(searchform);" height=20 alt=第一页 )");
    write_line(1, R"( src=")" + image_base() + R"(imagesV10/first.gif" )");
    write_line(1, " width=55></TD>");
    write_line(1, R"( <TD vAlign=center width="25%"><IMG class=icon0 )");
    write_line(1, R"~( id=ImgPrePage onclick="return gotoPrev(searchform)" height=20 alt=上一页 )~");
    write_line(1, R"( src=")" + image_base() + R"(imagesV10/prev.gif" )");
    write_line(1, " width=55></TD>");
    write_line(1, R"( <TD vAlign=center width="25%"><IMG class=icon0 )");
    write_line(1, R"~( id=ImgNextPage onclick="return gotoNext(searchform)" height=20 )~");
    write_line(1, " alt=下一页 ");
    write_line(1, R"( src=")" + image_base() + R"(imagesV10/next.gif" )");
    write_line(1, " width=55></TD>");
    write_line(1, R"( <TD vAlign=center width="25%"><IMG class=icon0 )");
    write_line(1, R"~( id=ImgLastPage onclick="return gotoLast(searchform)" height=20 )~");
    write_line(1, " alt=最末页 ");
    write_line(1, R"( src=")" + image_base() + R"(imagesV10/last.gif" )");
    write_line(1, " width=55></TD></TR></TBODY></TABLE></TD>");
    write_line(1, " \t </TR></TBODY></TABLE>");
    write_text(3, "");
  });
}

}  // namespace oapx1
