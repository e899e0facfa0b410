// The fixture of the tests of the node editor's rules through the real
// server, on both engines (the test's parameter: "sqlite" or "postgres"):
// the demo database, reads and writes of it, views and saves of a node.
#ifndef OAPX1_TESTS_SERVER_NODE_EDITING_FIXTURE_H_
#define OAPX1_TESTS_SERVER_NODE_EDITING_FIXTURE_H_

#include <cctype>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/text/codepage.h"
#include "server_fixture.h"
#include "support/db_query.h"
#include "support/test_pg.h"

namespace oapx1::testing {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// A form body as a GBK page posts it: values in GBK, percent-encoded.
inline std::string gbk_form(const Pairs& pairs) {
  std::string body;
  for (const auto& [name, value] : pairs) {
    if (!body.empty()) body += '&';
    body += name + "=";
    for (unsigned char c : utf8_to_gbk(value)) {
      static const char kHex[] = "0123456789ABCDEF";
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

inline std::string node_url(const std::string& query) { return std::string(kNodePage) + "?" + query; }

class NodeEditing : public ServerFixture, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    if (!open_database("oapx1_editing")) GTEST_SKIP() << "OAPX1_TEST_PG is not set";
    ServerOptions o = options();
    o.database = database_;
    o.db_lock_wait = std::chrono::seconds(1);  // a lock another program holds is waited for this long
    start(std::move(o));
  }
  void TearDown() override {
    ServerFixture::TearDown();
    pg_.reset();
  }
  // The demo database of the engine the test is given, in database_ (a
  // schema named from `prefix` on PostgreSQL); false when there is no server.
  bool open_database(const char* prefix) {
    ServerFixture::SetUp();
    database_ = db_.url();
    if (std::string(GetParam()) != "postgres") return true;
    pg_.reset();
    pg_ = std::make_unique<PgTestSchema>(prefix);
    if (pg_->url().empty()) return false;
    pg_->load_demo();
    database_ = pg_->url();
    return true;
  }

  // The first column of the first row, "" when there is none.
  std::string scalar(const std::string& sql) { return query_scalar(database_, sql); }
  void exec(const std::string& sql) { query_exec(database_, sql); }
  std::string stored(const std::string& column, int node = 4) {
    return scalar("select " + column + " from OA_Flow_Model_JieDian where OAID=" + std::to_string(node));
  }
  // A GET of the node page; the body in UTF-8.
  std::string view(const std::string& cookie, int node = 4) {
    const ClientReply r = http_get(port_, node_url("OAID=" + std::to_string(node)), cookie);
    EXPECT_EQ(r.status, 200);
    return gb18030_to_utf8(r.body);
  }
  // A save of node 4 with the given form items; the reply, body in UTF-8.
  ClientReply save(const std::string& cookie, const Pairs& items, int node = 4) {
    ClientReply r = http_post(port_, node_url("save=true&OAID=" + std::to_string(node)), gbk_form(items), cookie);
    r.body = gb18030_to_utf8(r.body);
    return r;
  }

  std::string database_;
  static inline std::unique_ptr<PgTestSchema> pg_;
};

}  // namespace oapx1::testing

#endif  // OAPX1_TESTS_SERVER_NODE_EDITING_FIXTURE_H_
