// Connection and Recordset over SQLite: reading, writing back, failures, the
// pool and the prepared-statement cache.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/data/connection.h"
#include "platform/data/db_backend.h"
#include "platform/data/db_pool.h"
#include "platform/data/recordset.h"
#include "platform/process/process.h"
#include "support/script_failure.h"
#include "support/test_db.h"

namespace oapx1 {
namespace {

using testing::TestDb;

std::shared_ptr<Connection> open(const TestDb& db) {
  auto conn = std::make_shared<Connection>();
  conn->Open(db.url());
  return conn;
}

Variant as_variant(const std::shared_ptr<Connection>& conn) {
  return Variant(std::static_pointer_cast<Object>(conn));
}

using testing::failure_of;

class DataAccess : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.exec(
        "INSERT INTO KX_Department (DepartMentID, ParentID, DepartName, ordernumber) VALUES "
        "(1, 0, '办公室', 1), (2, 0, '财务部', 2);"
        "INSERT INTO KX_UserInfor (OAID, UserName, TureName, DepartMentID, Mobile) VALUES "
        "(1, 'admin', '管理员', 1, NULL), (2, 'lisi', '李四', 2, '139');"
        "INSERT INTO OA_Document (OAID, CatNumber, DocSubject, UpdateDate) VALUES "
        "(1, 1, 'a', '2024-03-05 08:09:10'), (2, 1, 'b', '2024-03-06'),"
        "(3, 1, 'c', 'not a date'), (4, 1, 'd', NULL);");
    conn_ = open(db_);
  }

  Recordset query(const std::string& sql, int lock_type = 3) {
    Recordset rs;
    rs.Open(sql, as_variant(conn_), 1, lock_type);
    return rs;
  }

  TestDb db_;
  std::shared_ptr<Connection> conn_;
};

TEST_F(DataAccess, reads_every_row_with_its_types) {
  Recordset rs;
  rs.Open("select OAID, UserName, Mobile, DepartMentID * 1.5 as half from KX_UserInfor order by OAID",
          as_variant(conn_), 1, 3);
  ASSERT_EQ(rs.RecordCount(), 2);
  EXPECT_FALSE(rs.Eof());
  EXPECT_EQ(rs.field("OAID").type(), Variant::Type::kInteger);
  EXPECT_EQ(rs.field("oaid").integer(), 1);
  EXPECT_EQ(rs.field("USERNAME").text(), "admin");
  EXPECT_EQ(rs.field(1).text(), "admin");
  EXPECT_EQ(rs.field_name(1), "UserName");
  EXPECT_TRUE(rs.field("Mobile").is_null());
  EXPECT_DOUBLE_EQ(rs.field("half").real(), 1.5);
  rs.MoveNext();
  EXPECT_EQ(rs.field("UserName").text(), "lisi");
  EXPECT_EQ(rs.field("Mobile").text(), "139");
  rs.MoveNext();
  EXPECT_TRUE(rs.Eof());
  rs.MoveFirst();
  EXPECT_EQ(rs.field(0).integer(), 1);
  rs.Close();
  EXPECT_FALSE(rs.is_open());
}

TEST_F(DataAccess, reads_date_columns_as_dates) {
  Recordset rs = query("select UpdateDate from OA_Document order by OAID");
  ASSERT_EQ(rs.RecordCount(), 4);
  EXPECT_EQ(rs.field(0).date(), make_datetime(2024, 3, 5, 8, 9, 10));
  rs.MoveNext();
  EXPECT_EQ(rs.field(0).date(), make_datetime(2024, 3, 6));
  rs.MoveNext();
  EXPECT_EQ(rs.field(0).text(), "not a date");  // a text that is no date stays text
  rs.MoveNext();
  EXPECT_TRUE(rs.field(0).is_null());
}

TEST_F(DataAccess, runs_the_application_dialect) {
  Recordset rs = query("select top 1 * from [KX_UserInfor] where isnull(Mobile, N'') = '' "
                       "and len(UserName) = 5 order by OAID Desc");
  ASSERT_EQ(rs.RecordCount(), 1);
  EXPECT_EQ(rs.field("UserName").text(), "admin");
  conn_->execute("Insert OA_Log(UserName, Remark) values ('O''Brien', 'it''s')");
  Recordset log = query("select * from OA_Log where UserName = 'O''Brien' and LogTime <= getdate()");
  ASSERT_EQ(log.RecordCount(), 1);
  EXPECT_EQ(log.field("Remark").text(), "it's");
  EXPECT_TRUE(log.field("LogTime").is_date());
}

TEST_F(DataAccess, lifted_literals_keep_their_types) {
  // Text against integer is false in SQLite; binding both as text would make it true.
  Recordset rs = query("select '1' = 1 as same, 2 = 2.0 as numeric from KX_UserInfor where OAID = 1");
  EXPECT_EQ(rs.field("same").integer(), 0);
  EXPECT_EQ(rs.field("numeric").integer(), 1);
  // A text key compared with an integer column reads as the number, as the literal does.
  EXPECT_EQ(query("select * from KX_UserInfor where OAID = '2'").RecordCount(), 1);
  EXPECT_EQ(query("select * from KX_UserInfor where UserName in ('ADMIN', 'lisi')").RecordCount(), 2);
}

TEST_F(DataAccess, update_writes_the_changed_columns_by_key) {
  Recordset rs = query("select * from OA_Document where OAID = 2");
  rs.set_field("docsubject", Variant("changed"));
  rs.set_field("UpdateDate", Variant("2025-1-2 3:04:05"));
  EXPECT_EQ(rs.field("DocSubject").text(), "changed");  // the assigned value reads back
  rs.Update();
  EXPECT_EQ(db_.scalar("select DocSubject || '|' || UpdateDate || '|' || CatNumber from OA_Document "
                       "where OAID = 2"),
            "changed|2025-01-02 03:04:05|1");
  EXPECT_EQ(db_.scalar("select DocSubject from OA_Document where OAID = 1"), "a");
  rs.Update();  // nothing pending: nothing written, no failure
  rs.set_field("CatNumber", Variant::null());
  rs.MoveNext();  // leaving a changed row writes it
  EXPECT_EQ(db_.scalar("select CatNumber from OA_Document where OAID = 2"), "NULL");
}

TEST_F(DataAccess, add_new_inserts_and_stores_the_assigned_key) {
  Recordset rs = query("select * from OA_Log where OAID = 0");
  EXPECT_EQ(rs.RecordCount(), 0);
  rs.AddNew();
  rs.set_field("UserName", Variant("lisi"));
  rs.set_field("IsDengLu", Variant(1));
  rs.Update();
  EXPECT_EQ(rs.RecordCount(), 1);
  const Variant key = rs.field("OAID");
  ASSERT_EQ(key.type(), Variant::Type::kInteger);
  EXPECT_EQ(std::to_string(key.integer()), db_.scalar("select max(OAID) from OA_Log"));
  EXPECT_TRUE(rs.field("LogTime").is_date());  // the database's default comes back
  EXPECT_EQ(db_.scalar("select UserName || IsDengLu from OA_Log"), "lisi1");
  rs.AddNew();  // a row without values takes every default
  rs.Update();
  EXPECT_EQ(rs.field("OAID").integer(), key.integer() + 1);
  EXPECT_EQ(db_.scalar("select count(*) from OA_Log"), "2");
}

TEST_F(DataAccess, writing_needs_one_table_with_its_key) {
  const std::string no_key = "Insufficient key column information for updating or refreshing.";
  struct Case {
    const char* sql;
    const char* column;
    int32_t number;
    std::string message;
  } cases[] = {
      {"select UserName from KX_UserInfor where OAID = 1", "UserName", err::kProviderFailure, no_key},
      {"select u.OAID, u.UserName, d.DepartName from KX_UserInfor u join KX_Department d "
       "on d.DepartMentID = u.DepartMentID where u.OAID = 1",
       "DepartName", err::kProviderFailure, no_key},
      {"select OAID, upper(UserName) as up from KX_UserInfor where OAID = 1", "up",
       err::kProviderFailure, no_key},
  };
  for (const Case& c : cases) {
    Recordset rs = query(c.sql);
    rs.set_field(c.column, Variant("x"));
    EXPECT_EQ(failure_of([&] { rs.Update(); }), std::make_pair(c.number, c.message)) << c.sql;
  }
  EXPECT_EQ(db_.scalar("select UserName from KX_UserInfor where OAID = 1"), "admin");

  Recordset read_only = query("select * from KX_UserInfor", 1);
  EXPECT_EQ(failure_of([&] { read_only.set_field("UserName", Variant("x")); }).first, 3251);

  Recordset gone = query("select * from KX_UserInfor where OAID = 2");
  db_.exec("delete from KX_UserInfor where OAID = 2");
  gone.set_field("UserName", Variant("x"));
  EXPECT_EQ(failure_of([&] { gone.Update(); }).first, -2147217864);  // row not found
}

TEST_F(DataAccess, failures_carry_the_engine_message_and_number) {
  struct Case {
    const char* sql;
    int32_t number;
    const char* message;
  } cases[] = {
      {"select * from OA_Nope", err::kInvalidObjectName, "no such table: OA_Nope"},
      {"select Nope from OA_AnQuan", err::kSyntaxError, "no such column: Nope"},
      {"selec * from OA_AnQuan", err::kSyntaxError, "near \"selec\": syntax error"},
      {"insert into KX_UserInfor (OAID) values (1)", err::kConstraint,
       "UNIQUE constraint failed: KX_UserInfor.OAID"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(failure_of([&] { conn_->execute(c.sql); }), std::make_pair(c.number, std::string(c.message)))
        << c.sql;
    Recordset rs;
    EXPECT_EQ(failure_of([&] { rs.Open(c.sql, as_variant(conn_), 1, 3); }).first, c.number) << c.sql;
    EXPECT_FALSE(rs.is_open());
  }
}

TEST_F(DataAccess, recordset_misuse_fails_with_the_platform_numbers) {
  Recordset closed;
  Recordset empty = query("select * from KX_UserInfor where OAID = 0");
  Recordset open = query("select * from KX_UserInfor");
  auto other = std::make_shared<Connection>();
  struct Case {
    const char* what;
    std::function<void()> f;
    int32_t number;
  } cases[] = {
      {"count when closed", [&] { closed.RecordCount(); }, err::kObjectClosed},
      {"field when closed", [&] { closed.field("x"); }, err::kObjectClosed},
      {"close when closed", [&] { closed.Close(); }, err::kObjectClosed},
      {"open twice", [&] { open.Open("select 1", as_variant(conn_), 1, 3); }, err::kObjectOpen},
      {"unknown name", [&] { open.field("Nope"); }, err::kItemNotFound},
      {"position past the end", [&] { open.field(99); }, err::kItemNotFound},
      {"field of no row", [&] { empty.field("UserName"); }, err::kNoCurrentRecord},
      {"move past the end", [&] { empty.MoveNext(); }, err::kNoCurrentRecord},
      {"assign to no row", [&] { empty.set_field("UserName", Variant("x")); }, err::kNoCurrentRecord},
      {"closed connection", [&] { Recordset r; r.Open("select 1", Variant(std::static_pointer_cast<Object>(other)), 1, 3); },
       err::kObjectClosed},
      {"execute when closed", [&] { other->execute("select 1"); }, err::kObjectClosed},
      {"open connection twice", [&] { conn_->Open(db_.url()); }, err::kObjectOpen},
      {"unknown kind of database", [&] { other->Open("Provider=SQLOLEDB;Data Source=x"); },
       err::kProviderFailure},
      {"unreachable file", [&] { other->Open("sqlite:/nonexistent-dir/x/oa.db"); },
       err::kProviderFailure},
  };
  for (const Case& c : cases) EXPECT_EQ(failure_of(c.f).first, c.number) << c.what;
  EXPECT_TRUE(empty.Eof());
  EXPECT_TRUE(empty.Bof());
}

TEST_F(DataAccess, the_pool_reuses_the_engine_connection) {
  conn_->execute("create temp table pool_probe (x integer)");
  conn_->execute("insert into pool_probe values (42)");
  conn_->Close();
  EXPECT_EQ(DbPool::instance().idle_count(db_.url()), 1u);
  conn_->Open(db_.url());
  EXPECT_EQ(DbPool::instance().idle_count(db_.url()), 0u);
  EXPECT_EQ(query("select x from pool_probe").field(0).integer(), 42);

  // A transaction left open does not reach the next user of the connection.
  conn_->execute("begin");
  conn_->execute("insert into OA_Log (UserName) values ('uncommitted')");
  conn_->Close();
  conn_->Open(db_.url());
  EXPECT_EQ(query("select * from OA_Log").RecordCount(), 0);

  // A second connection open at the same time gets its own engine connection.
  auto second = open(db_);
  Recordset rs;
  EXPECT_EQ(failure_of([&] { rs.Open("select x from pool_probe", as_variant(second), 1, 3); }).first,
            err::kInvalidObjectName);
}

// A thread's hold: successive opens of one string on the thread share one
// engine connection and its snapshot; an open while it is in use, another
// thread, and the first open after the hold all get what the pool gives.
TEST_F(DataAccess, a_thread_hold_lends_one_engine_connection_to_successive_opens) {
  conn_->Close();
  DbPool::instance().set_request_snapshots(true);
  auto names = [&](const std::shared_ptr<Connection>& conn) {
    Recordset rs;
    rs.Open("select count(*) from KX_UserInfor", as_variant(conn), 1, 3);
    return rs.field(0).integer();
  };
  auto add_user = [&](int id) {
    std::thread([&] {
      auto writer = open(db_);
      writer->execute("insert into KX_UserInfor (OAID, UserName) values (" + std::to_string(id) + ", 'u" +
                      std::to_string(id) + "')");
      writer->Close();
    }).join();
  };
  {
    DbPool::ThreadHold hold;
    auto first = open(db_);
    first->execute("create temp table held_probe (x integer)");
    EXPECT_EQ(names(first), 2);  // the snapshot the hold keeps
    // In use: a second open at the same time gets a connection of its own.
    auto second = open(db_);
    Recordset rs;
    EXPECT_EQ(failure_of([&] { rs.Open("select x from held_probe", as_variant(second), 1, 3); }).first,
              err::kInvalidObjectName);
    second->Close();
    first->Close();
    add_user(3);  // committed by another connection while the request reads
    auto again = open(db_);
    EXPECT_EQ(names(again), 2);  // the same connection and snapshot
    Recordset probe;  // the temporary table of the first open is there
    probe.Open("select x from held_probe", as_variant(again), 1, 3);
    EXPECT_TRUE(probe.Eof());
    probe.Close();
    again->Close();
    // Another thread holds nothing of this thread's.
    std::thread([&] { EXPECT_EQ(names(open(db_)), 3); }).join();
  }
  // Given back at the hold's end, reset: the next open reads the latest commit.
  auto after = open(db_);
  EXPECT_EQ(names(after), 3);
  after->Close();
  DbPool::instance().set_request_snapshots(false);
}

TEST_F(DataAccess, cached_statements_give_the_rows_of_fresh_ones) {
  const std::vector<std::string> statements = {
      "select * from KX_UserInfor where OAID = 1",
      "select * from KX_UserInfor where OAID = 2",
      "select * from KX_UserInfor where UserName = 'lisi'",
      "select * from KX_UserInfor where UserName = 'nobody'",
      "select DocSubject, UpdateDate from OA_Document where OAID in (1, 3)",
      "select DocSubject, UpdateDate from OA_Document where OAID in (2, 4)",
      "select top 1 * from OA_Document order by OAID desc",
  };
  auto rows_of = [&](const std::string& sql) {
    Recordset rs = query(sql);
    std::string out;
    for (; !rs.Eof(); rs.MoveNext()) {
      for (int i = 0; i < rs.field_count(); ++i) out += rs.field(i).str() + "|";
      out += "\n";
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
      for (size_t i = 0; i < statements.size(); ++i) {
        EXPECT_EQ(rows_of(statements[i]), fresh[i]) << statements[i] << " capacity " << capacity;
      }
    }
  }
  // A cached "select *" sees a column added since it was prepared.
  EXPECT_EQ(query("select * from KX_Customer where KXID = 1").field_count(), 3);
  conn_->execute("alter table KX_Customer add column Extra text");
  EXPECT_EQ(query("select * from KX_Customer where KXID = 1").field_count(), 4);
  // And a column renamed since: same count, new name.
  conn_->execute("alter table KX_Customer rename column Extra to Later");
  conn_->execute("insert into KX_Customer (KXID) values (1)");
  Recordset renamed = query("select * from KX_Customer where KXID = 1");
  EXPECT_EQ(renamed.field_name(3), "Later");
  EXPECT_TRUE(renamed.field("later").is_null());
}

TEST_F(DataAccess, concurrent_writers_wait_for_each_other) {
  auto writer = open(db_);
  writer->execute("begin immediate");
  writer->execute("insert into OA_Log (UserName) values ('first')");
  std::thread other([&] {
    auto conn = open(db_);
    conn->execute("insert into OA_Log (UserName) values ('second')");  // waits for the lock
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  writer->execute("commit");
  other.join();
  EXPECT_EQ(db_.scalar("select group_concat(UserName, ',') from (select UserName from OA_Log order by OAID)"),
            "first,second");
}

TEST_F(DataAccess, runs_one_statement_at_a_time_and_scripts_only_as_scripts) {
  const char* two = "insert into OA_Log (UserName) values ('a'); insert into OA_Log (UserName) values ('b');";
  try {
    conn_->execute(two);
    FAIL() << "a batch ran";
  } catch (const ScriptError& e) {
    EXPECT_EQ(e.number(), err::kSyntaxError);
  }
  Recordset rs;
  EXPECT_THROW(rs.Open("select 1 from OA_AnQuan; delete from OA_Log", as_variant(conn_), 1, 3), ScriptError);
  EXPECT_EQ(db_.scalar("select count(*) from OA_Log"), "0");
  conn_->execute("insert into OA_Log (UserName) values ('c');");  // one statement with its ";"
  conn_->execute_script(two);
  EXPECT_EQ(db_.scalar("select count(*) from OA_Log"), "3");
}

TEST(DataAccessDemo, the_demo_data_loads_and_reads) {
  TestDb db;
  db.exec_file("db/sqlite/demo.sql");
  auto conn = open(db);
  Recordset rs;
  rs.Open("select top 1 * from OA_AnQuan", as_variant(conn), 1, 3);
  EXPECT_EQ(rs.field("TimeOut").integer(), 45);
  Recordset node;
  node.Open("select * from OA_Flow_Model_JieDian where OAID=1", db.url(), 1, 3);  // by string
  EXPECT_EQ(node.RecordCount(), 1);
}

}  // namespace
}  // namespace oapx1

namespace oapx1 {
namespace {

// A statement that runs past its time limit is interrupted and fails as a
// time-out, named to the thread's watch; a statement within it runs.
TEST_F(DataAccess, a_statement_past_its_time_limit_is_interrupted_as_a_time_out) {
  const ScopedProcessSettings limit([](ProcessSettings& s) { s.statement_limit_ms = 300; });
  const std::string endless =
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c";
  const struct {
    std::string sql;
    int32_t failure;
  } cases[] = {{endless, kStatementTimedOut}, {"SELECT count(*) FROM KX_UserInfor", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    conn_ = open(db_);  // takes up the limit in force
    StatementTimeouts timeouts;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(failure_of([&] { conn_->execute(c.sql); }).first, c.failure);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(timeouts.first().value_or(""), c.failure != 0 ? c.sql : "");
  }
}

}  // namespace
}  // namespace oapx1
