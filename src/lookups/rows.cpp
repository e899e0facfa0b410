#include "lookups/rows.h"

#include "platform/components/components.h"
#include "platform/data/recordset.h"

namespace oapx1 {

Variant open_rows(const Variant& statement, const Variant& conn) {
  Variant rows = CreateObject("ADODB.Recordset");
  rows.as<Recordset>().Open(statement, conn, 1, 3);
  return rows;
}

}  // namespace oapx1
