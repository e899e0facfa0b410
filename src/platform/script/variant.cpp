#include "platform/script/variant.h"
#include "platform/text/ascii.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace oapx1 {
namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civil_from_days(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

const int64_t kEpochDays = days_from_civil(1899, 12, 30);

int days_in_month(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
  return kDays[m - 1];
}

// Reads 1 to max_digits decimal digits at pos; false when there are none.
bool read_digits(std::string_view s, size_t& pos, size_t max_digits, int& out) {
  size_t start = pos;
  int value = 0;
  while (pos < s.size() && pos - start < max_digits && s[pos] >= '0' && s[pos] <= '9') {
    value = value * 10 + (s[pos] - '0');
    ++pos;
  }
  if (pos == start || (pos < s.size() && s[pos] >= '0' && s[pos] <= '9')) return false;
  out = value;
  return true;
}


std::string format_double(double d) {
  if (d == 0) return "0";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15G", d);
  return buf;
}

int compare_numbers(double a, double b) { return a < b ? -1 : (a > b ? 1 : 0); }

int compare_texts(std::string_view a, std::string_view b) {
  int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

[[noreturn]] void type_mismatch() { throw ScriptError(err::kTypeMismatch, "Type mismatch"); }
[[noreturn]] void invalid_null() { throw ScriptError(err::kInvalidUseOfNull, "Invalid use of Null"); }

}  // namespace

DateTime make_datetime(int year, int month, int day, int hour, int minute, int second) {
  const int64_t days = days_from_civil(year, month, day) - kEpochDays;
  const double frac = (hour * 3600 + minute * 60 + second) / 86400.0;
  return DateTime{static_cast<double>(days) + frac};
}

CivilTime civil(DateTime when) {
  const int64_t total = std::llround(when.serial * 86400.0);
  int64_t days = total / 86400;
  int64_t secs = total % 86400;
  if (secs < 0) {
    secs += 86400;
    days -= 1;
  }
  CivilTime c;
  civil_from_days(days + kEpochDays, c.year, c.month, c.day);
  c.hour = static_cast<int>(secs / 3600);
  c.minute = static_cast<int>(secs / 60 % 60);
  c.second = static_cast<int>(secs % 60);
  c.weekday = static_cast<int>(((days % 7) + 7 + 6) % 7) + 1;
  return c;
}

bool valid_civil(int year, int month, int day, int hour, int minute, int second) {
  return year >= 100 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= days_in_month(year, month) && hour >= 0 && hour <= 23 && minute >= 0 &&
         minute <= 59 && second >= 0 && second <= 59;
}

std::optional<DateTime> parse_datetime(std::string_view text) {
  std::string_view s = trim(text);
  size_t pos = 0;
  int y, m, d, h = 0, n = 0, sec = 0;
  if (!read_digits(s, pos, 4, y) || pos != 4) return std::nullopt;
  if (pos >= s.size() || (s[pos] != '-' && s[pos] != '/')) return std::nullopt;
  const char sep = s[pos++];
  if (!read_digits(s, pos, 2, m)) return std::nullopt;
  if (pos >= s.size() || s[pos] != sep) return std::nullopt;
  ++pos;
  if (!read_digits(s, pos, 2, d)) return std::nullopt;
  if (pos < s.size()) {
    if (s[pos] != ' ') return std::nullopt;
    while (pos < s.size() && s[pos] == ' ') ++pos;
    if (!read_digits(s, pos, 2, h)) return std::nullopt;
    if (pos >= s.size() || s[pos] != ':') return std::nullopt;
    ++pos;
    if (!read_digits(s, pos, 2, n)) return std::nullopt;
    if (pos < s.size()) {
      if (s[pos] != ':') return std::nullopt;
      ++pos;
      if (!read_digits(s, pos, 2, sec)) return std::nullopt;
    }
    if (pos != s.size()) return std::nullopt;
  }
  if (!valid_civil(y, m, d, h, n, sec)) return std::nullopt;
  return make_datetime(y, m, d, h, n, sec);
}

std::string format_datetime(DateTime when) {
  const CivilTime c = civil(when);
  const bool has_date = std::floor(when.serial) != 0;
  const bool has_time = c.hour != 0 || c.minute != 0 || c.second != 0;
  char buf[64];
  std::string out;
  if (has_date || !has_time) {
    std::snprintf(buf, sizeof buf, "%d-%d-%d", c.year, c.month, c.day);
    out = buf;
  }
  if (has_time) {
    std::snprintf(buf, sizeof buf, "%d:%02d:%02d", c.hour, c.minute, c.second);
    if (!out.empty()) out += ' ';
    out += buf;
  }
  return out;
}

std::string format_iso(DateTime when) {
  const CivilTime c = civil(when);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour,
                c.minute, c.second);
  return buf;
}

bool Variant::is_number() const {
  const Type t = type();
  return t == Type::kInteger || t == Type::kDouble || t == Type::kBoolean;
}

bool Variant::has_object() const { return is_object() && object_ptr() != nullptr; }

const std::shared_ptr<Object>& Variant::object_ptr() const {
  if (!is_object()) throw ScriptError(err::kObjectRequired, "Object required");
  return std::get<std::shared_ptr<Object>>(value_);
}

std::string Variant::str() const {
  switch (type()) {
    case Type::kEmpty:
    case Type::kNull:
      return std::string();
    default:
      return to_text();
  }
}

std::string Variant::to_text() const {
  switch (type()) {
    case Type::kEmpty:
      return std::string();
    case Type::kNull:
      invalid_null();
    case Type::kBoolean:
      return boolean() ? "True" : "False";
    case Type::kInteger:
      return std::to_string(integer());
    case Type::kDouble:
      return format_double(real());
    case Type::kDate:
      return format_datetime(date());
    case Type::kText:
      return text();
    case Type::kObject:
      break;
  }
  type_mismatch();
}

double Variant::to_double() const {
  switch (type()) {
    case Type::kEmpty:
      return 0;
    case Type::kNull:
      invalid_null();
    case Type::kBoolean:
      return boolean() ? -1 : 0;
    case Type::kInteger:
      return static_cast<double>(integer());
    case Type::kDouble:
      return real();
    case Type::kDate:
      return date().serial;
    case Type::kText:
      if (auto n = parse_number(text())) return *n;
      if (auto d = parse_datetime(text())) return d->serial;
      break;
    case Type::kObject:
      break;
  }
  type_mismatch();
}

int64_t Variant::to_integer() const {
  if (type() == Type::kInteger) return integer();
  const double d = std::nearbyint(to_double());
  if (!(d >= -9.2e18 && d <= 9.2e18)) throw ScriptError(err::kOverflow, "Overflow");
  return static_cast<int64_t>(d);
}

bool Variant::to_bool() const {
  if (type() == Type::kBoolean) return boolean();
  if (type() == Type::kText) {
    std::string_view t = trim(text());
    if (t.size() == 4 && strncasecmp(t.data(), "true", 4) == 0) return true;
    if (t.size() == 5 && strncasecmp(t.data(), "false", 5) == 0) return false;
  }
  return to_double() != 0;
}

DateTime Variant::to_date() const {
  switch (type()) {
    case Type::kDate:
      return date();
    case Type::kNull:
      invalid_null();
    case Type::kText:
      if (auto d = parse_datetime(text())) return *d;
      break;
    case Type::kInteger:
    case Type::kDouble: {
      // Serials of 100-01-01 and of the last second of 9999-12-31.
      const double serial = to_double();
      if (!(serial >= -657434.0 && serial < 2958466.0)) throw ScriptError(err::kOverflow, "Overflow");
      return DateTime{serial};
    }
    default:
      break;
  }
  type_mismatch();
}

std::optional<double> parse_number(std::string_view text) {
  std::string_view s = trim(text);
  if (s.empty()) return std::nullopt;
  if (s.size() > 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h')) {
    // Up to four digits read as a 16-bit value and up to eight as a 32-bit
    // one, in two's complement, as the platform reads them (&HFFFF is -1).
    const size_t digits = s.size() - 2;
    if (digits > 8) return std::nullopt;
    uint32_t v = 0;
    for (size_t i = 2; i < s.size(); ++i) {
      const char c = s[i];
      uint32_t digit;
      if (c >= '0' && c <= '9') digit = static_cast<uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') digit = static_cast<uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') digit = static_cast<uint32_t>(c - 'A' + 10);
      else return std::nullopt;
      v = v * 16 + digit;
    }
    if (digits <= 4) return static_cast<double>(static_cast<int16_t>(static_cast<uint16_t>(v)));
    return static_cast<double>(static_cast<int32_t>(v));
  }
  size_t pos = 0;
  if (s[pos] == '+' || s[pos] == '-') ++pos;
  size_t digits = 0;
  while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') ++pos, ++digits;
  if (pos < s.size() && s[pos] == '.') {
    ++pos;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') ++pos, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (pos < s.size() && (s[pos] == 'e' || s[pos] == 'E')) {
    ++pos;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) ++pos;
    size_t exp_digits = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') ++pos, ++exp_digits;
    if (exp_digits == 0) return std::nullopt;
  }
  if (pos != s.size()) return std::nullopt;
  const double value = std::strtod(std::string(s).c_str(), nullptr);
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

bool is_numeric(const Variant& v) {
  switch (v.type()) {
    case Variant::Type::kEmpty:
    case Variant::Type::kBoolean:
    case Variant::Type::kInteger:
    case Variant::Type::kDouble:
      return true;
    case Variant::Type::kText:
      return parse_number(v.text()).has_value();
    default:
      return false;
  }
}

bool is_date(const Variant& v) {
  if (v.is_date()) return true;
  return v.is_text() && parse_datetime(v.text()).has_value();
}

std::optional<int> script_compare(const Variant& a, const Variant& b) {
  using T = Variant::Type;
  if (a.is_null() || b.is_null()) return std::nullopt;
  if (a.is_object() || b.is_object()) type_mismatch();
  const T ta = a.type();
  const T tb = b.type();
  if (ta == T::kText && tb == T::kText) return compare_texts(a.text(), b.text());
  if (ta == T::kEmpty && tb == T::kEmpty) return 0;
  if (ta == T::kEmpty && tb == T::kText) return compare_texts("", b.text());
  if (ta == T::kText && tb == T::kEmpty) return compare_texts(a.text(), "");
  if (ta == T::kInteger && tb == T::kInteger)
    return a.integer() < b.integer() ? -1 : (a.integer() > b.integer() ? 1 : 0);
  // One side is a number, a date or empty; the other may be a text.
  if (ta == T::kText || tb == T::kText) {
    const bool text_first = ta == T::kText;
    const Variant& t = text_first ? a : b;
    const Variant& n = text_first ? b : a;
    std::optional<double> tv;
    if (n.is_date()) {
      if (auto d = parse_datetime(t.text())) tv = d->serial;
    }
    if (!tv) tv = parse_number(t.text());
    if (!tv) return text_first ? 1 : -1;  // a number sorts before any text
    const int c = compare_numbers(n.to_double(), *tv);
    return text_first ? -c : c;
  }
  return compare_numbers(a.to_double(), b.to_double());
}

bool script_equal(const Variant& a, const Variant& b) {
  const auto c = script_compare(a, b);
  return c && *c == 0;
}

bool script_unequal(const Variant& a, const Variant& b) {
  const auto c = script_compare(a, b);
  return c && *c != 0;
}

}  // namespace oapx1
