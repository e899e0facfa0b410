#include "editing/rows.h"

#include <algorithm>
#include <memory>

#include "platform/data/recordset.h"
#include "platform/script/script.h"

namespace oapx1::editing {

Variant open_rows(const std::string& sql, const Variant& conn) {
  Variant rows(std::static_pointer_cast<Object>(std::make_shared<Recordset>()));
  rows.as<Recordset>().Open(Variant(sql), conn, 1, 3);
  return rows;
}

std::string value_text(const Variant& v) {
  if (v.is_date()) return format_iso(v.date());
  return v.str();
}

std::vector<std::string> list_entries(std::string_view list) {
  std::vector<std::string> entries;
  size_t start = 0;
  while (start <= list.size()) {
    const size_t end = std::min(list.find(';', start), list.size());
    if (end > start) entries.emplace_back(list.substr(start, end - start));
    start = end + 1;
  }
  return entries;
}

bool is_whole_number(std::string_view s) {
  return !s.empty() && s.size() <= 18 &&
         std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string joined(const std::vector<std::string>& items, std::string_view separator) {
  std::string out;
  for (const std::string& item : items) {
    if (!out.empty()) out += separator;
    out += item;
  }
  return out;
}

}  // namespace oapx1::editing
