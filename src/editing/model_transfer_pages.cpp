#include "editing/model_transfer_pages.h"

#include <string>

#include "editing/model_transfer.h"
#include "editing/node_history.h"
#include "editing/rows.h"
#include "host/file_answer.h"
#include "layout/signed_in_bar.h"
#include "platform/script/script.h"
#include "platform/web/intrinsics.h"
#include "util/ids_and_lists.h"

namespace oapx1 {

namespace {

void write_head(const Variant& conn, std::string_view title) {
  const std::string css = session_object().item("SystemURL").str() + "Include/imagesV10/CSSForV10.css";
  Response& out = response_object();
  out.write("<!DOCTYPE html>\r\n<html lang=\"zh-CN\">\r\n<head>\r\n");
  out.write("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">\r\n");
  out.write("<title>" + std::string(title) + "</title>\r\n");
  out.write("<link href=\"" + html_encode(css) + "\" type=\"text/css\" rel=\"stylesheet\">\r\n");
  out.write(
      "<style>body{margin:0;font:12px sans-serif;background:#E4E4E0}"
      ".model{padding:6px 10px;border-bottom:1px solid #808080;background:#fff}"
      ".model h1{font-size:16px;margin:0}form,#msgDis,#difference{margin:10px}"
      "#difference{background:#fff;padding:8px;border:1px solid #808080;white-space:pre-wrap}"
      "textarea{width:95%}</style>\r\n</head>\r\n<body>\r\n");
  out.write(signed_in_bar(conn) + "<div class=\"model\"><h1>" + std::string(title) + "</h1></div>\r\n");
}

void write_message(const std::string& message) {
  response_object().write("<div id=\"msgDis\" role=\"alert\"><font color=666666>系统提示：" + html_encode(message) +
                          "</font></div>\r\n");
}

// A text area holding `text` exactly (the parser drops the line end after the tag).
std::string text_area(std::string_view name, std::string_view attributes, const std::string& text) {
  return "<textarea id=\"" + std::string(name) + "\" name=\"" + std::string(name) + "\" " + std::string(attributes) +
         ">\n" + html_encode(text) + "</textarea>";
}

// The form that takes a file and a map, filled with what was posted.
void write_upload_form(const std::string& file, const std::string& map) {
  Response& out = response_object();
  out.write(
      "<form method=\"post\" action=\"import.asp\">\r\n"
      "<p><label for=\"ModelFileChooser\">模型文件：</label>"
      "<input type=\"file\" id=\"ModelFileChooser\" accept=\".json,application/json\"></p>\r\n"
      "<p><label for=\"ModelFile\">或粘贴文件内容：</label><br>" +
      text_area("ModelFile", "rows=\"14\"", file) + "</p>\r\n" +
      "<p><label for=\"MapFile\">帐号与部门对照（可不填；每行“旧帐号,新帐号”或“dept:旧部门路径,新部门路径”，"
      "新值留空即去掉）：</label><br>" +
      text_area("MapFile", "rows=\"4\"", map) + "</p>\r\n" +
      "<p><button type=\"submit\" name=\"step\" value=\"preview\">预览差异</button></p>\r\n</form>\r\n"
      "<script>document.getElementById('ModelFileChooser').onchange=function(){var f=this.files[0];"
      "if(!f)return;var r=new FileReader();r.onload=function(){"
      "document.getElementById('ModelFile').value=r.result;};r.readAsText(f,'utf-8');};</script>\r\n");
}

void write_difference(const ImportPlan& plan) {
  response_object().write("<div id=\"difference\">" + html_encode(editing::joined(plan.lines, "\n")) + "</div>\r\n");
}

// The form that asks before applying what was shown.
void write_confirm_form(const std::string& file, const std::string& map, const std::string& digest) {
  response_object().write("<form method=\"post\" action=\"import.asp\">\r\n" +
                          text_area("ModelFile", "hidden readonly", file) +
                          text_area("MapFile", "hidden readonly", map) +
                          "<input type=\"hidden\" name=\"Digest\" value=\"" + html_encode(digest) +
                          "\">\r\n<p>确定按上面的差异导入吗？ <button type=\"submit\" name=\"step\" value=\"apply\" "
                          "autofocus>确定</button> <a href=\"import.asp\">取消</a></p>\r\n</form>\r\n");
}

}  // namespace

void ModelExportPage::I_init() {
  bind_request_context();
  initialiser(__func__, [&] {
    tvdb_connI_init();
    tvtvfunctionI_init();
    tvincfunctionuserI_init();
    if (!session_signed_in()) return;
    const std::string item = request_object().item("OAID").str();
    const std::optional<int64_t> id = whole_number(item);
    FileAnswer* file = dynamic_cast<FileAnswer*>(&response_object());
    std::optional<PortableModel> model;
    try {
      if (id) model = export_model(conn, *id);
    } catch (const TransferError&) {
    }
    if (!model) {
      if (file) file->set_status(404);
      write_head(conn, "导出流程模型");
      write_message("流程模型" + (item.empty() ? std::string() : "（" + item + "）") + "不存在！");
      response_object().write("</body>\r\n</html>\r\n");
      return;
    }
    // A key stored by other means than an import may hold what a header must not.
    const std::string name = valid_model_key(model->key) ? model->key : std::to_string(*id);
    if (file) file->send_as_file("application/json; charset=utf-8", "model-" + name + ".json");
    response_object().write(write_model_file({&*model, 1}));
  });
}

void ModelImportPage::I_init() {
  bind_request_context();
  initialiser(__func__, [&] {
    tvdb_connI_init();
    tvtvfunctionI_init();
    tvincfunctionuserI_init();
    if (!session_signed_in()) return;
    const Request& request = request_object();
    const std::string step = request.item("step").str();
    const std::string file = request.item("ModelFile").str(), map_text = request.item("MapFile").str();
    write_head(conn, "导入流程模型");
    Response& out = response_object();
    if (step != "preview" && step != "apply") {
      write_upload_form("", "");
      out.write("</body>\r\n</html>\r\n");
      return;
    }
    const std::string account = session_object().item("UserName").str();
    const ImportActor actor{account, full_name(conn, account), session_object().item("_LogUserIPAddress").str()};
    const std::string shown = step == "apply" ? request.item("Digest").str() : "";
    try {
      const TransferMap map = read_transfer_map(map_text);
      bool applied = false;
      // A digest of nothing shown applies nothing: the import is asked for first.
      const ImportMode mode = step == "apply" && !shown.empty() ? ImportMode::kApply : ImportMode::kDryRun;
      const ImportPlan plan = import_models(conn, file, map, actor, mode, &applied, shown);
      if (applied) {
        write_message(plan.changes ? "流程模型已导入，修改已记入各节点的修改记录。"
                                   : "没有需要修改的内容，什么也没有改动。");
        write_difference(plan);
      } else if (const std::string refusal = plan.refusal(); !refusal.empty()) {
        write_message(refusal);
        write_difference(plan);
        write_upload_form(file, map_text);
      } else {
        if (mode == ImportMode::kApply)
          write_message("在您确认之后模型或通讯录已有变动，下面是现在的差异，请再次确认。");
        write_difference(plan);
        write_confirm_form(file, map_text, plan.digest);
      }
    } catch (const TransferError& e) {
      write_message(std::string("文件不能导入，什么也没有改动：") + e.what());
      write_upload_form(file, map_text);
    }
    out.write("</body>\r\n</html>\r\n");
  });
}

}  // namespace oapx1
