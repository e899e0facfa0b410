// The context of a call as the data layer finds it: the host's promise to
// only read holds the engine to it, and a version noted for a request's reads
// holds for those reads only.
#include "platform/call/call_context.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "platform/data/connection.h"
#include "platform/data/db_backend.h"
#include "platform/web/intrinsics.h"
#include "support/test_db.h"

namespace oapx1 {
namespace {

TEST(CallContext, a_call_that_promised_to_only_read_writes_nothing) {
  struct Case {
    const char* what;
    bool in_call;     // run inside a host call
    bool reads_only;  // the call's promise
    bool written;
  };
  const Case cases[] = {
      {"outside any host call", false, false, true},
      {"in a call that may write", true, false, true},
      {"in a call that promised to only read", true, true, false},
  };
  testing::TestDb db;
  for (const Case& c : cases) {
    db.exec("DELETE FROM KX_Department;");
    ObjectContext context;
    context.reads_only = c.reads_only;
    std::optional<HostCall> call;
    if (c.in_call) call.emplace(&context);
    Connection conn;
    conn.Open(db.url());
    bool refused = false;
    try {
      conn.execute("insert into KX_Department (DepartMentID, ParentID, DepartName) values (1, 0, 'x')");
    } catch (const ScriptError&) {
      refused = true;
    }
    EXPECT_EQ(refused, !c.written) << c.what;
    EXPECT_EQ(db.scalar("select count(*) from KX_Department"), c.written ? "1" : "0") << c.what;
    EXPECT_EQ(conn.session().query("select count(*) from KX_Department").rows.size(), 1u) << c.what;
    conn.Close();
  }
}

TEST(RequestReads, a_noted_version_holds_for_the_reads_under_way_and_its_server_only) {
  constexpr uint64_t kServer = 7;
  struct Case {
    const char* what;
    std::function<std::optional<int64_t>()> noted;  // what is found noted for kServer
    std::optional<int64_t> expected;
  };
  const Case cases[] = {
      {"in the request that noted it",
       [] {
         RequestReads request;
         RequestReads::note_version(kServer, 3);
         return RequestReads::noted_version(kServer);
       },
       3},
      {"in a scope nested in it",
       [] {
         RequestReads request;
         RequestReads::note_version(kServer, 3);
         RequestReads inner;
         return RequestReads::noted_version(kServer);
       },
       3},
      {"for another server",
       [] {
         RequestReads request;
         RequestReads::note_version(kServer + 1, 3);
         return RequestReads::noted_version(kServer);
       },
       std::nullopt},
      {"after something may have written",
       [] {
         RequestReads request;
         RequestReads::note_version(kServer, 3);
         RequestReads::changed();
         return RequestReads::noted_version(kServer);
       },
       std::nullopt},
      {"in the next request",
       [] {
         {
           RequestReads request;
           RequestReads::note_version(kServer, 3);
         }
         RequestReads next;
         return RequestReads::noted_version(kServer);
       },
       std::nullopt},
      {"outside any request",
       [] {
         RequestReads::note_version(kServer, 3);
         return RequestReads::noted_version(kServer);
       },
       std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(c.noted(), c.expected) << c.what;
}

}  // namespace
}  // namespace oapx1
