// The general-functions include: the trees and option lists over departments,
// users, request types and document catalogues, and the collectors of a
// department's or request type's descendants. Each walks its parent-child
// table level by level on an explicit stack, in the order the include's
// recursive functions wrote it: a node, then everything below it, then its
// next sibling.
#include <string>
#include <string_view>

#include "directory/tree_walk.h"
#include "host/page.h"
#include "lookups/rows.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/web/intrinsics.h"

namespace oapx1 {

using directory::is_true;
using directory::Level;
using directory::TreeHooks;
using directory::walk_tree;

namespace {

// The markup form of a database value.
std::string h(const Variant& v) { return html_encode(v.str()); }

// The start of a folder's line in the catalogue and department trees: its
// indentation and the opened-folder icon of the outline `key`.
std::string folder_icon(const std::string& indent, const std::string& key) {
  return "<nobr>" + indent + "<img align=middle src='images/tree_OFolder.gif' id=Out" + key +
         "i style='CURSOR: hand' class=Outline>&nbsp;";
}

// The opening of the block that holds the outline `key`'s children.
std::string children_block(const std::string& key) {
  return "<div id=Out" + key + "s style='DISPLAY: '>";
}

// Collects the text of a list field in a local buffer, so that a long walk
// appends in constant time, and stores it back into the field when the walk
// ends, however it ends.
class ListField {
 public:
  explicit ListField(Variant& field) : field_(field) {}
  ~ListField() {
    if (appended_) field_ = std::move(text_);
  }
  ListField(const ListField&) = delete;
  ListField& operator=(const ListField&) = delete;

  // Sets the field to `id` when it equals "".
  void start(const Variant& id) {
    if (!appended_ && script_equal(field_, "")) field_ = id;
  }
  // Appends "," + id.
  void append(const Variant& id) {
    if (!appended_) text_ = field_.str();
    appended_ = true;
    text_ += ',';
    text_ += id.str();
  }

 private:
  Variant& field_;
  std::string text_;
  bool appended_ = false;
};


// The statement of the child rows of node `id` in `table`, by ParentID.
std::string children_sql(std::string_view table, const Variant& id) {
  return "select * from " + std::string(table) + " where ParentID=" + sql_integer(id);
}

// The statement of the sub-catalogues of catalogue `id`, newest first.
std::string catalogue_children_sql(const Variant& id) {
  return children_sql("KX_Catalog", id) + " order by CreateDate Desc";
}

// The closing work of a row in the outline trees: the end of the block that
// holds its children.
struct EndBlock {
  void operator()(Level&) const { response_object().write("</div>"); }
};

// The collector of departmentchild and reqtypechild: appends "," + each id
// below `id` in `table` (children by ParentID, ids in `key_column`), in
// pre-order, to `list_field`, which is first set to `id` when it is "". A node
// already met is not walked again; `guard` runs each level's statements.
template <class Guard>
void collect_descendants(Guard&& guard, const Variant& conn, std::string_view table,
                         std::string_view key_column, Variant& list_field, const Variant& id) {
  ListField list(list_field);
  // The list starts with the top node only: below it the field is never "".
  if (!guard([&] { list.start(id); })) return;
  walk_tree(Level{id},
            TreeHooks{.child_column = key_column,
                      .open = [&](Level& c) { return open_rows(children_sql(table, c.id), conn); },
                      .row =
                          [&](Level&, Recordset&, const Variant& child) {
                            list.append(child);
                            return true;
                          }},
            guard);
}

// The option lists of tabshowdepartmentchild and tabshowreqtypechild: for each
// node below `id` in `table` (ids in `key_column`), "<OPTION value=" + id + ">",
// "|--" once more than the level, its `name_column` and "</OPTION>", each
// followed by its own sub-nodes.
template <class Guard>
void option_tree(Page& page, Guard&& guard, std::string_view table, std::string_view key_column,
                 std::string_view name_column, const Variant& id, const Variant& level) {
  Variant unit = "|--";
  walk_tree(Level{id, level},
            TreeHooks{.child_column = key_column,
                      .indented = true,
                      .open =
                          [&](Level& c) {
                            page.sql = children_sql(table, c.id);
                            return open_rows(page.sql, page.conn);
                          },
                      .row =
                          [&](Level& c, Recordset& r, const Variant& child) {
                            response_object().write("<OPTION value=" + h(child) + ">" +
                                                    page.stringcount(unit, c.level).str() +
                                                    h(r.field(name_column)) + "</OPTION>");
                            return true;
                          }},
            guard);
}

}  // namespace

Variant Page::tabshowdepartmentchild(Variant& id, Variant& level) {
  option_tree(*this, piece_guard(__func__), "KX_Department", "DepartmentID", "DepartName", id, level);
  return Variant();
}

Variant Page::tabshowreqtypechild(Variant& id, Variant& level) {
  option_tree(*this, piece_guard(__func__), "KX_ReqType", "ReqTypeID", "ReqTypeName", id, level);
  return Variant();
}

Variant Page::listuser(Variant& id, Variant& level) {
  Variant unit = "|&nbsp;&nbsp;";
  auto open = [&](Level& c) {
    // The department's own users first, in the database's order.
    Variant users = open_rows("select * from KX_UserInfor where DepartMentID=" + sql_integer(c.id), conn);
    Recordset& u = users.as<Recordset>();
    const int64_t user_count = u.RecordCount();
    for (int64_t k = 1; k <= user_count; ++k, u.MoveNext()) {
      const Variant ip = u.field("IPAddress");
      const std::string value = !ip.is_null() && script_unequal(ip, "") ? h(ip) : "NONE";
      response_object().write("<OPTION VALUE='" + value + "'>" + stringcount(unit, c.level).str() + "*" +
                              h(u.field("TureName")) + "</OPTION> ");
    }
    u.Close();
    sql = children_sql("KX_Department", c.id);
    return open_rows(sql, conn);
  };
  auto row = [&](Level& c, Recordset& r, const Variant&) {
    response_object().write("<OPTION value='NONE'>" + stringcount(unit, c.level).str() +
                            h(r.field("departName")) + "</OPTION>");
    return true;
  };
  walk_tree(Level{id, level},
            TreeHooks{.child_column = "DepartmentID", .indented = true, .open = open, .row = row},
            piece_guard(__func__));
  return Variant();
}

Variant Page::tabshowdepartmentchildandusername(Variant& id, Variant& level) {
  Variant unit = "<img src='images/blank.gif'>";
  auto open = [&](Level& c) {
    Response& out = response_object();
    // The department's active users, each with its on-line state.
    Variant users = open_rows("select * from KX_UserInfor where DepartMentID=" + sql_integer(c.id) +
                                       " and  AccountState='1' order by OrderNumber",
                                   conn);
    Recordset& u = users.as<Recordset>();
    const int64_t user_count = u.RecordCount();
    Variant online_rs;
    for (int64_t k = 1; k <= user_count; ++k, u.MoveNext()) {
      const Variant name = u.field("UserName");
      sql = "select * from KX_PersonOnline where UserName='" + sql_text(name) + "'";
      online_rs = open_rows(sql, conn);
      const bool online = online_rs.as<Recordset>().RecordCount() > 0;
      const std::string login = h(name);
      const std::string full_name = h(u.field("TureName"));
      out.write("<nobr>" + stringcount(unit, c.level).str() +
                "<img align=middle src='images/tree_Dot.gif'>&nbsp;<A class=Topic id='Top" + login +
                "'   style='cursor: hand'  onclick=Javascript:OpenSmallWindows('ShortMsg.asp?TrueName=" +
                // The handler attribute is unquoted: its URL values carry no
                // blank, quote or markup character.
                url_query_text(u.field("TureName").str()) + "&UserName=" + url_query_text(name.str()) +
                "') title='账号：" + login + " IP地址：" + h(u.field("IPAddress")) +
                (online ? "' ><font color=blue>" : "'><font color=gray>") + full_name +
                (online ? "</font></a></nobr><BR>" : "</a></nobr><BR>"));
      online_rs.as<Recordset>().Close();
    }
    u.Close();
    sql = children_sql("KX_Department", c.id);
    return open_rows(sql, conn);
  };
  auto row = [&](Level& c, Recordset& r, const Variant&) {
    Response& out = response_object();
    const std::string key = h(r.field("DepartMentID"));
    out.write(folder_icon(stringcount(unit, c.level).str(), key));
    out.write("<A class=Outline id=Out" + key + "t>" + h(r.field("departName")) + "</a></nobr><br>");
    out.write(children_block(key));
    return true;
  };
  walk_tree(Level{id, level},
            TreeHooks{.child_column = "DepartmentID", .indented = true, .open = open, .row = row,
                      .close = EndBlock{}},
            piece_guard(__func__));
  return Variant();
}

Variant Page::tabshowdocumentstructure(Variant& id, Variant& level) {
  Variant unit = "<img src='images/blank.gif'>";
  auto open = [&](Level& c) {
    Variant documents_code = "CHKDOS" + c.id.str();
    if (is_true(haspower(documents_code))) {
      Response& out = response_object();
      // The catalogue's documents, newest first.
      Variant documents = open_rows(
          "select * from OA_Document where CatNumber=" + sql_integer(c.id) + " order by UpdateDate Desc", conn);
      Recordset& d = documents.as<Recordset>();
      const int64_t document_count = d.RecordCount();
      for (int64_t k = 1; k <= document_count; ++k, d.MoveNext()) {
        const std::string doc = h(d.field("OAID"));
        const std::string subject = h(d.field("DocSubject"));
        out.write("<nobr>" + stringcount(unit, c.level).str() +
                  "<img align=middle src='images/tree_Dot.gif'>&nbsp;<A class=Topic id='Top" + doc +
                  "'  title='" + subject +
                  "'   style='cursor: hand'    onclick=Javascript:OpenDocDetail('OA_DocDisplay.asp?OAID=" +
                  doc + "')>" + subject + "</a></nobr><BR>");
      }
      d.Close();
    }
    sql = catalogue_children_sql(c.id);
    return open_rows(sql, conn);
  };
  auto row = [&](Level& c, Recordset& r, const Variant& child) {
    // Both checks run for every row, on this catalogue's id.
    Variant folders_code = "CHKDOP" + c.id.str();
    Variant documents_code = "CHKDOS" + c.id.str();
    const bool folders = is_true(haspower(folders_code));
    const bool documents = is_true(haspower(documents_code));
    if (!folders && !documents) return false;
    Response& out = response_object();
    const std::string key = h(child);
    const std::string name = h(r.field("CatName"));
    out.write(folder_icon(stringcount(unit, c.level).str(), key));
    out.write("<A class=Outline href='OA_DocumentList.asp?CatNumber=" + key + "' id=Out" + key +
              "t target='detail'  title='" + name + "' >" + name + "</a></nobr><br>");
    out.write(children_block(key));
    return true;
  };
  walk_tree(Level{id, level},
            TreeHooks{.child_column = "KXID", .indented = true, .open = open, .row = row, .close = EndBlock{}},
            piece_guard(__func__));
  return Variant();
}

Variant Page::showdoctree(Variant& id, Variant& level) {
  Variant unit = "&nbsp;&nbsp;&nbsp;";
  auto open = [&](Level& c) {
    sql = catalogue_children_sql(c.id);
    return open_rows(sql, conn);
  };
  auto row = [&](Level& c, Recordset& r, const Variant& child) {
    Response& out = response_object();
    const std::string key = h(child);
    Variant code = "CHKDOP" + child.str();
    if (is_true(haspower(code))) {
      const std::string name = h(r.field("CatName"));
      out.write(folder_icon(stringcount(unit, c.level).str(), key));
      out.write("<A class=Outline  id=Out" + key + "t  title='" + name + "' >" + name +
                "</a><INPUT type=radio id=tree name=tree  onclick=\" javascript:ClickS(" + key + ",'" +
                html_encode(script_string(r.field("CatName").str())) + "')\"   value=" + key +
                "></nobr><br>");
    }
    // A hidden catalogue still holds its permitted sub-catalogues.
    out.write(children_block(key));
    return true;
  };
  walk_tree(Level{id, level},
            TreeHooks{.child_column = "KXID", .indented = true, .open = open, .row = row, .close = EndBlock{}},
            piece_guard(__func__));
  return Variant();
}

Variant Page::departmentchild(Variant& id) {
  collect_descendants(piece_guard(__func__), conn, "KX_Department", "DepartmentID",
                      departmentchildlist, id);
  return Variant();
}

Variant Page::reqtypechild(Variant& id) {
  collect_descendants(piece_guard(__func__), conn, "KX_ReqType", "ReqTypeID", reqtypechildlist, id);
  return Variant();
}

}  // namespace oapx1
