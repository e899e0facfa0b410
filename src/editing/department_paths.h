// Departments named by their path from the top of the directory ("总部/财务部"),
// as files that travel between installations name them: ids differ from one
// installation to the next, paths do not.
#ifndef OAPX1_EDITING_DEPARTMENT_PATHS_H_
#define OAPX1_EDITING_DEPARTMENT_PATHS_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/script/variant.h"

namespace oapx1 {

// The separator of a department path's names.
inline constexpr char kDepartmentPathSeparator = '/';

// Every department of one directory (KX_Department), read at once, with its
// path. A department whose parents go round in a circle, or deeper than
// kMostDepartmentLevels, has no path.
class DepartmentPaths {
 public:
  // The most names a path has: a deeper chain of parents is taken for a circle.
  static constexpr int kMostDepartmentLevels = 64;

  // Reads the departments of the open connection `conn`. Fails as the data
  // layer does.
  explicit DepartmentPaths(const Variant& conn);

  // The path of department `id`: its name after the names of its parents,
  // the top first, joined by '/'; "" when there is no such department or it
  // has no path.
  std::string path(int64_t id) const;
  // The departments whose path is `path` (several when two siblings share a
  // name), lowest id first; empty when none is.
  std::vector<int64_t> ids(const std::string& path) const;

 private:
  std::map<int64_t, std::string> paths_;         // path by id, for those that have one
  std::multimap<std::string, int64_t> by_path_;  // ids by path
};

}  // namespace oapx1

#endif  // OAPX1_EDITING_DEPARTMENT_PATHS_H_
