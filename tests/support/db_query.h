// One statement on any engine's database, through the data layer, for tests
// that look at what a program stored: by its connection string.
#ifndef OAPX1_TESTS_SUPPORT_DB_QUERY_H_
#define OAPX1_TESTS_SUPPORT_DB_QUERY_H_

#include <memory>
#include <string>

#include "platform/data/connection.h"
#include "platform/data/recordset.h"

namespace oapx1::testing {

// The first column of the first row `sql` selects in `database` as text, ""
// when there is none. Fails as the data layer does.
inline std::string query_scalar(const std::string& database, const std::string& sql) {
  auto conn = std::make_shared<Connection>();
  conn->Open(Variant(database));
  Recordset rs;
  rs.Open(Variant(sql), Variant(std::static_pointer_cast<Object>(conn)), 1, 3);
  const std::string value = rs.Eof() ? "" : rs.field(0).str();
  rs.Close();
  conn->Close();
  return value;
}

// Runs `sql` on `database`. Fails as the data layer does.
inline void query_exec(const std::string& database, const std::string& sql) {
  Connection conn;
  conn.Open(Variant(database));
  conn.execute(Variant(sql));
  conn.Close();
}

}  // namespace oapx1::testing

#endif  // OAPX1_TESTS_SUPPORT_DB_QUERY_H_
