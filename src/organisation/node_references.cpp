#include "organisation/node_references.h"

#include <algorithm>

#include "platform/text/ascii.h"
#include "util/ids_and_lists.h"

namespace oapx1 {
namespace {

bool names_login(std::string_view list, std::string_view login) {
  const std::vector<std::string> entries = list_entries(list);
  return std::any_of(entries.begin(), entries.end(),
                     [&](const std::string& e) { return ascii_iequals(trim(e, " "), login); });
}

size_t active_in(std::string_view list, const Staffing& staff) {
  size_t count = 0;
  for (const std::string& e : list_entries(list)) count += staff.active_logins.contains(ascii_lower(trim(e, " ")));
  return count;
}

size_t existing_in(std::string_view list, const Staffing& staff) {
  size_t count = 0;
  for (const std::string& e : list_entries(list)) {
    const auto id = whole_number(trim(e, " "));
    count += id && staff.departments.contains(*id);
  }
  return count;
}

bool handlers_from_list(const NodeLists& node) { return node.handler_mode == "1" || node.handler_mode == "3"; }

}  // namespace

std::vector<NodeMention> nodes_naming_login(const std::vector<NodeLists>& nodes, std::string_view login) {
  std::vector<NodeMention> found;
  for (const NodeLists& node : nodes) {
    if (names_login(node.handlers, login)) found.push_back({&node, "JiaoSeUserList"});
    if (names_login(node.recipients, login)) found.push_back({&node, "FenFaUser"});
  }
  return found;
}

std::vector<NodeMention> nodes_naming_department(const std::vector<NodeLists>& nodes, int64_t id) {
  std::vector<NodeMention> found;
  for (const NodeLists& node : nodes) {
    for (const std::string& e : list_entries(node.departments)) {
      if (whole_number(trim(e, " ")) == id) {
        found.push_back({&node, "FenFaBuMen"});
        break;
      }
    }
  }
  return found;
}

std::vector<StrandedNode> stranded_nodes(const std::vector<NodeLists>& nodes, const Staffing& before,
                                         const Staffing& after) {
  std::vector<StrandedNode> stranded;
  for (const NodeLists& node : nodes) {
    if (handlers_from_list(node) && active_in(node.handlers, before) > 0 && active_in(node.handlers, after) == 0) {
      stranded.push_back({&node, "no active handler left (JiaoSeUserList)"});
    }
    const size_t had = active_in(node.recipients, before) + existing_in(node.departments, before);
    const size_t has = active_in(node.recipients, after) + existing_in(node.departments, after);
    if (had > 0 && has == 0) stranded.push_back({&node, "no one left to distribute to (FenFaUser, FenFaBuMen)"});
  }
  return stranded;
}

std::string node_label(const NodeLists& node) {
  return "model " + std::to_string(node.model) + (node.model_name.empty() ? "" : " " + node.model_name) + ", node " +
         std::to_string(node.id) + " " + node.name;
}

}  // namespace oapx1
