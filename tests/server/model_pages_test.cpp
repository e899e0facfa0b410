// The list of models, the forms, the node list's changes and the diagram,
// through the real server on both engines: where signing in lands, what an
// empty database is told, models created, renamed, copied and deleted, nodes
// added, moved and removed with their ids kept, every change recorded,
// hostile posts refused with nothing changed, and nodes that cannot be saved
// as they stand marked. PostgreSQL runs when OAPX1_TEST_PG names a server.

#include <cctype>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/text/codepage.h"
#include "server_fixture.h"
#include "support/run_command.h"
#include "support/test_pg.h"

namespace oapx1::testing {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

constexpr char kModels[] = "/oa/flow/model/models.asp";

// A form body as the GBK pages post it.
std::string posted_form(const Pairs& pairs) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string body;
  for (const auto& [name, value] : pairs) {
    body += (body.empty() ? "" : "&") + name + "=";
    for (unsigned char c : utf8_to_gbk(value)) {
      if (std::isalnum(c)) {
        body += static_cast<char>(c);
      } else {
        body += {'%', kHex[c >> 4], kHex[c & 15]};
      }
    }
  }
  return body;
}

std::string repeated(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

class ModelPages : public ServerFixture, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    database_ = db_.url();
    if (std::string(GetParam()) == "postgres") {
      pg_ = std::make_unique<PgTestSchema>("oapx1_models");
      if (pg_->url().empty()) GTEST_SKIP() << "OAPX1_TEST_PG is not set";
      pg_->load_demo();
      database_ = pg_->url();
    }
    ServerOptions o = options();
    o.database = database_;
    start(std::move(o));
    cookie_ = sign_in("admin");
  }
  void TearDown() override {
    ServerFixture::TearDown();
    pg_.reset();
  }

  // The first column of every row, joined by ",".
  std::string column(const std::string& sql) {
    auto conn = std::make_shared<Connection>();
    conn->Open(Variant(database_));
    Recordset rs;
    rs.Open(Variant(sql), Variant(std::static_pointer_cast<Object>(conn)), 1, 3);
    std::string values;
    for (; !rs.Eof(); rs.MoveNext()) values += (values.empty() ? "" : ",") + rs.field(0).str();
    rs.Close();
    conn->Close();
    return values;
  }
  void exec(const std::string& sql) {
    Connection conn;
    conn.Open(Variant(database_));
    conn.execute(Variant(sql));
    conn.Close();
  }
  // The ids of model `model`'s nodes in the list's order, as the node list shows them.
  std::string order(int model = 1) {
    const std::string list = get("/oa/flow/model/jiedianlist.asp?MOAID=" + std::to_string(model));
    std::string ids;
    for (size_t at = list.find("<tr data-node=\""); at != std::string::npos; at = list.find("<tr data-node=\"", at + 1)) {
      const size_t begin = at + 15;
      ids += (ids.empty() ? "" : ",") + list.substr(begin, list.find('"', begin) - begin);
    }
    return ids;
  }
  // The counts of the tables a change may touch, to show that nothing changed.
  std::string counts() {
    return column("select count(*) from OA_Flow_Model_Header") + "/" + column("select count(*) from OA_Flow_BiaoDan") +
           "/" + column("select count(*) from OA_Flow_Model_JieDian") + "/" +
           column("select count(*) from OAPX1_NodeOrder") + "/" + column("select count(*) from OAPX1_NodeHistory");
  }
  std::string get(const std::string& target, const std::string& cookie = "") {
    const ClientReply r = http_get(port_, target, cookie.empty() ? cookie_ : cookie);
    EXPECT_EQ(r.status, 200) << target;
    return gb18030_to_utf8(r.body);
  }
  ClientReply post(const std::string& target, const Pairs& items, const std::string& cookie = "") {
    ClientReply r = http_post(port_, target, posted_form(items), cookie.empty() ? cookie_ : cookie);
    r.body = gb18030_to_utf8(r.body);
    return r;
  }
  // The list version the node list of model `model` shows.
  std::string list_version(int model = 1) {
    const std::string list = get("/oa/flow/model/jiedianlist.asp?MOAID=" + std::to_string(model));
    const size_t at = list.find("name=\"ver\" value=\"") + 18;
    return list.substr(at, list.find('"', at) - at);
  }
  ClientReply change_list(const Pairs& items, int model = 1) {
    Pairs with_version = items;
    with_version.emplace_back("ver", list_version(model));
    return post("/oa/flow/model/jiedianlist.asp?MOAID=" + std::to_string(model) + "&save=true", with_version);
  }
  ClientReply change_model(const Pairs& items) { return post(std::string(kModels) + "?save=true", items); }

  std::string database_;
  std::string cookie_;
  static inline std::unique_ptr<PgTestSchema> pg_;
};

TEST_P(ModelPages, signing_in_and_the_root_land_on_the_list_of_models) {
  EXPECT_EQ(http_get(port_, "/").header("Location"), kModels);
  EXPECT_EQ(http_post(port_, "/oa/login.asp", "username=admin&password=demo").header("Location"), kModels);
  const std::string list = get(kModels);
  EXPECT_NE(list.find("<a href=\"model.asp?OAID=1\">公司发文流程</a></td><td>发文稿纸</td><td class=\"n\">4</td>"),
            std::string::npos)
      << list;
  EXPECT_EQ(list.find("还没有流程模型"), std::string::npos);
  EXPECT_NE(list.find("<option value=\"1\">发文稿纸</option>"), std::string::npos);
}

TEST_P(ModelPages, an_empty_database_says_what_to_do_first) {
  for (const char* table : {"OA_Flow_Model_JieDian", "OA_Flow_Model_Header", "OA_Flow_BiaoDan"}) {
    exec(std::string("delete from ") + table);
  }
  const std::string list = get(kModels);
  EXPECT_NE(list.find("系统提示：还没有流程模型。"), std::string::npos) << list;
  EXPECT_NE(list.find("<code>oapx1 dept add 总部</code>"), std::string::npos);
  EXPECT_NE(list.find("先<a href=\"forms.asp\">新建一个表单</a>"), std::string::npos);
  EXPECT_NE(list.find("id=\"createModel\" disabled"), std::string::npos);  // no form to make a model on yet
  EXPECT_EQ(list.find("<table id=\"models\">"), std::string::npos);
  // With a form, the first step is the model.
  EXPECT_NE(post("/oa/flow/model/forms.asp?save=true", {{"name", "请示单"}, {"body", "Word"}}).body.find("表单已新建"),
            std::string::npos);
  const std::string after = get(kModels);
  EXPECT_NE(after.find("<li>表单已有；"), std::string::npos);
  EXPECT_NE(after.find(">请示单</option>"), std::string::npos);
}

TEST_P(ModelPages, models_are_created_renamed_copied_and_deleted_and_each_change_recorded) {
  ClientReply r = change_model({{"do", "create"}, {"name", "  报销流程 "}, {"form", "1"}});
  const std::string made = column("select OAID from OA_Flow_Model_Header where ModelName='报销流程'");
  ASSERT_FALSE(made.empty()) << r.body;
  EXPECT_NE(r.body.find("location.replace(\"model.asp?OAID=" + made + "\")"), std::string::npos);
  EXPECT_EQ(column("select BiaoDanID from OA_Flow_Model_Header where OAID=" + made), "1");

  const std::string list = get(std::string(kModels) + "?rename=" + made);
  const size_t at = list.find("name=\"ver\" value=\"") + 18;
  const std::string version = list.substr(at, list.find('"', at) - at);
  r = change_model({{"do", "rename"}, {"model", made}, {"name", "差旅报销"}, {"ver", version}});
  EXPECT_NE(r.body.find("流程模型已重命名"), std::string::npos) << r.body;
  EXPECT_EQ(column("select ModelName from OA_Flow_Model_Header where OAID=" + made), "差旅报销");

  r = change_model({{"do", "copy"}, {"model", "1"}, {"name", "公司发文流程（二）"}});
  const std::string copy = column("select OAID from OA_Flow_Model_Header where ModelName='公司发文流程（二）'");
  ASSERT_FALSE(copy.empty()) << r.body;
  // Every node, in order, every setting, under new ids.
  EXPECT_EQ(column(std::string("select JieDianName from OA_Flow_Model_JieDian j join OAPX1_NodeOrder o on ") +
                   "o.NodeID=j.OAID where j.MOAID=" + copy + " order by o.Position"),
            "拟稿,部门审核,领导审批,归档");
  EXPECT_EQ(column("select count(*) from OA_Flow_Model_JieDian where MOAID=" + copy + " and OAID<=4"), "0");
  EXPECT_EQ(column("select JiaoSeUserList from OA_Flow_Model_JieDian where MOAID=" + copy + " and JieDianName='拟稿'"),
            ";zhangsan;lisi;");
  const std::string keys = column("select ModelKey from OAPX1_Model where ModelID in (" + made + "," + copy + ")");
  EXPECT_EQ(keys.size(), 2 * 36 + 1) << keys;

  // Deleting asks first, naming the nodes that go with the model.
  const std::string ask = get(std::string(kModels) + "?delete=" + copy);
  EXPECT_NE(ask.find("确定删除流程模型“公司发文流程（二）”吗？它的 4 个节点也将删除：拟稿、部门审核、领导审批、归档。"),
            std::string::npos)
      << ask;
  const size_t v = ask.find("name=\"ver\" value=\"") + 18;
  r = change_model({{"do", "delete"}, {"model", copy}, {"ver", ask.substr(v, ask.find('"', v) - v)}});
  EXPECT_NE(r.body.find("流程模型及其节点已删除"), std::string::npos) << r.body;
  EXPECT_EQ(column("select count(*) from OA_Flow_Model_Header where OAID=" + copy), "0");
  EXPECT_EQ(column("select count(*) from OA_Flow_Model_JieDian where MOAID=" + copy), "0");
  EXPECT_EQ(column("select count(*) from OAPX1_NodeOrder where ModelID=" + copy), "0");
  // The history line of the deletion keeps the model's export.
  const nlohmann::json kept =
      nlohmann::json::parse(column("select Changes from OAPX1_NodeHistory where Outcome='model deleted'"));
  ASSERT_EQ(kept.at(1).at(0), "Export") << kept;
  // It is a model file as `oapx1 model export` writes it, which `model import` brings back.
  const nlohmann::json exported = nlohmann::json::parse(kept.at(1).at(1).get<std::string>()).at("models").at(0);
  EXPECT_EQ(exported.at("name"), "公司发文流程（二）");
  EXPECT_EQ(exported.at("nodes").size(), 4u);
  EXPECT_EQ(exported.at("nodes").at(0).at("JiaoSeUserList"), nlohmann::json({"zhangsan", "lisi"}));
  EXPECT_EQ(column("select Outcome from OAPX1_NodeHistory where ModelID in (" + made + "," + copy + ") order by OAID"),
            "model created,model renamed,model copied,model deleted");
  EXPECT_EQ(column("select distinct UserName from OAPX1_NodeHistory"), "admin");
  EXPECT_EQ(column("select distinct IPAddress from OAPX1_NodeHistory"), "127.0.0.1");
  // The list names who changed a model last.
  EXPECT_NE(get(kModels).find("陈志远（admin）"), std::string::npos);
  // The command line takes the kept file out of the history, and an import brings the model back.
  const oapx1::testing::Outcome kept_file =
      oapx1::testing::run("model export --deleted " + copy + " --db '" + database_ + "'");
  ASSERT_EQ(kept_file.status, 0) << kept_file.err;
  EXPECT_EQ(kept_file.out, kept.at(1).at(1).get<std::string>());
  const oapx1::testing::Outcome back =
      oapx1::testing::run("model import - --db '" + database_ + "'", "printf '%s' '" + kept_file.out + "' |");
  ASSERT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(column("select count(*) from OA_Flow_Model_Header where ModelName='公司发文流程（二）'"), "1");
  EXPECT_EQ(oapx1::testing::run("model export --deleted 999999 --db '" + database_ + "'").status, 1);
}

TEST_P(ModelPages, hostile_posts_are_refused_with_a_message_and_change_nothing) {
  const std::string version = list_version();
  struct Case {
    Pairs items;
    const char* message;
  } cases[] = {
      {{{"do", "create"}, {"name", " \t　 "}, {"form", "1"}}, "流程模型名称不能为空"},
      {{{"do", "create"}, {"name", repeated("长", 201)}, {"form", "1"}},
       "最多 200 个字符，提交了 201 个"},
      {{{"do", "create"}, {"name", "a\x01" "b"}, {"form", "1"}}, "控制字符"},
      {{{"do", "create"}, {"name", "x"}, {"form", "1 or 1=1"}}, "表单编号“1 or 1=1”不是整数"},
      {{{"do", "create"}, {"name", "x"}, {"form", "99"}}, "表单（99）不存在"},
      {{{"do", "rename"}, {"model", "1;drop table x"}, {"name", "x"}}, "不是整数"},
      {{{"do", "rename"}, {"model", "1"}, {"name", "x"}, {"ver", "stale"}}, "已被修改"},
      {{{"do", "copy"}, {"model", "99"}, {"name", "x"}}, "流程模型（99）不存在"},
      {{{"do", "delete"}, {"model", "-1"}}, "不是整数"},
      {{{"do", "drop"}}, "不认识的操作"},
  };
  const std::string before = counts();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const ClientReply r = change_model(c.items);
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(r.body.find(c.message), std::string::npos) << r.body;
    EXPECT_NE(r.body.find("class=\"refused\""), std::string::npos);
  }
  struct ListCase {
    Pairs items;
    const char* message;
  } list_cases[] = {
      {{{"add", "2"}, {"ver", "stale"}}, "节点列表在您打开之后已被修改"},
      {{{"add", "x1"}, {"ver", version}}, "节点编号“x1”不是整数"},
      {{{"add", "99"}, {"ver", version}}, "节点（99）不在此流程模型中"},
      {{{"up", "1"}, {"ver", version}}, "已是第一个"},
      {{{"down", "4"}, {"ver", version}}, "已是最后一个"},
      {{{"remove", "99999999999999999999"}, {"confirm", "1"}, {"ver", version}}, "不是整数"},
  };
  for (const ListCase& c : list_cases) {
    SCOPED_TRACE(c.message);
    const ClientReply r = post("/oa/flow/model/jiedianlist.asp?MOAID=1&save=true", c.items);
    EXPECT_NE(r.body.find(c.message), std::string::npos) << r.body;
  }
  EXPECT_EQ(counts(), before);
  // Only a form posted from the application's own pages by a holder of the permission changes anything.
  EXPECT_EQ(http_get(port_, std::string(kModels) + "?save=true&do=create&name=x&form=1", cookie_).status, 200);
  HttpClient foreign(port_);
  const std::string body = "do=create&name=x&form=1";
  EXPECT_EQ(foreign.exchange("POST /oa/flow/model/models.asp?save=true HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                             "Origin: http://evil.example\r\nCookie: " + cookie_ +
                             "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                             std::to_string(body.size()) + "\r\n\r\n" + body).status,
            403);
  EXPECT_EQ(post(std::string(kModels) + "?save=true", {{"do", "create"}, {"name", "x"}, {"form", "1"}}, sign_in("lisi"))
                .status,
            403);
  EXPECT_EQ(post("/oa/flow/model/jiedianlist.asp?MOAID=1&save=true", {{"add", "end"}}, sign_in("lisi")).status, 403);
  EXPECT_EQ(counts(), before);
}

TEST_P(ModelPages, nodes_are_added_moved_and_removed_in_the_list_order_with_their_ids_kept) {
  // Inserted after the row chosen, opened at once in the node frame.
  ClientReply r = change_list({{"add", "2"}});
  const std::string added = column("select max(OAID) from OA_Flow_Model_JieDian");
  EXPECT_NE(r.body.find("location.href = \"jiedian.asp?OAID=" + added + "\""), std::string::npos) << r.body;
  EXPECT_EQ(order(), "1,2," + added + ",3,4");
  EXPECT_EQ(column("select JieDianName from OA_Flow_Model_JieDian where OAID=" + added), "新节点");

  change_list({{"down", "1"}});
  EXPECT_EQ(order(), "2,1," + added + ",3,4");
  // The model page opens the first node of the list's order.
  EXPECT_NE(get("/oa/flow/model/model.asp?OAID=1").find("src=\"jiedian.asp?OAID=2\""), std::string::npos);
  change_list({{"up", added}});
  EXPECT_EQ(order(), "2," + added + ",1,3,4");

  // Removing asks first, naming the node; only the confirmation removes it.
  r = change_list({{"remove", "3"}});
  EXPECT_NE(r.body.find("确定删除节点“领导审批”吗？"), std::string::npos) << r.body;
  EXPECT_EQ(order(), "2," + added + ",1,3,4");
  r = change_list({{"remove", "3"}, {"confirm", "1"}});
  EXPECT_NE(r.body.find("节点已删除"), std::string::npos) << r.body;
  EXPECT_EQ(order(), "2," + added + ",1,4");
  change_list({{"add", "end"}});
  const std::string last = column("select max(OAID) from OA_Flow_Model_JieDian");
  EXPECT_EQ(order(), "2," + added + ",1,4," + last);

  // Ids never change, and the stored order is the one shown.
  EXPECT_EQ(column("select NodeID from OAPX1_NodeOrder where ModelID=1 order by Position"), order());
  // Every change is in the history: who, from where, what.
  EXPECT_EQ(column("select Outcome from OAPX1_NodeHistory where ModelID=1 order by OAID"),
            "node added,node moved,node moved,node removed,node added");
  EXPECT_EQ(column("select Remark from OAPX1_NodeHistory where Outcome='node removed'"), "删除节点“领导审批”");
  EXPECT_NE(column("select Changes from OAPX1_NodeHistory where Outcome='node removed'").find("[\"JiaoSeUserList\",\";zhangsan;\",\"\"]"),
            std::string::npos);
  EXPECT_EQ(column("select distinct UserName || '@' || IPAddress from OAPX1_NodeHistory"), "admin@127.0.0.1");
  EXPECT_NE(get("/oa/flow/model/jiedianhistory.asp?OAID=1").find("移动节点"), std::string::npos);
}

TEST_P(ModelPages, a_removed_node_id_is_never_given_again) {
  change_list({{"add", "end"}});
  const std::string added = column("select max(OAID) from OA_Flow_Model_JieDian");
  change_list({{"remove", added}, {"confirm", "1"}});
  change_list({{"add", "end"}});
  EXPECT_GT(std::stoll(column("select max(OAID) from OA_Flow_Model_JieDian")), std::stoll(added));
}

TEST_P(ModelPages, nodes_that_cannot_be_saved_as_they_stand_are_marked_in_the_lists_and_the_diagram) {
  struct Case {
    const char* change;  // made to node 3 (领导审批), a node that can be saved as it stands
    const char* reason;
  } cases[] = {
      {"JiaoSeUserList=''", "没有指定办理人"},
      {"JiaoSeUserList=';ghost;'", "选择用户中的帐号不存在：ghost"},
      {"FenFaUser=';nobody;'", "默认分发用户中的帐号不存在：nobody"},
      {"FenFaBuMen=';2;99;'", "默认分发部门中的部门不存在或不是以“;”分隔的部门编号：99"},
      // Every handler disabled, as a forced `user disable` leaves it.
      {"JiaoSeUserList=';sunqi;'", "办理人都已停用"},
  };
  EXPECT_EQ(get(kModels).find("class=\"mark\""), std::string::npos);
  exec("update kx_userinfor set AccountState='0' where UserName='sunqi'");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.change);
    exec(std::string("update OA_Flow_Model_JieDian set ") + c.change + " where OAID=3");
    const std::string models = get(kModels);
    EXPECT_NE(models.find("“领导审批”：" + std::string(c.reason) + "\">▲ 1 个节点不能按现状保存</span>"), std::string::npos)
        << models;
    const std::string list = get("/oa/flow/model/jiedianlist.asp?MOAID=1");
    EXPECT_NE(list.find("<span class=\"mark\" title=\"不能按现状保存：" + std::string(c.reason) + "\">"), std::string::npos)
        << list;
    EXPECT_NE(get("/oa/flow/model/diagram.asp?MOAID=1").find("<g class=\"node bad\" data-node=\"3\">"), std::string::npos);
    exec("update OA_Flow_Model_JieDian set JiaoSeUserList=';zhangsan;', FenFaUser=NULL, FenFaBuMen=NULL where OAID=3");
  }
  EXPECT_EQ(get(kModels).find("class=\"mark\""), std::string::npos);
}

TEST_P(ModelPages, the_diagram_draws_each_node_in_order_with_its_settings_between_start_and_end) {
  change_list({{"down", "1"}});
  const std::string page = get("/oa/flow/model/diagram.asp?MOAID=1");
  const char* in_order[] = {
      ">开始</text>",
      ">1. 部门审核</text>", ">办理式·并行  时限 1 天</text>", ">办理人：李四、王五</text>", ">可以：转办 沟通 驳回</text>",
      ">2. 拟稿［开始节点］</text>", ">办理式·并行  时限 2 天</text>", ">办理人：张三、李四</text>",
      ">可以：转办 分发 驳回</text>",
      ">3. 领导审批</text>", ">办理式·会签  不限时</text>", ">办理人：张三</text>",
      ">4. 归档</text>", ">办理方式未定  不限时</text>", ">办理人：运行时指定</text>", ">可以：—</text>",
      ">结束</text>",
  };
  size_t at = 0;
  for (const char* text : in_order) {
    SCOPED_TRACE(text);
    const size_t found = page.find(text, at);
    ASSERT_NE(found, std::string::npos) << page;
    at = found;
  }
  EXPECT_NE(page.find("@page{size:A4 portrait"), std::string::npos);
  EXPECT_NE(page.find("<svg xmlns=\"http://www.w3.org/2000/svg\" id=\"diagram\" role=\"img\""), std::string::npos);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  // The node list shows the same picture beside the list.
  EXPECT_NE(get("/oa/flow/model/jiedianlist.asp?MOAID=1").find(">1. 部门审核</text>"), std::string::npos);
  EXPECT_NE(get("/oa/flow/model/diagram.asp?MOAID=x").find("流程模型（x）不存在"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Engines, ModelPages, ::testing::Values("sqlite", "postgres"));

}  // namespace
}  // namespace oapx1::testing
