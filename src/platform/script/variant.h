// The automation variant: the one value type of the page class. Every page
// variable, method argument, request item and database field is a Variant, and
// the scripting platform's conversion and comparison rules live here, once.
#ifndef OAPX1_PLATFORM_SCRIPT_VARIANT_H_
#define OAPX1_PLATFORM_SCRIPT_VARIANT_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform/script/script_error.h"

namespace oapx1 {

// A point in time as the platform counts it: days since 1899-12-30, the
// fraction of the day being the time. Kept to whole seconds.
struct DateTime {
  double serial = 0;
  friend bool operator==(const DateTime&, const DateTime&) = default;
};

// A date-time broken into calendar fields; weekday 1 is Sunday .. 7 Saturday.
struct CivilTime {
  int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0, weekday = 7;
};

// Builds a date-time from calendar fields; the fields must be valid.
DateTime make_datetime(int year, int month, int day, int hour = 0, int minute = 0,
                       int second = 0);
// Splits a date-time into calendar fields.
CivilTime civil(DateTime when);
// True when year/month/day and hour/minute/second form a valid calendar time.
bool valid_civil(int year, int month, int day, int hour, int minute, int second);
// Reads the date texts the application stores and users type: "yyyy-m-d" or
// "yyyy/m/d", optionally followed by " h:n" or " h:n:s"; surrounding spaces are
// allowed. Anything else (including an invalid day or time) is not a date.
std::optional<DateTime> parse_datetime(std::string_view text);
// The platform's text of a date: "yyyy-m-d h:nn:ss"; the time is left out at
// midnight and the date is left out on day zero, as the platform does.
std::string format_datetime(DateTime when);
// "YYYY-MM-DD HH:MM:SS", the form used by the data layer and the command line.
std::string format_iso(DateTime when);

// Any platform object a variant can hold: connections, recordsets, the file
// system object, ... The stand-ins derive from it.
class Object {
 public:
  virtual ~Object() = default;
};

class Variant {
 public:
  enum class Type : uint8_t { kEmpty, kNull, kBoolean, kInteger, kDouble, kDate, kText, kObject };

  Variant() = default;  // empty
  Variant(const char* text) : value_(std::string(text)) {}
  Variant(std::string text) : value_(std::move(text)) {}
  Variant(std::string_view text) : value_(std::string(text)) {}
  Variant(bool b) : value_(b) {}
  Variant(int n) : value_(static_cast<int64_t>(n)) {}
  Variant(long n) : value_(static_cast<int64_t>(n)) {}
  Variant(long long n) : value_(static_cast<int64_t>(n)) {}
  Variant(double d) : value_(d) {}
  Variant(DateTime d) : value_(d) {}
  Variant(std::shared_ptr<Object> object) : value_(std::move(object)) {}

  static Variant null() {
    Variant v;
    v.value_ = Null{};
    return v;
  }
  // An object variable that holds no object.
  static Variant nothing() { return Variant(std::shared_ptr<Object>()); }

  Type type() const { return static_cast<Type>(value_.index()); }
  bool is_empty() const { return type() == Type::kEmpty; }
  bool is_null() const { return type() == Type::kNull; }
  bool is_text() const { return type() == Type::kText; }
  bool is_date() const { return type() == Type::kDate; }
  bool is_object() const { return type() == Type::kObject; }
  // Integer, double or boolean: the types that compare as numbers.
  bool is_number() const;
  // Holds an object and the object is not nothing.
  bool has_object() const;

  // The text held; precondition: is_text().
  const std::string& text() const { return std::get<std::string>(value_); }
  int64_t integer() const { return std::get<int64_t>(value_); }
  double real() const { return std::get<double>(value_); }
  bool boolean() const { return std::get<bool>(value_); }
  DateTime date() const { return std::get<DateTime>(value_); }
  const std::shared_ptr<Object>& object_ptr() const;
  // Exchanges the text held with `other`, buffers included, so that a large
  // text can be rewritten in a second buffer and the first one kept for
  // reuse; precondition: is_text().
  void swap_text(std::string& other) { std::get<std::string>(value_).swap(other); }

  // Concatenation form: null and empty give "", everything else its text.
  std::string str() const;
  // Conversion to text; null fails with "Invalid use of Null" (94).
  std::string to_text() const;
  // Conversion to a number; fails with 13 for text that is not a number, 94 for null.
  double to_double() const;
  // Conversion to a whole number, rounding half to even as the platform does.
  int64_t to_integer() const;
  // Conversion to a boolean: numbers are true unless 0; "True"/"False" texts.
  bool to_bool() const;
  // Conversion to a date: dates, and texts that read as dates; else fails with 13.
  DateTime to_date() const;

  // The object held, as T; fails with 424 when no object of that kind is held,
  // with 91 when the variable holds nothing.
  template <class T>
  T& as() const {
    const auto& p = object_ptr();
    if (!p) throw ScriptError(err::kObjectNotSet, "Object variable or With block variable not set");
    auto* t = dynamic_cast<T*>(p.get());
    if (!t) throw ScriptError(err::kNoMember, "Object doesn't support this property or method");
    return *t;
  }

 private:
  struct Null {};
  std::variant<std::monostate, Null, bool, int64_t, double, DateTime, std::string,
               std::shared_ptr<Object>>
      value_;
};
// The order of the alternatives above must follow Variant::Type.

// Reads a text as a number by the platform's rules (surrounding spaces, sign,
// decimals, exponent, "&H" hexadecimal); nullopt when it is not one.
std::optional<double> parse_number(std::string_view text);
// IsNumeric: numbers, empty, and texts and dates that read as numbers.
bool is_numeric(const Variant& v);
// IsDate: dates and texts that read as dates.
bool is_date(const Variant& v);

// Variant comparison: negative, zero or positive; nullopt when either side is
// null (a null satisfies no comparison). A number against a text compares as
// numbers when the text reads as one, else the number is the smaller; empty is
// "" against a text and 0 against a number; texts compare by character code.
std::optional<int> script_compare(const Variant& a, const Variant& b);
// a = b under the rules above; false when either is null.
bool script_equal(const Variant& a, const Variant& b);
// a <> b under the rules above; also false when either is null.
bool script_unequal(const Variant& a, const Variant& b);

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_SCRIPT_VARIANT_H_
