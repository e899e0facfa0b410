#include "organisation/departments.h"

#include <algorithm>

#include "organisation/names.h"

namespace oapx1 {
namespace {

// Fails unless `name` may be a department's name under `parent` in `tree`,
// `except` being the department itself when it is renamed or moved.
void check_place(const DepartmentTree& tree, const std::string& name, int64_t parent, int64_t except = 0) {
  if (const std::string fault = department_name_fault(name); !fault.empty()) {
    throw OrganisationError("the department name \"" + name + "\" " + fault);
  }
  for (int64_t id : tree.named(parent, name)) {
    if (id == except) continue;
    throw OrganisationError("\"" + (parent ? tree.path(parent) + "/" : std::string()) + name +
                            "\" exists already (department " + std::to_string(id) + ")");
  }
}

int64_t parent_of(const DepartmentTree& tree, const std::optional<std::string>& parent) {
  return parent ? tree.resolve(*parent) : 0;
}

}  // namespace

std::string name_list(const std::vector<std::string>& names, size_t shown) {
  std::string text;
  for (size_t i = 0; i < names.size() && i < shown; ++i) text += (i ? ", " : "") + names[i];
  if (names.size() > shown) text += " and " + std::to_string(names.size() - shown) + " more";
  return text;
}

int64_t add_department(DirectoryStore& store, const std::string& name, const std::optional<std::string>& parent) {
  int64_t id = 0;
  store.write([&] {
    const DepartmentTree tree = store.departments();
    const int64_t under = parent_of(tree, parent);
    check_place(tree, name, under);
    if (tree.depth(under) + 1 > kMaxDepartmentDepth) {
      throw OrganisationError("departments nest at most " + std::to_string(kMaxDepartmentDepth) + " deep");
    }
    id = store.insert_department(name, under);
  });
  return id;
}

int64_t rename_department(DirectoryStore& store, const std::string& which, const std::string& name) {
  int64_t id = 0;
  store.write([&] {
    const DepartmentTree tree = store.departments();
    Department d = *tree.find(tree.resolve(which));
    check_place(tree, name, tree.find(d.parent) ? d.parent : 0, d.id);
    d.name = name;
    store.update_department(d);
    id = d.id;
  });
  return id;
}

int64_t move_department(DirectoryStore& store, const std::string& which, const std::optional<std::string>& parent) {
  int64_t id = 0;
  store.write([&] {
    const DepartmentTree tree = store.departments();
    Department d = *tree.find(tree.resolve(which));
    const int64_t under = parent_of(tree, parent);
    if (under && tree.within(under, d.id)) {
      throw OrganisationError("cannot move \"" + tree.path(d.id) + "\" under " +
                              (under == d.id ? "itself" : "\"" + tree.path(under) + "\", which lies under it"));
    }
    check_place(tree, d.name, under, d.id);
    if (tree.depth(under) + tree.height(d.id) > kMaxDepartmentDepth) {
      throw OrganisationError("moved there, \"" + tree.path(d.id) + "\" would nest deeper than " +
                              std::to_string(kMaxDepartmentDepth) + " levels");
    }
    d.parent = under;
    d.order = 1;  // last among its new siblings
    for (int64_t sibling : tree.children(under)) d.order = std::max(d.order, tree.find(sibling)->order + 1);
    store.update_department(d);
    id = d.id;
  });
  return id;
}

DepartmentRemoval remove_department(DirectoryStore& store, const std::string& which, bool force) {
  DepartmentRemoval removal;
  store.write([&] {
    const DepartmentTree tree = store.departments();
    const int64_t id = tree.resolve(which);
    removal.path = tree.path(id);
    std::vector<std::string> below;
    for (int64_t child : tree.children(id)) below.push_back(tree.path(child));
    if (!below.empty()) throw OrganisationError("\"" + removal.path + "\" has departments under it: " + name_list(below));
    const std::vector<Person> people = store.people();
    std::vector<std::string> members;
    for (const Person& p : people) {
      if (p.department == id) members.push_back(p.login);
    }
    if (!members.empty()) {
      throw OrganisationError("\"" + removal.path + "\" has " + std::to_string(members.size()) +
                              (members.size() == 1 ? " account: " : " accounts: ") + name_list(members) +
                              "; move them to another department first (oapx1 directory import)");
    }
    removal.nodes = store.nodes();
    removal.mentions = nodes_naming_department(removal.nodes, id);
    Staffing after = DirectoryStore::staffing(people, tree);
    const Staffing before = after;
    after.departments.erase(id);
    removal.stranded = stranded_nodes(removal.nodes, before, after);
    if (!removal.mentions.empty() && !force) return;
    store.delete_department(id);
    removal.removed = true;
  });
  return removal;
}

}  // namespace oapx1
