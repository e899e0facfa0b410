// Reads that an engine connection may answer from results it kept: each one
// must give what the database holds at that moment, whoever changed it.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/call/call_context.h"
#include "platform/data/connection.h"
#include "platform/data/data_stamp_probe.h"
#include "platform/data/db_backend.h"
#include "platform/data/db_pool.h"
#include "platform/data/recordset.h"
#include "support/shared_counter.h"
#include "support/test_db.h"
#include "support/test_pg.h"

namespace oapx1 {
namespace {

using testing::TestDb;

// One request's read: a connection from the pool, one recordset, the first
// column of its first row as text, and the connection given back.
std::string read_once(const std::string& url, const std::string& sql) {
  RequestReads request;
  auto conn = std::make_shared<Connection>();
  conn->Open(url);
  Recordset rs;
  rs.Open(sql, Variant(std::static_pointer_cast<Object>(conn)), 1, 3);
  std::string value = rs.Eof() ? "" : rs.field(0).str();
  rs.Close();
  conn->Close();
  return value;
}

// One connection held open through a test, as a page holds its own.
struct HeldConnection {
  explicit HeldConnection(const std::string& url) : connection(std::make_shared<Connection>()) {
    connection->Open(url);
    held = Variant(std::static_pointer_cast<Object>(connection));
  }
  // The first column of the first row a read gives, as text; one request.
  std::string value(const std::string& sql) const {
    RequestReads request;
    Recordset rs;
    rs.Open(sql, held, 1, 3);
    return rs.field(0).str();
  }
  std::shared_ptr<Connection> connection;
  Variant held;  // the connection as the recordsets take it
};

// Runs `body` in a child process with an engine connection of its own; the
// child's exit status is returned.
int in_other_process(const std::function<void()>& body) {
  const pid_t pid = fork();
  if (pid == 0) {
    int status = 0;
    try {
      body();
    } catch (...) {
      status = 1;
    }
    _exit(status);
  }
  int status = -1;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Each engine: SQLite with each statement reading on its own, and with the
// reads of one use of a connection (one request) sharing one snapshot, as
// the server runs; PostgreSQL, whose version is read once per request.
struct Engine {
  const char* name;
  bool postgres;
  bool request_snapshots;
};
void PrintTo(const Engine& engine, std::ostream* out) { *out << engine.name; }

class CachedReads : public ::testing::TestWithParam<Engine> {
 protected:
  static void SetUpTestSuite() { pg_ = std::make_unique<testing::PgTestSchema>("oapx1_kept"); }
  static void TearDownTestSuite() { pg_.reset(); }

  void SetUp() override {
    if (GetParam().postgres && pg_->url().empty()) GTEST_SKIP() << "OAPX1_TEST_PG is not set";
    url_ = GetParam().postgres ? pg_->url() : db_.url();
    DbPool::instance().clear();
    DbPool::instance().set_request_snapshots(GetParam().request_snapshots);
    exec("DELETE FROM KX_UserInfor;"
         "INSERT INTO KX_UserInfor (OAID, UserName, TureName, ordernumber) VALUES "
         "(1, 'zhangsan', '张三', 1), (2, 'lisi', '李四', 2);");
  }
  void TearDown() override {
    DbPool::instance().set_request_snapshots(false);
    DbPool::instance().clear();
  }

  // Runs SQL on a connection of its own, outside the pool.
  void exec(const std::string& sql) const {
    if (GetParam().postgres) {
      open_db_session(url_)->run_script(sql);
    } else {
      db_.exec(sql);
    }
  }

  const std::string kName = "select TureName from KX_UserInfor where UserName = 'zhangsan'";
  static inline std::unique_ptr<testing::PgTestSchema> pg_;  // PostgreSQL's schema for the suite
  TestDb db_;
  std::string url_;  // the database under test
};

// A change is seen by the very next read, whichever connection made it.
TEST_P(CachedReads, the_next_read_sees_every_committed_change) {
  struct Case {
    const char* who;
    std::function<void(const std::string& url, const std::string& value)> change;
  };
  const std::string update = "update KX_UserInfor set TureName = '";
  const Case cases[] = {
      {"the same engine connection",
       [&](const std::string& url, const std::string& value) {
         Connection conn;
         conn.Open(url);
         conn.execute(update + value + "' where OAID = 1");
         conn.Close();
       }},
      {"another engine connection of this process",
       [&](const std::string& url, const std::string& value) {
         // Held open beside the pooled one, so the pool opens a second.
         Connection first, second;
         first.Open(url);
         second.Open(url);
         second.execute(update + value + "' where OAID = 1");
         second.Close();
         first.Close();
       }},
      {"another process",
       [&](const std::string& url, const std::string& value) {
         ASSERT_EQ(in_other_process([&] {
                     open_db_session(url)->query(update + value + "' where OAID = 1");
                   }),
                   0);
       }},
      {"a script on the same engine connection",
       [&](const std::string& url, const std::string& value) {
         Connection conn;
         conn.Open(url);
         conn.execute_script(update + value + "' where OAID = 1;");
         conn.Close();
       }},
  };
  int round = 0;
  for (const Case& c : cases) {
    // Read twice, so the second read may come from what the first kept.
    read_once(url_, kName);
    read_once(url_, kName);
    const std::string value = "名" + std::to_string(++round);
    c.change(url_, value);
    EXPECT_EQ(read_once(url_, kName), value) << c.who;
  }
}

// A second process commits an increasing counter while this one reads it
// over and over: no read may give a value older than the last commit made
// before the read began, nor go back.
TEST_P(CachedReads, reads_interleaved_with_another_process_saves_are_never_stale) {
  exec("UPDATE KX_UserInfor SET ordernumber = 0 WHERE OAID = 2;");
  testing::SharedCounter committed;
  constexpr long kSaves = 400;
  const std::string url = url_;
  const pid_t writer = fork();
  if (writer == 0) {
    int status = 0;
    try {
      auto session = open_db_session(url);
      for (long n = 1; n <= kSaves; ++n) {
        session->query("update KX_UserInfor set ordernumber = " + std::to_string(n) + " where OAID = 2");
        committed->store(n);
        if (n % 8 == 0) usleep(200);
      }
    } catch (...) {
      status = 1;
    }
    _exit(status);
  }
  const std::string sql = "select ordernumber from KX_UserInfor where UserName = 'lisi'";
  long last = 0;
  int reads = 0;
  int status = -1;
  bool writer_ended = false;
  while (committed->load() < kSaves || reads < 50) {
    // A writer that failed part-way ends the test instead of hanging it.
    if (!writer_ended && waitpid(writer, &status, WNOHANG) == writer) writer_ended = true;
    if (writer_ended && committed->load() < kSaves) break;
    const long before = committed->load();
    const long seen = std::stol(read_once(url, sql));
    ASSERT_GE(seen, before) << "a read gave a value older than the last commit";
    ASSERT_GE(seen, last) << "a read went back";
    last = seen;
    ++reads;
  }
  if (!writer_ended) waitpid(writer, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(read_once(url, sql), std::to_string(kSaves));
}

// Only reads whose answer depends on the data alone are kept: the clock and
// random numbers are read afresh every time.
TEST_P(CachedReads, reads_that_depend_on_more_than_the_data_are_run_each_time) {
  HeldConnection conn(url_);
  for (const std::string sql : {"select random()", "select abs(random()) from KX_UserInfor where OAID = 1"}) {
    const std::string first = conn.value(sql);
    bool changed = false;
    for (int i = 0; i < 5 && !changed; ++i) changed = conn.value(sql) != first;
    EXPECT_TRUE(changed) << sql;
  }
  // A recordset changed and written back leaves the kept rows as they were
  // read for others, and the next read sees the write.
  Recordset rs;
  rs.Open("select * from KX_UserInfor where OAID = 2", conn.held, 1, 3);
  Recordset again;
  again.Open("select * from KX_UserInfor where OAID = 2", conn.held, 1, 3);
  rs.set_field("TureName", "李四四");
  EXPECT_EQ(again.field("TureName").str(), "李四");
  rs.Update();
  EXPECT_EQ(again.field("TureName").str(), "李四");
  EXPECT_EQ(conn.value("select TureName from KX_UserInfor where OAID = 2"), "李四四");
}

// The tests of one engine's own statements.
class SqliteCachedReads : public CachedReads {};
class PostgresCachedReads : public CachedReads {};

// A write on the reading connection itself is seen by its next read of any
// table the write reaches: directly, behind a view, through a trigger, by a
// foreign-key cascade, or through a trigger another connection added after
// the write was first compiled. Reads of other tables may stay kept.
TEST_P(SqliteCachedReads, an_own_write_is_seen_through_views_triggers_and_cascades) {
  db_.exec(
      "CREATE TABLE t_parent (id INTEGER PRIMARY KEY, name TEXT);"
      "CREATE TABLE t_child (id INTEGER PRIMARY KEY,"
      "  parent INTEGER REFERENCES t_parent(id) ON DELETE CASCADE);"
      "CREATE TABLE t_log (n INTEGER);"
      "CREATE TABLE t_audit (n INTEGER);"
      "CREATE VIEW v_parent AS SELECT id, name FROM t_parent;"
      "CREATE TRIGGER t_parent_log AFTER UPDATE ON t_parent BEGIN INSERT INTO t_log VALUES (1); END;"
      "INSERT INTO t_parent VALUES (1, 'a'), (2, 'b'), (3, 'c');"
      "INSERT INTO t_child VALUES (1, 1), (2, 2), (3, 3);");
  HeldConnection conn(db_.url());
  const std::string add_audit =
      "CREATE TRIGGER t_parent_audit AFTER UPDATE ON t_parent BEGIN INSERT INTO t_audit VALUES (1); END";
  struct Case {
    const char* read;
    std::vector<std::string> writes;  // on the reading connection; "other:" on another
    const char* expected;
  };
  const Case cases[] = {
      {"select name from t_parent where id = 1", {"update t_parent set name = 'a1' where id = 1"}, "a1"},
      {"select name from v_parent where id = 2", {"update t_parent set name = 'b1' where id = 2"}, "b1"},
      {"select count(*) from t_log", {"update t_parent set name = 'a2' where id = 1"}, "3"},
      {"select count(*) from t_child",
       {"PRAGMA foreign_keys = ON", "delete from t_parent where id = 3", "PRAGMA foreign_keys = OFF"},
       "2"},
      {"select count(*) from t_audit",
       {"update t_parent set name = 'b2' where id = 2", "other:" + add_audit,
        "update t_parent set name = 'b3' where id = 2"},
       "1"},
  };
  for (const Case& c : cases) {
    conn.value(c.read);
    conn.value(c.read);
    conn.value("select count(*) from KX_UserInfor");  // another table's kept read
    for (const std::string& write : c.writes) {
      if (write.rfind("other:", 0) == 0) {
        open_db_session(db_.url())->run_script(write.substr(6));
        conn.value(c.read);  // kept again at the version after the other's change
      } else {
        conn.connection->execute(write);
      }
    }
    EXPECT_EQ(conn.value(c.read), c.expected) << c.read;
    EXPECT_EQ(conn.value("select count(*) from KX_UserInfor"), "2");
  }
}

// PostgreSQL keeps a result across requests while nothing commits, and asks
// the server for every read outside a request. A view that counts its reads
// (a sequence) shows which reads reached the server.
TEST_P(PostgresCachedReads, a_kept_result_outlives_requests_until_anything_commits) {
  exec("DROP VIEW IF EXISTS v_reads; DROP SEQUENCE IF EXISTS s_reads; CREATE SEQUENCE s_reads;"
       "CREATE VIEW v_reads AS SELECT nextval('s_reads') AS n;");
  const std::string sql = "select n from v_reads";
  // The sequence's own bookkeeping may commit once on its first values.
  read_once(url_, sql);
  const std::string kept = read_once(url_, sql);
  EXPECT_EQ(read_once(url_, sql), kept) << "a second request's read reached the server";
  {
    HeldConnection conn(url_);
    Recordset rs;
    rs.Open(sql, conn.held, 1, 3);
    EXPECT_NE(rs.field(0).str(), kept) << "a read outside any request used a kept result";
  }
  exec("UPDATE KX_UserInfor SET ordernumber = 7 WHERE OAID = 1;");
  EXPECT_NE(read_once(url_, sql), kept) << "a commit by another connection left the result kept";
}

// The probe an event loop asks without waiting stamps as reads through any
// connection do: the same while nothing commits, another after a commit.
// Other tests commit on the same server meanwhile: a read is compared with
// the probe's answers before and after it only when those two agree.
TEST_P(PostgresCachedReads, a_probe_stamps_as_reads_through_any_connection_do) {
  std::unique_ptr<DataStampProbe> probe = DataStampProbe::open(url_);
  ASSERT_TRUE(probe);
  auto ask = [&] {
    DataStamp stamp;
    EXPECT_TRUE(probe->ask());
    for (;;) {
      pollfd ready{probe->socket(), POLLIN, 0};
      ::poll(&ready, 1, 5000);
      const DataStampProbe::Answer answer = probe->receive(stamp);
      if (answer == DataStampProbe::Answer::kStamp) return stamp;
      if (answer == DataStampProbe::Answer::kBroken) {
        ADD_FAILURE() << "the probe broke";
        return stamp;
      }
    }
  };
  auto read_stamp = [&] {  // through a connection of its own, in a request
    RequestReads request;
    return open_db_session(url_)->data_stamp();
  };
  int compared = 0;
  for (int attempt = 0; attempt < 50 && compared < 2; ++attempt) {
    const DataStamp before = ask();
    const std::optional<DataStamp> read = read_stamp();
    if (ask() != before) continue;  // something committed in between
    EXPECT_EQ(read, before);
    ++compared;
  }
  EXPECT_EQ(compared, 2);
  const DataStamp before = ask();
  exec("UPDATE KX_UserInfor SET ordernumber = 8 WHERE OAID = 1;");
  EXPECT_NE(ask(), before);
}

// After a commit, a request that misses what a request before it read gets
// those reads in one round trip, besides the snapshot's, and with the data
// as it now is.
TEST_P(PostgresCachedReads, after_a_commit_the_reads_of_the_request_before_go_in_one_round_trip) {
  const std::vector<std::string> reads = {
      "select count(*) from KX_UserInfor where OAID > 0", "select count(*) from KX_UserInfor where OAID > 1",
      "select ordernumber from KX_UserInfor where OAID = 1", "select count(*) from OA_Flow_Model_JieDian",
      "select min(OAID) from OA_Flow_Model_JieDian"};
  HeldConnection conn(url_);
  auto request = [&] {
    RequestReads scope;
    std::vector<std::string> values;
    for (const std::string& sql : reads) values.push_back(conn.value(sql));
    return values;
  };
  request();
  request();
  for (int n = 0; n < 2; ++n) {
    exec("UPDATE KX_UserInfor SET ordernumber = " + std::to_string(40 + n) + " WHERE OAID = 1;");
    const uint64_t before = server_round_trips();
    const std::vector<std::string> values = request();
    EXPECT_EQ(server_round_trips() - before, 2u) << n;
    EXPECT_EQ(values[2], std::to_string(40 + n));
  }
}

const Engine kSqliteStatementReads{"sqlite_statement_reads", false, false};
const Engine kSqliteRequestSnapshots{"sqlite_request_snapshots", false, true};
const Engine kPostgres{"postgres", true, false};
std::string engine_name(const ::testing::TestParamInfo<Engine>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Engines, CachedReads,
                         ::testing::Values(kSqliteStatementReads, kSqliteRequestSnapshots, kPostgres), engine_name);
INSTANTIATE_TEST_SUITE_P(Engines, SqliteCachedReads,
                         ::testing::Values(kSqliteStatementReads, kSqliteRequestSnapshots), engine_name);
INSTANTIATE_TEST_SUITE_P(Engines, PostgresCachedReads, ::testing::Values(kPostgres), engine_name);

}  // namespace
}  // namespace oapx1
