// Date and time formatting: the template formatter, the plain date and the
// Chinese-style timestamp of the present moment.
#include "util/date_time.h"

#include "host/page.h"
#include "platform/web/event_log.h"
#include "platform/web/process.h"
#include "platform/script/script.h"

namespace oapx1 {
namespace {

// A number's decimal text with one "0" in front when it has one digit.
std::string pad2(int n) {
  std::string t = std::to_string(n);
  if (t.size() < 2) t.insert(0, 2 - t.size(), '0');
  return t;
}

// The template formatter shared by lwformatdatetime and mydategeshi: every
// token of the template replaced, longest first, left to right; a first
// argument that is not a date comes back as it is.
Variant format_by_template(const Variant& when, const Variant& format) {
  if (!is_date(when)) return when;
  const CivilTime c = civil(when.to_date());
  const std::string year = std::to_string(c.year);
  const std::pair<std::string_view, std::string> tokens[] = {
      {"yyyy", year},         {"yy", vb::Right(year, 2)},
      {"mm", pad2(c.month)},  {"m", std::to_string(c.month)},
      {"dd", pad2(c.day)},    {"d", std::to_string(c.day)},
      {"hh", pad2(c.hour)},   {"h", std::to_string(c.hour)},
      {"nn", pad2(c.minute)}, {"n", std::to_string(c.minute)},
      {"ss", pad2(c.second)}, {"s", std::to_string(c.second)},
  };
  std::string out = format.to_text();
  for (const auto& [token, value] : tokens) out = vb::Replace(out, token, value);
  return Variant(std::move(out));
}

}  // namespace

void set_weekday_names(const std::array<std::string, 7>& names, int first_day) {
  if (first_day < 1 || first_day > 7)
    throw ScriptError(err::kInvalidCall, "Invalid procedure call or argument");
  std::array<std::string, 7> from_sunday;
  for (int k = 0; k < 7; ++k)
    from_sunday[static_cast<size_t>((first_day - 1 + k) % 7)] = names[static_cast<size_t>(k)];
  update_process_settings([&](ProcessSettings& s) { s.weekday_names = std::move(from_sunday); });
}

std::string weekday_name(int weekday) {
  if (weekday < 1 || weekday > 7)
    throw ScriptError(err::kInvalidCall, "Invalid procedure call or argument");
  return process_settings()->weekday_names[static_cast<size_t>(weekday - 1)];
}

Variant Page::lwformatdatetime(Variant& datetime, Variant& format) {
  return reported(__func__, [&](Variant& result) { result = format_by_template(datetime, format); });
}

Variant Page::mydategeshi(Variant& datetime, Variant& format) {
  return reported(__func__, [&](Variant& result) { result = format_by_template(datetime, format); });
}

Variant Page::formatdate(Variant& date) {
  return reported(__func__, [&](Variant& result) {
    const CivilTime c = civil(date.to_date());
    result = std::to_string(c.year) + "-" + std::to_string(c.month) + "-" + std::to_string(c.day);
  });
}

Variant Page::getsj() {
  return reported(__func__, [&](Variant& result) {
    const CivilTime c = civil(clock_now());
    result = std::to_string(c.year) + "年" + pad2(c.month) + "月" + pad2(c.day) + "日 " +
             weekday_name(c.weekday) + " " + pad2(c.hour) + ":" + pad2(c.minute) + ":" +
             pad2(c.second);
  });
}

}  // namespace oapx1
