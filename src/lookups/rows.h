// Reading rows as the library reads them: every statement of the page class
// goes through a recordset opened with a keyset cursor and optimistic locking.
#ifndef OAPX1_LOOKUPS_ROWS_H_
#define OAPX1_LOOKUPS_ROWS_H_

#include "platform/script/variant.h"

namespace oapx1 {

// A new recordset (CreateObject("ADODB.Recordset")) with `statement` open on
// the connection held by `conn`, cursor type 1 (keyset) and lock type 3
// (optimistic), standing on its first row; the caller closes it. Fails as
// Recordset::Open does: the provider's number and message for an invalid
// statement, 3704 when the connection is closed.
Variant open_rows(const Variant& statement, const Variant& conn);

}  // namespace oapx1

#endif  // OAPX1_LOOKUPS_ROWS_H_
