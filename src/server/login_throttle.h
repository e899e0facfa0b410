// Limits on failed sign-ins. Three counts, none of which lets one client lock
// an account for everyone:
// - per client address: so many failures a minute, then that address is
//   refused for the rest of the minute (whatever account it tries);
// - per account and address pair: the same, for that account from that address;
// - per account across addresses: the first so many failures are free, each
//   further one makes the account wait before its next attempt, twice as long
//   as the one before (1 s, 2 s, 4 s ... up to kLongestAccountWait). A wait,
//   not a lock: once it is over, the right password signs in from anywhere.
// Correct sign-ins are limited too, per account and address pair
// (kMostSignIns a window, then that pair is refused for the rest of it), so
// that no client can keep the password hashing busy with a password it knows.
// Each lock-out (an address or pair refused, an account made to wait) is one
// line in the event log.
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
  // account and address pair, and as many free failures of one account from
  // all addresses before its waits begin (0: no limit at all). `clock` gives
  // the present time (tests move it); null: the steady clock.
  LoginThrottle(int max_failures, std::chrono::seconds window, Clock clock);

  // Nullopt when a sign-in of `account` from `address` may be tried; else how
  // long until it may (at least one second). Account names are compared
  // without regard to letter case.
  std::optional<std::chrono::seconds> refused(std::string_view address, std::string_view account);
  // Counts a failed sign-in against the address, the pair and the account,
  // and logs the lock-out it brings about, if any.
  void failed(std::string_view address, std::string_view account);
  // A successful sign-in clears the account's failures and those of the pair
  // (not the address's), and counts against the pair's sign-ins; the one that
  // reaches kMostSignIns is logged as a lock-out.
  void succeeded(std::string_view address, std::string_view account);

  // A failed sign-in is answered no sooner than this after it began, so that
  // its time does not tell whether the account exists.
  static constexpr std::chrono::milliseconds kFailureTime{300};
  // Correct sign-ins allowed per window for one account and address pair
  // (when there is a limit at all): generous, far more than a person signs in.
  static constexpr int kMostSignIns = 30;
  // The longest wait an account's failures from all addresses impose.
  static constexpr std::chrono::seconds kLongestAccountWait{60};
  // An account's failures are forgotten after this long without one.
  static constexpr std::chrono::minutes kAccountMemory{15};

 private:
  struct Count {
    std::chrono::steady_clock::time_point start;  // of the current window
    int events = 0;                               // failures, or sign-ins, in it
  };
  struct AccountCount {
    std::chrono::steady_clock::time_point last;   // of the latest failure
    int failures = 0;                             // since the account was last quiet
    std::chrono::seconds wait{0};                 // from `last` until the next attempt
  };
  // How long `key` is refused, having reached `limit` in its window.
  std::optional<std::chrono::seconds> wait_for(const std::string& key, int limit,
                                               std::chrono::steady_clock::time_point now) const;
  std::optional<std::chrono::seconds> account_wait(const std::string& key,
                                                   std::chrono::steady_clock::time_point now) const;
  // Counts one event of `key`; true when it is the one that reaches `limit`.
  bool count(const std::string& key, int limit, std::chrono::steady_clock::time_point now);
  void forget_old(std::chrono::steady_clock::time_point now);

  int max_failures_;
  std::chrono::seconds window_;
  Clock clock_;
  std::mutex mutex_;  // guards the counts and next_sweep_
  std::map<std::string, Count, std::less<>> counts_;            // "a:" address, "p:" account and address, "s:" its sign-ins
  std::map<std::string, AccountCount, std::less<>> accounts_;   // by lower-case account
  size_t next_sweep_ = 1024;  // size at which old counts are dropped
};

}  // namespace oapx1

#endif  // OAPX1_SERVER_LOGIN_THROTTLE_H_
