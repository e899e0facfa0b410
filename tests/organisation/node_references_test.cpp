// Which nodes name an account or a department, and which a change to the
// directory leaves with no one to handle them.
#include "organisation/node_references.h"

#include <gtest/gtest.h>

namespace oapx1 {
namespace {

TEST(NodeReferences, finds_logins_in_either_letter_case_and_department_ids_in_the_lists) {
  const std::vector<NodeLists> nodes = {
      {1, 1, "发文", "拟稿", "1", ";zhangsan;LiSi;", ";wangwu;", ";2;3;"},
      {2, 1, "发文", "审核", "2", ";lisi2;", "", ";;12;"},
  };
  std::string found;
  for (const NodeMention& m : nodes_naming_login(nodes, "lisi")) found += std::to_string(m.node->id) + m.list + " ";
  EXPECT_EQ(found, "1JiaoSeUserList ");
  found.clear();
  for (const NodeMention& m : nodes_naming_login(nodes, "WANGWU")) found += std::to_string(m.node->id) + m.list + " ";
  EXPECT_EQ(found, "1FenFaUser ");
  EXPECT_EQ(nodes_naming_department(nodes, 2).size(), 1u);
  EXPECT_EQ(nodes_naming_department(nodes, 12).size(), 1u);
  EXPECT_TRUE(nodes_naming_department(nodes, 1).empty());
}

TEST(NodeReferences, a_node_is_stranded_only_when_the_change_takes_its_last_one) {
  const Staffing before{{"a", "b", "c"}, {1, 2}};
  struct Case {
    NodeLists node;
    Staffing after;
    std::string reason;  // "" when not stranded
  } cases[] = {
      {{1, 1, "", "n", "1", ";a;", "", ""}, {{"b", "c"}, {1, 2}}, "no active handler left (JiaoSeUserList)"},
      {{1, 1, "", "n", "3", ";a;", "", ""}, {{"b", "c"}, {1, 2}}, "no active handler left (JiaoSeUserList)"},
      {{1, 1, "", "n", "1", ";a;b;", "", ""}, {{"b", "c"}, {1, 2}}, ""},
      // Handlers chosen another way: the list does not count.
      {{1, 1, "", "n", "2", ";a;", "", ""}, {{"b", "c"}, {1, 2}}, ""},
      // Nobody before: the change does not cause it.
      {{1, 1, "", "n", "1", ";x;", "", ""}, {{"b", "c"}, {1, 2}}, ""},
      {{1, 1, "", "n", "2", "", ";a;", ";1;"}, {{"b", "c"}, {2}}, "no one left to distribute to (FenFaUser, FenFaBuMen)"},
      {{1, 1, "", "n", "2", "", ";a;", ";1;"}, {{"b", "c"}, {1, 2}}, ""},
  };
  for (const Case& c : cases) {
    const std::vector<NodeLists> nodes{c.node};
    const std::vector<StrandedNode> stranded = stranded_nodes(nodes, before, c.after);
    EXPECT_EQ(stranded.empty() ? "" : stranded[0].reason, c.reason) << c.node.handlers << c.node.recipients;
  }
}

}  // namespace
}  // namespace oapx1
