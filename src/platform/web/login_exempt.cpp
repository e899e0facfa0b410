#include "platform/web/login_exempt.h"

#include <algorithm>
#include <cstdlib>

#include "platform/script/script.h"
#include "platform/process/process.h"

namespace oapx1 {

std::vector<std::string> parse_login_exempt(std::string_view list) {
  std::vector<std::string> accounts;
  for (const std::string& piece : vb::Split(list, ",")) {
    std::string_view name = piece;
    while (!name.empty() && (name.front() == ' ' || name.front() == '\t')) name.remove_prefix(1);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
    if (!name.empty()) accounts.push_back(vb::LCase(name));
  }
  return accounts;
}

std::vector<std::string> login_exempt_accounts() {
  if (const auto settings = process_settings(); settings->login_exempt) return *settings->login_exempt;
  const char* value = std::getenv(kLoginExemptVariable);
  return value ? parse_login_exempt(value) : std::vector<std::string>{};
}

bool is_login_exempt(std::string_view account) {
  if (account.empty()) return false;
  const std::vector<std::string> accounts = login_exempt_accounts();
  return std::find(accounts.begin(), accounts.end(), vb::LCase(account)) != accounts.end();
}

void set_login_exempt(std::optional<std::string> list) {
  std::optional<std::vector<std::string>> accounts;
  if (list) accounts = parse_login_exempt(*list);
  update_process_settings([&](ProcessSettings& s) { s.login_exempt = std::move(accounts); });
}

}  // namespace oapx1
