#include "editing/history_page.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "editing/node_history.h"
#include "editing/posted_values.h"
#include "platform/script/script.h"
#include "platform/web/intrinsics.h"
#include "util/ids_and_lists.h"

namespace oapx1 {

namespace {

// The most pages a link may ask for: far past any history, and no overflow.
constexpr int64_t kMostPages = 1000000;

// The page of the history the query asks for: `page`, from 1; 1 when it
// names none.
int64_t asked_page(const Variant& item) {
  const std::optional<int64_t> page = whole_number(item.str());
  return page && *page >= 1 ? std::min(*page, kMostPages) : 1;
}

}  // namespace

void NodeHistoryPage::I_init() {
  bind_request_context();
  initialiser(__func__, [&] {
    tvdb_connI_init();
    tvtvfunctionI_init();
    tvincfunctionuserI_init();
    if (script_equal(session_object().item("UserName"), "")) return;
    const std::string id = request_object().item("OAID").str();
    const std::optional<int64_t> node = whole_number(id);
    const bool numeric = node.has_value();
    // One page of lines is read, and one more to tell whether older ones follow.
    const int64_t page = asked_page(request_object().item("page"));
    std::vector<NodeHistoryEntry> entries =
        numeric ? read_history(conn, *node, kHistoryPageLines + 1, (page - 1) * kHistoryPageLines)
                : std::vector<NodeHistoryEntry>{};
    const bool older = entries.size() > static_cast<size_t>(kHistoryPageLines);
    if (older) entries.pop_back();
    std::string node_name;
    if (numeric) {
      Variant table = "OA_Flow_Model_JieDian", column = "JieDianName", key_column = "OAID", key = id;
      node_name = getnamefromid(table, column, key_column, key).str();
    }
    const std::string css = session_object().item("SystemURL").str() + "Include/imagesV10/CSSForV10.css";
    Response& out = response_object();
    out.write("<!DOCTYPE html>\r\n<html lang=\"zh-CN\">\r\n<head>\r\n");
    out.write("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">\r\n");
    out.write("<title>修改记录 - " + html_encode(node_name) + "</title>\r\n");
    out.write("<link href=\"" + html_encode(css) + "\" type=\"text/css\" rel=\"stylesheet\">\r\n");
    out.write("<style>body{margin:0;font:12px sans-serif}h1{font-size:14px;margin:8px}"
              "table{width:100%;border-collapse:collapse}th,td{padding:4px 6px;border-bottom:1px solid #E4E4E0;"
              "text-align:left;vertical-align:top}th{background:#E4E4E0}.refused{color:#c00}"
              "ul{margin:0;padding-left:16px}</style>\r\n</head>\r\n<body>\r\n");
    out.write("<h1>流程节点修改记录：" + html_encode(node_name) + "</h1>\r\n");
    out.write("<table id=\"history\">\r\n<thead><tr><th>时间</th><th>修改人</th><th>地址</th><th>结果</th>"
              "<th>修改内容（原值 → 新值）</th></tr></thead>\r\n<tbody>\r\n");
    if (entries.empty()) out.write("<tr><td colspan=\"5\">没有修改记录。</td></tr>\r\n");
    for (const NodeHistoryEntry& e : entries) {
      const bool saved = !is_refusal(e.outcome);
      out.write("<tr" + std::string(saved ? "" : " class=\"refused\"") + "><td>" + html_encode(e.when) +
                "</td><td>" + html_encode(e.name) + "（" + html_encode(e.account) + "）</td><td>" +
                html_encode(e.address) + "</td><td>" + html_encode(outcome_text(e.outcome)) + "</td><td>");
      if (!saved && !e.remark.empty()) out.write(html_encode(e.remark));
      out.write("<ul>");
      for (const ColumnChange& c : e.changes) {
        out.write("<li>" + html_encode(column_caption(c.column)) + "：" +
                  html_encode(display_value(conn, c.column, c.before)) + " → " +
                  html_encode(display_value(conn, c.column, c.after)) + "</li>");
      }
      out.write("</ul></td></tr>\r\n");
    }
    out.write("</tbody>\r\n</table>\r\n");
    if (numeric && (page > 1 || older)) {
      const std::string link = "jiedianhistory.asp?OAID=" + std::to_string(*node) + "&amp;page=";
      out.write("<p id=\"pages\">");
      if (page > 1) out.write("<a href=\"" + link + std::to_string(page - 1) + "\">较新的记录</a> ");
      out.write("第 " + std::to_string(page) + " 页");
      if (older) out.write(" <a href=\"" + link + std::to_string(page + 1) + "\">较早的记录</a>");
      out.write("</p>\r\n");
    }
    out.write("</body>\r\n</html>\r\n");
  });
}

}  // namespace oapx1
