// The database-functions include: its initialiser, and the code-table
// lookups (one value of the first row whose key column matches).
#include "host/page.h"
#include "platform/components/components.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"

namespace oapx1 {
namespace {

// The lookup of getnamefromid and getidfromid, in ignore-and-continue mode: a
// failing statement is skipped and the value read so far is returned.
Variant lookup(Variant& sql, const Variant& table, const Variant& column, const Variant& keycolumn,
               const Variant& key, const Variant& conn) {
  Variant result = "";
  Variant rs;
  // The key is always compared as a quoted text, with its apostrophes doubled
  // so that a key holding one is found rather than breaking the statement.
  Page::step([&] {
    sql = "select " + column.str() + " from " + table.str() + " where " + keycolumn.str() + " = '" +
          sql_text(key) + "'";
  });
  Page::step([&] { rs = CreateObject("adodb.recordset"); });
  Page::step([&] { rs.as<Recordset>().Open(sql, conn, 1, 3); });
  if (Page::condition([&] { return rs.as<Recordset>().RecordCount() > 0; })) {
    Page::step([&] { result = rs.as<Recordset>().field(0); });
  }
  Page::step([&] { rs.as<Recordset>().Close(); });
  return result;
}

}  // namespace

void Page::tvincfunctiondbI_init() {
  initialiser(__func__, [&] { response_object().write(""); });
}

Variant Page::getnamefromid(Variant& table, Variant& column, Variant& keycolumn, Variant& key) {
  return lookup(sql, table, column, keycolumn, key, conn);
}

Variant Page::getidfromid(Variant& table, Variant& column, Variant& keycolumn, Variant& key) {
  return lookup(sql, table, column, keycolumn, key, conn);
}

}  // namespace oapx1
