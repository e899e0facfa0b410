#include "server/login_throttle.h"

#include <algorithm>

#include "platform/text/ascii.h"

namespace oapx1 {
namespace {

std::string address_key(std::string_view address) { return "a:" + std::string(address); }
std::string account_key(std::string_view account) { return "u:" + ascii_lower(account); }

}  // namespace

LoginThrottle::LoginThrottle(int max_failures, std::chrono::seconds window, Clock clock)
    : max_failures_(max_failures), window_(window), clock_(std::move(clock)) {
  if (!clock_) clock_ = std::chrono::steady_clock::now;
}

std::optional<std::chrono::seconds> LoginThrottle::wait_for(
    const std::string& key, std::chrono::steady_clock::time_point now) const {
  const auto it = counts_.find(key);
  if (it == counts_.end() || it->second.failures < max_failures_) return std::nullopt;
  const auto left = it->second.start + window_ - now;
  if (left <= std::chrono::steady_clock::duration::zero()) return std::nullopt;
  return std::max(std::chrono::seconds(1), std::chrono::ceil<std::chrono::seconds>(left));
}

std::optional<std::chrono::seconds> LoginThrottle::refused(std::string_view address,
                                                           std::string_view account) {
  if (max_failures_ <= 0) return std::nullopt;
  const auto now = clock_();
  std::lock_guard<std::mutex> guard(mutex_);
  const auto by_address = wait_for(address_key(address), now);
  const auto by_account = account.empty() ? std::nullopt : wait_for(account_key(account), now);
  if (by_address && by_account) return std::max(*by_address, *by_account);
  return by_address ? by_address : by_account;
}

void LoginThrottle::count(const std::string& key, std::chrono::steady_clock::time_point now) {
  Count& c = counts_[key];
  if (c.failures == 0 || now - c.start >= window_) c = Count{now, 0};
  ++c.failures;
}

void LoginThrottle::failed(std::string_view address, std::string_view account) {
  if (max_failures_ <= 0) return;
  const auto now = clock_();
  std::lock_guard<std::mutex> guard(mutex_);
  count(address_key(address), now);
  if (!account.empty()) count(account_key(account), now);
  if (counts_.size() >= next_sweep_) forget_old(now);
}

void LoginThrottle::succeeded(std::string_view account) {
  std::lock_guard<std::mutex> guard(mutex_);
  counts_.erase(account_key(account));
}

void LoginThrottle::forget_old(std::chrono::steady_clock::time_point now) {
  std::erase_if(counts_, [&](const auto& entry) { return now - entry.second.start >= window_; });
  // Sweeping again only after the map has doubled keeps the cost per failure constant.
  next_sweep_ = std::max<size_t>(1024, counts_.size() * 2);
}

}  // namespace oapx1
