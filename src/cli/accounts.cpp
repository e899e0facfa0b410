#include "cli/accounts.h"

#include <algorithm>

#include "organisation/directory_store.h"
#include "organisation/names.h"
#include "platform/crypto/password_hash.h"
#include "platform/data/connection.h"
#include "platform/data/db_backend.h"
#include "platform/script/script.h"
#include "util/ids_and_lists.h"

namespace oapx1 {
namespace {

std::string cell(const DbResult& result, size_t row, std::string_view column) { return cell_text(result, row, column); }

std::string quoted(const std::string& text) { return sql_literal(text); }

std::string join_list(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& n : names) list += (list.empty() ? "" : ";") + n;
  return list;
}

}  // namespace

Accounts::Accounts(const std::string& url) : conn_(std::make_shared<Connection>()) {
  conn_->Open(Variant(url));
}

Accounts::~Accounts() {
  if (conn_->is_open()) conn_->Close();
}

bool Accounts::valid_login(const std::string& login) { return oapx1::valid_login(login); }

std::pair<std::string, std::string> Accounts::find(const std::string& login) {
  const DbResult r =
      conn_->session().query("select OAID, UserName from KX_UserInfor where UserName=" + quoted(login) +
                             " order by OAID");
  if (r.rows.empty()) throw AccountError("no account \"" + login + "\"");
  return {cell(r, 0, "UserName"), cell(r, 0, "OAID")};
}

void Accounts::add(const std::string& login, const std::string& name, std::optional<long long> department,
                   const std::string& password) {
  if (!valid_login(login)) {
    throw AccountError("\"" + login +
                       "\" is no valid login: 1 to 50 characters, no spaces and none of ; , * ' \" < > & %");
  }
  const DbResult taken =
      conn_->session().query("select UserName from KX_UserInfor where UserName=" + quoted(login));
  if (!taken.rows.empty()) throw AccountError("the account \"" + cell(taken, 0, "UserName") + "\" exists");
  std::string department_value = "NULL";
  if (department) {
    department_value = std::to_string(*department);
    if (conn_->session()
            .query("select DepartMentID from KX_Department where DepartMentID=" + department_value)
            .rows.empty()) {
      throw AccountError("no department " + department_value + " (KX_Department.DepartMentID)");
    }
  }
  const std::string hash = hash_password(password);
  const DbResult order = conn_->session().query("select max(ordernumber) as last from KX_UserInfor");
  const std::string last = order.rows.empty() ? "" : cell(order, 0, "last");
  const long long next = (last.empty() ? 0 : std::stoll(last)) + 1;
  conn_->execute(Variant("insert into KX_UserInfor (UserName, TureName, DepartMentID, AccountState, "
                         "ordernumber, password) values (" +
                         quoted(login) + ", " + quoted(name) + ", " + department_value + ", '1', " +
                         std::to_string(next) + ", " + quoted(hash) + ")"));
}

void Accounts::set_password(const std::string& login, const std::string& password) {
  const auto [stored, key] = find(login);
  conn_->execute(Variant("update KX_UserInfor set password=" + quoted(hash_password(password)) +
                         " where OAID=" + sql_integer(Variant(key))));
}

void Accounts::set_active(const std::string& login, bool active) {
  const auto [stored, key] = find(login);
  conn_->execute(Variant(std::string("update KX_UserInfor set AccountState='") + (active ? "1" : "0") +
                         "' where OAID=" + sql_integer(Variant(key))));
}

bool Accounts::grant(const std::string& login, const std::string& code) {
  const auto [stored, key] = find(login);
  if (conn_->session().query("select OAID from OA_Functions where CodeNumber=" + quoted(code)).rows.empty()) {
    std::string known;
    const DbResult all = conn_->session().query("select CodeNumber from OA_Functions order by OAID");
    for (size_t i = 0; i < all.rows.size(); ++i) known += (known.empty() ? "" : ", ") + cell(all, i, "CodeNumber");
    throw AccountError("no function \"" + code + "\" (OA_Functions.CodeNumber); the functions are: " +
                       (known.empty() ? "none" : known));
  }
  // The permission checks read the first grant row of a code; the list there
  // is the one that counts.
  const DbResult rows =
      conn_->session().query("select OAID, UserList from OA_SysPower where Code=" + quoted(code) + " order by OAID");
  if (rows.rows.empty()) {
    conn_->execute(Variant("insert into OA_SysPower (Code, UserList) values (" + quoted(code) + ", " +
                           quoted(stored) + ")"));
    return true;
  }
  std::vector<std::string> names = list_entries(cell(rows, 0, "UserList"));
  if (std::find(names.begin(), names.end(), stored) != names.end()) return false;
  names.push_back(stored);
  conn_->execute(Variant("update OA_SysPower set UserList=" + quoted(join_list(names)) +
                         " where OAID=" + sql_integer(Variant(cell(rows, 0, "OAID")))));
  return true;
}

bool Accounts::revoke(const std::string& login, const std::string& code) {
  const auto [stored, key] = find(login);
  const DbResult rows =
      conn_->session().query("select OAID, UserList from OA_SysPower where Code=" + quoted(code) + " order by OAID");
  bool held = false;
  for (size_t i = 0; i < rows.rows.size(); ++i) {
    std::vector<std::string> names = list_entries(cell(rows, i, "UserList"));
    const auto kept = std::remove(names.begin(), names.end(), stored);
    if (kept == names.end()) continue;
    names.erase(kept, names.end());
    held = true;
    conn_->execute(Variant("update OA_SysPower set UserList=" + quoted(join_list(names)) +
                           " where OAID=" + sql_integer(Variant(cell(rows, i, "OAID")))));
  }
  return held;
}

bool Accounts::granted_by_role(const std::string& login, const std::string& code) {
  const auto [stored, key] = find(login);
  const DbResult r = conn_->session().query(
      "select r.OAID from OA_Roles r, OA_FunctionRole g, OA_Functions f where r.userIds like '%," +
      sql_text(Variant(key)) + ",%' and g.RoleID=r.OAID and g.FunctionID=f.OAID and f.CodeNumber=" +
      quoted(code));
  return !r.rows.empty();
}

void Accounts::ensure_editing_function() {
  if (!conn_->session()
           .query(std::string("select OAID from OA_Functions where CodeNumber='") + kDefaultEditPermission + "'")
           .rows.empty()) {
    return;
  }
  conn_->execute(Variant(std::string("insert into OA_Functions (CodeNumber, FunctionName) values ('") +
                         kDefaultEditPermission + "', '流程设置')"));
}

std::vector<AccountRow> Accounts::list() {
  const DbResult users = conn_->session().query(
      "select u.OAID, u.UserName, u.TureName, u.DepartMentID, d.DepartName, u.AccountState, u.password "
      "from KX_UserInfor u left join KX_Department d on d.DepartMentID=u.DepartMentID "
      "order by u.ordernumber, u.OAID");
  const DbResult grants = conn_->session().query("select Code, UserList from OA_SysPower order by OAID");
  // A role lists its members' account keys (KX_UserInfor.OAID) as ",1,2,".
  const DbResult roles = conn_->session().query(
      "select r.userIds, r.RoleName, f.CodeNumber from OA_Roles r, OA_FunctionRole g, OA_Functions f "
      "where g.RoleID=r.OAID and g.FunctionID=f.OAID order by r.OAID, f.OAID");
  std::vector<AccountRow> accounts;
  for (size_t i = 0; i < users.rows.size(); ++i) {
    AccountRow a;
    a.login = cell(users, i, "UserName");
    a.name = cell(users, i, "TureName");
    a.department = cell(users, i, "DepartName");
    if (a.department.empty()) a.department = cell(users, i, "DepartMentID");
    a.active = cell(users, i, "AccountState") != "0";
    const std::string password = cell(users, i, "password");
    a.password = password.empty() ? "none" : is_password_hash(password) ? "hashed" : "plain text";
    for (size_t g = 0; g < grants.rows.size(); ++g) {
      const std::vector<std::string> names = list_entries(cell(grants, g, "UserList"));
      const std::string code = cell(grants, g, "Code");
      if (std::find(names.begin(), names.end(), a.login) != names.end() &&
          std::find(a.grants.begin(), a.grants.end(), code) == a.grants.end()) {
        a.grants.push_back(code);
      }
    }
    const std::string member = "," + cell(users, i, "OAID") + ",";
    for (size_t r = 0; r < roles.rows.size(); ++r) {
      if (cell(roles, r, "userIds").find(member) == std::string::npos) continue;
      a.role_grants.push_back(cell(roles, r, "CodeNumber") + " (" + cell(roles, r, "RoleName") + ")");
    }
    accounts.push_back(std::move(a));
  }
  return accounts;
}

std::vector<std::string> Accounts::plain_text_passwords() {
  std::vector<std::string> logins;
  for (const AccountRow& a : list()) {
    if (a.password == "plain text") logins.push_back(a.login);
  }
  return logins;
}

}  // namespace oapx1
