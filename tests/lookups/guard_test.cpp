// The connection and session guard, closedb and the code-table lookups.
#include <gtest/gtest.h>

#include <atomic>

#include "pages/flownode/node_settings_page.h"
#include "platform/components/components.h"
#include "platform/data/connection.h"
#include "support/page_fixture.h"

namespace oapx1 {
namespace {


// Counts the connection-string providers created, handing out the test database.
std::atomic<int> g_providers{0};

class Guard : public testing::PageFixture<tvwortqflowjiedia> {
 protected:
  // The connection string is not cached yet: the guard asks the provider.
  Guard() {
    request.application_state.set_item("KXTDBConnectString", "");
    set_default_database(db.url());
    register_component("TavrinKxt.kxt2008", [] {
      ++g_providers;
      return std::make_shared<ConnectStringProvider>();
    });
    g_providers = 0;
  }
  ~Guard() override {
    register_component("TavrinKxt.kxt2008", [] { return std::make_shared<ConnectStringProvider>(); });
    set_default_database("");
  }
  // Runs the guard on a fresh page and returns the session time-out it set.
  int guard_timeout() {
    tvwortqflowjiedia page;
    page.bind_request_context();
    page.tvdb_connI_init();
    return request.session.timeout();
  }
};

TEST_F(Guard, session_time_out_comes_from_the_security_settings_or_is_45) {
  EXPECT_EQ(guard_timeout(), 45);  // no row
  db.exec("insert into OA_AnQuan (TimeOut) values (20)");
  EXPECT_EQ(guard_timeout(), 20);
  db.exec("update OA_AnQuan set TimeOut = NULL");
  EXPECT_EQ(guard_timeout(), 45);
  db.exec("update OA_AnQuan set TimeOut = 'soon'");
  EXPECT_EQ(guard_timeout(), 45);
  db.exec("update OA_AnQuan set TimeOut = 99999999999");
  EXPECT_EQ(guard_timeout(), 2147483647);
  EXPECT_TRUE(request.events.entries().empty());
  EXPECT_EQ(request.session.code_page(), 936);
  EXPECT_EQ(request.response.expires(), 0);
  EXPECT_EQ(request.server.script_timeout(), 99999);
}

TEST_F(Guard, provider_is_asked_once_and_the_string_cached_for_the_application) {
  guard_timeout();
  EXPECT_EQ(g_providers, 1);
  EXPECT_EQ(request.application_state.item("KXTDBConnectString").str(), db.url());
  guard_timeout();
  guard_timeout();
  EXPECT_EQ(g_providers, 1);  // the cached item is used; no provider is created
}

TEST_F(Guard, a_missing_provider_is_reported_and_stops_the_guard) {
  unregister_component("TavrinKxt.kxt2008");
  tvwortqflowjiedia page;
  page.bind_request_context();
  page.tvdb_connI_init();
  ASSERT_EQ(request.events.entries().size(), 1u);
  EXPECT_EQ(request.event_texts()[0],
            " 429ActiveX component can't create object LINE #0 Routine : tvwortqflowjiedia.tvdb_connI_init");
  EXPECT_EQ(request.session.timeout(), 20);  // the steps after the failure did not run
}

TEST_F(Guard, session_without_user_gets_the_login_script_once_at_the_start) {
  request.session = MemorySession();
  request.request.add_query("OAID", "1");
  tvwortqflowjiedia page;
  page.I_init();
  const std::string script =
      " <script language=javascript>\r\n\t\ttop.location.href = \"/oa/login.asp\";\r\n\t</script>\r\n\t";
  EXPECT_EQ(request.body().substr(0, script.size()), script);
  EXPECT_EQ(request.body().find("top.location", script.size()), std::string::npos);
}

TEST_F(Guard, closedb_twice_or_before_the_guard_does_nothing) {
  tvwortqflowjiedia page;
  page.bind_request_context();
  page.closedb();  // before the guard: no connection
  page.tvdb_connI_init();
  ASSERT_TRUE(page.conn.has_object());
  page.closedb();
  EXPECT_TRUE(page.conn.is_object());
  EXPECT_FALSE(page.conn.has_object());
  page.closedb();
  EXPECT_TRUE(request.events.entries().empty());
  EXPECT_EQ(request.body(), "");
}

TEST_F(Guard, lookups_quote_the_key_and_never_report) {
  db.exec("insert into OA_Flow_BiaoDan (OAID, ZhengWenType) values (12, 'Word')");
  db.exec("insert into KX_Department (DepartMentID, DepartName) values (5, 'O''Brien Ltd')");
  db.exec("insert into KX_Department (DepartMentID, DepartName) values (6, 'O''Brien Ltd')");
  tvwortqflowjiedia page;
  page.bind_request_context();
  page.tvdb_connI_init();
  Variant table = "OA_Flow_BiaoDan", column = "ZhengWenType", key_column = "OAID", key = 12;
  EXPECT_EQ(page.getnamefromid(table, column, key_column, key).str(), "Word");
  EXPECT_EQ(page.sql.str(), "select ZhengWenType from OA_Flow_BiaoDan where OAID = '12'");
  key = 13;
  EXPECT_EQ(page.getidfromid(table, column, key_column, key).type(), Variant::Type::kText);
  EXPECT_EQ(page.getidfromid(table, column, key_column, key).str(), "");

  table = "KX_Department";
  column = "DepartMentID";
  key_column = "DepartName";
  key = "O'Brien Ltd";  // found, not an invalid statement
  EXPECT_EQ(page.getnamefromid(table, column, key_column, key).to_integer(), 5);

  table = "no_such_table";
  EXPECT_EQ(page.getnamefromid(table, column, key_column, key).str(), "");
  EXPECT_TRUE(request.events.entries().empty());
  EXPECT_EQ(request.body(), "");
}

}  // namespace
}  // namespace oapx1
