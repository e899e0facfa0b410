#include "support/test_pg.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/data/connection.h"
#include "platform/data/db_pool.h"
#include "support/test_db.h"

namespace oapx1::testing {

PgTestSchema::PgTestSchema(std::string_view prefix) {
  const char* base = std::getenv("OAPX1_TEST_PG");
  if (!base || !*base) return;
  base_url_ = base;
  schema_ = std::string(prefix) + "_" + std::to_string(getpid());
  url_ = base_url_ + (base_url_.find('?') == std::string::npos ? "?" : "&") +
         "options=-csearch_path%3D" + schema_;
  Connection admin;
  admin.Open(base_url_);
  admin.execute("drop schema if exists " + schema_ + " cascade");
  admin.execute("create schema " + schema_);
  admin.Close();
  Connection conn;
  conn.Open(url_);
  conn.execute_script(read_source_file("db/postgres/schema.sql"));
}

void PgTestSchema::load_demo() const {
  if (url_.empty()) return;
  Connection conn;
  conn.Open(url_);
  conn.execute_script(read_source_file("db/postgres/demo.sql"));
  conn.Close();
}

PgTestSchema::~PgTestSchema() {
  if (url_.empty()) return;
  DbPool::instance().clear();
  try {
    Connection admin;
    admin.Open(base_url_);
    admin.execute("drop schema if exists " + schema_ + " cascade");
  } catch (...) {
    // Dropping is tidying up; a server gone by now leaves nothing to tidy.
  }
}

}  // namespace oapx1::testing
