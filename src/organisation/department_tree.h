// The departments of the organisation as a tree in memory (KX_Department,
// linked through ParentID, 0 at the top): the paths that name them, and the
// checks a change to the tree must pass before it is written.
#ifndef OAPX1_ORGANISATION_DEPARTMENT_TREE_H_
#define OAPX1_ORGANISATION_DEPARTMENT_TREE_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oapx1 {

// One department as stored.
struct Department {
  int64_t id = 0;      // DepartMentID
  int64_t parent = 0;  // ParentID; 0 (or null) for a top-level unit
  std::string name;    // DepartName
  int64_t order = 0;   // ordernumber, the display order among its siblings
};

class DepartmentTree {
 public:
  // The tree of `departments`. A department whose parent does not exist
  // stands at the top; stored cycles are tolerated (their paths stop where
  // the cycle closes).
  explicit DepartmentTree(std::vector<Department> departments);

  // The department with that id; null when none.
  const Department* find(int64_t id) const;
  // The ids of the departments directly under `parent` (0: the top level),
  // in display order, then by id.
  std::vector<int64_t> children(int64_t parent) const;
  // The ids of the departments under `parent` whose name equals `name` with
  // ASCII letters in either case, as the database compares names.
  std::vector<int64_t> named(int64_t parent, std::string_view name) const;
  // The path of a department, "总部/财务部"; "" for an unknown id.
  std::string path(int64_t id) const;
  // The level a department is on: 1 at the top; 0 for an unknown id.
  size_t depth(int64_t id) const;
  // The levels of the department and everything under it: 1 for a leaf.
  size_t height(int64_t id) const;
  // True when `id` is `ancestor` or lies under it.
  bool within(int64_t id, int64_t ancestor) const;
  // The department `text` names: a whole number is an id (which must exist),
  // anything else a path (split_department_path) from the top. Fails with
  // OrganisationError for an unknown id or path, or a path that two
  // departments answer to (it names their ids).
  int64_t resolve(std::string_view text) const;
  // The department at the end of `names` from the top; nullopt when a name
  // on the way is missing. Fails as resolve() for an ambiguous name.
  std::optional<int64_t> find_path(const std::vector<std::string>& names) const;
  // Every department, each under its parent, in display order, depth first,
  // with its level (1 at the top).
  std::vector<std::pair<int64_t, size_t>> walk() const;
  // Adds a department to the tree in memory (a plan's department not yet
  // written), last among its siblings.
  void add(Department department);

 private:
  std::map<int64_t, Department> by_id_;                  // every department
  std::map<int64_t, std::vector<int64_t>> by_parent_;    // ids under each parent id, in display order
  // The parent id under which `id` is listed (0 when its parent is missing).
  int64_t listed_parent(const Department& d) const;
};

}  // namespace oapx1

#endif  // OAPX1_ORGANISATION_DEPARTMENT_TREE_H_
