#include "editing/history_page.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "editing/node_history.h"
#include "editing/node_restore.h"
#include "editing/node_save.h"
#include "editing/posted_values.h"
#include "layout/signed_in_bar.h"
#include "platform/script/script.h"
#include "platform/web/intrinsics.h"
#include "util/ids_and_lists.h"

namespace oapx1 {

namespace {

// The most pages a link may ask for: far past any history, and no overflow.
constexpr int64_t kMostPages = 1000000;

constexpr char kStyle[] =
    "body{margin:0;font:12px sans-serif}h1{font-size:14px;margin:8px}"
    "table{width:100%;border-collapse:collapse}th,td{padding:4px 6px;border-bottom:1px solid #E4E4E0;"
    "text-align:left;vertical-align:top}th{background:#E4E4E0}.refused{color:#c00}"
    "ul{margin:0;padding-left:16px}.links,#pages,.message,form{margin:8px}.message{color:#06c;font-weight:bold}"
    ".off{color:#808080}#history td:first-child,#history td:last-child{white-space:nowrap}";

// The page of the history the query asks for: `page`, from 1; 1 when it
// names none.
int64_t asked_page(const Variant& item) {
  const std::optional<int64_t> page = whole_number(item.str());
  return page && *page >= 1 ? std::min(*page, kMostPages) : 1;
}

// One change as a list item: its label, then old → new by display name.
std::string change_item(const Variant& conn, const ColumnChange& c) {
  return "<li>" + html_encode(history_label(c.column)) + "：" + html_encode(display_value(conn, c.column, c.before)) +
         " → " + html_encode(display_value(conn, c.column, c.after)) + "</li>";
}

}  // namespace

void NodeHistoryPage::I_init() {
  bind_request_context();
  initialiser(__func__, [&] {
    tvdb_connI_init();
    tvtvfunctionI_init();
    tvincfunctionuserI_init();
    if (script_equal(session_object().item("UserName"), "")) return;
    const std::optional<int64_t> node = whole_number(request_object().item("OAID").str());
    const std::optional<NodeRow> row = node ? read_node_row(conn, *node) : std::nullopt;
    const std::string node_name = row ? column_value(*row, "JieDianName") : std::string();
    const std::string css = session_object().item("SystemURL").str() + "Include/imagesV10/CSSForV10.css";
    Response& out = response_object();
    out.write("<!DOCTYPE html>\r\n<html lang=\"zh-CN\">\r\n<head>\r\n");
    out.write("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">\r\n");
    out.write("<title>修改记录 - " + html_encode(node_name) + "</title>\r\n");
    out.write("<link href=\"" + html_encode(css) + "\" type=\"text/css\" rel=\"stylesheet\">\r\n");
    out.write("<style>" + std::string(kStyle) + "</style>\r\n</head>\r\n<body>\r\n");
    out.write(signed_in_bar(conn));
    out.write("<h1>流程节点修改记录：" + html_encode(node_name) + "</h1>\r\n");
    if (row) {
      const std::string id = std::to_string(*node);
      out.write("<p class=\"links\"><a id=\"open-node\" href=\"jiedian.asp?OAID=" + id + "\">打开节点设置</a>");
      if (const std::optional<int64_t> model = whole_number(column_value(*row, "MOAID"))) {
        out.write(" <a id=\"open-model\" target=\"_top\" href=\"model.asp?OAID=" + std::to_string(*model) +
                  "&amp;JieDianID=" + id + "\">在流程模型中打开</a>");
      }
      out.write("</p>\r\n");
    }
    const std::string message = request_object().item(kRestoreMessageItem).str();
    if (!message.empty()) out.write("<p class=\"message\" id=\"message\">" + html_encode(message) + "</p>\r\n");
    const std::optional<int64_t> restore = whole_number(request_object().item("restore").str());
    if (row && restore && message.empty()) {
      write_restore_preview(*node, *restore);
    } else {
      write_lines(node, asked_page(request_object().item("page")));
    }
    out.write("</body>\r\n</html>\r\n");
  });
}

void NodeHistoryPage::write_lines(std::optional<int64_t> node, int64_t page) {
  // One page of lines is read, and one more to tell whether older ones follow.
  std::vector<NodeHistoryEntry> entries =
      node ? read_history(conn, *node, kHistoryPageLines + 1, (page - 1) * kHistoryPageLines)
           : std::vector<NodeHistoryEntry>{};
  const bool older = entries.size() > static_cast<size_t>(kHistoryPageLines);
  if (older) entries.pop_back();
  Response& out = response_object();
  out.write("<table id=\"history\">\r\n<thead><tr><th>编号</th><th>时间</th><th>修改人</th><th>地址</th>"
            "<th>结果</th><th>修改内容（原值 → 新值）</th><th></th></tr></thead>\r\n<tbody>\r\n");
  if (entries.empty()) out.write("<tr><td colspan=\"7\">没有修改记录。</td></tr>\r\n");
  for (const NodeHistoryEntry& e : entries) {
    const bool refused = is_refusal(e.outcome);
    out.write("<tr" + std::string(refused ? " class=\"refused\"" : "") + " id=\"line-" + std::to_string(e.id) +
              "\"><td>#" + std::to_string(e.id) + "</td><td>" + html_encode(e.when) + "</td><td>" +
              html_encode(e.name) + "（" + html_encode(e.account) + "）</td><td>" + html_encode(e.address) +
              "</td><td>" + html_encode(outcome_text(e.outcome)) + "</td><td>");
    if (refused && !e.remark.empty()) out.write(html_encode(e.remark));
    out.write("<ul>");
    for (const ColumnChange& c : shown_changes(e)) out.write(change_item(conn, c));
    out.write("</ul></td><td>");
    if (!refused) {
      out.write("<a class=\"restore\" href=\"jiedianhistory.asp?OAID=" + std::to_string(*node) +
                "&amp;restore=" + std::to_string(e.id) + "\">恢复到此状态</a>");
    }
    out.write("</td></tr>\r\n");
  }
  out.write("</tbody>\r\n</table>\r\n");
  if (node && (page > 1 || older)) {
    const std::string link = "jiedianhistory.asp?OAID=" + std::to_string(*node) + "&amp;page=";
    out.write("<p id=\"pages\">");
    if (page > 1) out.write("<a href=\"" + link + std::to_string(page - 1) + "\">较新的记录</a> ");
    out.write("第 " + std::to_string(page) + " 页");
    if (older) out.write(" <a href=\"" + link + std::to_string(page + 1) + "\">较早的记录</a>");
    out.write("</p>\r\n");
  }
}

void NodeHistoryPage::write_restore_preview(int64_t node, int64_t entry) {
  Response& out = response_object();
  const std::string back = "jiedianhistory.asp?OAID=" + std::to_string(node);
  RestorePlan plan;
  try {
    plan = plan_restore(conn, node, entry);
  } catch (const RestoreRefused& refused) {
    out.write("<p class=\"message\" id=\"message\">" + html_encode(refused.what()) + "</p>\r\n<p class=\"links\">"
              "<a href=\"" + back + "\">返回修改记录</a></p>\r\n");
    return;
  }
  out.write("<h1>恢复到修改记录 #" + std::to_string(entry) + " 之后的设置</h1>\r\n");
  out.write("<table id=\"restore\">\r\n<thead><tr><th>项目</th><th>当前设置</th><th>恢复后</th></tr></thead>\r\n"
            "<tbody>\r\n");
  auto row_of = [&](const ColumnChange& c, bool settable) {
    out.write(std::string(settable ? "<tr>" : "<tr class=\"off\">") + "<td>" + html_encode(history_label(c.column)) +
              "</td><td>" + html_encode(display_value(conn, c.column, c.before)) + "</td><td>" +
              html_encode(display_value(conn, c.column, c.after)) +
              (settable ? "" : "（保存不会设置此项，不恢复）") + "</td></tr>\r\n");
  };
  for (const ColumnChange& c : plan.changes) row_of(c, true);
  for (const ColumnChange& c : plan.unsettable) row_of(c, false);
  if (plan.changes.empty()) {
    out.write("<tr><td colspan=\"3\">当前设置与该记录之后的设置相同，无需恢复。</td></tr>\r\n");
  }
  out.write("</tbody>\r\n</table>\r\n");
  if (!plan.changes.empty()) {
    out.write("<form method=\"post\" action=\"" + back + "&amp;restore=" + std::to_string(entry) +
              "\"><input type=\"hidden\" name=\"" + std::string(kPostedVersionItem) + "\" value=\"" +
              html_encode(plan.version) + "\"><button type=\"submit\" id=\"confirm-restore\">确认恢复</button> "
              "<a href=\"" + back + "\">取消</a></form>\r\n");
  } else {
    out.write("<p class=\"links\"><a href=\"" + back + "\">返回修改记录</a></p>\r\n");
  }
}

}  // namespace oapx1
