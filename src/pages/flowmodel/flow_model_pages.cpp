// The workflow model page and its node list.
#include "pages/flowmodel/flow_model_pages.h"

#include <string>

#include "layout/signed_in_bar.h"
#include "lookups/rows.h"
#include "platform/text/ascii.h"
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

    sql = "select top 1 OAID from OA_Flow_Model_JieDian where MOAID=" + model.str() +
          (node_given ? " order by case when OAID=" + sql_integer(wanted) + " then 0 else 1 end, OAID"
                      : " order by OAID");
    Variant first = open_rows(sql, conn);
    Recordset& r = first.as<Recordset>();
    const std::string first_node =
        r.Eof() ? "about:blank" : "jiedian.asp?OAID=" + h(r.field("OAID"));
    r.Close();

    write_head("流程模型 - " + h(model_name),
               "html,body{height:100%;margin:0}body{display:flex;flex-direction:column;"
               "font:12px sans-serif;background:#E4E4E0}"
               ".model{padding:6px 10px;border-bottom:1px solid #808080;background:#fff}"
               ".model h1{font-size:16px;margin:0 0 2px}.frames{flex:1;display:flex;min-height:520px}"
               "iframe{border:0;background:#fff}#FMain{width:280px;border-right:1px solid #808080}"
               "#" + std::string(kNodeFrameName) + "{flex:1}");
    Response& out = response_object();
    out.write("<body>\r\n" + signed_in_bar(conn) + "<div class=\"model\"><h1>" + h(model_name) +
              "</h1>表单：" + h(form_name) +
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
    Variant nodes = open_rows(sql, conn);
    Recordset& r = nodes.as<Recordset>();
    write_head("流程节点",
               "body{margin:0;font:12px sans-serif}table{width:100%;border-collapse:collapse}"
               "th,td{padding:4px 6px;border-bottom:1px solid #E4E4E0;text-align:left}"
               "th{background:#E4E4E0}a{color:#003399}");
    Response& out = response_object();
    // The shared script asks before a click opens another node over unsaved edits.
    out.write("<script src=\"" + html_encode(session_object().item("SystemURL").str()) +
              "Include/js/orderby.js\"></script>\r\n");
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
