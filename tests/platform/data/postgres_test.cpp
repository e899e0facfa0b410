// Connection and Recordset over PostgreSQL. Runs when OAPX1_TEST_PG names a
// server (scripts/pg-test-server starts a throwaway one); skipped otherwise.
// Each run works in a schema of its own, dropped at the end.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>
#include <memory>

#include "platform/data/connection.h"
#include "platform/data/db_backend.h"
#include "platform/data/db_pool.h"
#include "platform/data/recordset.h"
#include "platform/process/process.h"
#include "support/script_failure.h"
#include "support/test_db.h"
#include "support/test_pg.h"

namespace oapx1 {
namespace {

using testing::failure_of;

class Postgres : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { pg_ = std::make_unique<testing::PgTestSchema>("oapx1_test"); }
  static void TearDownTestSuite() { pg_.reset(); }

  void SetUp() override {
    if (pg_->url().empty()) GTEST_SKIP() << "OAPX1_TEST_PG is not set";
    conn_ = std::make_shared<Connection>();
    conn_->Open(pg_->url());
    conn_->execute_script(
        "truncate KX_UserInfor, OA_Log, OA_Document;"
        "insert into KX_UserInfor (OAID, UserName, TureName, DepartMentID, Mobile) values "
        "(1, 'admin', '管理员', 1, null), (2, 'lisi', '李四', 2, '139');"
        "insert into OA_Document (OAID, CatNumber, DocSubject, UpdateDate) values "
        "(1, 1, 'a', '2024-03-05 08:09:10'), (2, 1, 'b', null);");
  }

  Recordset query(const std::string& sql) {
    Recordset rs;
    rs.Open(sql, Variant(std::static_pointer_cast<Object>(conn_)), 1, 3);
    return rs;
  }
  std::string scalar(const std::string& sql) { return query(sql).field(0).str(); }

  static inline std::unique_ptr<testing::PgTestSchema> pg_;  // this program's schema
  std::shared_ptr<Connection> conn_;
};

TEST_F(Postgres, reads_rows_with_their_types) {
  Recordset rs = query("select top 5 OAID, UserName, Mobile, DepartMentID * 1.5 as half "
                       "from [KX_UserInfor] order by OAID");
  ASSERT_EQ(rs.RecordCount(), 2);
  EXPECT_EQ(rs.field("OAID").integer(), 1);
  EXPECT_EQ(rs.field("UserName").text(), "admin");  // the engine names it username
  EXPECT_TRUE(rs.field("mobile").is_null());
  EXPECT_DOUBLE_EQ(rs.field("half").real(), 1.5);
  Recordset doc = query("select UpdateDate, 'x' as lit from OA_Document where OAID = 1");
  EXPECT_EQ(doc.field(0).date(), make_datetime(2024, 3, 5, 8, 9, 10));
  EXPECT_EQ(doc.field("lit").text(), "x");  // a literal the server cannot type is text
}

TEST_F(Postgres, writes_back_by_key_and_returns_the_new_key) {
  Recordset rs = query("select * from OA_Document where OAID = 2");
  rs.set_field("DocSubject", Variant("it's"));
  rs.set_field("UpdateDate", Variant(make_datetime(2025, 1, 2, 3, 4, 5)));
  rs.set_field("CatNumber", Variant("7"));  // text into an integer column, as pages assign
  rs.Update();
  EXPECT_EQ(scalar("select DocSubject || '|' || UpdateDate || '|' || CatNumber from OA_Document "
                   "where OAID = 2"),
            "it's|2025-01-02 03:04:05|7");

  conn_->execute("select setval(pg_get_serial_sequence('oa_log', 'oaid'), 100)");
  Recordset log = query("select * from OA_Log where OAID = 0");
  log.AddNew();
  log.set_field("UserName", Variant("O'Brien"));
  log.Update();
  EXPECT_EQ(log.field("OAID").integer(), 101);
  EXPECT_TRUE(log.field("LogTime").is_date());
  EXPECT_EQ(query("select * from OA_Log where UserName = 'O''Brien'").RecordCount(), 1);
}

TEST_F(Postgres, failures_carry_the_engine_message_and_number) {
  struct Case {
    const char* sql;
    int32_t number;
    const char* message;
  } cases[] = {
      {"select * from OA_Nope", err::kInvalidObjectName, "relation \"oa_nope\" does not exist"},
      {"select Nope from OA_AnQuan", err::kSyntaxError, "column \"nope\" does not exist"},
      {"selec 1", err::kSyntaxError, "syntax error at or near \"selec\""},
      // The literal's type is kept: text against an integer fails as it would written in place.
      {"select * from KX_UserInfor where UserName = 5", err::kSyntaxError,
       "operator does not exist: text = integer"},
      {"insert into KX_UserInfor (OAID) values (1)", err::kConstraint,
       "duplicate key value violates unique constraint \"kx_userinfor_pkey\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(failure_of([&] { conn_->execute(c.sql); }), std::make_pair(c.number, std::string(c.message)))
        << c.sql;
  }
  Recordset rs = query("select UserName from KX_UserInfor where OAID = 1");
  rs.set_field("UserName", Variant("x"));
  EXPECT_EQ(failure_of([&] { rs.Update(); }).first, err::kProviderFailure);
  EXPECT_EQ(failure_of([] { Connection c; c.Open("postgresql://127.0.0.1:1/none?connect_timeout=2"); }).first,
            err::kProviderFailure);
}

TEST_F(Postgres, the_demo_data_loads_and_reads) {
  conn_->execute_script(testing::read_source_file("db/postgres/demo.sql"));
  EXPECT_EQ(query("select top 1 * from OA_AnQuan").field("TimeOut").integer(), 45);
  Recordset node = query("select * from OA_Flow_Model_JieDian where OAID=1");
  ASSERT_EQ(node.RecordCount(), 1);
  EXPECT_EQ(node.field("MOAID").integer(), 1);
}

TEST_F(Postgres, the_pool_reuses_the_engine_connection) {
  const int64_t pid = query("select pg_backend_pid()").field(0).integer();
  conn_->execute("begin");
  conn_->execute("insert into OA_Log (UserName) values ('uncommitted')");
  conn_->Close();
  conn_->Open(pg_->url());
  EXPECT_EQ(query("select pg_backend_pid()").field(0).integer(), pid);
  EXPECT_EQ(query("select * from OA_Log").RecordCount(), 0);  // rolled back on return
}

TEST_F(Postgres, cached_statements_give_the_rows_of_fresh_ones) {
  const std::vector<std::string> statements = {
      "select * from KX_UserInfor where OAID = 1", "select * from KX_UserInfor where OAID = 2",
      "select * from KX_UserInfor where UserName in ('lisi', 'x')",
      "select OAID from KX_UserInfor where OAID >= 1.5", "select 'a' || UserName from KX_UserInfor where OAID = 1"};
  auto rows_of = [&](const std::string& sql) {
    Recordset rs = query(sql);
    std::string out;
    for (; !rs.Eof(); rs.MoveNext()) {
      for (int i = 0; i < rs.field_count(); ++i) out += rs.field(i).str() + "|";
    }
    return out;
  };
  DbSession& session = conn_->session();
  std::vector<std::string> fresh;
  session.set_statement_cache_capacity(0);
  for (const auto& s : statements) fresh.push_back(rows_of(s));
  for (size_t capacity : {size_t{2}, DbSession::kDefaultStatementCache}) {
    session.set_statement_cache_capacity(capacity);
    for (int round = 0; round < 2; ++round) {
      for (size_t i = 0; i < statements.size(); ++i) EXPECT_EQ(rows_of(statements[i]), fresh[i]);
    }
  }
  EXPECT_EQ(query("select * from KX_Customer").field_count(), 3);
  conn_->execute("alter table KX_Customer add column Extra text");
  EXPECT_EQ(query("select * from KX_Customer").field_count(), 4);  // prepared again
  conn_->execute("alter table KX_Customer drop column Extra");
}

// The pool holds at most its bound of connections per string, waiting a
// bounded time for one; a pooled connection the server has closed (a restart)
// is replaced unseen.
TEST_F(Postgres, the_pool_is_bounded_and_replaces_connections_the_server_closed) {
  const int64_t pid = query("select pg_backend_pid()").field(0).integer();
  conn_->Close();
  Connection admin;
  admin.Open(pg_->url() + "&application_name=admin");
  admin.execute("select pg_terminate_backend(" + std::to_string(pid) + ")");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  conn_->Open(pg_->url());
  EXPECT_NE(query("select pg_backend_pid()").field(0).integer(), pid);

  DbPool& pool = DbPool::instance();
  pool.set_limits(1, std::chrono::milliseconds(200));
  Connection second;
  EXPECT_EQ(failure_of([&] { second.Open(pg_->url()); }).first, err::kProviderFailure);
  auto freed = std::async(std::launch::async, [&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    conn_->Close();
  });
  second.Open(pg_->url());  // waits for the connection given back
  freed.get();
  EXPECT_EQ(pool.open_count(pg_->url()), 1u);
  second.Close();
  pool.set_limits(64, std::chrono::seconds(10));
  conn_->Open(pg_->url());
}

// A statement past its time limit fails as a time-out, named to the thread's
// watch, whether the server cancels it or is silent altogether (the process
// serving the connection stopped): the client stops waiting within the limit
// and a second's grace, and the connection given up is not handed out again.
TEST_F(Postgres, a_statement_past_its_time_limit_fails_as_a_time_out_even_from_a_silent_server) {
  const ScopedProcessSettings limit([](ProcessSettings& s) { s.statement_limit_ms = 1000; });
  const struct {
    const char* sql;
    bool stop_server;
  } cases[] = {{"select pg_sleep(10)", false}, {"select 1 as silent", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    auto conn = std::make_shared<Connection>();
    conn->Open(pg_->url());
    Recordset rs;
    rs.Open("select pg_backend_pid()", Variant(std::static_pointer_cast<Object>(conn)), 1, 3);
    const auto pid = static_cast<pid_t>(rs.field(0).integer());
    rs.Close();
    if (c.stop_server && kill(pid, SIGSTOP) != 0) GTEST_SKIP() << "the server's processes cannot be stopped here";
    StatementTimeouts timeouts;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(failure_of([&] { conn->execute(c.sql); }).first, kStatementTimedOut);
    const auto waited = std::chrono::steady_clock::now() - start;
    if (c.stop_server) kill(pid, SIGCONT);
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::milliseconds(3000));
    ASSERT_TRUE(timeouts.first());
    EXPECT_EQ(*timeouts.first(), c.sql);
    conn->Close();
    conn->Open(pg_->url());
    EXPECT_EQ(failure_of([&] { conn->execute("select 1"); }).first, 0);
    conn->Close();
  }
}

// A server that takes the connection and never answers is given up on after
// the connect time-out the statement limit sets (two seconds at the least),
// as a time-out.
TEST(PostgresSilent, a_server_silent_from_the_start_fails_the_connect_as_a_time_out) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(listen(listener, 4), 0);  // connections wait in the queue, never accepted
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const ScopedProcessSettings limit([](ProcessSettings& s) { s.statement_limit_ms = 1000; });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(failure_of([&] {
              open_db_session("postgresql://nobody@127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/x");
            }).first,
            kStatementTimedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  close(listener);
}

// The application's statements were written for an engine that ignores letter
// case, sorts rows without a value first and reads '1.0' as the number 1;
// both engines must give the same rows.
TEST_F(Postgres, statements_read_the_same_rows_on_both_engines) {
  const std::string rows =
      "insert into KX_UserInfor (OAID, UserName, TureName, ordernumber) values "
      "(11, 'Admin', '管理员', 2), (12, 'u2', '张三', 1), (13, 'u3', '李四', null), "
      "(14, 'u4', '王五', 3);";
  testing::TestDb sqlite;
  sqlite.exec(rows);
  conn_->execute_script("truncate KX_UserInfor;" + rows);
  auto sqlite_conn = std::make_shared<Connection>();
  sqlite_conn->Open(sqlite.url());
  const std::vector<std::string> statements = {
      "select TureName from kx_userinfor where username in ('ADMIN','u2') order by ordernumber",
      "select TureName from kx_userinfor order by ordernumber",
      "select TureName from kx_userinfor order by ordernumber desc, OAID",
      "select top 2 TureName from kx_userinfor where OAID > 0 order by ordernumber",
      "select TureName from kx_userinfor where OAID = '11.0' or OAID = '1.2e1' or OAID = ' 13 '",
      "select TureName from kx_userinfor where OAID = '11.5'",
      "select TureName from kx_userinfor where UserName like 'ad%' or UserName not like 'U%'",
      "select TureName from kx_userinfor where TureName = N'王五' and UserName <> 'U2'",
  };
  auto rows_of = [](const std::shared_ptr<Connection>& conn, const std::string& sql) {
    Recordset rs;
    rs.Open(sql, Variant(std::static_pointer_cast<Object>(conn)), 1, 3);
    std::string out;
    for (; !rs.Eof(); rs.MoveNext()) out += rs.field(0).str() + ",";
    return out;
  };
  EXPECT_EQ(rows_of(sqlite_conn, statements[1]), "李四,张三,管理员,王五,");
  for (const std::string& sql : statements) {
    EXPECT_EQ(rows_of(conn_, sql), rows_of(sqlite_conn, sql)) << sql;
  }
  sqlite_conn->Close();
}

}  // namespace
}  // namespace oapx1
