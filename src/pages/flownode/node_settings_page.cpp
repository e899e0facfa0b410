// The workflow node settings page: request handling (save, load, display
// names) and the toolbar. The head and closing blocks are in head_scripts.cpp,
// the form in node_form.cpp.
#include "pages/flownode/node_settings_page.h"

#include <string>
#include <vector>

#include "util/ids_and_lists.h"
#include "platform/components/components.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"

namespace oapx1 {

void write_node_page_head();
void write_node_page_hidden_fields(const Variant& oaid, const Variant& banliuser);
void write_node_page_end();

namespace {

// Drops the comma a list of display names ends with, in place.
void drop_last_comma(Variant& names) {
  if (!names.is_text() || names.text().empty() || names.text().back() != ',') return;
  std::string text;
  names.swap_text(text);
  text.pop_back();
  names.swap_text(text);
}

const char kSavedMessage[] = "系统提示：流程流程节点设置保存成功！";
// A save that matched no row (a node another administrator deleted, a stale
// link) says so instead of confirming a save that did not happen.
const char kNotSavedMessage[] = "系统提示：流程节点不存在，设置未保存！";

Variant request_item(std::string_view name) { return request_object().item(name); }

// A check box posts "on" when ticked and nothing otherwise.
Variant checkbox_value(std::string_view name) {
  return script_equal(request_item(name), "on") ? "1" : "0";
}

// Drops one leading and one trailing ";" of a list, in place.
void trim_list(Variant& list) {
  if (script_equal(vb::Left(list.str(), 1), ";") && !list.is_null()) list = vb::Mid(list.str(), 2);
  if (script_equal(vb::Right(list.str(), 1), ";") && !list.is_null())
    list = vb::Left(list.str(), vb::Len(list.str()) - 1);
}

}  // namespace

std::vector<std::pair<std::string_view, Variant*>> tvwortqflowjiedia::fields() {
  auto all = Page::fields();
  all.insert(all.end(),
             {{"OAID", &OAID},
              {"MOAID", &MOAID},
              {"JieDianName", &JieDianName},
              {"BanLiType", &BanLiType},
              {"ProcessType", &ProcessType},
              {"TimeUnit", &TimeUnit},
              {"WaitTime", &WaitTime},
              {"IsYiJianTotal", &IsYiJianTotal},
              {"Remark", &Remark},
              {"BanLiRenType", &BanLiRenType},
              {"JiaoSeUserList", &JiaoSeUserList},
              {"DaiLiIsAble", &DaiLiIsAble},
              {"isFirst", &isFirst},
              {"FenFaUser", &FenFaUser},
              {"FenFaBuMen", &FenFaBuMen},
              {"BiaoDanID", &BiaoDanID},
              {"ZhengWenType", &ZhengWenType},
              {"BanLiUser", &BanLiUser},
              {"BanLiUserDis", &BanLiUserDis},
              {"FenFaUserDis", &FenFaUserDis},
              {"FenFaBuMenDis", &FenFaBuMenDis}});
  const auto flags = flag_fields();
  all.insert(all.end(), flags.begin(), flags.end());
  return all;
}

void tvwortqflowjiedia::I_init() {
  bind_request_context();
  initialiser(__func__, [&] {
    run_include_initialisers();

    // Nobody is signed in: the guard has sent the browser to the login page;
    // nothing is saved and no node data is shown.
    if (script_equal(session_object().item("UserName"), "")) return;

    if (script_equal(request_item("save"), "true")) save_node();

    write_node_page_head();
    load_node();
    write_node_page_hidden_fields(request_item("OAID"), BanLiUser);
    Variant title = "流程节点信息";
    showpopwindow(title);
    write_node_page_end();
  });
}

void tvwortqflowjiedia::save_node() {
  sql = "Select * from OA_Flow_Model_JieDian where OAID=" + sql_integer(request_item("OAID"));
  rs = CreateObject("adodb.recordset");
  Recordset& r = rs.as<Recordset>();
  r.Open(sql, conn, 1, 3);
  const bool found = r.RecordCount() > 0;
  if (found) {
    // A text field the post does not carry keeps its stored value: the form
    // never posts the fields it writes inside its HTML comment.
    auto posted = [&](std::string_view column, std::string_view item) {
      const Variant value = request_item(item);
      if (!value.is_empty()) r.set_field(column, value);
    };
    posted("JieDianName", "JieDianName");
    posted("BanLiType", "BanLiType");
    posted("ProcessType", "ProcessType");
    posted("TimeUnit", "TimeUnit");
    const Variant wait = request_item("WaitTime");
    if (!wait.is_empty() && is_numeric(wait)) r.set_field("WaitTime", wait);
    r.set_field("IsYiJianTotal", "1");
    posted("FenFaUser", "FenFaUser");
    posted("FenFaBuMen", "FenFaBuMen");
    posted("BanLiRenType", "BanLiRenType");
    posted("JiaoSeUserList", "CurrentJieDianYongHu");
    r.set_field("DaiLiIsAble", "0");
    if (script_equal(request_item("BanLiRenType"), "3")) {
      r.set_field("DaiLiIsAble", checkbox_value("DaiLiIsAble"));
    }
    for (const auto& [flag, variable] : flag_fields()) r.set_field(flag, checkbox_value(flag));
    r.Update();
  }
  r.Close();
  rs = Variant::nothing();
  msg = found ? kSavedMessage : kNotSavedMessage;
  Response& out = response_object();
  out.write(" <script LANGUAGE=\"javascript\">\r\n");
  out.write("\t\tparent.FMain.location.reload();\r\n");
  out.write("\t</script>\r\n");
  out.write("\t");
}

void tvwortqflowjiedia::load_node() {
  OAID = request_item("OAID");
  TimeUnit = "天";
  BanLiType = "1";
  WaitTime = "0";
  IsYiJianTotal = "1";
  isFirst = "0";
  BanLiRenType = "1";
  sql = "Select * from OA_Flow_Model_JieDian where OAID=" + sql_integer(OAID);
  rs = CreateObject("adodb.recordset");
  Recordset& r = rs.as<Recordset>();
  r.Open(sql, conn, 1, 3);
  if (r.RecordCount() > 0) {
    JieDianName = r.field("JieDianName");
    BanLiType = r.field("BanLiType");
    MOAID = r.field("MOAID");
    ProcessType = r.field("ProcessType");
    TimeUnit = r.field("TimeUnit");
    WaitTime = r.field("WaitTime");
    IsYiJianTotal = r.field("IsYiJianTotal");
    Remark = r.field("Remark");
    BanLiRenType = r.field("BanLiRenType");
    JiaoSeUserList = r.field("JiaoSeUserList");
    DaiLiIsAble = r.field("DaiLiIsAble");
    isFirst = r.field("isFirst");
    FenFaUser = r.field("FenFaUser");
    FenFaBuMen = r.field("FenFaBuMen");
    for (auto& [name, variable] : flag_fields()) *variable = r.field(name);
  }
  r.Close();
  BanLiUser = "";

  Variant table = "OA_Flow_Model_Header", column = "BiaoDanID", key_column = "OAID";
  BiaoDanID = getidfromid(table, column, key_column, MOAID);
  table = "OA_Flow_BiaoDan";
  column = "ZhengWenType";
  ZhengWenType = getnamefromid(table, column, key_column, BiaoDanID);

  // The handler list is resolved once for each of the two handler types that
  // name users; the second pass sees the list as the first one trimmed it.
  for (const char* type : {"1", "3"}) {
    if (script_equal(BanLiRenType, type)) {
      BanLiUser = JiaoSeUserList;
      BanLiUserDis = "";
      resolve_user_names(BanLiUser, BanLiUserDis);
    }
  }
  if (isFirst.is_null()) isFirst = "0";
  if (BanLiRenType.is_null()) BanLiRenType = "2";
  if (DaiLiIsAble.is_null()) DaiLiIsAble = "0";
  if (script_unequal(FenFaUser, "")) {
    Variant list = FenFaUser;
    resolve_user_names(list, FenFaUserDis);
  }
  if (script_unequal(FenFaBuMen, "")) {
    Variant list = FenFaBuMen;
    resolve_department_names(list, FenFaBuMenDis);
  }
  rs = Variant::nothing();
}

std::vector<std::pair<std::string_view, Variant*>> tvwortqflowjiedia::flag_fields() {
  return {{"isTaoHong", &isTaoHong},
          {"isImportWord", &isImportWord},
          {"isQianMing", &isQianMing},
          {"isYinZhang", &isYinZhang},
          {"isChaKanHenJi", &isChaKanHenJi},
          {"isXiuDingJiLu", &isXiuDingJiLu},
          {"IsRecMark", &IsRecMark},
          {"isWordProtect", &isWordProtect},
          {"isYanZhengQianMing", &isYanZhengQianMing},
          {"IsPrint", &IsPrint},
          {"isLocalSave", &isLocalSave},
          {"youjiantixing", &youjiantixing},
          {"iszhuanban", &iszhuanban},
          {"isgoutong", &isgoutong},
          {"isFenFa", &isFenFa},
          {"isBoHui", &isBoHui}};
}

void tvwortqflowjiedia::resolve_user_names(Variant& list, Variant& result) {
  result = "";
  trim_list(list);
  // Each account name becomes its own quoted literal; empty entries are
  // dropped and a list with none left runs no query.
  std::string quoted;
  for (const std::string& name : list_entries(list.str(), ";")) {
    if (!quoted.empty()) quoted += ',';
    quoted += '\'';
    quoted += sql_text(name);
    quoted += '\'';
  }
  if (!quoted.empty()) {
    quoted.insert(0, "select * from kx_userinfor where username in (");
    quoted += ") order by ordernumber";
    sql = std::move(quoted);
    append_names(rs, "TureName", result);
  }
  drop_last_comma(result);
}

void tvwortqflowjiedia::resolve_department_names(Variant& list, Variant& result) {
  result = "";
  trim_list(list);
  // Only whole numbers reach the statement. An entry that is none names no
  // department and is left out, like an id no department has: a stored list
  // with junk in it still shows its departments and the rest of the page.
  std::string ids;
  for (const std::string& id : list_entries(list.str(), ";,")) {
    if (!whole_number(id)) continue;
    if (!ids.empty()) ids += ',';
    ids += sql_integer(Variant(id));
  }
  if (!ids.empty()) {
    ids.insert(0, "select * from KX_Department where DepartMentID in (");
    ids += ") order by ordernumber";
    sql = std::move(ids);
    append_names(rs, "DepartName", result);
  }
  drop_last_comma(result);
}

void tvwortqflowjiedia::append_names(Variant& recordset, std::string_view column, Variant& result) {
  Recordset& r = recordset.as<Recordset>();
  r.Open(sql, conn, 1, 3);
  const int64_t count = r.RecordCount();
  // The names are joined in one buffer and handed to `result` once, also
  // when a row fails part-way, so that it holds the names read so far.
  std::string names = result.str();
  try {
    for (i = 1; i.to_integer() <= count; i = i.to_integer() + 1) {
      names += r.field(column).str();
      names += ',';
      r.MoveNext();
    }
  } catch (...) {
    result = std::move(names);
    throw;
  }
  result = std::move(names);
  r.Close();
}

void tvwortqflowjiedia::winmenu() {
  report_and_leave(__func__, [&] {
    if (script_equal(request_item("save"), "del")) return;
    write_line(2, " <TABLE class=button_table cellSpacing=0 cellPadding=0 border=0>");
    write_line(2, " <TBODY>");
    write_line(2, R"~( <TR vAlign=top height=22><TD class=formKey id=Td_ColumnSet width=55 vAlign=center style="cursor:hand;" onmouseup="this.className='formKey_over'" class="formKey" onmousedown="this.className='formKey_down'" onmouseover="this.className='formKey_over'" )~");
    write_text(2, R"~( onclick="check()" onmouseout="this.className='formKey'" ><IMG class=icon0 style="margin-right:5px;margin-left:3px;" src=")~");
    write_text(0, session_object().item("SystemURL").str());
    write_line(0, R"~(include/imagesV10/save1.gif" align=absMiddle style="cursor:hand;")~");
    write_line(2, " border=0>更新</TD></TR></TBODY></TABLE>");
    write_text(2, "");
  });
}

}  // namespace oapx1
