// The organisation directory as the database holds it (KX_Department,
// KX_UserInfor, and the node columns that name accounts and departments),
// read and written on either engine through the platform's connection.
#ifndef OAPX1_ORGANISATION_DIRECTORY_STORE_H_
#define OAPX1_ORGANISATION_DIRECTORY_STORE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "organisation/department_tree.h"
#include "organisation/node_references.h"
#include "platform/data/db_backend.h"

namespace oapx1 {

class Connection;

// The text of a cell of `result` by column name (any letter case); "" for
// null or a missing column.
std::string cell_text(const DbResult& result, size_t row, std::string_view column);
// `text` as an SQL string literal: between apostrophes, quoted by sql_text.
std::string sql_literal(const std::string& text);

// One account as the directory compares and writes it.
struct Person {
  int64_t key = 0;                    // KX_UserInfor.OAID; 0 for one not yet written
  std::string login;                  // UserName
  std::string name;                   // TureName
  std::optional<int64_t> department;  // DepartMentID; nullopt for none
  std::string mobile;                 // Mobile; "" for none
  bool active = true;                 // AccountState is not '0'
};

class DirectoryStore {
 public:
  // Opens the database at `url`; fails as Connection::Open does.
  explicit DirectoryStore(const std::string& url);
  ~DirectoryStore();
  DirectoryStore(const DirectoryStore&) = delete;
  DirectoryStore& operator=(const DirectoryStore&) = delete;

  // Every department, read now.
  DepartmentTree departments();
  // Every account in display order (ordernumber, then id).
  std::vector<Person> people();
  // Every workflow node with its model, model by model, each model's nodes in
  // the order of its node list.
  std::vector<NodeLists> nodes();
  // The active accounts and the departments of `people` and `tree`.
  static Staffing staffing(const std::vector<Person>& people, const DepartmentTree& tree);

  // Adds a department under `parent` (0: at the top), last among its
  // siblings; returns its id.
  int64_t insert_department(const std::string& name, int64_t parent);
  // Sets a department's name, parent and display order as `d` gives them.
  void update_department(const Department& d);
  // Deletes the department `id`.
  void delete_department(int64_t id);
  // Adds the accounts as `people` describe them (their keys ignored), with
  // no password, so that they cannot sign in before one is set, last in the
  // display order in their order; a few hundred to a statement.
  void insert_people(const std::vector<Person>& people);
  // Sets the name, department, mobile and state of the account `p.key`.
  void update_person(const Person& p);

  // Runs `body` in one write transaction: what it writes is committed when it
  // returns, and rolled back, all of it, when it throws (the failure then
  // propagates). On SQLite the database's write lock is held throughout.
  void write(const std::function<void()>& body);

 private:
  std::shared_ptr<Connection> conn_;  // open for the object's lifetime
};

}  // namespace oapx1

#endif  // OAPX1_ORGANISATION_DIRECTORY_STORE_H_
