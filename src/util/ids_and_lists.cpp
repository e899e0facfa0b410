#include "util/ids_and_lists.h"

#include <algorithm>
#include <charconv>

#include "platform/text/ascii.h"

namespace oapx1 {

std::optional<int64_t> whole_number(std::string_view text) {
  if (!ascii_digits(text, 18)) return std::nullopt;
  int64_t n = 0;
  std::from_chars(text.data(), text.data() + text.size(), n);  // 18 digits always fit
  return n;
}

std::vector<std::string> list_entries(std::string_view list, std::string_view separators) {
  std::vector<std::string> entries;
  size_t start = 0;
  while (start <= list.size()) {
    const size_t end = std::min(list.find_first_of(separators, start), list.size());
    if (end > start) entries.emplace_back(list.substr(start, end - start));
    start = end + 1;
  }
  return entries;
}

}  // namespace oapx1
