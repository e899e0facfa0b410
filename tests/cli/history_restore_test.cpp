// `oapx1 history --restore` on both engines: what it would change shown
// first, then the node set back through the node editor's checks, each
// refusal leaving the node as it was. PostgreSQL runs when OAPX1_TEST_PG
// names a server.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <memory>
#include <regex>
#include <utility>
#include <string>

#include "platform/data/db_pool.h"
#include "support/db_query.h"
#include "support/test_db.h"
#include "support/test_pg.h"

namespace oapx1 {
namespace {

// The oapx1 binary run with `args`; its exit status and standard output.
std::pair<int, std::string> oapx1(const std::string& args) {
  const std::string command = std::string(OAPX1_BINARY_DIR) + "/oapx1 " + args + " 2>&1";
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

class HistoryRestore : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    url_ = sqlite_.url();
    if (std::string(GetParam()) == "postgres") {
      pg_ = std::make_unique<testing::PgTestSchema>("oapx1_cli_restore");
      if (pg_->url().empty()) GTEST_SKIP() << "OAPX1_TEST_PG is not set";
      pg_->load_demo();
      url_ = pg_->url();
    } else {
      sqlite_.exec_file("db/sqlite/demo.sql");
    }
  }
  void TearDown() override { DbPool::instance().clear(); }
  std::string scalar(const std::string& sql) { return testing::query_scalar(url_, sql); }
  void exec(const std::string& sql) { testing::query_exec(url_, sql); }
  std::string run(const std::string& args) { return "history --node 4 " + args + " --db '" + url_ + "'"; }

  testing::TestDb sqlite_;
  std::unique_ptr<testing::PgTestSchema> pg_;
  std::string url_;
};

// Node 4 as two saves (A, then B) left it; each attempt to set it back to A
// in turn, the refused ones recorded between B and now.
TEST_P(HistoryRestore, shows_the_difference_then_saves_through_the_editors_checks) {
  exec("update OA_Flow_Model_JieDian set JieDianName='归档二', FenFaUser=';wangwu;', isBoHui='1' where OAID=4");
  exec("insert into OAPX1_NodeHistory (NodeID, ModelID, UserName, Outcome, Changes) values (4, 1, 'admin', 'saved', "
       "'[[\"JieDianName\",\"归档\",\"归档一\"],[\"FenFaUser\",\"\",\";zhouba;\"]]')");
  const std::string a = scalar("select max(OAID) from OAPX1_NodeHistory");
  exec("insert into OAPX1_NodeHistory (NodeID, ModelID, UserName, Outcome, Changes) values (4, 1, 'admin', 'saved', "
       "'[[\"JieDianName\",\"归档一\",\"归档二\"],[\"FenFaUser\",\";zhouba;\",\";wangwu;\"],[\"isBoHui\",\"0\",\"1\"]]')");
  const auto [shown, preview] = oapx1(run("--restore " + a + " --dry-run"));
  ASSERT_EQ(shown, 0) << preview;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(preview, m, std::regex("version ([0-9a-f]+)"))) << preview;
  const std::string version = m[1];
  for (const char* line : {"  节点名称: 归档二 -> 归档一\n", "  默认分发用户: 王五（wangwu） -> 周八（zhouba）\n",
                           "  允许驳回: 勾选 -> 未勾选\n"}) {
    EXPECT_NE(preview.find(line), std::string::npos) << line << " in " << preview;
  }
  for (const char* line : {"未勾选 -> 未勾选"}) {
    EXPECT_EQ(preview.find(line), std::string::npos) << "a check box unticked either way is no change: " << preview;
  }
  for (const char* line : {"  节点名称: 归档二 -> 归档一\n"}) {
    EXPECT_NE(preview.find(line), std::string::npos) << line << " in " << preview;
  }
  EXPECT_EQ(scalar("select count(*) from OAPX1_NodeHistory"), "2");  // a dry run changes nothing
  struct Case {
    std::string args;
    std::string before;   // SQL run first, or ""
    int status;
    std::string says;     // in its output
    const char* outcome;  // of the newest line
    const char* name;     // stored afterwards
  } cases[] = {
      {"--user lisi", "", 1, "没有流程设置权限", "forbidden", "归档二"},
      {"--user admin --expect-version 0123456789abcdef", "", 1, "您的设置未保存", "conflict", "归档二"},
      {"--user admin --expect-version " + version, "update KX_UserInfor set UserName='zb' where UserName='zhouba'", 1,
       "zhouba", "bad list", "归档二"},
      {"--user admin --expect-version " + version, "update KX_UserInfor set UserName='zhouba' where UserName='zb'", 0,
       "节点已恢复到修改记录 #" + a, "restored", "归档一"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.args);
    if (!c.before.empty()) exec(c.before);
    const auto [status, out] = oapx1(run("--restore " + a + " " + c.args));
    EXPECT_EQ(status, c.status) << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << out;
    EXPECT_EQ(scalar("select Outcome from OAPX1_NodeHistory where OAID=(select max(OAID) from OAPX1_NodeHistory)"),
              c.outcome);
    EXPECT_EQ(scalar("select JieDianName from OA_Flow_Model_JieDian where OAID=4"), c.name);
  }
  EXPECT_EQ(scalar("select FenFaUser from OA_Flow_Model_JieDian where OAID=4"), ";zhouba;");
  EXPECT_EQ(scalar("select isBoHui from OA_Flow_Model_JieDian where OAID=4"), "0");
  EXPECT_EQ(scalar("select ModelID from OAPX1_NodeHistory where Outcome='restored'"), "1");
  // And the history says so, in the editor's words.
  EXPECT_NE(oapx1(run("--limit 1")).second.find("已恢复\n  节点名称: 归档二 -> 归档一\n"), std::string::npos);
  EXPECT_EQ(oapx1(run("--restore " + a)).first, 2);  // neither --user nor --dry-run
  // A refused save's line changed nothing: there is no state after it.
  const auto [status, out] =
      oapx1(run("--dry-run --restore " + scalar("select min(OAID) from OAPX1_NodeHistory where Outcome='forbidden'")));
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("不是此节点的一次已保存的修改"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(Engines, HistoryRestore, ::testing::Values("sqlite", "postgres"));

}  // namespace
}  // namespace oapx1
