#include "organisation/department_tree.h"

#include <algorithm>
#include <set>

#include "organisation/names.h"
#include "platform/text/ascii.h"
#include "util/ids_and_lists.h"

namespace oapx1 {

DepartmentTree::DepartmentTree(std::vector<Department> departments) {
  for (Department& d : departments) by_id_.emplace(d.id, std::move(d));
  for (const auto& [id, d] : by_id_) by_parent_[listed_parent(d)].push_back(id);
  for (auto& [parent, ids] : by_parent_) {
    std::stable_sort(ids.begin(), ids.end(),
                     [this](int64_t a, int64_t b) { return by_id_.at(a).order < by_id_.at(b).order; });
  }
}

int64_t DepartmentTree::listed_parent(const Department& d) const {
  return d.parent != d.id && by_id_.contains(d.parent) ? d.parent : 0;
}

const Department* DepartmentTree::find(int64_t id) const {
  const auto it = by_id_.find(id);
  return it == by_id_.end() ? nullptr : &it->second;
}

std::vector<int64_t> DepartmentTree::children(int64_t parent) const {
  const auto it = by_parent_.find(parent);
  return it == by_parent_.end() ? std::vector<int64_t>{} : it->second;
}

std::vector<int64_t> DepartmentTree::named(int64_t parent, std::string_view name) const {
  std::vector<int64_t> ids;
  for (int64_t id : children(parent)) {
    if (ascii_iequals(by_id_.at(id).name, name)) ids.push_back(id);
  }
  return ids;
}

std::string DepartmentTree::path(int64_t id) const {
  std::vector<const std::string*> names;
  std::set<int64_t> seen;
  for (const Department* d = find(id); d && seen.insert(d->id).second; d = find(listed_parent(*d))) {
    names.push_back(&d->name);
  }
  std::string text;
  for (auto it = names.rbegin(); it != names.rend(); ++it) text += (text.empty() ? "" : "/") + **it;
  return text;
}

size_t DepartmentTree::depth(int64_t id) const {
  std::set<int64_t> seen;
  size_t levels = 0;
  for (const Department* d = find(id); d && seen.insert(d->id).second; d = find(listed_parent(*d))) ++levels;
  return levels;
}

size_t DepartmentTree::height(int64_t id) const {
  // Breadth first, a level at a time; a stored cycle ends the walk.
  std::set<int64_t> seen{id};
  std::vector<int64_t> level{id};
  size_t levels = 0;
  while (!level.empty()) {
    ++levels;
    std::vector<int64_t> next;
    for (int64_t at : level) {
      for (int64_t child : children(at)) {
        if (seen.insert(child).second) next.push_back(child);
      }
    }
    level = std::move(next);
  }
  return levels;
}

bool DepartmentTree::within(int64_t id, int64_t ancestor) const {
  std::set<int64_t> seen;
  for (const Department* d = find(id); d && seen.insert(d->id).second; d = find(listed_parent(*d))) {
    if (d->id == ancestor) return true;
  }
  return false;
}

std::optional<int64_t> DepartmentTree::find_path(const std::vector<std::string>& names) const {
  int64_t at = 0;
  std::string walked;
  for (const std::string& name : names) {
    walked += (walked.empty() ? "" : "/") + name;
    const std::vector<int64_t> ids = named(at, name);
    if (ids.empty()) return std::nullopt;
    if (ids.size() > 1) {
      std::string list;
      for (int64_t id : ids) list += (list.empty() ? "" : ", ") + std::to_string(id);
      throw OrganisationError("the department path \"" + walked + "\" names several departments (ids " + list +
                              "); give the id");
    }
    at = ids[0];
  }
  return at;
}

int64_t DepartmentTree::resolve(std::string_view text) const {
  if (const auto id = whole_number(trim(text, " "))) {
    if (!find(*id)) throw OrganisationError("no department " + std::to_string(*id) + " (KX_Department.DepartMentID)");
    return *id;
  }
  const auto id = find_path(split_department_path(text));
  if (!id) throw OrganisationError("no department \"" + std::string(trim(text, " ")) + "\"");
  return *id;
}

std::vector<std::pair<int64_t, size_t>> DepartmentTree::walk() const {
  std::vector<std::pair<int64_t, size_t>> out;
  std::set<int64_t> seen;
  std::vector<std::pair<int64_t, size_t>> stack;
  const std::vector<int64_t> top = children(0);
  for (auto it = top.rbegin(); it != top.rend(); ++it) stack.emplace_back(*it, 1);
  while (!stack.empty()) {
    const auto [id, level] = stack.back();
    stack.pop_back();
    if (!seen.insert(id).second) continue;
    out.emplace_back(id, level);
    const std::vector<int64_t> below = children(id);
    for (auto it = below.rbegin(); it != below.rend(); ++it) stack.emplace_back(*it, level + 1);
  }
  return out;
}

void DepartmentTree::add(Department department) {
  const int64_t id = department.id;
  auto [it, added] = by_id_.insert_or_assign(id, std::move(department));
  (void)added;
  by_parent_[listed_parent(it->second)].push_back(id);
}

}  // namespace oapx1
