// Views the host answers again: through the real server on both engines, a
// view is answered from an earlier one only while every input it read holds,
// and each kind of change shows on the very next view. PostgreSQL runs when
// OAPX1_TEST_PG names a server.

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "host/page.h"
#include "pages/flownode/node_settings_page.h"
#include "platform/components/components.h"
#include "platform/data/connection.h"
#include "platform/data/db_backend.h"
#include "platform/data/recordset.h"
#include "platform/text/codepage.h"
#include "server/kept_views.h"
#include "server/web_application.h"
#include "server_fixture.h"
#include "support/test_pg.h"

namespace oapx1::testing {
namespace {

std::atomic<int> g_runs{0};  // runs of the pages below

// Writes what it reads: the request item "x", the user, an application item
// and node 4's name; the item "do" makes it also read the clock, log, create
// a file object or change the session.
class InputsPage : public Page {
 public:
  void I_init() override {
    bind_request_context();
    ++g_runs;
    tvdb_connI_init();
    Variant names = CreateObject("adodb.recordset");
    names.as<Recordset>().Open(Variant("select JieDianName from OA_Flow_Model_JieDian where OAID=4"), conn, 1, 3);
    Response& out = response_object();
    out.write("x=" + request_object().item("x").str() + " user=" + session_object().item("UserName").str() +
              " url=" + application_object().item("TavrinOAURL").str() +
              " node=" + names.as<Recordset>().field("JieDianName").str());
    names.as<Recordset>().Close();
    closedb();
    const std::string what = request_object().item("do").str();
    if (what == "clock") out.write(" now=" + Variant(clock_now()).str());
    if (what == "log") event_log().write(kEventInformation, "a page that logs");
    if (what == "file") CreateObject("Scripting.FileSystemObject");
    if (what == "session") session_object().set_item("seen", Variant(static_cast<int64_t>(g_runs.load())));
  }
};

// The node settings page, counted.
class CountedNodePage : public tvwortqflowjiedia {
 public:
  void I_init() override {
    ++g_runs;
    tvwortqflowjiedia::I_init();
  }
};

class KeptViewsTest : public ServerFixture, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    database_ = db_.url();
    if (std::string(GetParam()) == "postgres") {
      pg_ = std::make_unique<PgTestSchema>("oapx1_kept_views");
      if (pg_->url().empty()) GTEST_SKIP() << "OAPX1_TEST_PG is not set";
      pg_->load_demo();
      database_ = pg_->url();
    }
    g_runs = 0;
  }
  void TearDown() override {
    ServerFixture::TearDown();
    pg_.reset();
  }
  // One thread of each kind, so that each view meets the same engine connection.
  void start_with(PageFactory page) {
    ServerOptions o = options();
    o.database = database_;
    o.threads = 1;
    o.page_threads = 1;
    o.page_factory = std::move(page);
    start(std::move(o));
  }
  std::string view(const std::string& query, const std::string& cookie) {
    const ClientReply r = http_get(port_, std::string(kNodePage) + "?" + query, cookie);
    EXPECT_EQ(r.status, 200);
    return gb18030_to_utf8(r.body);
  }
  // The page ran `runs` times for one view: once when it had to run again,
  // else not at all. On PostgreSQL a commit by any program (other tests on
  // the same server) also drops what was kept, so there it may have run.
  void expect_runs(int runs, bool again) {
    if (again) {
      EXPECT_EQ(runs, 1);
    } else if (pg_) {
      EXPECT_LE(runs, 1);
    } else {
      EXPECT_EQ(runs, 0);
    }
  }
  void exec(const std::string& sql) {
    Connection conn;
    conn.Open(Variant(database_));
    conn.execute(Variant(sql));
    conn.Close();
  }

  std::string database_;
  std::unique_ptr<PgTestSchema> pg_;
};

TEST_P(KeptViewsTest, a_view_runs_again_exactly_when_something_it_read_changed) {
  start_with([] { return std::make_unique<InputsPage>(); });
  const std::string admin = sign_in("admin");
  const std::string admin_again = sign_in("admin");
  const std::string zhangsan = sign_in("zhangsan");
  struct Case {
    const char* what;
    std::string query;
    std::function<void()> change;  // between the first view and the second
    std::string second_cookie;
    bool runs_again;
    std::string second_shows;
  };
  const Case cases[] = {
      {"nothing changed", "x=1", [] {}, admin, false, "x=1 user=admin"},
      {"another session of the same user", "x=2", [] {}, admin_again, false, "x=2 user=admin"},
      {"another user", "x=3", [] {}, zhangsan, true, "x=3 user=zhangsan"},
      {"another program renamed the node", "x=4",
       [&] { exec("update OA_Flow_Model_JieDian set JieDianName='改名' where OAID=4"); }, admin, true, "node=改名"},
      {"an application item changed", "x=5",
       [&] { server_->application().application_state().set_item("TavrinOAURL", Variant("/changed/")); }, admin,
       true, "url=/changed/"},
      {"the page read the clock", "x=6&do=clock", [] {}, admin, true, "x=6"},
      {"the page logged an event", "x=7&do=log", [] {}, admin, true, "x=7"},
      {"the page made a file object", "x=8&do=file", [] {}, admin, true, "x=8"},
      {"the page changed the session", "x=9&do=session", [] {}, admin, true, "x=9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    view(c.query, admin);
    const int runs = g_runs;
    c.change();
    const std::string second = view(c.query, c.second_cookie);
    expect_runs(g_runs - runs, c.runs_again);
    EXPECT_NE(second.find(c.second_shows), std::string::npos) << second;
  }
}

TEST_P(KeptViewsTest, the_node_page_is_answered_again_until_the_node_is_saved) {
  start_with([] { return std::make_unique<CountedNodePage>(); });
  const std::string cookie = sign_in("admin");
  const std::string first = view("OAID=4", cookie);
  EXPECT_EQ(view("OAID=4", cookie), first);
  expect_runs(g_runs - 1, false);
  // A save through the host is a change like any other.
  const ClientReply saved =
      http_post(port_, std::string(kNodePage) + "?save=true&OAID=4", "JieDianName=%B8%C4", cookie);
  EXPECT_EQ(saved.status, 200);
  const int runs = g_runs;
  const std::string after = view("OAID=4", cookie);
  expect_runs(g_runs - runs, true);
  EXPECT_NE(after, first);
  EXPECT_NE(after.find("value=\"改\""), std::string::npos);
}

// A look for a kept view that misses carries what it read to the page's run:
// the parsed query and the session, unless this process ended a session in
// between (here a sign-out of that very session), when the run reads it again.
TEST_P(KeptViewsTest, a_run_after_a_missed_look_goes_on_from_what_the_look_read) {
  start_with([] { return std::make_unique<InputsPage>(); });
  WebApplication& app = server_->application();
  const std::string cookie = sign_in("admin");
  view("x=0", cookie);  // a view is kept, so that views are looked up
  for (const bool sign_out : {false, true}) {
    SCOPED_TRACE(sign_out ? "signed out between the look and the run" : "nothing in between");
    HttpRequest request;
    request.method = "GET";
    request.target = std::string(kNodePage) + "?x=" + (sign_out ? "2" : "1");
    request.cookie = cookie;
    const WebApplication::Route route = app.route(request);
    ASSERT_TRUE(app.may_answer_kept(request, route));
    WebApplication::LookedUp looked;
    looked.session_ends = app.session_store().ends();
    EXPECT_FALSE(app.look_kept(request, route, nullptr, &looked));
    ASSERT_TRUE(looked.looked);
    if (sign_out) {
      EXPECT_EQ(http_post(port_, "/oa/logout.asp", "", cookie).status, 303);
    }
    const std::string page = gb18030_to_utf8(std::string(app.handle(request, route, &looked).bytes()));
    EXPECT_NE(page.find(sign_out ? "x=2 user= " : "x=1 user=admin"), std::string::npos) << page;
  }
}

// On PostgreSQL a view of the node page after another program's commit runs
// the page again with its reads sent in few round trips: the snapshot, and
// the reads the previous such view made, together.
TEST_P(KeptViewsTest, after_a_commit_the_node_page_reads_in_few_round_trips) {
  if (!pg_) GTEST_SKIP() << "PostgreSQL only";
  start_with([] { return std::make_unique<CountedNodePage>(); });
  const std::string cookie = sign_in("admin");
  for (int n = 0; n < 3; ++n) {
    exec("UPDATE OA_Flow_Model_JieDian SET JieDianName = 'n" + std::to_string(n) + "' WHERE OAID = 4");
    const uint64_t before = server_round_trips();
    EXPECT_NE(view("OAID=4", cookie).find("value=\"n" + std::to_string(n) + "\""), std::string::npos);
    const uint64_t trips = server_round_trips() - before;
    if (n > 0) {
      EXPECT_LE(trips, 3u) << n;  // the first such view runs each read on its own
    }
  }
}

TEST(KeptViews, memory_is_bounded_and_views_of_an_earlier_state_go) {
  KeptViews views(/*max_views=*/4, /*max_bytes=*/64 * 100, /*per_query=*/2);
  const int page = 0;
  auto view = [](uint64_t source, uint64_t epoch, size_t bytes) {
    auto v = std::make_shared<KeptView>();
    v->data = DataStamp{source, epoch};
    v->body = std::make_shared<const std::string>(bytes, 'x');
    return v;
  };
  views.keep(&page, "a", view(1, 1, 101));  // more than a sixty-fourth of the bytes: not kept
  EXPECT_EQ(views.size(), 0u);
  views.keep(&page, "a", view(1, 1, 10));
  views.keep(&page, "a", view(1, 2, 10));  // the same connection, later: the first can no longer be found
  EXPECT_EQ(views.size(), 1u);
  views.keep(&page, "a", view(2, 1, 10));
  views.keep(&page, "a", view(3, 1, 10));  // a third of one query: the oldest goes
  EXPECT_EQ(views.size(), 2u);
  views.keep(&page, "b", view(1, 2, 10));
  views.keep(&page, "c", view(1, 2, 10));
  EXPECT_EQ(views.size(), 4u);
  views.keep(&page, "d", view(1, 2, 10));  // full: every view goes first
  EXPECT_EQ(views.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Engines, KeptViewsTest, ::testing::Values("sqlite", "postgres"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace oapx1::testing
