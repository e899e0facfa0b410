#include "organisation/directory_store.h"

#include "platform/data/connection.h"
#include "platform/data/db_backend.h"
#include "platform/data/held_write.h"
#include "platform/script/script.h"
#include "platform/text/ascii.h"
#include "util/ids_and_lists.h"

namespace oapx1 {

std::string cell_text(const DbResult& result, size_t row, std::string_view column) {
  const int at = result.columns.find(column);
  if (at < 0 || result.rows[row][at].is_null()) return {};
  return result.rows[row][at].str();
}

std::string sql_literal(const std::string& text) { return "'" + sql_text(Variant(text)) + "'"; }

namespace {

std::string cell(const DbResult& result, size_t row, std::string_view column) { return cell_text(result, row, column); }

int64_t cell_number(const DbResult& result, size_t row, std::string_view column) {
  return whole_number(trim(cell(result, row, column), " ")).value_or(0);
}

std::string quoted(const std::string& text) { return sql_literal(text); }

std::string quoted_or_null(const std::string& text) { return text.empty() ? "NULL" : quoted(text); }

std::string id_or_null(const std::optional<int64_t>& id) { return id ? std::to_string(*id) : "NULL"; }

}  // namespace

DirectoryStore::DirectoryStore(const std::string& url) : conn_(std::make_shared<Connection>()) {
  conn_->Open(Variant(url));
}

DirectoryStore::~DirectoryStore() {
  if (conn_->is_open()) conn_->Close();
}

DepartmentTree DirectoryStore::departments() {
  const DbResult r =
      conn_->session().query("select DepartMentID, ParentID, DepartName, ordernumber from KX_Department");
  std::vector<Department> list;
  list.reserve(r.rows.size());
  for (size_t i = 0; i < r.rows.size(); ++i) {
    list.push_back({cell_number(r, i, "DepartMentID"), cell_number(r, i, "ParentID"), cell(r, i, "DepartName"),
                    cell_number(r, i, "ordernumber")});
  }
  return DepartmentTree(std::move(list));
}

std::vector<Person> DirectoryStore::people() {
  const DbResult r = conn_->session().query(
      "select OAID, UserName, TureName, DepartMentID, Mobile, AccountState from KX_UserInfor "
      "order by ordernumber, OAID");
  std::vector<Person> list;
  list.reserve(r.rows.size());
  for (size_t i = 0; i < r.rows.size(); ++i) {
    Person p;
    p.key = cell_number(r, i, "OAID");
    p.login = cell(r, i, "UserName");
    p.name = cell(r, i, "TureName");
    if (const auto d = whole_number(trim(cell(r, i, "DepartMentID"), " "))) p.department = *d;
    p.mobile = cell(r, i, "Mobile");
    p.active = cell(r, i, "AccountState") != "0";
    list.push_back(std::move(p));
  }
  return list;
}

std::vector<NodeLists> DirectoryStore::nodes() {
  const DbResult r = conn_->session().query(
      "select n.OAID, n.MOAID, m.ModelName, n.JieDianName, n.BanLiRenType, n.JiaoSeUserList, n.FenFaUser, "
      "n.FenFaBuMen from OA_Flow_Model_JieDian n left join OA_Flow_Model_Header m on m.OAID=n.MOAID "
      "left join OAPX1_NodeOrder o on o.NodeID=n.OAID "
      "order by n.MOAID, case when o.Position is null then 1 else 0 end, o.Position, n.OAID");
  std::vector<NodeLists> list;
  list.reserve(r.rows.size());
  for (size_t i = 0; i < r.rows.size(); ++i) {
    const int mode = r.columns.find("BanLiRenType");
    list.push_back({cell_number(r, i, "OAID"), cell_number(r, i, "MOAID"), cell(r, i, "ModelName"),
                    cell(r, i, "JieDianName"), r.rows[i][mode].is_null() ? "2" : cell(r, i, "BanLiRenType"),
                    cell(r, i, "JiaoSeUserList"), cell(r, i, "FenFaUser"), cell(r, i, "FenFaBuMen")});
  }
  return list;
}

Staffing DirectoryStore::staffing(const std::vector<Person>& people, const DepartmentTree& tree) {
  Staffing s;
  for (const Person& p : people) {
    if (p.active) s.active_logins.insert(ascii_lower(p.login));
  }
  for (const auto& [id, level] : tree.walk()) s.departments.insert(id);
  return s;
}

int64_t DirectoryStore::insert_department(const std::string& name, int64_t parent) {
  const std::string under = " where ParentID=" + std::to_string(parent);
  const DbResult order = conn_->session().query("select max(ordernumber) as last from KX_Department" + under);
  const int64_t next = (order.rows.empty() ? 0 : cell_number(order, 0, "last")) + 1;
  conn_->execute(Variant("insert into KX_Department (ParentID, DepartName, ordernumber) values (" +
                         std::to_string(parent) + ", " + quoted(name) + ", " + std::to_string(next) + ")"));
  const DbResult id = conn_->session().query("select max(DepartMentID) as id from KX_Department" + under +
                                             " and DepartName=" + quoted(name));
  return cell_number(id, 0, "id");
}

void DirectoryStore::update_department(const Department& d) {
  conn_->execute(Variant("update KX_Department set DepartName=" + quoted(d.name) +
                         ", ParentID=" + std::to_string(d.parent) + ", ordernumber=" + std::to_string(d.order) +
                         " where DepartMentID=" + std::to_string(d.id)));
}

void DirectoryStore::delete_department(int64_t id) {
  conn_->execute(Variant("delete from KX_Department where DepartMentID=" + std::to_string(id)));
}

void DirectoryStore::insert_people(const std::vector<Person>& people) {
  constexpr size_t kRowsPerStatement = 200;
  if (people.empty()) return;
  const DbResult order = conn_->session().query("select max(ordernumber) as last from KX_UserInfor");
  int64_t next = (order.rows.empty() ? 0 : cell_number(order, 0, "last")) + 1;
  for (size_t first = 0; first < people.size(); first += kRowsPerStatement) {
    std::string sql =
        "insert into KX_UserInfor (UserName, TureName, DepartMentID, Mobile, AccountState, ordernumber) values ";
    for (size_t i = first; i < people.size() && i < first + kRowsPerStatement; ++i) {
      const Person& p = people[i];
      sql += (i == first ? "(" : ", (") + quoted(p.login) + ", " + quoted(p.name) + ", " + id_or_null(p.department) +
             ", " + quoted_or_null(p.mobile) + ", '" + (p.active ? "1" : "0") + "', " + std::to_string(next++) + ")";
    }
    conn_->execute(Variant(sql));
  }
}

void DirectoryStore::update_person(const Person& p) {
  conn_->execute(Variant("update KX_UserInfor set TureName=" + quoted(p.name) +
                         ", DepartMentID=" + id_or_null(p.department) + ", Mobile=" + quoted_or_null(p.mobile) +
                         ", AccountState='" + (p.active ? "1" : "0") + "' where OAID=" + std::to_string(p.key)));
}

void DirectoryStore::write(const std::function<void()>& body) {
  HeldWrite transaction;
  // The department table's key 0 is no department: on PostgreSQL this
  // begins the transaction without locking a row.
  transaction.begin(*conn_, "KX_Department", "DepartMentID", 0);
  try {
    body();
    transaction.commit(*conn_);
  } catch (...) {
    transaction.rollback(*conn_);
    throw;
  }
}

}  // namespace oapx1
