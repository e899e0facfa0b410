// The workflow nodes that name accounts and departments: the node columns
// that hold them (JiaoSeUserList and FenFaUser: logins; FenFaBuMen:
// department ids, each a ';'-separated list), and which nodes a change to the
// directory would leave with no one to handle them.
#ifndef OAPX1_ORGANISATION_NODE_REFERENCES_H_
#define OAPX1_ORGANISATION_NODE_REFERENCES_H_

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace oapx1 {

// What a node holds of the directory.
struct NodeLists {
  int64_t id = 0;               // OA_Flow_Model_JieDian.OAID
  int64_t model = 0;            // MOAID
  std::string model_name;       // OA_Flow_Model_Header.ModelName; "" when the model is missing
  std::string name;             // JieDianName
  std::string handler_mode;     // BanLiRenType; "2" for null, as the node page reads it
  std::string handlers;         // JiaoSeUserList: handler logins
  std::string recipients;       // FenFaUser: distribution logins
  std::string departments;      // FenFaBuMen: distribution department ids
};

// One list of a node that names what was looked for.
struct NodeMention {
  const NodeLists* node = nullptr;  // the node
  std::string list;               // the column: JiaoSeUserList, FenFaUser or FenFaBuMen
};

// The active accounts and the departments the directory holds, as the
// handler check sees them.
struct Staffing {
  std::set<std::string> active_logins;  // ASCII lower case, as logins are compared
  std::set<int64_t> departments;        // existing DepartMentID
};

// A node that a change leaves with no one in one of its lists.
struct StrandedNode {
  const NodeLists* node = nullptr;  // the node
  std::string reason;             // "no active handler left (JiaoSeUserList)", ...
};

// The lists of `nodes` that name `login` (letters in either case), in the
// order of the nodes.
std::vector<NodeMention> nodes_naming_login(const std::vector<NodeLists>& nodes, std::string_view login);
// The lists of `nodes` that name the department `id`.
std::vector<NodeMention> nodes_naming_department(const std::vector<NodeLists>& nodes, int64_t id);

// The nodes that have someone to handle them with `before` and no one with
// `after`: handlers when the node's handlers are chosen from its list
// (BanLiRenType "1" or "3": the active accounts of JiaoSeUserList), and the
// distribution (the active accounts of FenFaUser with the existing
// departments of FenFaBuMen). A node already without anyone is not listed:
// the change does not cause it.
std::vector<StrandedNode> stranded_nodes(const std::vector<NodeLists>& nodes, const Staffing& before,
                                         const Staffing& after);

// "model 1 公文流转, node 4 部门审核": how a node is named in messages.
std::string node_label(const NodeLists& node);

}  // namespace oapx1

#endif  // OAPX1_ORGANISATION_NODE_REFERENCES_H_
