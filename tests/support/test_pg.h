// A PostgreSQL schema of its own for one test program, on the server that
// OAPX1_TEST_PG names (scripts/pg-test-server starts a throwaway one).
#ifndef OAPX1_TESTS_SUPPORT_TEST_PG_H_
#define OAPX1_TESTS_SUPPORT_TEST_PG_H_

#include <string>
#include <string_view>

namespace oapx1::testing {

class PgTestSchema {
 public:
  // Creates the schema "<prefix>_<pid>" with db/postgres/schema.sql in it; does
  // nothing when OAPX1_TEST_PG is not set (url() is then empty).
  explicit PgTestSchema(std::string_view prefix);
  // Empties the connection pool and drops the schema.
  ~PgTestSchema();
  PgTestSchema(const PgTestSchema&) = delete;
  PgTestSchema& operator=(const PgTestSchema&) = delete;

  // The server's URL, working in this schema; empty without a server.
  const std::string& url() const { return url_; }
  // Loads the demo data (db/postgres/demo.sql) into the schema; nothing
  // without a server.
  void load_demo() const;

 private:
  std::string base_url_;  // the server given to the tests
  std::string schema_;    // this program's schema
  std::string url_;       // the server, working in that schema
};

}  // namespace oapx1::testing

#endif  // OAPX1_TESTS_SUPPORT_TEST_PG_H_
