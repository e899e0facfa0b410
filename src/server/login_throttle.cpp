#include "server/login_throttle.h"

#include <algorithm>

#include "platform/text/ascii.h"
#include "platform/web/event_log.h"

namespace oapx1 {
namespace {

std::string address_key(std::string_view address) { return "a:" + std::string(address); }
// An address never holds a NUL, so the pair's two parts stay apart whatever
// the account is called.
std::string pair_key(std::string_view address, std::string_view account, char kind = 'p') {
  return kind + (":" + std::string(address)) + '\0' + ascii_lower(account);
}
// The correct sign-ins of the pair.
std::string sign_ins_key(std::string_view address, std::string_view account) {
  return pair_key(address, account, 's');
}

// The account as a log line names it: a name of any length is cut short.
std::string shown(std::string_view account) {
  constexpr size_t kLongest = 64;
  return account.size() <= kLongest ? std::string(account) : std::string(account.substr(0, kLongest)) + "...";
}

std::chrono::seconds whole_seconds(std::chrono::steady_clock::duration d) {
  return std::max(std::chrono::seconds(1), std::chrono::ceil<std::chrono::seconds>(d));
}

}  // namespace

LoginThrottle::LoginThrottle(int max_failures, std::chrono::seconds window, Clock clock)
    : max_failures_(max_failures), window_(window), clock_(std::move(clock)) {
  if (!clock_) clock_ = std::chrono::steady_clock::now;
}

std::optional<std::chrono::seconds> LoginThrottle::wait_for(
    const std::string& key, int limit, std::chrono::steady_clock::time_point now) const {
  const auto it = counts_.find(key);
  if (it == counts_.end() || it->second.events < limit) return std::nullopt;
  const auto left = it->second.start + window_ - now;
  if (left <= std::chrono::steady_clock::duration::zero()) return std::nullopt;
  return whole_seconds(left);
}

std::optional<std::chrono::seconds> LoginThrottle::account_wait(
    const std::string& key, std::chrono::steady_clock::time_point now) const {
  const auto it = accounts_.find(key);
  if (it == accounts_.end()) return std::nullopt;
  const auto left = it->second.last + it->second.wait - now;
  if (left <= std::chrono::steady_clock::duration::zero()) return std::nullopt;
  return whole_seconds(left);
}

std::optional<std::chrono::seconds> LoginThrottle::refused(std::string_view address,
                                                           std::string_view account) {
  if (max_failures_ <= 0) return std::nullopt;
  const auto now = clock_();
  std::lock_guard<std::mutex> guard(mutex_);
  std::optional<std::chrono::seconds> wait = wait_for(address_key(address), max_failures_, now);
  if (!account.empty()) {
    for (const auto& more : {wait_for(pair_key(address, account), max_failures_, now),
                             wait_for(sign_ins_key(address, account), kMostSignIns, now),
                             account_wait(ascii_lower(account), now)}) {
      if (more && (!wait || *more > *wait)) wait = more;
    }
  }
  return wait;
}

bool LoginThrottle::count(const std::string& key, int limit, std::chrono::steady_clock::time_point now) {
  Count& c = counts_[key];
  if (c.events == 0 || now - c.start >= window_) c = Count{now, 0};
  return ++c.events == limit;
}

void LoginThrottle::failed(std::string_view address, std::string_view account) {
  if (max_failures_ <= 0) return;
  const auto now = clock_();
  std::string lockout;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    const std::string window = std::to_string(window_.count()) + " s";
    if (count(address_key(address), max_failures_, now)) {
      lockout = "address " + std::string(address) + " refused for " + window + " after " +
                std::to_string(max_failures_) + " failures";
    }
    if (!account.empty()) {
      if (count(pair_key(address, account), max_failures_, now) && lockout.empty()) {
        lockout = "account " + shown(account) + " from address " + std::string(address) +
                  " refused for " + window + " after " + std::to_string(max_failures_) + " failures";
      }
      AccountCount& a = accounts_[ascii_lower(account)];
      if (a.failures > 0 && now - a.last >= kAccountMemory) a = AccountCount{};
      a.last = now;
      ++a.failures;
      if (const int beyond = a.failures - max_failures_; beyond > 0) {
        // 1 s, 2 s, 4 s ...: the shift stops before it could overflow.
        a.wait = std::min(kLongestAccountWait, std::chrono::seconds(1LL << std::min(beyond - 1, 30)));
        if (lockout.empty()) {
          lockout = "account " + shown(account) + " waits " + std::to_string(a.wait.count()) +
                    " s after " + std::to_string(a.failures) + " failures from any address";
        }
      }
    }
    if (counts_.size() + accounts_.size() >= next_sweep_) forget_old(now);
  }
  if (!lockout.empty()) event_log().write(kEventWarning, "oapx1 serve: sign-in lock-out: " + lockout);
}

void LoginThrottle::succeeded(std::string_view address, std::string_view account) {
  const auto now = clock_();
  bool lockout = false;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    accounts_.erase(ascii_lower(account));
    counts_.erase(pair_key(address, account));
    if (max_failures_ <= 0) return;
    lockout = count(sign_ins_key(address, account), kMostSignIns, now);
    if (counts_.size() + accounts_.size() >= next_sweep_) forget_old(now);
  }
  if (lockout) {
    event_log().write(kEventWarning, "oapx1 serve: sign-in lock-out: account " + shown(account) + " from address " +
                                         std::string(address) + " refused for " + std::to_string(window_.count()) +
                                         " s after " + std::to_string(kMostSignIns) + " sign-ins");
  }
}

void LoginThrottle::forget_old(std::chrono::steady_clock::time_point now) {
  std::erase_if(counts_, [&](const auto& entry) { return now - entry.second.start >= window_; });
  std::erase_if(accounts_, [&](const auto& entry) { return now - entry.second.last >= kAccountMemory; });
  // Sweeping again only after the maps have doubled keeps the cost per failure constant.
  next_sweep_ = std::max<size_t>(1024, (counts_.size() + accounts_.size()) * 2);
}

}  // namespace oapx1
