// Changes to the department tree with their rules: a name unique among its
// siblings, no department under itself, no deeper than kMaxDepartmentDepth,
// and no department removed while something refers to it. Each change is one
// transaction, read and checked inside it: done in full or not at all.
#ifndef OAPX1_ORGANISATION_DEPARTMENTS_H_
#define OAPX1_ORGANISATION_DEPARTMENTS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "organisation/directory_store.h"
#include "organisation/node_references.h"

namespace oapx1 {

// What removing a department did, or would refer to.
struct DepartmentRemoval {
  std::string path;                       // the department's path before it went
  std::vector<NodeLists> nodes;             // every node
  std::vector<NodeMention> mentions;      // the node lists that name it
  std::vector<StrandedNode> stranded;     // the nodes its removal leaves with no one
  bool removed = false;                   // false: refused for the nodes that name it
};

// Adds the department `name` under the department `parent` names (an id or a
// path; nullopt: at the top) and returns its id. Fails with
// OrganisationError for a name department_name_fault refuses, an unknown
// parent, a sibling of that name, or a level past kMaxDepartmentDepth.
int64_t add_department(DirectoryStore& store, const std::string& name, const std::optional<std::string>& parent);

// Renames the department `which` names (an id or a path). Fails as
// add_department for the name, and for an unknown department. Returns its id.
int64_t rename_department(DirectoryStore& store, const std::string& which, const std::string& name);

// Moves the department `which` names, with everything under it, under the
// department `parent` names (nullopt: to the top). Fails with
// OrganisationError for an unknown department, a move under itself or under
// one of its own departments (a cycle), a sibling of its name there, or a
// tree deeper than kMaxDepartmentDepth after it. Returns its id.
int64_t move_department(DirectoryStore& store, const std::string& which, const std::optional<std::string>& parent);

// Removes the department `which` names. Fails with OrganisationError, and
// nothing removed, for an unknown department, and while departments lie under
// it or accounts belong to it (the message names them). While nodes name it
// in FenFaBuMen it is removed only with `force` (else `removed` is false and
// the result names the nodes and those it would leave with no one); the
// nodes then keep its id, which names no department any more.
DepartmentRemoval remove_department(DirectoryStore& store, const std::string& which, bool force);

// "a, b, c and 4 more": at most `shown` of `names`, joined.
std::string name_list(const std::vector<std::string>& names, size_t shown = 10);

}  // namespace oapx1

#endif  // OAPX1_ORGANISATION_DEPARTMENTS_H_
