// The list of workflow models and the list of forms.
#include "pages/flowmodel/model_list_pages.h"

#include <algorithm>
#include <string>
#include <vector>

#include "editing/rows.h"
#include "layout/signed_in_bar.h"
#include "pages/flowmodel/page_parts.h"
#include "platform/script/script.h"
#include "platform/web/intrinsics.h"
#include "util/ids_and_lists.h"

namespace oapx1 {

using model_pages::h;
using model_pages::item;

namespace {

constexpr char kListStyle[] =
    "#models{width:100%}#models td.n{text-align:right}.tools{padding:6px 10px}"
    ".tools form{display:inline}.steps{margin:10px;padding:10px 14px;border:1px solid #808080;background:#fffbe6}"
    ".steps ol{margin:6px 0 0;padding-left:20px}.steps li{margin:4px 0}code{background:#eee;padding:0 3px}";

// The model a query item names among `models`, if any.
const ModelSummary* named_model(const std::vector<ModelSummary>& models, std::string_view key) {
  const std::optional<int64_t> id = whole_number(item(key));
  if (!id) return nullptr;
  auto it = std::find_if(models.begin(), models.end(), [&](const ModelSummary& m) { return m.id == *id; });
  return it == models.end() ? nullptr : &*it;
}

// The hidden items of a change posted about model `m`.
std::string model_fields(std::string_view action, const ModelSummary& m) {
  return "<input type=\"hidden\" name=\"do\" value=\"" + std::string(action) +
         "\"><input type=\"hidden\" name=\"model\" value=\"" + std::to_string(m.id) +
         "\"><input type=\"hidden\" name=\"ver\" value=\"" + h(m.version) + "\">";
}

std::string problems_text(const ModelSummary& m) {
  std::vector<std::string> parts;
  for (const NodeProblem& p : m.problems) parts.push_back("“" + p.name + "”：" + p.problem);
  return editing::joined(parts, "；");
}

}  // namespace

std::string ModelListPage::apply_post(bool& refused, int64_t* open) {
  const std::string action = item("do");
  const Actor actor = model_pages::session_actor(conn);
  ModelChange change;
  std::string done;
  if (action == "create") {
    change = create_model(conn, actor, item("name"), item("form"));
    done = "系统提示：流程模型已新建。";
    *open = change.id;
  } else if (action == "rename") {
    change = rename_model(conn, actor, item("model"), item("name"), item("ver"));
    done = "系统提示：流程模型已重命名。";
  } else if (action == "copy") {
    change = copy_model(conn, actor, item("model"), item("name"));
    done = "系统提示：流程模型已复制，新模型的节点与原模型相同。";
    *open = change.id;
  } else if (action == "delete") {
    change = delete_model(conn, actor, item("model"), item("ver"));
    done = "系统提示：流程模型及其节点已删除；修改记录中保留了它的导出内容。";
  } else {
    change.refusal = "系统提示：不认识的操作，什么也没有改变！";
  }
  refused = !change.refusal.empty();
  if (refused) *open = 0;
  return refused ? change.refusal : done;
}

void ModelListPage::write_action_form(const std::vector<ModelSummary>& models) {
  Response& out = response_object();
  if (const ModelSummary* m = named_model(models, "rename")) {
    out.write("<form class=\"box\" id=\"action\" method=\"post\" action=\"models.asp?save=true\">" +
              model_fields("rename", *m) + "<label>流程模型“" + h(m->name) +
              "”的新名称：<input name=\"name\" id=\"name\" maxlength=\"200\" size=\"40\" autofocus value=\"" +
              h(m->name) + "\"></label> <button type=\"submit\">重命名</button> <a href=\"models.asp\">取消</a>"
              "</form>\r\n");
  } else if (const ModelSummary* c = named_model(models, "copy")) {
    out.write("<form class=\"box\" id=\"action\" method=\"post\" action=\"models.asp?save=true\">" +
              model_fields("copy", *c) + "<label>复制流程模型“" + h(c->name) + "”及其 " +
              std::to_string(c->nodes.size()) +
              " 个节点，新模型名称：<input name=\"name\" id=\"name\" maxlength=\"200\" size=\"40\" autofocus value=\"" +
              h(c->name) + " 副本\"></label> <button type=\"submit\">复制</button> <a href=\"models.asp\">取消</a>"
              "</form>\r\n");
  } else if (const ModelSummary* d = named_model(models, "delete")) {
    const std::string nodes = d->nodes.empty() ? "它没有节点。"
                                               : "它的 " + std::to_string(d->nodes.size()) + " 个节点也将删除：" +
                                                     h(editing::joined(d->nodes, "、")) + "。";
    out.write("<form class=\"box\" id=\"action\" method=\"post\" action=\"models.asp?save=true\" role=\"alertdialog\" "
              "aria-labelledby=\"askDelete\">" + model_fields("delete", *d) + "<p id=\"askDelete\">确定删除流程模型“" +
              h(d->name) + "”吗？" + nodes + "删除会记入修改记录，记录中保留它的导出内容。</p>"
              "<button type=\"submit\" autofocus>确定删除</button> <a href=\"models.asp\">取消</a></form>\r\n");
  }
}

void ModelListPage::write_create_form(const std::vector<FormSummary>& forms) {
  Response& out = response_object();
  out.write("<div class=\"tools\"><form method=\"post\" action=\"models.asp?save=true\" id=\"create\">"
            "<input type=\"hidden\" name=\"do\" value=\"create\"><label>新建流程模型：名称 "
            "<input name=\"name\" id=\"newName\" maxlength=\"200\" size=\"24\" required></label> "
            "<label>表单 <select name=\"form\" id=\"newForm\">");
  for (const FormSummary& f : forms) {
    out.write("<option value=\"" + std::to_string(f.id) + "\">" + h(f.name) + "</option>");
  }
  out.write("</select></label> <button type=\"submit\" id=\"createModel\"" +
            std::string(forms.empty() ? " disabled" : "") + ">新建</button></form> "
            "<a href=\"forms.asp\" id=\"forms\">表单…</a> "
            // A model file of another installation comes in here; each row's 导出 writes one.
            "<a href=\"import.asp\" id=\"importModel\">导入…</a></div>\r\n");
}

void ModelListPage::write_first_steps(bool has_forms) {
  response_object().write(
      std::string("<div class=\"steps\" id=\"firstSteps\"><b>系统提示：还没有流程模型。</b>请按以下步骤开始：<ol>"
                  "<li>在服务器上建立部门和办理人（命令行）：<code>oapx1 dept add 总部</code>，"
                  "<code>oapx1 user add 登录名 --name 姓名 --department 总部</code>。</li>") +
      (has_forms ? "<li>表单已有；" : "<li>先<a href=\"forms.asp\">新建一个表单</a>（流程模型所用的公文稿纸）；") +
      "然后在上面的“新建流程模型”中填写名称、选择表单，按“新建”。</li>"
      "<li>在打开的流程模型中按“在末尾添加节点”，逐个添加节点，在右侧设置每个节点的办理人并保存。</li></ol></div>\r\n");
}

void ModelListPage::write_rows(const std::vector<ModelSummary>& models) {
  Response& out = response_object();
  out.write("<table id=\"models\">\r\n<thead><tr><th>流程模型</th><th>表单</th><th>节点数</th><th>最后修改</th>"
            "<th>状态</th><th>操作</th></tr></thead>\r\n<tbody>\r\n");
  for (const ModelSummary& m : models) {
    const std::string id = std::to_string(m.id);
    const std::string last =
        m.last_account.empty() ? "" : h(m.last_name) + "（" + h(m.last_account) + "）" + h(m.last_when);
    const std::string mark = m.problems.empty()
                                 ? std::string()
                                 : "<span class=\"mark\" title=\"" + h(problems_text(m)) + "\">▲ " +
                                       std::to_string(m.problems.size()) + " 个节点不能按现状保存</span>";
    out.write("<tr data-model=\"" + id + "\"><td><a href=\"model.asp?OAID=" + id + "\">" + h(m.name) + "</a></td><td>" +
              h(m.form) + "</td><td class=\"n\">" + std::to_string(m.nodes.size()) + "</td><td>" + last +
              "</td><td>" + mark + "</td><td><a href=\"models.asp?rename=" + id + "#action\">重命名</a> "
              "<a href=\"models.asp?copy=" + id + "#action\">复制</a> <a href=\"export.asp?OAID=" + id +
              "\">导出</a> <a href=\"models.asp?delete=" + id + "#action\">删除</a></td></tr>\r\n");
  }
  out.write("</tbody>\r\n</table>\r\n");
}

void ModelListPage::I_init() {
  bind_request_context();
  initialiser(__func__, [&] {
    tvdb_connI_init();
    tvtvfunctionI_init();
    tvincfunctionuserI_init();
    if (!model_pages::signed_in()) return;
    bool refused = false;
    int64_t open = 0;
    const std::string message = model_pages::posted_change() ? apply_post(refused, &open) : "";
    const std::vector<ModelSummary> models = list_models(conn);
    const std::vector<FormSummary> forms = list_forms(conn);
    model_pages::write_head("流程模型", std::string(model_pages::kPageStyle) + kListStyle);
    Response& out = response_object();
    out.write("<body>\r\n" + signed_in_bar(conn) + "<div class=\"bar\"><h1>流程模型</h1>共 " +
              std::to_string(models.size()) + " 个流程模型</div>\r\n");
    model_pages::write_message(message, refused);
    if (open != 0) {
      // A new or copied model opens at once; the link serves without script.
      const std::string link = "model.asp?OAID=" + std::to_string(open);
      out.write("<p class=\"tools\"><a id=\"openNew\" href=\"" + link + "\">打开新的流程模型</a></p>\r\n"
                "<script>location.replace(\"" + link + "\");</script>\r\n");
    } else if (model_pages::posted_change()) {
      // A reload shows the list again rather than posting the change twice.
      out.write("<script>history.replaceState(null, \"\", \"models.asp\");</script>\r\n");
    }
    if (!model_pages::posted_change()) write_action_form(models);
    write_create_form(forms);
    if (models.empty()) write_first_steps(!forms.empty());
    else write_rows(models);
    out.write("</body>\r\n</html>\r\n");
  });
}

void FormListPage::I_init() {
  bind_request_context();
  initialiser(__func__, [&] {
    tvdb_connI_init();
    tvtvfunctionI_init();
    tvincfunctionuserI_init();
    if (!model_pages::signed_in()) return;
    std::string message;
    bool refused = false;
    if (model_pages::posted_change()) {
      const ModelChange change = create_form(conn, model_pages::session_actor(conn), item("name"), item("body"));
      refused = !change.refusal.empty();
      message = refused ? change.refusal : "系统提示：表单已新建，可以在流程模型列表中用它新建流程模型。";
    }
    const std::vector<FormSummary> forms = list_forms(conn);
    model_pages::write_head("表单", model_pages::kPageStyle);
    Response& out = response_object();
    out.write("<body>\r\n" + signed_in_bar(conn) +
              "<div class=\"bar\"><h1>表单</h1><a href=\"models.asp\" id=\"back\">返回流程模型列表</a></div>\r\n");
    model_pages::write_message(message, refused);
    if (model_pages::posted_change()) out.write("<script>history.replaceState(null, \"\", \"forms.asp\");</script>\r\n");
    out.write("<form class=\"box\" method=\"post\" action=\"forms.asp?save=true\" id=\"create\"><label>新建表单：名称 "
              "<input name=\"name\" id=\"newName\" maxlength=\"200\" size=\"24\" required autofocus></label> "
              "<label>正文类型 <select name=\"body\"><option>Word</option><option>Excel</option>"
              "<option value=\"无\">无正文</option></select></label> <button type=\"submit\">新建</button></form>\r\n");
    out.write("<table id=\"forms\" style=\"margin:0 10px\">\r\n<thead><tr><th>表单</th><th>正文类型</th>"
              "<th>使用它的流程模型</th></tr></thead>\r\n<tbody>\r\n");
    if (forms.empty()) out.write("<tr><td colspan=\"3\">还没有表单。</td></tr>\r\n");
    for (const FormSummary& f : forms) {
      out.write("<tr><td>" + h(f.name) + "</td><td>" + h(f.body_type) + "</td><td>" + std::to_string(f.models) +
                "</td></tr>\r\n");
    }
    out.write("</tbody>\r\n</table>\r\n</body>\r\n</html>\r\n");
  });
}

}  // namespace oapx1
