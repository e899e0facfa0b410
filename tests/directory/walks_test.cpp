// The upward walks of departments and folders, and the catalogue deletion.
#include <string>

#include "support/page_fixture.h"

namespace oapx1::testing {
namespace {

class Walks : public PageFixture<> {
 protected:
  // 1 > 2 > 3; 5 at the top; 20 and 21 are each other's parent; 31 below 30,
  // whose parent is null.
  Walks() {
    db.exec(
        "insert into KX_Department (DepartMentID, ParentID, DepartName) values"
        " (1, 0, 'a'), (2, 1, 'b'), (3, 2, 'c'), (5, 0, 'e'), (20, 21, 'x'), (21, 20, 'y'),"
        " (30, NULL, 'n'), (31, 30, 'm');"
        "insert into OA_Document_Folder (OAID, POAID, FolderName) values (1, 0, 'f'), (2, 1, 'g'), (4, 2, 'h');");
    connect();
  }
};

TEST_F(Walks, paths_levels_and_branch_companies) {
  struct Case {
    Variant id;
    const char* path;
    const char* level;
    const char* branch;
    size_t events;  // failures reported, in total so far
  } cases[] = {
      {3, "text:1,2,3", "number:3", "number:1", 0},
      {"2", "text:1,2", "number:2", "number:1", 0},
      {5, "number:5", "number:1", "number:5", 0},
      {99, "number:99", "number:1", "empty", 0},     // no such department
      {20, "text:21,20", "number:2", "empty", 0},    // parents in a loop
      {31, "text:30,31", "number:2", "empty", 3},    // a null parent ends each walk with a report
  };
  for (Case& c : cases) {
    const std::string before = describe(c.id);
    EXPECT_EQ(describe(page->getparentlists(c.id)), c.path) << before;
    EXPECT_EQ(describe(page->departlevel(c.id)), c.level) << before;
    EXPECT_EQ(describe(page->getfengongsi(c.id)), c.branch) << before;
    EXPECT_EQ(describe(c.id), before);
    EXPECT_EQ(describe(page->departmentparentlist), "text:");
    EXPECT_EQ(events().size(), c.events) << before;
  }
  Variant folder = 4;
  EXPECT_EQ(describe(page->getfolderparentlists(folder)), "text:1,2,4");
  EXPECT_EQ(describe(page->folderparentlist), "text:");
}

TEST_F(Walks, departmentparent_puts_only_the_ancestors_in_front_of_a_field_in_use) {
  page->departmentparentlist = "x";
  Variant id = 3;
  page->departmentparent(id);
  EXPECT_EQ(describe(page->departmentparentlist), "text:1,2,x");
}

TEST_F(Walks, a_chain_of_a_hundred_thousand_departments_is_walked_both_ways) {
  db.exec(
      "delete from KX_Department;"
      "with recursive c(n) as (select 1 union all select n + 1 from c where n < 100000)"
      " insert into KX_Department (DepartMentID, ParentID, DepartName) select n, n - 1, 'd' from c;");
  Variant bottom = 100000, top = 1;
  EXPECT_EQ(describe(page->departlevel(bottom)), "number:100000");
  EXPECT_EQ(describe(page->getfengongsi(bottom)), "number:1");
  page->departmentchildlist = "";
  page->departmentchild(top);
  const std::string list = page->departmentchildlist.str();
  EXPECT_EQ(list.substr(0, 6), "1,2,3,");
  EXPECT_EQ(list.substr(list.size() - 13), ",99999,100000");
  EXPECT_TRUE(events().empty());
}

TEST_F(Walks, deleting_a_catalogue_removes_its_sub_tree_and_its_duty_entries) {
  // 10 > (11 > 13 > 14), (12); 99 stays.
  db.exec(
      "insert into KX_Catalog (KXID, ParentID, CatName) values"
      " (10, 0, 'a'), (11, 10, 'b'), (12, 10, 'c'), (13, 11, 'd'), (14, 13, 'e'), (99, 0, 'z');"
      "insert into KX_DutyPower (KXID, DutyName, FunList) values"
      " (1, 'p', '10*x*11'), (2, 'q', NULL), (3, 'r', ''), (4, 's', '13'), (5, 't', 'y*14*12*z'),"
      " (6, 'u', '99*110*1'), (7, 'v', '12*12*12');");
  Variant id = 10;
  page->deletedocumentfolder(id);
  EXPECT_EQ(db.scalar("select group_concat(KXID) from KX_Catalog"), "99");
  EXPECT_EQ(db.scalar("select group_concat(coalesce(FunList, 'NULL'), '|') from (select FunList from KX_DutyPower order by KXID)"),
            "x||||y*z|99*110*1|");
  EXPECT_EQ(page->sql.str(), "select * from KX_Catalog where ParentID=12");
  EXPECT_TRUE(events().empty());
}

}  // namespace
}  // namespace oapx1::testing
