#include "support/page_fixture.h"

#include <algorithm>
#include <sstream>

namespace oapx1::testing {

std::string describe(const Variant& v) {
  switch (v.type()) {
    case Variant::Type::kEmpty:
      return "empty";
    case Variant::Type::kNull:
      return "null";
    case Variant::Type::kBoolean:
      return "bool:" + v.to_text();
    case Variant::Type::kInteger:
    case Variant::Type::kDouble:
      return "number:" + v.to_text();
    case Variant::Type::kDate:
      return "date:" + v.to_text();
    case Variant::Type::kText:
      return "text:" + v.text();
    case Variant::Type::kObject:
      return "object";
  }
  return "?";
}

std::string first_difference(const std::string& expected, const std::string& actual) {
  size_t line = 1, start = 0;
  const size_t n = std::min(expected.size(), actual.size());
  for (size_t pos = 0; pos < n; ++pos) {
    if (expected[pos] != actual[pos]) {
      auto line_at = [&](const std::string& s) {
        size_t end = s.find("\r\n", start);
        return s.substr(start, end == std::string::npos ? std::string::npos : end - start);
      };
      std::ostringstream out;
      out << "first difference on line " << line << " (byte " << pos << ")\n  expected: ["
          << line_at(expected) << "]\n  actual:   [" << line_at(actual) << "]";
      return out.str();
    }
    if (expected[pos] == '\n') ++line, start = pos + 1;
  }
  if (expected.size() != actual.size())
    return "the texts agree up to byte " + std::to_string(n) + "; expected " +
           std::to_string(expected.size()) + " bytes, got " + std::to_string(actual.size());
  return "";
}

}  // namespace oapx1::testing
