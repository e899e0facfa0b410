// The accounts the login access policy does not restrict. Process-wide: the
// page host sets them once from its configuration (key `login_exempt`); until
// then they come from the environment variable OAPX1_LOGIN_EXEMPT. Empty by
// default, so every account is subject to the policy.
#ifndef OAPX1_PLATFORM_WEB_LOGIN_EXEMPT_H_
#define OAPX1_PLATFORM_WEB_LOGIN_EXEMPT_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oapx1 {

// The environment variable read while no list is set.
inline constexpr const char* kLoginExemptVariable = "OAPX1_LOGIN_EXEMPT";

// Splits a comma-separated list of account names: each name trimmed of spaces
// and tabs and in lower case; empty names dropped.
std::vector<std::string> parse_login_exempt(std::string_view list);
// The exempt accounts in lower case: the list set last, else the environment
// variable's (read at each call), else none. Thread-safe.
std::vector<std::string> login_exempt_accounts();
// True when `account`, in lower case, is one of the exempt accounts; an empty
// account never is.
bool is_login_exempt(std::string_view account);
// Sets the list from its comma-separated text (the server's configuration), or
// with nullopt goes back to the environment variable. Thread-safe.
void set_login_exempt(std::optional<std::string> list);

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_WEB_LOGIN_EXEMPT_H_
