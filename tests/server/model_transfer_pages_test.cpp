// The export and import of workflow models in the browser's pages, through
// the real server: a download under the editing permission, and an upload
// that shows the difference and applies it only when confirmed.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>

#include "platform/text/codepage.h"
#include "server_fixture.h"

namespace oapx1::testing {
namespace {

constexpr char kExport[] = "/oa/flow/model/export.asp", kImport[] = "/oa/flow/model/import.asp";

// A form body as a GBK page posts it: values in GBK, percent-encoded.
std::string gbk_form(const std::vector<std::pair<std::string, std::string>>& pairs) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string body;
  for (const auto& [name, value] : pairs) {
    body += (body.empty() ? "" : "&") + name + "=";
    for (unsigned char c : utf8_to_gbk(value)) {
      if (std::isalnum(c)) {
        body += static_cast<char>(c);
      } else {
        body += '%';
        body += kHex[c >> 4];
        body += kHex[c & 15];
      }
    }
  }
  return body;
}

class ModelTransferPages : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    start(options());
    cookie_ = sign_in("admin");
  }
  // The page's text, posted as its form posts.
  std::string post(const std::vector<std::pair<std::string, std::string>>& form) {
    const ClientReply r = http_post(port_, kImport, gbk_form(form), cookie_);
    EXPECT_EQ(r.status, 200);
    return gb18030_to_utf8(r.body);
  }
  std::string cookie_;
};

TEST_F(ModelTransferPages, export_downloads_the_model_file_under_the_editing_permission) {
  const ClientReply r = http_get(port_, std::string(kExport) + "?OAID=1", cookie_);
  ASSERT_EQ(r.status, 200);
  EXPECT_EQ(r.header("Content-Type"), "application/json; charset=utf-8");
  const std::string key = db_.scalar("select ModelKey from OAPX1_Model where ModelID=1");
  EXPECT_EQ(r.header("Content-Disposition"), "attachment; filename=\"model-" + key + ".json\"");
  const nlohmann::json file = nlohmann::json::parse(r.body);  // UTF-8, not the pages' code page
  EXPECT_EQ(file["models"][0]["name"], "公司发文流程");
  EXPECT_EQ(file["models"][0]["nodes"].size(), 4u);

  EXPECT_EQ(http_get(port_, std::string(kExport) + "?OAID=99", cookie_).status, 404);
  EXPECT_EQ(http_get(port_, std::string(kExport) + "?OAID=1", sign_in("lisi")).status, 403);  // no FLOWSET
}

TEST_F(ModelTransferPages, import_shows_the_difference_and_applies_it_only_when_confirmed) {
  std::string file = http_get(port_, std::string(kExport) + "?OAID=1", cookie_).body;
  file.replace(file.find("\"WaitTime\": \"1\""), 15, "\"WaitTime\": \"4\"");  // 部门审核: 1 天 → 4 天

  const std::string shown = post({{"step", "preview"}, {"ModelFile", file}, {"MapFile", ""}});
  EXPECT_NE(shown.find("<div id=\"difference\">流程模型 “公司发文流程”\n  部门审核: 时限 1 天 → 4 天</div>"),
            std::string::npos)
      << shown;
  std::smatch digest;
  ASSERT_TRUE(std::regex_search(shown, digest, std::regex("name=\"Digest\" value=\"([0-9a-f]+)\"")));
  EXPECT_EQ(db_.scalar("select WaitTime from OA_Flow_Model_JieDian where OAID=2"), "1");  // not yet

  // Confirmed against another difference than the one there is: shown again, nothing written.
  const std::string stale = post({{"step", "apply"}, {"ModelFile", file}, {"Digest", "0123456789abcdef"}});
  EXPECT_NE(stale.find("请再次确认"), std::string::npos);
  EXPECT_EQ(db_.scalar("select WaitTime from OA_Flow_Model_JieDian where OAID=2"), "1");

  const std::string applied = post({{"step", "apply"}, {"ModelFile", file}, {"Digest", digest[1].str()}});
  EXPECT_NE(applied.find("系统提示：流程模型已导入"), std::string::npos) << applied;
  EXPECT_EQ(db_.scalar("select WaitTime from OA_Flow_Model_JieDian where OAID=2"), "4");
  EXPECT_EQ(db_.scalar("select UserName || ' ' || Outcome || ' ' || ModelID || ' ' || IPAddress || ' ' || Changes "
                       "from OAPX1_NodeHistory where NodeID=2"),
            "admin imported 1 127.0.0.1 [[\"WaitTime\",\"1\",\"4\"]]");
}

TEST_F(ModelTransferPages, a_file_that_cannot_be_read_is_refused_with_its_reason) {
  const std::string page = post({{"step", "preview"}, {"ModelFile", "{\"format\": 1"}});
  EXPECT_NE(page.find("系统提示：文件不能导入，什么也没有改动：不是有效的 JSON："), std::string::npos) << page;
  const std::string form = post({});
  EXPECT_NE(form.find("<textarea id=\"ModelFile\" name=\"ModelFile\" rows=\"14\">"), std::string::npos) << form;
}

}  // namespace
}  // namespace oapx1::testing
