// The one form of an OA_Log row, shared by the login access policy and the
// audit logs.
#ifndef OAPX1_ACCESS_LOG_STATEMENT_H_
#define OAPX1_ACCESS_LOG_STATEMENT_H_

#include <string>
#include <string_view>

#include "platform/script/variant.h"

namespace oapx1::detail {

// Log types of OA_Log.
inline constexpr std::string_view kSecurityLog = "安全日志";
inline constexpr std::string_view kApplicationLog = "应用日志";

// The insert of one OA_Log row: the log type, the session's
// `_LogUserIPAddress` and `_LogUserName`, the remark and the login flag, each
// between apostrophes with its own apostrophes doubled. Fails with 91 when no
// session is bound.
std::string log_statement(std::string_view log_type, const Variant& remark, std::string_view flag);

}  // namespace oapx1::detail

#endif  // OAPX1_ACCESS_LOG_STATEMENT_H_
