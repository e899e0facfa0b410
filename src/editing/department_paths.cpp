#include "editing/department_paths.h"

#include <utility>

#include "lookups/rows.h"
#include "platform/data/recordset.h"

namespace oapx1 {

namespace {

// One department as read: its parent and name.
struct Department {
  int64_t parent = 0;
  std::string name;
};

// The path of `id` among `all`, walking up its parents; "" for a circle, a
// chain deeper than the limit or a parent that does not exist.
std::string walk_path(const std::map<int64_t, Department>& all, int64_t id) {
  std::string path;
  for (int level = 0; level < DepartmentPaths::kMostDepartmentLevels; ++level) {
    const auto found = all.find(id);
    if (found == all.end()) return "";
    path = found->second.name + (path.empty() ? "" : std::string(1, kDepartmentPathSeparator) + path);
    if (found->second.parent == 0) return path;
    id = found->second.parent;
  }
  return "";
}

}  // namespace

DepartmentPaths::DepartmentPaths(const Variant& conn) {
  std::map<int64_t, Department> all;
  Variant rows = open_rows("select DepartMentID, ParentID, DepartName from KX_Department", conn);
  Recordset& r = rows.as<Recordset>();
  for (; !r.Eof(); r.MoveNext()) {
    const Variant parent = r.field("ParentID");
    all[r.field("DepartMentID").to_integer()] = {parent.is_null() ? 0 : parent.to_integer(),
                                                 r.field("DepartName").str()};
  }
  r.Close();
  for (const auto& [id, department] : all) {
    std::string path = walk_path(all, id);
    if (path.empty()) continue;
    by_path_.emplace(path, id);
    paths_.emplace(id, std::move(path));
  }
}

std::string DepartmentPaths::path(int64_t id) const {
  const auto found = paths_.find(id);
  return found == paths_.end() ? std::string() : found->second;
}

std::vector<int64_t> DepartmentPaths::ids(const std::string& path) const {
  std::vector<int64_t> found;
  const auto [first, last] = by_path_.equal_range(path);
  for (auto i = first; i != last; ++i) found.push_back(i->second);
  return found;  // the map keeps equal keys in insertion order: by id
}

}  // namespace oapx1
