// Departments, the directory import and the nodes that name accounts and
// departments, through the oapx1 command as an operator runs it, on SQLite
// and on PostgreSQL.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>

#include "platform/data/connection.h"
#include "platform/data/db_backend.h"
#include "platform/text/codepage.h"
#include "support/run_command.h"
#include "support/test_db.h"
#include "support/test_pg.h"

namespace oapx1 {
namespace {

using testing::Outcome;
using testing::run;

enum class Engine { kSqlite, kPostgres };

// The demo database on one engine, and what it holds.
class Directory : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    if (GetParam() == Engine::kPostgres) {
      pg_ = std::make_unique<testing::PgTestSchema>("oapx1_directory");
      if (pg_->url().empty()) GTEST_SKIP() << "OAPX1_TEST_PG is not set";
      pg_->load_demo();
      url_ = pg_->url();
    } else {
      sqlite_ = std::make_unique<testing::TestDb>(false);
      url_ = sqlite_->url();
      ASSERT_EQ(run("db init --demo --db " + url_).status, 0);
    }
  }

  // `oapx1 ARGS --db URL`.
  Outcome oapx1(const std::string& args) { return run(args + " --db '" + url_ + "'"); }

  // A file of the test's own with `bytes` in it; its path.
  std::string file(const std::string& bytes) {
    const std::string path = ::testing::TempDir() + "oapx1-directory-" + std::to_string(getpid()) + "-" +
                             std::to_string(++files_) + ".csv";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  // `oapx1 directory import` of a file holding `bytes`.
  Outcome import(const std::string& bytes, const std::string& flags = "") {
    return oapx1("directory import " + file(bytes) + " " + flags);
  }

  // Every row of a query, one a line, its cells joined by "|".
  std::string rows(const std::string& sql) {
    Connection c;
    c.Open(Variant(url_));
    const DbResult r = c.session().query(sql);
    std::string text;
    for (const auto& row : r.rows) {
      for (size_t i = 0; i < row.size(); ++i) text += (i ? "|" : "") + (row[i].is_null() ? "NULL" : row[i].str());
      text += "\n";
    }
    c.Close();
    return text;
  }

  // Runs a statement that changes rows.
  void exec(const std::string& sql) {
    Connection c;
    c.Open(Variant(url_));
    c.execute(Variant(sql));
    c.Close();
  }

  // The directory's and the nodes' rows: what no refused command may change.
  std::string directory() {
    return rows("select DepartMentID, ParentID, DepartName, ordernumber from KX_Department order by DepartMentID") +
           rows("select OAID, UserName, TureName, DepartMentID, Mobile, AccountState, ordernumber, password "
                "from KX_UserInfor order by OAID") +
           rows("select OAID, JiaoSeUserList, FenFaUser, FenFaBuMen from OA_Flow_Model_JieDian order by OAID");
  }

  // The bytes of the SQLite database file.
  std::string file_bytes() const {
    std::ifstream in(sqlite_->path(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  std::unique_ptr<testing::PgTestSchema> pg_;
  std::unique_ptr<testing::TestDb> sqlite_;
  std::string url_;
  int files_ = 0;
};

INSTANTIATE_TEST_SUITE_P(Engines, Directory, ::testing::Values(Engine::kSqlite, Engine::kPostgres),
                         [](const auto& info) { return info.param == Engine::kSqlite ? "sqlite" : "postgres"; });

TEST_P(Directory, dept_commands_build_the_tree_by_id_and_by_path) {
  struct Step {
    std::string args;
    std::string says;  // on stderr
  } steps[] = {
      {"dept add 总部", "dept: added 总部 (id 5)"},
      {"dept add 财务部 --parent 总部", "dept: added 总部/财务部 (id 6)"},
      {"dept add 出纳组 --parent 6", "dept: added 总部/财务部/出纳组 (id 7)"},
      {"dept add =cmd --parent /总部", "dept: added 总部/=cmd (id 8)"},
      {"dept rename 总部/=cmd '\"审计\" 部'", "dept: renamed 总部/=cmd to 总部/\"审计\" 部 (id 8)"},
      {"dept move 总部/财务部/出纳组 --parent 财务部", "dept: moved 总部/财务部/出纳组 to 财务部/出纳组 (id 7)"},
      {"dept move 8 --top", "dept: moved 8 to \"审计\" 部 (id 8)"},
      {"dept remove 总部/财务部", "dept: removed 总部/财务部"},
  };
  for (const Step& s : steps) {
    const Outcome r = oapx1(s.args);
    EXPECT_EQ(r.status, 0) << s.args << ": " << r.err;
    EXPECT_NE(r.err.find(s.says), std::string::npos) << s.args << ": " << r.err;
  }
  const Outcome added = run("user add bob --name Bob --department 财务部/出纳组 --password-stdin --db '" + url_ + "'",
                            "printf 'pw\\n' |");
  EXPECT_EQ(added.status, 0) << added.err;
  EXPECT_EQ(rows("select DepartMentID from KX_UserInfor where UserName='bob'"), "7\n");
  const Outcome tree = oapx1("dept list --tree");
  EXPECT_EQ(tree.out, "办公室 [1]\n财务部 [2]\n  出纳组 [7]\n技术部 [3]\n市场部 [4]\n总部 [5]\n\"审计\" 部 [8]\n");
  const Outcome list = oapx1("dept list");
  EXPECT_EQ(list.out, "ID\tPATH\tUSERS\n1\t办公室\t2\n2\t财务部\t1\n7\t财务部/出纳组\t1\n3\t技术部\t2\n4\t市场部\t2\n"
                      "5\t总部\t0\n8\t\"审计\" 部\t0\n");
}

TEST_P(Directory, dept_commands_refuse_with_a_clear_error_and_change_nothing) {
  ASSERT_EQ(oapx1("dept add 总部").status, 0);
  ASSERT_EQ(oapx1("dept add 财务部 --parent 总部").status, 0);
  std::string deep;
  for (int i = 0; i < 500; ++i) deep += (i ? "/" : "") + std::string("部") + std::to_string(i) + "级";
  const std::string before = directory();
  struct Case {
    std::string args;
    int status;
    std::string says;
  } cases[] = {
      {"dept add 财务部", 1, "\"财务部\" exists already (department 2)"},
      {"dept add 财务部 --parent 总部", 1, "\"总部/财务部\" exists already (department 6)"},
      {"dept add 会计 --parent 总部/人事部", 1, "no department \"总部/人事部\""},
      {"dept add 会计 --parent 99", 1, "no department 99 (KX_Department.DepartMentID)"},
      {"dept add 会计 --parent '" + deep + "'", 1, "the department path has 500 levels; departments nest at most 16 deep"},
      {"dept add 'a/b'", 1, "holds a \"/\", which separates the names of a path"},
      {"dept add 12", 1, "is a number alone, which would read as a department id"},
      {"dept add \"$(printf 'a\\tb')\"", 1, "holds a control character"},
      {"dept add \"$(printf '\\262\\342')\"", 1, "is not UTF-8 text"},
      {"dept move 总部 --parent 总部/财务部", 1, "cannot move \"总部\" under \"总部/财务部\", which lies under it"},
      {"dept move 总部 --parent 总部", 1, "cannot move \"总部\" under itself"},
      {"dept move 总部/财务部 --top", 1, "\"财务部\" exists already (department 2)"},
      {"dept rename 总部/财务部 '  '", 1, "is empty"},
      {"dept remove 总部", 1, "\"总部\" has departments under it: 总部/财务部"},
      {"dept remove 办公室", 1, "\"办公室\" has 2 accounts: admin, zhangsan"},
      {"dept remove 7", 1, "no department 7"},
      {"dept move 总部", 2, "dept move needs either --parent ID|PATH or --top"},
      {"dept add", 2, "usage: oapx1 dept add NAME [--parent ID|PATH]"},
      {"dept frobnicate", 2, "dept takes the subcommand add, rename, move, list, remove or where"},
      {"dept list --force", 2, "--force goes with dept remove"},
  };
  for (const Case& c : cases) {
    const Outcome r = oapx1(c.args);
    EXPECT_EQ(r.status, c.status) << c.args << ": " << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
  }
  EXPECT_EQ(directory(), before);
}

TEST_P(Directory, where_lists_every_node_list_that_names_an_account_or_a_department) {
  struct Case {
    std::string args, out;
  } cases[] = {
      {"user where LISI", "MODEL\tNODE\tNODE NAME\tLIST\n1 公司发文流程\t1\t拟稿\tJiaoSeUserList\n"
                          "1 公司发文流程\t2\t部门审核\tJiaoSeUserList\n"},
      {"user where wangwu", "MODEL\tNODE\tNODE NAME\tLIST\n1 公司发文流程\t1\t拟稿\tFenFaUser\n"
                            "1 公司发文流程\t2\t部门审核\tJiaoSeUserList\n"},
      {"user where sunqi", "MODEL\tNODE\tNODE NAME\tLIST\n"},
      {"dept where 财务部", "MODEL\tNODE\tNODE NAME\tLIST\n1 公司发文流程\t1\t拟稿\tFenFaBuMen\n"},
      {"dept where 3", "MODEL\tNODE\tNODE NAME\tLIST\n1 公司发文流程\t1\t拟稿\tFenFaBuMen\n"},
      {"dept where 4", "MODEL\tNODE\tNODE NAME\tLIST\n"},
  };
  for (const Case& c : cases) {
    const Outcome r = oapx1(c.args);
    EXPECT_EQ(r.status, 0) << c.args << ": " << r.err;
    EXPECT_EQ(r.out, c.out) << c.args;
  }
}

TEST_P(Directory, a_change_that_leaves_a_node_with_no_one_is_refused_unless_forced) {
  // zhangsan is node 3's only handler; department 2 and 3 with wangwu are node 1's distribution.
  const Outcome disable = oapx1("user disable zhangsan");
  EXPECT_EQ(disable.status, 1);
  EXPECT_NE(disable.err.find("user: disabling zhangsan leaves 1 node with no one to handle it:\n"
                             "user:   model 1 公司发文流程, node 3 领导审批: no active handler left (JiaoSeUserList)\n"
                             "user: nothing was changed; with --force zhangsan is disabled all the same\n"),
            std::string::npos)
      << disable.err;
  EXPECT_EQ(oapx1("user disable lisi").status, 0) << "node 1 and 2 keep a handler";
  EXPECT_EQ(oapx1("user enable lisi").status, 0);
  exec("update KX_UserInfor set DepartMentID=4 where DepartMentID=3");
  const Outcome remove = oapx1("dept remove 技术部");
  EXPECT_EQ(remove.status, 1);
  EXPECT_NE(remove.err.find("dept: 1 node names \"技术部\":\ndept:   model 1 公司发文流程, node 1 拟稿 (FenFaBuMen)\n"),
            std::string::npos)
      << remove.err;
  const Outcome forced = oapx1("user disable zhangsan --force");
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_EQ(rows("select AccountState from KX_UserInfor where UserName='zhangsan'"), "0\n");
  const Outcome removed = oapx1("dept remove 技术部 --force");
  EXPECT_EQ(removed.status, 0) << removed.err;
  EXPECT_EQ(rows("select count(*) from KX_Department where DepartMentID=3"), "0\n");
  EXPECT_EQ(rows("select FenFaBuMen from OA_Flow_Model_JieDian where OAID=1"), ";2;3;\n") << "the node keeps the id";
}

// A file of the demo organisation's changes: departments by path, new,
// changed and unchanged accounts, quoted fields and a formula kept as text.
const char kOrganisation[] =
    "login,name,department,mobile,state\r\n"
    ",,总部/财务部,,\r\n"
    "bob,Bob Li,总部/财务部,13900000001,1\r\n"
    "lisi,李四,总部/财务部,,\r\n"
    "wangwu,王五,技术部,13800000004,0\r\n"
    "zhouba,周八,,,\r\n"
    "carol,\"Chen, \"\"Carol\"\"\", 总部/人事部 ,+86 139-0000-0002,0\r\n"
    "eve,\"=cmd|' /C calc'!A0\",=1+1,,1\r\n";

TEST_P(Directory, import_says_per_row_what_it_adds_changes_or_leaves_and_applies_it) {
  const Outcome r = import(kOrganisation);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "line 2: add department 总部\n"
            "line 2: add department 总部/财务部\n"
            "line 3: add user bob (Bob Li, 总部/财务部, active)\n"
            "line 4: change user lisi: department 财务部 → 总部/财务部\n"
            "line 5: change user wangwu: state active → disabled\n"
            "line 6: leave user zhouba\n"
            "line 7: add department 总部/人事部\n"
            "line 7: add user carol (Chen, \"Carol\", 总部/人事部, disabled)\n"
            "line 8: add department =1+1\n"
            "line 8: add user eve (=cmd|' /C calc'!A0, =1+1, active)\n");
  EXPECT_NE(r.err.find("(UTF-8): added 4 departments and 3 users, changed 2 users, left 1 as they are, disabled 0 "
                       "for missing\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(rows("select u.UserName, u.TureName, d.DepartName, u.Mobile, u.AccountState, u.password "
                 "from KX_UserInfor u left join KX_Department d on d.DepartMentID=u.DepartMentID "
                 "where u.OAID > 7 order by u.OAID"),
            "bob|Bob Li|财务部|13900000001|1|NULL\n"
            "carol|Chen, \"Carol\"|人事部|+86 139-0000-0002|0|NULL\n"
            "eve|=cmd|' /C calc'!A0|=1+1|NULL|1|NULL\n");
  EXPECT_EQ(rows("select d.DepartName, p.DepartName from KX_Department d join KX_Department p "
                 "on p.DepartMentID=d.ParentID order by d.DepartMentID"),
            "财务部|总部\n人事部|总部\n");
  // A new account has no password: it cannot sign in before `user passwd`.
  EXPECT_NE(oapx1("user list").out.find("\nbob\tBob Li\t财务部\tactive\tnone\t\t\n"), std::string::npos);
}

TEST_P(Directory, import_twice_changes_nothing_the_second_time) {
  ASSERT_EQ(import(kOrganisation).status, 0);
  const std::string once = directory();
  const Outcome again = import(kOrganisation);
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out,
            "line 2: leave department 总部/财务部\nline 3: leave user bob\nline 4: leave user lisi\n"
            "line 5: leave user wangwu\nline 6: leave user zhouba\nline 7: leave user carol\nline 8: leave user eve\n");
  EXPECT_EQ(directory(), once);
}

TEST_P(Directory, a_dry_run_prints_the_plan_and_changes_nothing) {
  const std::string before = directory();
  const std::string bytes = GetParam() == Engine::kSqlite ? file_bytes() : "";
  const Outcome dry = import(kOrganisation, "--dry-run");
  EXPECT_EQ(dry.status, 0) << dry.err;
  EXPECT_NE(dry.out.find("line 3: add user bob (Bob Li, 总部/财务部, active)\n"), std::string::npos) << dry.out;
  EXPECT_NE(dry.err.find("; nothing was changed\n"), std::string::npos) << dry.err;
  EXPECT_EQ(directory(), before);
  if (GetParam() == Engine::kSqlite) {
    EXPECT_TRUE(file_bytes() == bytes) << "the database file changed";
  }
  // The same plan, applied.
  const Outcome real = import(kOrganisation);
  EXPECT_EQ(real.out, dry.out);
}

TEST_P(Directory, a_file_in_gbk_is_detected_and_read) {
  const Outcome r = import(utf8_to_gbk("login,name,department,mobile,state\nbob,鲍勃,总部/财务部,,1\n"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("(GBK)"), std::string::npos) << r.err;
  EXPECT_EQ(rows("select TureName from KX_UserInfor where UserName='bob'"), "鲍勃\n");
  EXPECT_EQ(oapx1("dept where 总部/财务部").status, 0);
}

TEST_P(Directory, a_hostile_file_ends_with_a_clear_message_and_changes_nothing) {
  const std::string header = "login,name,department,mobile,state\n";
  const std::string good = "good,Good,总部/好部,,1\n";  // a row that would be imported alone
  std::string many = header;
  for (int i = 0; i < 100000; ++i) many += "u" + std::to_string(i) + ",Name,总部,,1\n";
  std::string deep;
  for (int i = 0; i < 500; ++i) deep += (i ? "/" : "") + std::string("级") + std::to_string(i);
  const std::string before = directory();
  struct Case {
    std::string bytes, says;
  } cases[] = {
      {header + good + "bad,\xff\xfe\xfd,总部,,\n", "directory: line 3: bytes that are neither UTF-8 nor GBK"},
      {std::string("\xff\xfel\0o\0g\0", 8), "directory: the file is UTF-16"},
      {header + "bob,B" + '\0' + "b,总部,,\n", "directory: line 2: a NUL byte"},
      {many, "directory: the file has more than 50000 rows under its header; import it in parts"},
      {header + good + "bob,\"Bob \"Li\"\",总部,,1\n", "directory: line 3: a quote out of place"},
      {header + good + "bob,\"Bob,总部,,1\n", "directory: line 3: a quoted field that is never closed"},
      {header + good + "bob,Bob,总部,=cmd|' /C calc'!A0,1\n",
       "line 3: the mobile \"=cmd|' /C calc'!A0\" holds characters other than digits, spaces and + - ( )"},
      {header + good + "bob,Bob," + deep + ",,1\n",
       "line 3: the department path has 500 levels; departments nest at most 16 deep"},
      {header + good + "bob,\"Bob\nLi\",总部,,1\n", "line 3: the name holds a control character"},
      {header + good + "bob,Bob,总部//财务部,,1\n", "line 3: the department path \"总部//财务部\" has an empty name"},
      {header + good + "bob,Bob,总部,,2\n", "line 3: the state must be 1 (active) or 0 (disabled), not \"2\""},
      {header + good + "GOOD,Good,,,\n", "line 3: the login GOOD is on line 2 already"},
      {header + good + "new,,总部,,\n", "line 3: a new account needs a name"},
      {header + good + ",Bob,总部,,\n", "line 3: a row without a login only makes its department"},
      {header + good + "a;b,Bob,总部,,\n", "line 3: \"a;b\" is no valid login"},
      {header + good + "bob,Bob,总部\n", "line 3: 3 fields; the header has 5"},
      {"user,name\n" + good, "line 1: the header must name the columns login,name,department,mobile,state"},
      {"", "line 1: the file is empty"},
  };
  for (const Case& c : cases) {
    const Outcome r = import(c.bytes);
    EXPECT_EQ(r.status, 1) << c.says << ": " << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err.substr(0, 2000);
    EXPECT_NE(r.err.find("nothing was changed"), std::string::npos) << r.err.substr(0, 2000);
  }
  const Outcome missing = oapx1("directory import /nonexistent/staff.csv");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("directory: cannot read /nonexistent/staff.csv"), std::string::npos) << missing.err;
  EXPECT_EQ(directory(), before);
}

TEST_P(Directory, deactivate_missing_disables_the_accounts_the_file_does_not_name_and_deletes_none) {
  const std::string file_text = "login,name,department,mobile,state\nadmin,陈志远,,,\nlisi,李四,,,\nwangwu,王五,,,\n";
  const std::string before = directory();
  const Outcome kept = import(file_text);
  EXPECT_EQ(kept.status, 0) << kept.err;
  EXPECT_EQ(directory(), before) << "without the flag the others are left alone";
  // zhangsan is node 3's only handler: refused, naming it.
  const Outcome refused = import(file_text, "--deactivate-missing");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.out.find("missing: disable user zhangsan (not in the file)\n"), std::string::npos) << refused.out;
  EXPECT_NE(refused.err.find("directory:   model 1 公司发文流程, node 3 领导审批: no active handler left (JiaoSeUserList)\n"),
            std::string::npos)
      << refused.err;
  EXPECT_EQ(directory(), before);
  const Outcome forced = import(file_text, "--deactivate-missing --force");
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_EQ(rows("select UserName, AccountState from KX_UserInfor order by OAID"),
            "admin|1\nzhangsan|0\nlisi|1\nwangwu|1\nzhaoliu|0\nsunqi|0\nzhouba|0\n");
  EXPECT_EQ(import(file_text, "--deactivate-missing").status, 0) << "twice changes nothing: nobody left to disable";
}

}  // namespace
}  // namespace oapx1
