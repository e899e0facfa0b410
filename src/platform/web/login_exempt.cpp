#include "platform/web/login_exempt.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "platform/script/script.h"

namespace oapx1 {
namespace {

std::mutex g_mutex;
std::optional<std::vector<std::string>> g_accounts;  // set by the host; nullopt: the environment

}  // namespace

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
  {
    std::lock_guard<std::mutex> guard(g_mutex);
    if (g_accounts) return *g_accounts;
  }
  const char* value = std::getenv(kLoginExemptVariable);
  return value ? parse_login_exempt(value) : std::vector<std::string>{};
}

bool is_login_exempt(std::string_view account) {
  if (account.empty()) return false;
  const std::vector<std::string> accounts = login_exempt_accounts();
  return std::find(accounts.begin(), accounts.end(), vb::LCase(account)) != accounts.end();
}

void set_login_exempt(std::optional<std::string> list) {
  std::lock_guard<std::mutex> guard(g_mutex);
  if (list) {
    g_accounts = parse_login_exempt(*list);
  } else {
    g_accounts.reset();
  }
}

}  // namespace oapx1
