// The user and department pickers. Both pages share one layout: the
// department tree on the left, loaded one level at a time, and the list of
// what has been chosen; the user picker adds the search and the list of the
// users found. Their behaviour in the browser lives in Include/js/picker.js.
#include "pages/pickers/picker_pages.h"

#include <set>
#include <string>
#include <vector>

#include "lookups/rows.h"
#include "platform/text/ascii.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/web/intrinsics.h"
#include "util/ids_and_lists.h"

namespace oapx1 {

namespace {

Variant request_item(std::string_view name) { return request_object().item(name); }

std::string h(const Variant& v) { return html_encode(v.str()); }

// True when the request belongs to a signed-in user. Without one, the session
// guard has already written the script that sends the browser to the login
// page, and the pickers show no directory data.
bool signed_in() { return !script_equal(session_object().item("UserName"), ""); }

// The connection include, the general functions and the user functions: what
// the pickers use of the library. The window include is left out, as the
// pickers draw their own page.
void run_picker_initialisers(Page& page) {
  page.tvdb_connI_init();
  page.tvtvfunctionI_init();
  page.tvincfunctionuserI_init();
}

// One level of the department tree: a tree item per sub-department of
// `parent`, in display order, marked expandable when it has sub-departments.
void write_department_level(Page& page, const Variant& parent) {
  page.sql =
      "select d.DepartMentID, d.DepartName, (select count(*) from KX_Department c where "
      "c.ParentID=d.DepartMentID) as kids from KX_Department d where d.ParentID=" +
      sql_integer(parent) + " order by d.ordernumber, d.DepartMentID";
  Variant rs = open_rows(page.sql, page.conn);
  Recordset& r = rs.as<Recordset>();
  Response& out = response_object();
  for (; !r.Eof(); r.MoveNext()) {
    const std::string id = h(r.field("DepartMentID"));
    const std::string name = h(r.field("DepartName"));
    const bool kids = r.field("kids").to_integer() > 0;
    out.write("<li role=\"treeitem\" tabindex=\"-1\" data-id=\"" + id + "\" data-name=\"" + name +
              "\"" + (kids ? " aria-expanded=\"false\"" : "") + "><span class=\"node\">" + name +
              "</span></li>\r\n");
  }
  r.Close();
}

// The values the picker opens with, in order: the `cx` item (the form field's
// own text as hexadecimal UTF-16 code units, pieces separated by ";") where
// the shared script sent one, else `FieldValue` split on `legacy_separator`, a
// single character (as the node page's own links write it). Empty pieces are
// dropped.
std::vector<std::string> preselected(std::string_view legacy_separator) {
  const Variant hex = request_item("cx");
  std::string text;
  std::string_view separator = legacy_separator;
  if (const auto decoded = decode_picker_search(hex.str()); !hex.is_empty() && decoded) {
    text = *decoded;
    separator = ";";
  } else {
    text = request_item("FieldValue").str();
  }
  if (separator.empty()) return {};
  return list_entries(text, separator);
}

// The head of a picker page and the opening of its form.
void write_shell_head(std::string_view title) {
  const std::string base = session_object().item("SystemURL").str() + "Include/";
  Response& out = response_object();
  out.write("<!DOCTYPE html>\r\n<html lang=\"zh-CN\">\r\n<head>\r\n");
  out.write("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">\r\n");
  out.write("<title>" + html_encode(title) + "</title>\r\n");
  out.write("<link href=\"" + html_encode(base) + "js/picker.css\" type=\"text/css\" rel=\"stylesheet\">\r\n");
  out.write("</head>\r\n<body>\r\n");
}

// The department tree with its top level.
void write_tree(Page& page) {
  Response& out = response_object();
  out.write("<div class=\"pane tree-pane\"><div class=\"caption\" id=\"treeCaption\">部门</div>\r\n");
  out.write("<ul class=\"tree\" id=\"tree\" role=\"tree\" aria-labelledby=\"treeCaption\">\r\n");
  write_department_level(page, Variant(0));
  out.write("</ul></div>\r\n");
}

// The list of what is chosen, its buttons and the dialog's buttons; then the
// script, which finds its base address in the page's own script tag.
void write_shell_end(std::string_view chosen_caption, std::string_view chosen_options) {
  const std::string base = session_object().item("SystemURL").str() + "Include/";
  Response& out = response_object();
  out.write("<div class=\"moves\">"
            "<button type=\"button\" id=\"add\" title=\"添加到已选 (Enter)\">添加 ↓</button>"
            "<button type=\"button\" id=\"remove\" title=\"从已选中移除 (Delete)\">移除 ↑</button>"
            "<button type=\"button\" id=\"up\">上移</button>"
            "<button type=\"button\" id=\"down\">下移</button></div>\r\n");
  out.write("<div class=\"pane chosen-pane\"><label class=\"caption\" for=\"chosen\">" +
            html_encode(chosen_caption) + "</label>\r\n");
  out.write("<select id=\"chosen\" multiple size=\"6\">\r\n");
  out.write(chosen_options);
  out.write("</select></div>\r\n");
  out.write("<div class=\"actions\"><button type=\"button\" id=\"ok\">确定</button> "
            "<button type=\"button\" id=\"cancel\">取消</button></div>\r\n");
  out.write("</form>\r\n");
  out.write("<script src=\"" + html_encode(base) + "js/picker.js\"></script>\r\n");
  out.write("</body>\r\n</html>\r\n");
}

}  // namespace

std::optional<std::string> decode_picker_search(std::string_view hex) {
  if (hex.size() % 4 != 0) return std::nullopt;
  std::vector<unsigned> units;
  for (size_t at = 0; at < hex.size(); at += 4) {
    unsigned unit = 0;
    for (size_t k = at; k < at + 4; ++k) {
      const char c = hex[k];
      unit <<= 4;
      if (c >= '0' && c <= '9') unit |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f') unit |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') unit |= static_cast<unsigned>(c - 'A' + 10);
      else return std::nullopt;
    }
    units.push_back(unit);
  }
  std::string text;
  auto put = [&](unsigned cp) { utf8_append(text, static_cast<char32_t>(cp)); };
  for (size_t k = 0; k < units.size(); ++k) {
    const unsigned u = units[k];
    if (u >= 0xD800 && u < 0xDC00 && k + 1 < units.size() && units[k + 1] >= 0xDC00 &&
        units[k + 1] < 0xE000) {
      put(0x10000 + ((u - 0xD800) << 10) + (units[k + 1] - 0xDC00));
      ++k;
    } else if (u >= 0xD800 && u < 0xE000) {
      put(0xFFFD);
    } else {
      put(u);
    }
  }
  return text;
}

// --- Users -------------------------------------------------------------------

void UserPickerPage::I_init() {
  bind_request_context();
  initialiser(__func__, [&] {
    run_picker_initialisers(*this);
    if (!signed_in()) return;
    const Variant part = request_item("part");
    if (script_equal(part, "depts")) {
      write_department_level(*this, request_item("parent"));
    } else if (script_equal(part, "users")) {
      const Variant dept = request_item("dept");
      if (!script_equal(dept, "")) {
        write_users("u.DepartMentID=" + sql_integer(dept));
      } else if (const auto text = decode_picker_search(request_item("qx").str()); text && !text->empty()) {
        // What was typed is matched as it stands: "%" or "_" finds itself.
        const std::string like = "%" + sql_like_text(Variant(*text)) + "%";
        write_users("(u.TureName like '" + like + "' escape '\\' or u.UserName like '" + like +
                    "' escape '\\')");
      }
    } else {
      write_page();
    }
  });
}

void UserPickerPage::write_users(const std::string& condition) {
  // Accounts switched off ("0") are not offered; an unset state counts as on.
  sql = "select top " + std::to_string(kPickerListLimit + 1) +
        " u.UserName, u.TureName, d.DepartName from KX_UserInfor u left join KX_Department d on "
        "d.DepartMentID=u.DepartMentID where " + condition +
        " and (u.AccountState is null or u.AccountState<>'0') order by u.ordernumber, u.OAID";
  Variant list = open_rows(sql, conn);
  Recordset& r = list.as<Recordset>();
  Response& out = response_object();
  int shown = 0;
  for (; !r.Eof(); r.MoveNext()) {
    if (shown == kPickerListLimit) {
      out.write("<option disabled value=\"\">…… 仅列出前 " + std::to_string(kPickerListLimit) +
                " 人，请输入更完整的姓名或帐号搜索</option>\r\n");
      break;
    }
    const std::string account = h(r.field("UserName"));
    const std::string name = h(r.field("TureName"));
    out.write("<option value=\"" + account + "\" data-name=\"" + name + "\">" + name + "（" +
              account + "，" + h(r.field("DepartName")) + "）</option>\r\n");
    ++shown;
  }
  r.Close();
  if (shown == 0) out.write("<option disabled value=\"\">没有找到用户</option>\r\n");
}

void UserPickerPage::write_page() {
  // The users already chosen, in the order given; an account the directory no
  // longer knows keeps its login name as display text, so that confirming the
  // dialog does not drop it unseen.
  std::string chosen;
  std::set<std::string> seen;
  for (const std::string& account : preselected("-")) {
    if (account.empty() || !seen.insert(account).second) continue;
    Variant name_key = account;
    Variant name = showusername(name_key);
    if (script_equal(name, "")) name = account;
    chosen += "<option value=\"" + html_encode(account) + "\" data-name=\"" + h(name) + "\">" +
              h(name) + "</option>\r\n";
  }

  write_shell_head("选择用户");
  Response& out = response_object();
  out.write("<form class=\"picker users\" id=\"picker\" data-kind=\"users\" data-value-separator=\";\" "
            "data-text-separator=\",\" onsubmit=\"return false\">\r\n");
  out.write("<div class=\"search\"><label for=\"q\">姓名或帐号：</label><input type=\"search\" id=\"q\" "
            "autocomplete=\"off\"> <button type=\"button\" id=\"find\">搜索</button></div>\r\n");
  out.write("<div class=\"panes\">\r\n");
  write_tree(*this);
  out.write("<div class=\"pane found-pane\"><label class=\"caption\" for=\"found\" id=\"foundCaption\">"
            "用户（先选部门或搜索）</label>\r\n");
  out.write("<select id=\"found\" multiple size=\"8\"></select></div>\r\n");
  out.write("</div>\r\n");
  write_shell_end("已选用户", chosen);
}

// --- Departments -------------------------------------------------------------

std::string DepartmentPickerPage::chosen_departments() {
  // Only whole numbers name a department; a department the directory no
  // longer knows keeps its number as display text, so that confirming the
  // dialog does not drop it unseen.
  std::string chosen;
  std::set<std::string> seen;
  for (const std::string& id : preselected(";")) {
    if (!ascii_digits(id, 9) || !seen.insert(id).second) continue;
    Variant table = "KX_Department", column = "DepartName", key_column = "DepartMentID", key = id;
    Variant name = getnamefromid(table, column, key_column, key);
    if (script_equal(name, "")) name = id;
    chosen += "<option value=\"" + html_encode(id) + "\" data-name=\"" + h(name) + "\">" + h(name) +
              "</option>\r\n";
  }
  return chosen;
}

void DepartmentPickerPage::I_init() {
  bind_request_context();
  initialiser(__func__, [&] {
    run_picker_initialisers(*this);
    if (!signed_in()) return;
    if (script_equal(request_item("part"), "depts")) {
      write_department_level(*this, request_item("parent"));
      return;
    }
    write_shell_head("选择部门");
    Response& out = response_object();
    out.write("<form class=\"picker departments\" id=\"picker\" data-kind=\"departments\" "
              "data-value-separator=\";\" data-text-separator=\";\" onsubmit=\"return false\">\r\n");
    out.write("<div class=\"panes\">\r\n");
    write_tree(*this);
    out.write("</div>\r\n");
    write_shell_end("已选部门", chosen_departments());
  });
}

}  // namespace oapx1
