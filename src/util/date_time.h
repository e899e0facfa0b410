// The server's regional weekday names, which getsj shows. Process-wide: the
// page host sets them once from its configuration; every request reads them.
#ifndef OAPX1_UTIL_DATE_TIME_H_
#define OAPX1_UTIL_DATE_TIME_H_

#include <array>
#include <string>

namespace oapx1 {

// Sets the full weekday names as the server's regional settings list them:
// `names[0]` is the name of `first_day` (1 Sunday .. 7 Saturday), the rest
// follow in week order. Until set: Simplified Chinese, from Sunday
// (星期日 .. 星期六). Thread-safe. Fails with 5 when first_day is outside 1..7.
void set_weekday_names(const std::array<std::string, 7>& names, int first_day = 1);
// The full name of a weekday (1 Sunday .. 7 Saturday, as civil() numbers it)
// under the current setting; whichever day the week begins with, the name is
// that day's own.
std::string weekday_name(int weekday);

}  // namespace oapx1

#endif  // OAPX1_UTIL_DATE_TIME_H_
