// Ids and lists as requests and stored rows carry them: a record id typed or
// posted as text, and the ';'-separated lists of accounts and department ids
// that the directory's and the workflow's columns hold.
#ifndef OAPX1_UTIL_IDS_AND_LISTS_H_
#define OAPX1_UTIL_IDS_AND_LISTS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oapx1 {

// The number `text` spells when it is 1 to 18 decimal digits and nothing else
// (no sign, no spaces, leading zeros allowed: "007" is 7), so that it fits an
// integer column; nullopt otherwise, including for "".
std::optional<int64_t> whole_number(std::string_view text);

// The entries of `list`, separated by any one of the characters of
// `separators` (";" unless given), in order and as they are written: no
// trimming, and the empty entries (from ";;", or a leading or trailing ";")
// left out. Empty for an empty list or one of separators only.
std::vector<std::string> list_entries(std::string_view list, std::string_view separators = ";");

}  // namespace oapx1

#endif  // OAPX1_UTIL_IDS_AND_LISTS_H_
