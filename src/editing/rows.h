// Small readers the editing rules share.
#ifndef OAPX1_EDITING_ROWS_H_
#define OAPX1_EDITING_ROWS_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/script/variant.h"

namespace oapx1::editing {

// A forward-only recordset of `sql` open on `conn`. Fails as the data layer does.
Variant open_rows(const std::string& sql, const Variant& conn);

// The text of a column value as the history keeps it: a date as
// "yyyy-mm-dd hh:nn:ss", anything else as its text.
std::string value_text(const Variant& v);

// The entries of a ';'-separated list, without the empty ones.
std::vector<std::string> list_entries(std::string_view list);

// True for 1 to 18 decimal digits and nothing else.
bool is_whole_number(std::string_view s);

// `items` joined by `separator`.
std::string joined(const std::vector<std::string>& items, std::string_view separator);

}  // namespace oapx1::editing

#endif  // OAPX1_EDITING_ROWS_H_
