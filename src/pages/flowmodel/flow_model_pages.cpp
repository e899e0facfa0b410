// The workflow model page and its node list.
#include "pages/flowmodel/flow_model_pages.h"

#include <string>

#include "directory/tree_walk.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/web/intrinsics.h"

namespace oapx1 {

namespace {

Variant request_item(std::string_view name) { return request_object().item(name); }

std::string h(const Variant& v) { return html_encode(v.str()); }

bool signed_in() { return !script_equal(session_object().item("UserName"), ""); }

void write_head(std::string_view title, std::string_view style) {
  const std::string css = session_object().item("SystemURL").str() + "Include/imagesV10/CSSForV10.css";
  Response& out = response_object();
  out.write("<!DOCTYPE html>\r\n<html lang=\"zh-CN\">\r\n<head>\r\n");
  out.write("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">\r\n");
  out.write("<title>" + std::string(title) + "</title>\r\n");
  out.write("<link href=\"" + html_encode(css) + "\" type=\"text/css\" rel=\"stylesheet\">\r\n");
  out.write("<style>" + std::string(style) + "</style>\r\n</head>\r\n");
}

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

}  // namespace

void FlowModelPage::I_init() {
  bind_request_context();
  initialiser(__func__, [&] {
    tvdb_connI_init();
    tvtvfunctionI_init();
    tvincfunctionuserI_init();
    tvincfunctiondbI_init();
    if (!signed_in()) return;
    Variant model = sql_integer(request_item("OAID"));

    Variant table = "OA_Flow_Model_Header", column = "ModelName", key_column = "OAID";
    const Variant model_name = getnamefromid(table, column, key_column, model);
    column = "BiaoDanID";
    Variant form = getidfromid(table, column, key_column, model);
    table = "OA_Flow_BiaoDan";
    column = "BiaoDanName";
    const Variant form_name = getnamefromid(table, column, key_column, form);

    // The node frame opens the node the request names (JieDian) when it is
    // one of the model's, as after a sign-in that interrupted a save; else
    // the model's first node.
    std::string first_node = "about:blank";
    const Variant asked = request_item("JieDian");
    const std::string asked_text = asked.str();
    if (!asked_text.empty() && asked_text.size() <= 18 &&
        asked_text.find_first_not_of("0123456789") == std::string::npos) {
      sql = "select top 1 OAID from OA_Flow_Model_JieDian where MOAID=" + model.str() + " and OAID=" + asked_text;
      Variant named = directory::open_recordset(sql, conn);
      Recordset& n = named.as<Recordset>();
      if (!n.Eof()) first_node = "jiedian.asp?OAID=" + h(n.field("OAID"));
      n.Close();
    }
    if (first_node == "about:blank") {
      sql = "select top 1 OAID from OA_Flow_Model_JieDian where MOAID=" + model.str() + " order by OAID";
      Variant first = directory::open_recordset(sql, conn);
      Recordset& r = first.as<Recordset>();
      if (!r.Eof()) first_node = "jiedian.asp?OAID=" + h(r.field("OAID"));
      r.Close();
    }

    write_head("流程模型 - " + h(model_name),
               "html,body{height:100%;margin:0}body{display:flex;flex-direction:column;"
               "font:12px sans-serif;background:#E4E4E0}"
               ".model{padding:6px 10px;border-bottom:1px solid #808080;background:#fff}"
               ".model h1{font-size:16px;margin:0 0 2px}.frames{flex:1;display:flex;min-height:520px}"
               "iframe{border:0;background:#fff}#FMain{width:280px;border-right:1px solid #808080}"
               "#" + std::string(kNodeFrameName) + "{flex:1}");
    Response& out = response_object();
    out.write("<body>\r\n<div class=\"model\"><h1>" + h(model_name) + "</h1>表单：" + h(form_name) +
              "</div>\r\n<div class=\"frames\">\r\n");
    out.write("<iframe name=\"FMain\" id=\"FMain\" title=\"流程节点\" src=\"jiedianlist.asp?MOAID=" +
              model.str() + "\"></iframe>\r\n");
    out.write("<iframe name=\"" + std::string(kNodeFrameName) + "\" id=\"" + std::string(kNodeFrameName) +
              "\" title=\"流程节点信息\" src=\"" + first_node + "\"></iframe>\r\n");
    out.write("</div>\r\n</body>\r\n</html>\r\n");
  });
}

void FlowNodeListPage::I_init() {
  bind_request_context();
  initialiser(__func__, [&] {
    tvdb_connI_init();
    tvtvfunctionI_init();
    tvincfunctionuserI_init();
    if (!signed_in()) return;
    sql = "select OAID, JieDianName, BanLiType, isFirst from OA_Flow_Model_JieDian where MOAID=" +
          sql_integer(request_item("MOAID")) + " order by OAID";
    Variant nodes = directory::open_recordset(sql, conn);
    Recordset& r = nodes.as<Recordset>();
    write_head("流程节点",
               "body{margin:0;font:12px sans-serif}table{width:100%;border-collapse:collapse}"
               "th,td{padding:4px 6px;border-bottom:1px solid #E4E4E0;text-align:left}"
               "th{background:#E4E4E0}a{color:#003399}");
    Response& out = response_object();
    out.write("<body>\r\n<table id=\"nodes\">\r\n<thead><tr><th>序号</th><th>节点名称</th><th>办理方式</th>"
              "<th>节点类型</th><th>修改记录</th></tr></thead>\r\n<tbody>\r\n");
    for (int number = 1; !r.Eof(); r.MoveNext(), ++number) {
      const Variant name = r.field("JieDianName");
      out.write("<tr><td>" + std::to_string(number) + "</td><td><a href=\"jiedian.asp?OAID=" +
                h(r.field("OAID")) + "\" target=\"" + std::string(kNodeFrameName) + "\">" +
                (name.is_null() || script_equal(name, "") ? std::string("（未命名）") : h(name)) + "</a></td><td>" +
                handling_text(r.field("BanLiType")) + "</td><td>" + node_type_text(r.field("isFirst")) +
                "</td><td><a href=\"jiedianhistory.asp?OAID=" + h(r.field("OAID")) + "\" target=\"" +
                std::string(kNodeFrameName) + "\">记录</a></td></tr>\r\n");
    }
    r.Close();
    out.write("</tbody>\r\n</table>\r\n</body>\r\n</html>\r\n");
  });
}

}  // namespace oapx1
