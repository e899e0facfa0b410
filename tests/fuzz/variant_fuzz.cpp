// Variant conversions and comparison: a text (and the number or date it may
// read as) converted every way the scripting rules allow. Conversions may fail
// with a ScriptError, as the scripting platform's do; nothing else may escape.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "platform/script/script.h"
#include "platform/script/variant.h"

namespace {

using namespace oapx1;

template <class F>
void may_fail(F f) {
  try {
    f();
  } catch (const ScriptError&) {
  }
}

void convert(const Variant& v) {
  (void)v.str();
  (void)is_numeric(v);
  (void)is_date(v);
  may_fail([&] { (void)v.to_text(); });
  may_fail([&] { (void)v.to_double(); });
  may_fail([&] { (void)v.to_integer(); });
  may_fail([&] { (void)v.to_bool(); });
  may_fail([&] { (void)format_datetime(v.to_date()); });
  may_fail([&] { (void)sql_text(v); });
  may_fail([&] { (void)sql_like_text(v); });
  may_fail([&] { (void)sql_number(v); });
  may_fail([&] { (void)sql_integer(v); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // Two values: the text up to the first tab and the rest.
  const size_t tab = text.find('\t');
  const std::string_view left = text.substr(0, tab);
  const std::string_view right = tab == std::string_view::npos ? std::string_view() : text.substr(tab + 1);
  Variant values[] = {Variant(left), Variant(right), Variant(), Variant::null(), Variant(true)};
  Variant derived[3];
  size_t count = 0;
  if (auto n = parse_number(left)) {
    derived[count++] = Variant(*n);
    if (std::isfinite(*n) && std::fabs(*n) < 9e18) derived[count++] = Variant(static_cast<int64_t>(*n));
  }
  if (auto d = parse_datetime(left)) {
    derived[count++] = Variant(*d);
    if (d->serial >= 1 && !parse_datetime(format_datetime(*d))) fuzz::fail("a date's text does not read back");
  }
  for (const Variant& v : values) convert(v);
  for (size_t i = 0; i < count; ++i) convert(derived[i]);
  for (const Variant& a : values) {
    for (const Variant& b : values) {
      const auto ab = script_compare(a, b);
      const auto ba = script_compare(b, a);
      if (ab.has_value() != ba.has_value() || (ab && (*ab > 0) != (*ba < 0))) {
        fuzz::fail("comparison is not antisymmetric");
      }
    }
  }
  return 0;
}
