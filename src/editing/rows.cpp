#include "editing/rows.h"

#include "platform/script/script.h"

namespace oapx1::editing {

std::string value_text(const Variant& v) {
  if (v.is_date()) return format_iso(v.date());
  return v.str();
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
