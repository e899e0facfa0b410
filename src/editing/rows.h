// Small text helpers the editing rules share.
#ifndef OAPX1_EDITING_ROWS_H_
#define OAPX1_EDITING_ROWS_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/script/variant.h"

namespace oapx1::editing {

// The text of a column value as the history keeps it: a date as
// "yyyy-mm-dd hh:nn:ss", anything else as its text.
std::string value_text(const Variant& v);

// `items` joined by `separator`.
std::string joined(const std::vector<std::string>& items, std::string_view separator);

}  // namespace oapx1::editing

#endif  // OAPX1_EDITING_ROWS_H_
