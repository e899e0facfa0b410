// Whether a signed-in session still speaks for its account. A sign-in keeps in
// its session a seal of the account's password as stored then; a session
// whose account has since been disabled, removed, or given another password
// (by `oapx1 user`, another host, or any other program writing the directory)
// no longer holds, on every host, since each reads the account from the
// database it shares. What was read is kept under the data's state
// (DataStamp), so that a view answered again while nothing changed asks
// nothing of the database.
#ifndef OAPX1_SERVER_ACCOUNT_CHECK_H_
#define OAPX1_SERVER_ACCOUNT_CHECK_H_

#include <cstdint>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/call/call_context.h"
#include "platform/web/intrinsics.h"

namespace oapx1 {

// The session item that holds the seal of the sign-in (password_seal of the
// password column as the sign-in found or left it).
inline constexpr char kAccountSealItem[] = "_AccountSeal";

class AccountChecks {
 public:
  // What is known of a session's account without asking the database.
  enum class Verdict {
    kUnknown,  // not read at that state of the data
    kHolds,    // active, with the password the session's seal marks
    kEnded,    // disabled, gone, or another password
  };

  // Checks accounts in `database`.
  explicit AccountChecks(std::string database);

  // The verdict on the signed-in `session` (its UserName and seal) from what
  // was read with the data at `stamp`; never reads the database, so an event
  // loop may ask. Thread-safe.
  Verdict known(const Session& session, const DataStamp& stamp) const;
  // Whether the signed-in `session` still holds: known at `stamp`, else read
  // from the database (one select) and kept under `stamp`, which the caller
  // took before this call, so that what is kept is never older than its
  // stamp. Without a stamp nothing is kept. A session without a seal holds
  // not. Fails as the data layer does (the session is then neither kept nor
  // ended). Thread-safe.
  bool holds(const Session& session, const std::optional<DataStamp>& stamp);

 private:
  // An account as read: whether it may sign in and its password's seal
  // (empty for no account of that name, or one without a password).
  struct Found {
    uint64_t epoch = 0;  // DataStamp::epoch it was read at
    bool active = false;
    std::string seal;
  };
  Found read(const std::string& account) const;
  static bool matches(const Found& found, const Session& session);

  std::string database_;
  mutable std::shared_mutex mutex_;  // guards found_
  // What was read, by DataStamp::source and then account; emptied when it
  // grows past a bound, as entries of older stamps pile up.
  std::unordered_map<uint64_t, std::unordered_map<std::string, Found>> found_;
  size_t count_ = 0;  // entries in found_
};

}  // namespace oapx1

#endif  // OAPX1_SERVER_ACCOUNT_CHECK_H_
