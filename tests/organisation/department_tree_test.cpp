// The department tree's paths and the checks a change to it must pass.
#include "organisation/department_tree.h"

#include <gtest/gtest.h>

#include "organisation/names.h"

namespace oapx1 {
namespace {

// 总部 [1] / 财务部 [2] / 出纳组 [3]; 财务部 [4] at the top; two 人事部 [5, 6] under
// 总部 (an older database may hold such); 7 and 8 a stored cycle.
DepartmentTree sample() {
  return DepartmentTree({{1, 0, "总部", 1}, {2, 1, "财务部", 1}, {3, 2, "出纳组", 1}, {4, 0, "财务部", 2},
                         {5, 1, "人事部", 2}, {6, 1, "人事部", 3}, {7, 8, "甲", 1}, {8, 7, "乙", 1}});
}

TEST(DepartmentTree, resolves_an_id_or_a_path_and_says_why_not) {
  const DepartmentTree tree = sample();
  struct Case {
    std::string text;
    int64_t id;        // 0: refused
    std::string says;  // the refusal
  } cases[] = {
      {"3", 3, ""},
      {"总部/财务部/出纳组", 3, ""},
      {"/总部/财务部", 2, ""},
      {" 总部 / 财务部 ", 2, ""},
      {"财务部", 4, ""},
      {"9", 0, "no department 9"},
      {"总部/出纳组", 0, "no department \"总部/出纳组\""},
      {"总部/人事部", 0, "the department path \"总部/人事部\" names several departments (ids 5, 6); give the id"},
      {"总部//财务部", 0, "has an empty name"},
      {"", 0, "the department path is empty"},
  };
  for (const Case& c : cases) {
    if (c.id) {
      EXPECT_EQ(tree.resolve(c.text), c.id) << c.text;
      continue;
    }
    try {
      tree.resolve(c.text);
      ADD_FAILURE() << "resolved " << c.text;
    } catch (const OrganisationError& e) {
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << c.text << ": " << e.what();
    }
  }
}

TEST(DepartmentTree, measures_paths_depths_and_ancestry_and_survives_a_stored_cycle) {
  const DepartmentTree tree = sample();
  EXPECT_EQ(tree.path(3), "总部/财务部/出纳组");
  EXPECT_EQ(tree.depth(3), 3u);
  EXPECT_EQ(tree.height(1), 3u);
  EXPECT_TRUE(tree.within(3, 1));
  EXPECT_TRUE(tree.within(1, 1));
  EXPECT_FALSE(tree.within(1, 3));
  EXPECT_EQ(tree.path(7), "乙/甲");
  EXPECT_FALSE(tree.within(7, 1));
  EXPECT_EQ(tree.height(7), 2u);
  EXPECT_EQ(tree.path(99), "");
}

TEST(DepartmentNames, refuse_what_would_break_a_path_or_a_listing) {
  struct Case {
    std::string name, fault;  // "" when accepted
  } cases[] = {
      {"财务部", ""},
      {"=cmd|'calc'!A0", ""},
      {"\"审计\" 部", ""},
      {"a/b", "holds a \"/\""},
      {"12", "is a number alone"},
      {" 财务部", "begins or ends with a space"},
      {"a\tb", "holds a control character"},
      {"\xB2\xE2", "is not UTF-8 text"},
      {"", "is empty"},
      {std::string(51, 'x'), "is longer than 50 characters"},
      {"部门部门部门部门部门部门部门部门部门部门部门部门部门部门部门部门部门部门部门部门部门部门部门部门部门", ""},
  };
  for (const Case& c : cases) {
    const std::string fault = department_name_fault(c.name);
    if (c.fault.empty()) {
      EXPECT_EQ(fault, "") << c.name;
    } else {
      EXPECT_NE(fault.find(c.fault), std::string::npos) << c.name << ": " << fault;
    }
  }
  std::string levels = "a";
  for (size_t i = 1; i < kMaxDepartmentDepth; ++i) levels += "/a";
  EXPECT_EQ(split_department_path(levels).size(), kMaxDepartmentDepth);
  EXPECT_THROW(split_department_path(levels + "/a"), OrganisationError);
}

}  // namespace
}  // namespace oapx1
