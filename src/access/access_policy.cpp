// The login access policy: who may sign in, from where and when, by the
// security settings of OA_AnQuan, with refused attempts in the security log.
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "access/log_statement.h"
#include "host/page.h"
#include "lookups/rows.h"
#include "platform/text/ascii.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/web/event_log.h"
#include "platform/web/login_exempt.h"

namespace oapx1 {
namespace {

// Minutes since day zero, counting whole minutes, so that the difference of
// two of them is the number of minute boundaries crossed between the times.
int64_t minute_number(DateTime when) {
  const int64_t seconds = std::llround(when.serial * 86400.0);
  return seconds >= 0 ? seconds / 60 : -((-seconds + 59) / 60);
}

// True when the address begins with one of the non-empty prefixes of the
// comma-separated list. Spaces around a prefix are not part of it: no address
// begins with a space.
bool matches_prefix_list(const std::string& address, const Variant& list) {
  for (const std::string& piece : vb::Split(list.str(), ",")) {
    const std::string_view prefix = trim(piece, " ");
    if (!prefix.empty() && std::string_view(address).starts_with(prefix)) return true;
  }
  return false;
}

// Today's date at the given hour and minute, when they make a valid time.
std::optional<DateTime> today_at(const CivilTime& today, const Variant& hour, const Variant& minute) {
  return parse_datetime(std::to_string(today.year) + "-" + std::to_string(today.month) + "-" +
                        std::to_string(today.day) + " " + hour.str() + ":" + minute.str() + ":00");
}

}  // namespace

Variant Page::isallowlogin() {
  return reported(__func__, [&](Variant& result) {
    result = true;
    Session& session = session_object();
    const Variant user = session.item("_LogUserName");
    const Variant address = session.item("_LogUserIPAddress");
    // Accounts named by the configuration are never restricted, and nothing is logged for them.
    if (is_login_exempt(vb::LCase(user.str()))) return;

    Variant settings = open_rows("select top 1 * from OA_AnQuan", conn);
    Recordset& r = settings.as<Recordset>();
    const bool has_row = r.RecordCount() > 0;
    // A column's value, or its default when it is null or there is no row.
    auto setting = [&](const char* column, const char* fallback) {
      if (!has_row) return Variant(fallback);
      Variant value = r.field(column);
      return value.is_null() ? Variant(fallback) : value;
    };
    const Variant ISIP = setting("ISIP", "0");
    const Variant isYunXu = setting("isYunXu", "1");
    const Variant IPList = setting("IPList", "");
    const Variant ISTime = setting("ISTime", "0");
    const Variant SHour = setting("SHour", "1");
    const Variant SMinute = setting("SMinute", "1");
    const Variant EHour = setting("EHour", "1");
    const Variant EMinute = setting("EMinute", "1");
    const Variant isWeek = setting("isWeek", "0");
    std::array<Variant, 7> day_allowed;  // Monday first
    for (int day = 1; day <= 7; ++day) {
      day_allowed[day - 1] = setting(("SM" + std::to_string(day)).c_str(), "1");
    }
    const Variant NotValid = setting("NotValid", "0");
    r.Close();
    settings = Variant::nothing();

    bool ip_allowed = true;
    bool time_allowed = true;
    if (script_equal(ISIP, "1")) {
      const bool listed = matches_prefix_list(address.str(), IPList);
      // "1": the list names refused addresses; otherwise the only admitted ones.
      ip_allowed = script_equal(isYunXu, "1") ? !listed : listed;
    }

    const DateTime now = clock_now();
    const CivilTime today = civil(now);
    if (script_equal(isWeek, "1")) {
      const int monday_first = (today.weekday + 5) % 7 + 1;  // civil() counts from Sunday
      if (script_equal(day_allowed[monday_first - 1], "0")) time_allowed = false;
    }
    if (script_equal(ISTime, "1")) {
      // An end that is no valid time disables the window like an invalid
      // start, so that a mistyped setting cannot cancel the other rules.
      const std::optional<DateTime> start = today_at(today, SHour, SMinute);
      const std::optional<DateTime> end = today_at(today, EHour, EMinute);
      if (start && end &&
          (minute_number(now) - minute_number(*start) < 0 || minute_number(*end) - minute_number(now) < 0)) {
        time_allowed = false;
      }
    }

    if (!time_allowed || !ip_allowed) result = false;
    if (script_equal(NotValid, "1") && !ip_allowed) {
      conn.as<Connection>().execute(detail::log_statement(detail::kSecurityLog, "非法IP地址", "1"));
    }
    if (script_equal(NotValid, "1") && !time_allowed) {
      conn.as<Connection>().execute(detail::log_statement(detail::kSecurityLog, "非法时间", "1"));
    }
  });
}

}  // namespace oapx1
