// Limits on failed sign-ins: so many failures a minute per client address and
// per account, after which sign-in is refused for the rest of the minute.
#ifndef OAPX1_SERVER_LOGIN_THROTTLE_H_
#define OAPX1_SERVER_LOGIN_THROTTLE_H_

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace oapx1 {

class LoginThrottle {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // Allows `max_failures` failures per window for one address and for one
  // account (0: no limit). `clock` gives the present time (tests move it).
  LoginThrottle(int max_failures, std::chrono::seconds window, Clock clock);

  // Nullopt when a sign-in of `account` from `address` may be tried; else how
  // long until it may (at least one second). Account names are compared
  // without regard to letter case.
  std::optional<std::chrono::seconds> refused(std::string_view address, std::string_view account);
  // Counts a failed sign-in against both the address and the account.
  void failed(std::string_view address, std::string_view account);
  // A successful sign-in clears the account's failures (not the address's).
  void succeeded(std::string_view account);

  // A failed sign-in is answered no sooner than this after it began, so that
  // its time does not tell whether the account exists.
  static constexpr std::chrono::milliseconds kFailureTime{300};

 private:
  struct Count {
    std::chrono::steady_clock::time_point start;  // of the current window
    int failures = 0;
  };
  std::optional<std::chrono::seconds> wait_for(const std::string& key,
                                               std::chrono::steady_clock::time_point now) const;
  void count(const std::string& key, std::chrono::steady_clock::time_point now);
  void forget_old(std::chrono::steady_clock::time_point now);

  int max_failures_;
  std::chrono::seconds window_;
  Clock clock_;
  std::mutex mutex_;                                  // guards counts_ and next_sweep_
  std::map<std::string, Count, std::less<>> counts_;  // "a:" address, "u:" account
  size_t next_sweep_ = 1024;                          // size at which old counts are dropped
};

}  // namespace oapx1

#endif  // OAPX1_SERVER_LOGIN_THROTTLE_H_
