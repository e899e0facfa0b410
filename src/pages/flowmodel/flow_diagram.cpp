// The workflow diagram as SVG, and its page.
#include "pages/flowmodel/flow_diagram.h"

#include <string>
#include <vector>

#include "editing/models.h"
#include "editing/node_history.h"
#include "editing/node_order.h"
#include "editing/posted_lists.h"
#include "editing/rows.h"
#include "pages/flowmodel/page_parts.h"
#include "platform/script/script.h"
#include "platform/text/utf8.h"
#include "platform/web/intrinsics.h"
#include "util/ids_and_lists.h"

namespace oapx1 {

using model_pages::h;

namespace {

// The geometry of the picture, in SVG units.
constexpr int kWidth = 260, kBoxX = 10, kBoxWidth = 240, kLine = 15, kGap = 20, kPill = 22;
// The characters of a line in a box before it is cut short.
constexpr size_t kLineCharacters = 19;

// `text` cut to kLineCharacters characters, with "…" when cut.
std::string cut(const std::string& text) {
  size_t pos = 0, count = 0;
  while (pos < text.size() && count < kLineCharacters) {
    utf8_next(text, pos);
    ++count;
  }
  return pos < text.size() ? text.substr(0, pos) + "…" : text;
}

std::string handling(const NodeRow& n) {
  const std::string mode = column_value(n, "BanLiType");
  const std::string process = column_value(n, "ProcessType");
  std::string text = mode == "3" ? "分发式" : mode == "1" ? "办理式" : "办理方式未定";
  if (process == "1") text += "·并行";
  if (process == "2") text += "·会签";
  const std::string wait = column_value(n, "WaitTime"), unit = column_value(n, "TimeUnit");
  const std::optional<int64_t> amount = whole_number(wait);
  return text + "  " + (amount && *amount > 0 && unit != "不限" ? "时限 " + wait + " " + unit : "不限时");
}

std::string handlers(const Variant& conn, const NodeRow& n) {
  const std::string chooser = column_value(n, "BanLiRenType");
  if (chooser != "1" && chooser != "3") return "办理人：运行时指定";
  std::vector<std::string> names;
  for (const std::string& account : list_entries(column_value(n, "JiaoSeUserList"))) {
    const std::string name = full_name(conn, account);
    names.push_back(name.empty() ? account + "（不存在）" : name);
  }
  return "办理人：" + (names.empty() ? std::string("（无）") : editing::joined(names, "、"));
}

std::string actions(const NodeRow& n) {
  constexpr std::pair<const char*, const char*> kActions[] = {
      {"iszhuanban", "转办"}, {"isgoutong", "沟通"}, {"isFenFa", "分发"}, {"isBoHui", "驳回"}};
  std::vector<std::string> allowed;
  for (const auto& [column, label] : kActions) {
    if (column_value(n, column) == "1") allowed.push_back(label);
  }
  return "可以：" + (allowed.empty() ? std::string("—") : editing::joined(allowed, " "));
}

std::string text_at(int x, int y, const std::string& text, const std::string& attributes = "") {
  return "<text x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\"" + attributes + ">" + h(text) +
         "</text>";
}

std::string pill(int y, const std::string& label) {
  const int x = kWidth / 2 - 34;
  return "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"68\" height=\"" +
         std::to_string(kPill) + "\" rx=\"11\" class=\"pill\"/>" +
         text_at(kWidth / 2, y + 15, label, " text-anchor=\"middle\" class=\"b\"");
}

std::string arrow(int from, int to) {
  return "<line x1=\"" + std::to_string(kWidth / 2) + "\" y1=\"" + std::to_string(from) + "\" x2=\"" +
         std::to_string(kWidth / 2) + "\" y2=\"" + std::to_string(to - 2) + "\" marker-end=\"url(#arrow)\"/>";
}

// One node's box at `y`; its height in `height`.
std::string node_box(const Variant& conn, const NodeRow& n, size_t number, const std::string& problem, int y,
                     int& height) {
  std::vector<std::string> lines = {handling(n), handlers(conn, n), actions(n)};
  height = static_cast<int>(lines.size() + 1 + (problem.empty() ? 0 : 1)) * kLine + 10;
  const std::string type = column_value(n, "isFirst");
  std::string title = std::to_string(number) + ". " + column_value(n, "JieDianName");
  if (type == "1") title += "［开始节点］";
  if (type == "3") title += "［可结束］";
  std::string box = "<g class=\"node" + std::string(problem.empty() ? "" : " bad") + "\" data-node=\"" +
                    h(column_value(n, "OAID")) + "\">";
  if (!problem.empty()) box += "<title>不能按现状保存：" + h(problem) + "</title>";
  box += "<rect x=\"" + std::to_string(kBoxX) + "\" y=\"" + std::to_string(y) + "\" width=\"" +
         std::to_string(kBoxWidth) + "\" height=\"" + std::to_string(height) + "\" rx=\"4\"/>";
  int line_y = y + kLine;
  box += text_at(kBoxX + 8, line_y, cut(title), " class=\"b\"");
  for (const std::string& line : lines) box += text_at(kBoxX + 8, line_y += kLine, cut(line));
  if (!problem.empty()) box += text_at(kBoxX + 8, line_y += kLine, cut("▲ 不能按现状保存：" + problem), " class=\"warn\"");
  return box + "</g>";
}

}  // namespace

std::string flow_diagram_svg(const Variant& conn, const std::string& title, const std::vector<NodeRow>& nodes,
                             const std::vector<std::string>& problems) {
  std::string body = pill(10, "开始");
  int y = 10 + kPill;
  for (size_t i = 0; i < nodes.size(); ++i) {
    body += arrow(y, y + kGap);
    y += kGap;
    int height = 0;
    body += node_box(conn, nodes[i], i + 1, i < problems.size() ? problems[i] : "", y, height);
    y += height;
  }
  body += arrow(y, y + kGap);
  y += kGap;
  body += pill(y, "结束");
  const int total = y + kPill + 10;
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" id=\"diagram\" role=\"img\" aria-labelledby=\"diagramTitle\" "
         "viewBox=\"0 0 " + std::to_string(kWidth) + " " + std::to_string(total) + "\" width=\"" +
         std::to_string(kWidth) + "\" height=\"" + std::to_string(total) + "\">"
         "<title id=\"diagramTitle\">流程图：" + h(title) + "，" + std::to_string(nodes.size()) + " 个节点</title>"
         "<defs><marker id=\"arrow\" viewBox=\"0 0 10 10\" refX=\"9\" refY=\"5\" markerWidth=\"7\" markerHeight=\"7\" "
         "orient=\"auto\"><path d=\"M0,0L10,5L0,10z\" fill=\"#555\"/></marker></defs>"
         "<style>text{font:11px sans-serif;fill:#222}.b{font-weight:bold}.warn{fill:#c00}"
         "line{stroke:#555;stroke-width:1.2}.pill{fill:#E4E4E0;stroke:#555}"
         ".node rect{fill:#fff;stroke:#808080}.bad rect{stroke:#c00;stroke-width:2;fill:#fff5f5}</style>" +
         body + "</svg>";
}

void FlowDiagramPage::I_init() {
  bind_request_context();
  initialiser(__func__, [&] {
    tvdb_connI_init();
    tvtvfunctionI_init();
    tvincfunctionuserI_init();
    if (!model_pages::signed_in()) return;
    const std::optional<int64_t> model = whole_number(model_pages::item("MOAID"));
    const std::optional<ModelSummary> summary = model ? read_model(conn, *model) : std::nullopt;
    const std::string name = summary ? summary->name : "";
    model_pages::write_head("流程图 - " + h(name),
                            std::string(model_pages::kPageStyle) +
                                "@page{size:A4 portrait;margin:12mm}.sheet{padding:10px}"
                                "#diagram{width:auto;height:auto;max-width:100%}"
                                "@media print{.noprint{display:none}.sheet{padding:0}"
                                "#diagram{display:block;margin:0 auto;width:auto;height:250mm;max-width:186mm}}");
    Response& out = response_object();
    out.write("<body>\r\n<div class=\"bar noprint\"><h1>流程图：" + h(name) +
              "</h1><button type=\"button\" onclick=\"window.print()\">打印</button></div>\r\n");
    if (!summary) {
      model_pages::write_message("系统提示：流程模型（" + model_pages::item("MOAID") + "）不存在！", true);
      out.write("</body>\r\n</html>\r\n");
      return;
    }
    const std::vector<NodeRow> nodes = read_model_nodes(conn, *model);
    std::vector<std::string> problems;
    for (const NodeRow& n : nodes) problems.push_back(stored_node_problems(conn, n));
    out.write("<div class=\"sheet\"><h2 style=\"font-size:14px;margin:0 0 6px\">" + h(name) + "</h2>" +
              flow_diagram_svg(conn, name, nodes, problems) + "</div>\r\n</body>\r\n</html>\r\n");
  });
}

}  // namespace oapx1
