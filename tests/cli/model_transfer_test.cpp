// `oapx1 model export|import` as an operator runs them, on SQLite and
// PostgreSQL: workflow models moved between two installations whose ids
// differ, by file.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>

#include "platform/data/connection.h"
#include "platform/data/db_backend.h"
#include "platform/data/db_pool.h"
#include "support/run_command.h"
#include "support/test_db.h"
#include "support/test_pg.h"

namespace oapx1 {
namespace {

using testing::Outcome;

// Runs the oapx1 binary with a shell-quoted argument string.
Outcome oapx1(const std::string& args) { return testing::run(args); }

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// The installation a model comes from: departments 总部, 总部/财务部 and
// 总部/技术部 (ids 1 to 3), four accounts, and model 1 with three nodes, the
// second ordered before the last, which has no place of its own.
constexpr char kSource[] = R"sql(
INSERT INTO KX_Department (DepartMentID, ParentID, DepartName, ordernumber) VALUES
  (1, 0, '总部', 1), (2, 1, '财务部', 2), (3, 1, '技术部', 3);
INSERT INTO KX_UserInfor (OAID, UserName, TureName, DepartMentID, AccountState) VALUES
  (1, 'admin', '陈志远', 1, '1'), (2, 'wangwu', '王五', 3, '1'), (3, 'zhouba', '周八', 3, '1'),
  (4, 'lisi', '李四', 2, '1');
INSERT INTO OA_Flow_BiaoDan (OAID, BiaoDanName, ZhengWenType) VALUES (1, '发文稿纸', 'Word');
INSERT INTO OA_Flow_Model_Header (OAID, BiaoDanID, ModelName) VALUES (1, 1, '公司发文流程');
INSERT INTO OA_Flow_Model_JieDian (OAID, MOAID, JieDianName, BanLiType, ProcessType, TimeUnit, WaitTime,
  BanLiRenType, JiaoSeUserList, isFirst, FenFaUser, FenFaBuMen, isBoHui, iszhuanban) VALUES
  (11, 1, '拟稿', '1', '1', '天', '1', '1', ';admin;', '1', ';lisi;', ';2;3;', '0', '1'),
  (12, 1, '部门审核', '1', '2', '天', '2', '1', ';wangwu;lisi;', '0', NULL, NULL, '1', '0'),
  (13, 1, '归档', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);
INSERT INTO OAPX1_NodeOrder (NodeID, ModelID, Position) VALUES (11, 1, 1), (12, 1, 2);
)sql";

// The installation it goes to: the same directory under other ids, no model.
constexpr char kTarget[] = R"sql(
INSERT INTO KX_Department (DepartMentID, ParentID, DepartName, ordernumber) VALUES
  (7, 0, '总部', 1), (8, 7, '技术部', 2), (9, 7, '财务部', 3);
INSERT INTO KX_UserInfor (OAID, UserName, TureName, DepartMentID, AccountState) VALUES
  (20, 'lisi', '李四', 9, '1'), (21, 'admin', '陈志远', 7, '1'), (22, 'wangwu', '王五', 8, '1'),
  (23, 'zhouba', '周八', 8, '1');
)sql";

// One database of a test, on one engine.
class Db {
 public:
  explicit Db(std::string url) : url_(std::move(url)) {}
  const std::string& url() const { return url_; }
  void exec(const std::string& sql) const {
    with([&](Connection& c) { c.execute_script(sql); });
  }
  std::string scalar(const std::string& sql) const {
    std::string value;
    with([&](Connection& c) {
      const DbResult r = c.session().query(sql);
      if (!r.rows.empty() && !r.rows[0][0].is_null()) value = r.rows[0][0].str();
    });
    return value;
  }
  // `oapx1 model ARGS --db URL`.
  Outcome model(const std::string& args) const { return oapx1("model " + args + " --db '" + url_ + "'"); }

 private:
  void with(const std::function<void(Connection&)>& body) const {
    Connection c;
    c.Open(Variant(url_));
    body(c);
    c.Close();
  }
  std::string url_;
};

// A source and a target database on one engine, filled as above; the bytes
// of the target on SQLite (its file and its write-ahead log).
struct Engine {
  std::string name;
  Db source, target;
  std::function<std::string()> target_bytes;  // null on PostgreSQL
};

class ModelTransfer : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "sqlite") {
      // Read with no connection of this process open: what the file holds
      // then is all there is (a write-ahead log is folded in at the close).
      engine_ =
          std::make_unique<Engine>(Engine{"sqlite", Db(sqlite_a_.url()), Db(sqlite_b_.url()), [this] {
                                            DbPool::instance().clear();
                                            return read_file(sqlite_b_.path()) + read_file(sqlite_b_.path() + "-wal");
                                          }});
    } else {
      pg_a_ = std::make_unique<testing::PgTestSchema>("oapx1_xfer_a");
      pg_b_ = std::make_unique<testing::PgTestSchema>("oapx1_xfer_b");
      if (pg_a_->url().empty()) GTEST_SKIP() << "OAPX1_TEST_PG is not set";
      engine_ = std::make_unique<Engine>(Engine{"postgres", Db(pg_a_->url()), Db(pg_b_->url()), nullptr});
    }
    source().exec(kSource);
    target().exec(kTarget);
    file_ = ::testing::TempDir() + "oapx1-model-" + std::to_string(getpid()) + ".json";
  }
  void TearDown() override {
    std::remove(file_.c_str());
    DbPool::instance().clear();
  }
  const Db& source() const { return engine_->source; }
  const Db& target() const { return engine_->target; }
  // Exports the source's model into file_.
  void export_source() {
    const Outcome r = source().model("export 公司发文流程 --out " + file_);
    ASSERT_EQ(r.status, 0) << r.err;
  }

  testing::TestDb sqlite_a_, sqlite_b_;
  std::unique_ptr<testing::PgTestSchema> pg_a_, pg_b_;
  std::unique_ptr<Engine> engine_;
  std::string file_;
};

TEST_P(ModelTransfer, export_import_export_gives_the_same_file_and_a_second_import_changes_nothing) {
  export_source();
  const std::string exported = read_file(file_);
  const nlohmann::json j = nlohmann::json::parse(exported);
  EXPECT_EQ(j["format"], "oapx1 workflow models");
  EXPECT_EQ(j["version"], 1);
  const nlohmann::json& model = j["models"][0];
  EXPECT_EQ(model["key"].get<std::string>().size(), 36u);
  EXPECT_EQ(model["form"], (nlohmann::json{{"name", "发文稿纸"}, {"body", "Word"}}));
  EXPECT_EQ(model["nodes"][0]["name"], "拟稿");
  EXPECT_EQ(model["nodes"][0]["FenFaBuMen"], (nlohmann::json{"总部/财务部", "总部/技术部"}));
  EXPECT_EQ(model["nodes"][1]["JiaoSeUserList"], (nlohmann::json{"wangwu", "lisi"}));
  EXPECT_EQ(model["nodes"][2]["name"], "归档");
  EXPECT_EQ(model["nodes"][2]["WaitTime"], nullptr);

  const Outcome first = target().model("import " + file_);
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, "新建流程模型 “公司发文流程”（表单 “发文稿纸”，新建），3 个节点：拟稿、部门审核、归档\n");
  EXPECT_EQ(target().scalar("select FenFaBuMen from OA_Flow_Model_JieDian where JieDianName='拟稿'"), ";9;8;");

  const Outcome again = target().model("export " + model["key"].get<std::string>());
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out, exported);

  const std::string lines = target().scalar("select count(*) from OAPX1_NodeHistory where Outcome='imported'");
  EXPECT_EQ(lines, "4");  // the model and its three nodes
  EXPECT_EQ(target().scalar("select count(*) from OAPX1_NodeHistory where ModelID is null"), "0");
  const std::string before = engine_->target_bytes ? engine_->target_bytes() : "";
  const Outcome second = target().model("import " + file_);
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(second.out, "流程模型 “公司发文流程”: 没有变化\n");
  EXPECT_EQ(second.err, "model: nothing to change in 1 model\n");
  EXPECT_EQ(target().scalar("select count(*) from OAPX1_NodeHistory"), lines);
  if (engine_->target_bytes) {
    EXPECT_TRUE(engine_->target_bytes() == before) << "the second import wrote";
  }
}

TEST_P(ModelTransfer, an_update_shows_the_difference_in_the_editors_words_keeps_node_ids_and_records_it) {
  export_source();
  ASSERT_EQ(target().model("import " + file_).status, 0);
  const std::string ids = "select OAID from OA_Flow_Model_JieDian where JieDianName=";
  const std::string review = target().scalar(ids + "'部门审核'"), draft = target().scalar(ids + "'拟稿'");
  source().exec(
      "UPDATE OA_Flow_Model_JieDian SET WaitTime='3', JiaoSeUserList=';zhouba;lisi;' WHERE OAID=12;"
      "DELETE FROM OA_Flow_Model_JieDian WHERE OAID=11;"
      "INSERT INTO OA_Flow_Model_JieDian (OAID, MOAID, JieDianName, BanLiType) VALUES (14, 1, '会签', '3');");
  export_source();
  const char* expected =
      "流程模型 “公司发文流程”\n"
      "  部门审核: 时限 2 天 → 3 天; 选择用户 +周八 −王五\n"
      "  + 新节点 “会签”（第 3 步）\n"
      "  节点顺序: 拟稿、部门审核、归档 → 部门审核、归档、会签、拟稿\n"
      "  保留（文件中没有，未改动）: 拟稿\n";
  const Outcome dry = target().model("import --dry-run " + file_);
  EXPECT_EQ(dry.status, 0) << dry.err;
  EXPECT_EQ(dry.out, expected);
  const Outcome real = target().model("import " + file_);
  ASSERT_EQ(real.status, 0) << real.err;
  EXPECT_EQ(real.out, expected);
  EXPECT_EQ(target().scalar(ids + "'部门审核'"), review);
  EXPECT_EQ(target().scalar(ids + "'拟稿'"), draft);  // kept, not removed
  EXPECT_EQ(target().scalar("select JiaoSeUserList || WaitTime from OA_Flow_Model_JieDian where OAID=" + review),
            ";zhouba;lisi;3");
  EXPECT_EQ(target().scalar("select Changes from OAPX1_NodeHistory where Outcome='imported' and NodeID=" + review +
                            " order by OAID desc"),
            R"([["WaitTime","2","3"],["JiaoSeUserList",";wangwu;lisi;",";zhouba;lisi;"],["Position","2","1"]])");
}

TEST_P(ModelTransfer, a_dry_run_prints_the_difference_and_changes_nothing) {
  export_source();
  ASSERT_EQ(target().model("export --all").status, 0);  // the target opened once, as it stays
  const std::string before = engine_->target_bytes ? engine_->target_bytes() : "";
  const Outcome dry = target().model("import " + file_ + " --dry-run");
  EXPECT_EQ(dry.status, 0) << dry.err;
  EXPECT_TRUE(dry.out.starts_with("新建流程模型 “公司发文流程”")) << dry.out;
  EXPECT_EQ(dry.err, "model: dry run, nothing was changed\n");
  EXPECT_EQ(target().scalar("select count(*) from OA_Flow_Model_Header"), "0");
  EXPECT_EQ(target().scalar("select count(*) from OAPX1_NodeHistory"), "0");
  if (engine_->target_bytes) {
    EXPECT_TRUE(engine_->target_bytes() == before) << "the dry run wrote";
  }
}

TEST_P(ModelTransfer, logins_and_departments_the_target_lacks_are_refused_unless_mapped) {
  export_source();
  target().exec("DELETE FROM KX_UserInfor WHERE UserName='lisi'; DELETE FROM KX_Department WHERE DepartName='财务部';");
  const Outcome refused = target().model("import " + file_);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("本系统没有这些帐号：lisi；本系统没有这些部门：总部/财务部。"), std::string::npos)
      << refused.err;
  EXPECT_EQ(target().scalar("select count(*) from OA_Flow_Model_Header"), "0");

  const std::string map = file_ + ".map";
  write_file(map, "# 旧,新\r\nLISI,wangwu\r\ndept:总部/财务部,总部/技术部\r\n");
  const Outcome mapped = target().model("import " + file_ + " --map-logins " + map);
  std::remove(map.c_str());
  ASSERT_EQ(mapped.status, 0) << mapped.err;
  EXPECT_EQ(target().scalar("select FenFaUser || FenFaBuMen from OA_Flow_Model_JieDian where JieDianName='拟稿'"),
            ";wangwu;;8;");
  EXPECT_EQ(target().scalar("select JiaoSeUserList from OA_Flow_Model_JieDian where JieDianName='部门审核'"),
            ";wangwu;");
}

TEST_P(ModelTransfer, a_model_is_named_by_id_key_or_a_name_only_one_model_has) {
  source().exec("INSERT INTO OA_Flow_Model_Header (OAID, ModelName) VALUES (2, '请假'), (3, '请假');");
  struct Case {
    std::string model;
    int status;
    std::string err;
  } cases[] = {
      {"1", 0, "model: exported 1 model (3 nodes)\n"},
      {"公司发文流程", 0, "model: exported 1 model (3 nodes)\n"},
      {"请假", 1, "model: 有 2 个流程模型名为 “请假”（编号 2、3），请用编号指定\n"},
      {"3", 0, "model: exported 1 model (0 nodes)\n"},
      {"99", 1, "model: 没有流程模型 “99”（按编号、模型键或名称）\n"},
  };
  for (const Case& c : cases) {
    const Outcome r = source().model("export '" + c.model + "'");
    EXPECT_EQ(r.status, c.status) << c.model;
    EXPECT_EQ(r.err, c.err) << c.model;
  }
  const std::string key = source().scalar("select ModelKey from OAPX1_Model where ModelID=1");
  EXPECT_EQ(source().model("export " + key).err, "model: exported 1 model (3 nodes)\n");
}

TEST_P(ModelTransfer, a_model_deleted_since_its_import_comes_back_as_a_new_model_under_its_key) {
  export_source();
  ASSERT_EQ(target().model("import " + file_).status, 0);
  // Deleted as the model list deletes it: the key's line may stay behind.
  target().exec("DELETE FROM OA_Flow_Model_JieDian; DELETE FROM OA_Flow_Model_Header;");
  const Outcome back = target().model("import " + file_);
  ASSERT_EQ(back.status, 0) << back.err;
  EXPECT_TRUE(back.out.starts_with("新建流程模型 “公司发文流程”（表单 “发文稿纸”），3 个节点")) << back.out;
  EXPECT_EQ(target().scalar("select ModelID from OAPX1_Model"), target().scalar("select OAID from OA_Flow_Model_Header"));
  EXPECT_EQ(target().scalar("select count(*) from OA_Flow_Model_JieDian"), "3");
  EXPECT_EQ(target().scalar("select count(*) from OA_Flow_BiaoDan"), "1");  // the form found by its name
}

INSTANTIATE_TEST_SUITE_P(Engines, ModelTransfer, ::testing::Values("sqlite", "postgres"),
                         [](const auto& info) { return info.param; });

// A hostile or broken file ends with a message naming the fault, exit status
// 1 and the database as it was.
TEST(ModelTransferFiles, hostile_files_end_with_a_clear_message_and_change_nothing) {
  testing::TestDb db;
  db.exec(kTarget);
  const std::string file = ::testing::TempDir() + "oapx1-hostile-" + std::to_string(getpid()) + ".json";
  const std::string head =
      R"({"format":"oapx1 workflow models","version":1,"models":[{"key":"k1","name":"M","nodes":[)";
  auto with_node = [&](const std::string& node) { return head + node + "]}]}"; };
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "[";
  std::string path;
  for (int i = 0; i < 500; ++i) path += (i ? "/" : "") + std::string("部");
  struct Case {
    std::string name, text, message;
  } cases[] = {
      {"GBK bytes", with_node("{\"name\":\"\xb2\xe2\xca\xd4\"}"), "文件不是 UTF-8 编码（第 "},
      {"too big", std::string(17 * 1024 * 1024, ' '), "文件太大（最多 16 MB）"},
      {"deeply nested", deep, "文件嵌套太深"},
      {"not JSON", "model: yes", "不是有效的 JSON："},
      {"empty", "", "不是有效的 JSON："},
      {"another format", R"({"format":"other","version":1,"models":[]})", "不是流程模型文件（format 应为"},
      {"unknown version", R"({"format":"oapx1 workflow models","version":2,"models":[]})",
       "文件格式版本 2 不能读取（本程序读写版本 1）"},
      {"a number for text", with_node(R"({"name":"n","WaitTime":3})"), "模型 1 节点 1 WaitTime：应为文本"},
      {"text for a list", with_node(R"({"name":"n","FenFaUser":"lisi"})"), "FenFaUser：应为列表（数组）或 null"},
      {"an unknown member", with_node(R"({"name":"n","OAID":"5"})"), "模型 1 节点 1：不认识的项 “OAID”"},
      {"a NUL", with_node(R"({"name":"a\u0000b"})"), "节点 1 name：含有不能保存的控制字符"},
      {"a line end", with_node(R"({"name":"n","Remark":"a\nb"})"), "Remark：含有不能保存的控制字符"},
      {"a name too long", with_node("{\"name\":\"" + std::string(201, 'x') + "\"}"),
       "最多 200 个字符，文件中有 201 个"},
      {"a path of 500 levels", with_node("{\"name\":\"n\",\"FenFaBuMen\":[\"" + path + "\"]}"), "最多 200 个字符"},
      {"a ';' in a list", with_node(R"({"name":"n","JiaoSeUserList":["a;b"]})"), "不能为空，也不能含有“;”"},
      {"a formula login", with_node(R"({"name":"n","JiaoSeUserList":["=cmd|' /C calc'!A0"]})"),
       "本系统没有这些帐号：=cmd|' /C calc'!A0"},
      {"a bad key", R"({"format":"oapx1 workflow models","version":1,"models":[{"key":"../x","name":"M","nodes":[]}]})",
       "模型 1：模型键（key）应为"},
      {"a key twice",
       R"({"format":"oapx1 workflow models","version":1,"models":[{"key":"a","name":"M","nodes":[]},)"
       R"({"key":"a","name":"N","nodes":[]}]})",
       "模型 2：模型键重复：a"},
  };
  ASSERT_EQ(oapx1("model export --all --db " + db.url()).status, 0);  // opened once, as it stays
  const std::string before = read_file(db.path()) + read_file(db.path() + "-wal");
  for (const Case& c : cases) {
    write_file(file, c.text);
    const Outcome r = oapx1("model import " + file + " --db " + db.url());
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
    EXPECT_TRUE(read_file(db.path()) + read_file(db.path() + "-wal") == before) << c.name;
  }
  std::remove(file.c_str());
}

}  // namespace
}  // namespace oapx1
