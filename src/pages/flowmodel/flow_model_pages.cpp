// The workflow model page and its node list.
#include "pages/flowmodel/flow_model_pages.h"

#include <string>

#include "editing/node_order.h"
#include "editing/posted_lists.h"
#include "layout/signed_in_bar.h"
#include "lookups/rows.h"
#include "pages/flowmodel/flow_diagram.h"
#include "pages/flowmodel/page_parts.h"
#include "util/ids_and_lists.h"
#include "platform/text/ascii.h"
#include "platform/text/utf8.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/web/intrinsics.h"

namespace oapx1 {

namespace {

Variant request_item(std::string_view name) { return request_object().item(name); }

using model_pages::h;
using model_pages::signed_in;
using model_pages::write_head;

// The text of a handling mode, as the node form names it.
std::string handling_text(const Variant& mode) {
  if (script_equal(mode, "1")) return "办理式";
  if (script_equal(mode, "3")) return "分发式";
  return "";
}

std::string node_type_text(const Variant& type) {
  if (script_equal(type, "1")) return "开始节点";
  if (script_equal(type, "3")) return "可结束流程节点";
  return "中间节点";
}

// The most characters of a node's name the node list shows.
constexpr size_t kListedName = 10;

// The link of a node's name in the node list: a name longer than kListedName
// characters shortened with "…" and whole in the link's title; a name that is
// empty or blank shows as "（未命名）", so that its link can still be seen.
std::string name_link(const std::string& href, const Variant& name) {
  const std::string whole = name.is_null() ? std::string() : name.str();
  const bool blank = blank_text(whole);
  size_t end = 0, count = 0;
  while (end < whole.size() && count < kListedName) {
    utf8_next(whole, end);
    ++count;
  }
  const bool shortened = end < whole.size();
  const std::string shown = blank ? "（未命名）" : h(whole.substr(0, end)) + (shortened ? "…" : "");
  return "<a href=\"" + href + "\" target=\"" + std::string(kNodeFrameName) + "\"" +
         (shortened && !blank ? " title=\"" + h(whole) + "\"" : "") + ">" + shown + "</a>";
}

}  // namespace

void FlowModelPage::write_missing_model() {
  write_head("流程模型", "body{margin:0;font:12px sans-serif;background:#E4E4E0}"
                         ".model{padding:6px 10px;border-bottom:1px solid #808080;background:#fff}"
                         ".model h1{font-size:16px;margin:0 0 2px}#msgDis{padding:10px}");
  const Variant model = request_item("OAID");
  response_object().write("<body>\r\n" + signed_in_bar(conn) + "<div class=\"model\"><h1>流程模型</h1></div>\r\n"
                          "<div id=\"msgDis\" role=\"alert\"><font color=666666>系统提示：流程模型" +
                          (script_equal(model, "") ? std::string() : "（" + h(model) + "）") +
                          "不存在！</font></div>\r\n</body>\r\n</html>\r\n");
}

std::string FlowModelPage::first_node_url(int64_t model, std::optional<int64_t> wanted) {
  std::string url = "about:blank";
  Variant nodes = open_rows(ordered_nodes_sql(model, "j.OAID"), conn);
  Recordset& r = nodes.as<Recordset>();
  for (bool at_first = true; !r.Eof(); r.MoveNext(), at_first = false) {
    const std::string id = r.field("OAID").str();
    if (at_first) url = "jiedian.asp?OAID=" + h(id);
    if (wanted && whole_number(id) == wanted) {
      url = "jiedian.asp?OAID=" + h(id);
      break;
    }
  }
  r.Close();
  return url;
}

void FlowModelPage::I_init() {
  bind_request_context();
  initialiser(__func__, [&] {
    tvdb_connI_init();
    tvtvfunctionI_init();
    tvincfunctionuserI_init();
    tvincfunctiondbI_init();
    if (!signed_in()) return;
    // The node to open: `JieDianID` (or `node`), when it is a node of the model.
    Variant wanted = request_item("JieDianID");
    if (script_equal(wanted, "")) wanted = request_item("node");
    const bool node_given = ascii_digits(wanted.str(), 9);
    Variant model_item = request_item("OAID");
    if (script_equal(model_item, "") && node_given) {
      // A node alone names its model.
      Variant table = "OA_Flow_Model_JieDian", column = "MOAID", key_column = "OAID";
      model_item = getidfromid(table, column, key_column, wanted);
      if (model_item.is_null() || script_equal(model_item, "")) {
        write_missing_model();
        return;
      }
    }
    Variant model = sql_integer(model_item);

    sql = "select ModelName, BiaoDanID from OA_Flow_Model_Header where OAID=" + model.str();
    Variant header = open_rows(sql, conn);
    Recordset& hr = header.as<Recordset>();
    const bool exists = !hr.Eof();
    const Variant model_name = exists ? hr.field("ModelName") : Variant("");
    Variant form = exists ? hr.field("BiaoDanID") : Variant("");
    hr.Close();
    if (!exists) {
      write_missing_model();
      return;
    }
    Variant table = "OA_Flow_BiaoDan", column = "BiaoDanName", key_column = "OAID";
    const Variant form_name = getnamefromid(table, column, key_column, form);

    const std::string first_node = first_node_url(whole_number(model.str()).value_or(0),
                                                  node_given ? whole_number(wanted.str()) : std::nullopt);

    write_head("流程模型 - " + h(model_name),
               "html,body{height:100%;margin:0}body{display:flex;flex-direction:column;"
               "font:12px sans-serif;background:#E4E4E0}"
               ".model{padding:6px 10px;border-bottom:1px solid #808080;background:#fff}"
               ".model h1{font-size:16px;margin:0 0 2px}.frames{flex:1;display:flex;min-height:520px}"
               "iframe{border:0;background:#fff}#FMain{width:700px;border-right:1px solid #808080}"
               ".model .links{margin-left:20px}.model a{margin-right:10px}"
               "#" + std::string(kNodeFrameName) + "{flex:1}");
    Response& out = response_object();
    out.write("<body>\r\n" + signed_in_bar(conn) + "<div class=\"model\"><h1>" + h(model_name) +
              "</h1>表单：" + h(form_name) +
              " <span class=\"links\"><a href=\"models.asp\" id=\"toList\">流程模型列表</a><a href=\"diagram.asp?MOAID=" +
              model.str() + "\" target=\"_blank\">打印流程图</a></span></div>\r\n<div class=\"frames\">\r\n");
    out.write("<iframe name=\"FMain\" id=\"FMain\" title=\"流程节点\" src=\"jiedianlist.asp?MOAID=" +
              model.str() + "\"></iframe>\r\n");
    out.write("<iframe name=\"" + std::string(kNodeFrameName) + "\" id=\"" + std::string(kNodeFrameName) +
              "\" title=\"流程节点信息\" src=\"" + first_node + "\"></iframe>\r\n");
    out.write("</div>\r\n</body>\r\n</html>\r\n");
  });
}

std::string FlowNodeListPage::apply_post(int64_t model, bool& refused, int64_t* opened, int64_t* confirm) {
  const Actor actor = model_pages::session_actor(conn);
  const std::string shown = model_pages::item("ver");
  ModelChange change;
  std::string done;
  if (!model_pages::item("add").empty()) {
    const std::string after = model_pages::item("add");
    change = add_node(conn, actor, std::to_string(model), after == "end" ? "" : after, shown);
    done = "系统提示：节点已添加，请在右侧设置它并保存。";
    *opened = change.id;
  } else if (!model_pages::item("up").empty() || !model_pages::item("down").empty()) {
    const bool up = !model_pages::item("up").empty();
    change = move_node(conn, actor, model_pages::item(up ? "up" : "down"), up, shown);
    done = up ? "系统提示：节点已上移。" : "系统提示：节点已下移。";
  } else if (!model_pages::item("remove").empty()) {
    if (model_pages::item("confirm") != "1") {
      // Asked first: nothing changes until the removal is confirmed.
      int64_t node = 0;
      change.refusal = check_id("节点编号", model_pages::item("remove"), node);
      if (change.refusal.empty()) *confirm = node;
      refused = !change.refusal.empty();
      return change.refusal;
    }
    change = remove_node(conn, actor, model_pages::item("remove"), shown);
    done = "系统提示：节点已删除；它的设置保留在修改记录中。";
  } else {
    change.refusal = "系统提示：不认识的操作，什么也没有改变！";
  }
  refused = !change.refusal.empty();
  return refused ? change.refusal : done;
}

void FlowNodeListPage::write_rows(const std::vector<NodeRow>& nodes, const std::vector<std::string>& problems,
                                  int64_t opened) {
  Response& out = response_object();
  const std::string frame(kNodeFrameName);
  for (size_t i = 0; i < nodes.size(); ++i) {
    const NodeRow& n = nodes[i];
    const std::string id = h(column_value(n, "OAID"));
    const std::string raw_name = column_value(n, "JieDianName");
    const std::string name = blank_text(raw_name) ? std::string("（未命名）") : h(raw_name);
    const std::string mark = problems[i].empty() ? std::string()
                                                 : " <span class=\"mark\" title=\"不能按现状保存：" + h(problems[i]) +
                                                       "\">▲ 不能保存</span>";
    out.write("<tr data-node=\"" + id + "\"" + (std::to_string(opened) == id ? " class=\"sel\"" : "") + "><td>" +
              std::to_string(i + 1) + "</td><td>" + name_link("jiedian.asp?OAID=" + id, Variant(raw_name)) + mark + "</td><td>" + handling_text(Variant(column_value(n, "BanLiType"))) + "</td><td>" +
              node_type_text(Variant(column_value(n, "isFirst"))) + "</td><td><a href=\"jiedianhistory.asp?OAID=" + id +
              "\" target=\"" + frame + "\">记录</a></td><td class=\"act\">"
              "<button name=\"add\" value=\"" + id + "\" title=\"在“" + name + "”之后插入节点\" aria-label=\"在“" +
              name + "”之后插入节点\">＋</button><button name=\"up\" value=\"" + id + "\" title=\"上移\" aria-label=\"上移“" +
              name + "”\"" + (i == 0 ? " disabled" : "") + ">↑</button><button name=\"down\" value=\"" + id +
              "\" title=\"下移\" aria-label=\"下移“" + name + "”\"" + (i + 1 == nodes.size() ? " disabled" : "") +
              ">↓</button><button name=\"remove\" value=\"" + id + "\" aria-label=\"删除“" + name + "”\">删除</button>"
              "</td></tr>\r\n");
  }
}

void FlowNodeListPage::I_init() {
  bind_request_context();
  initialiser(__func__, [&] {
    tvdb_connI_init();
    tvtvfunctionI_init();
    tvincfunctionuserI_init();
    if (!signed_in()) return;
    const int64_t model = whole_number(sql_integer(request_item("MOAID"))).value_or(0);
    bool refused = false;
    int64_t opened = 0, confirm = 0;
    const std::string message = model_pages::posted_change() ? apply_post(model, refused, &opened, &confirm) : "";
    const std::vector<NodeRow> nodes = read_model_nodes(conn, model);
    std::vector<std::string> problems;
    for (const NodeRow& n : nodes) problems.push_back(stored_node_problems(conn, n));
    write_head("流程节点",
               std::string(model_pages::kPageStyle) +
                   ".wrap{display:flex;align-items:flex-start;gap:8px}#list{flex:0 1 auto;min-width:0}"
                   ".act{white-space:nowrap}.act button{margin-right:2px}tr.sel td{background:#FFF4C0}"
                   ".foot{padding:6px}.diagram{flex:0 0 auto;padding:4px}.diagram p{margin:2px 0 4px}");
    Response& out = response_object();
    // The shared script asks before a click opens another node over unsaved edits.
    out.write("<script src=\"" + html_encode(session_object().item("SystemURL").str()) +
              "Include/js/orderby.js\"></script>\r\n<body>\r\n");
    model_pages::write_message(message, refused);
    const std::string self = "jiedianlist.asp?MOAID=" + std::to_string(model);
    const std::string version = h(node_list_version(nodes));
    if (confirm != 0) write_confirm(nodes, confirm, self, version);
    out.write("<div class=\"wrap\"><form id=\"list\" method=\"post\" action=\"" + self +
              "&amp;save=true\"><input type=\"hidden\" name=\"ver\" value=\"" + version +
              "\">\r\n<table id=\"nodes\">\r\n<thead><tr><th>序号</th><th>节点名称</th><th>办理方式</th>"
              "<th>节点类型</th><th>修改记录</th><th>操作</th></tr></thead>\r\n<tbody>\r\n");
    write_rows(nodes, problems, opened);
    out.write("</tbody>\r\n</table>\r\n<div class=\"foot\"><button name=\"add\" value=\"end\" id=\"addEnd\">"
              "在末尾添加节点</button></div></form>\r\n");
    Variant table = "OA_Flow_Model_Header", column = "ModelName", key_column = "OAID", key = std::to_string(model);
    out.write("<div class=\"diagram\"><p><a href=\"diagram.asp?MOAID=" + std::to_string(model) +
              "\" target=\"_blank\">打印流程图</a></p>" +
              flow_diagram_svg(conn, getnamefromid(table, column, key_column, key).str(), nodes, problems) +
              "</div></div>\r\n");
    if (model_pages::posted_change()) {
      // A reload (the node page reloads the list after each save) shows the
      // list again rather than posting the change twice.
      out.write("<script>history.replaceState(null, \"\", \"" + self + "\");</script>\r\n");
    }
    if (opened != 0) {
      // The new node opens in the node frame for its settings, and its row takes the focus.
      out.write("<script>if (parent !== window && parent.frames[\"" + std::string(kNodeFrameName) +
                "\"]) parent.frames[\"" + std::string(kNodeFrameName) + "\"].location.href = \"jiedian.asp?OAID=" +
                std::to_string(opened) + "\";\r\ndocument.querySelector(\"tr.sel a\").focus();</script>\r\n");
    }
    out.write("</body>\r\n</html>\r\n");
  });
}

void FlowNodeListPage::write_confirm(const std::vector<NodeRow>& nodes, int64_t node, const std::string& self,
                                     const std::string& version) {
  std::string name;
  bool found = false;
  for (const NodeRow& n : nodes) {
    if (column_value(n, "OAID") == std::to_string(node)) {
      name = column_value(n, "JieDianName");
      found = true;
    }
  }
  if (!found) {
    model_pages::write_message("系统提示：节点（" + std::to_string(node) + "）不在此流程模型中，什么也没有改变！", true);
    return;
  }
  response_object().write(
      "<form class=\"box\" id=\"confirmRemove\" method=\"post\" action=\"" + self +
      "&amp;save=true\" role=\"alertdialog\" aria-labelledby=\"askRemove\"><input type=\"hidden\" name=\"ver\" value=\"" +
      version + "\"><input type=\"hidden\" name=\"confirm\" value=\"1\"><p id=\"askRemove\">确定删除节点“" + h(name) +
      "”吗？它的设置会保留在修改记录中。</p><button name=\"remove\" value=\"" + std::to_string(node) +
      "\" autofocus>确定删除</button> <a href=\"" + self + "\">取消</a></form>\r\n");
}

}  // namespace oapx1
