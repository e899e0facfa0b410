// The store of browser sessions: what a session is while its requests run
// (SessionEntry), what every store does (SessionStore), the caps that keep
// sign-ins from filling the memory, and the store in this process's memory,
// the default. A session is found by its id and dropped once idle for longer
// than its time-out.
#ifndef OAPX1_SESSIONS_SESSION_STORE_H_
#define OAPX1_SESSIONS_SESSION_STORE_H_

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/web/memory_intrinsics.h"

namespace oapx1 {

// Gives the present time; the tests pass one they can move on.
using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

// What a store keeps about a session for the length of one request (a shared
// store: the state it read, which its write compares against).
class SessionHold {
 public:
  virtual ~SessionHold() = default;
};

// One session's state. Requests of one session in this process run one at a
// time: a request holds `mutex` while its page runs. Requests on other hosts
// sharing the session are not locked out: a shared store writes what a
// request changed and keeps the changes of both when they overlap in time.
struct SessionEntry {
  std::mutex mutex;
  MemorySession state;                                // items, code page, time-out
  std::chrono::steady_clock::time_point last_access;  // start or end of the last request
  std::atomic<int> timeout_minutes{20};               // copy of state's time-out for the sweep
  std::string id;                                     // the id it is kept under; empty while new
  std::unique_ptr<SessionHold> hold;                  // a shared store's note of its read, if any
};

// Where sessions are kept. Thread-safe: the requests of many sessions call it
// at once.
class SessionStore {
 public:
  virtual ~SessionStore() = default;

  // The live session of that id, its idle time restarted and held for one
  // request; null when the id is unknown, the session expired (and is dropped
  // here) or the store cannot be reached (the session counts as lost).
  virtual std::shared_ptr<SessionEntry> find(std::string_view id) = 0;
  // Keeps the session under a new random id, forgetting `old_id` (a sign-in
  // must not keep an id that someone else may have planted); returns the id.
  virtual std::string renew(std::string_view old_id, std::shared_ptr<SessionEntry> entry) = 0;
  // Keeps a session under a new random id and returns the id.
  std::string add(std::shared_ptr<SessionEntry> entry) { return renew({}, std::move(entry)); }
  // Forgets the session of that id (a sign-out, an account changed since its
  // sign-in); does nothing for an unknown id. False when the store could not
  // be reached, so the session may live on there.
  virtual bool remove(std::string_view id) = 0;
  // Ends a request of the session: records its state and time-out and restarts
  // its idle time.
  virtual void touch(SessionEntry& entry) = 0;
  // Whether touch(entry) would write outside this process now (a shared
  // store's session changed, or its expiry is due for renewal): a thread
  // that must not wait leaves the request to one that may.
  virtual bool touch_writes(const SessionEntry& entry) const = 0;
  // Drops every expired session; returns how many (a store that expires its
  // sessions itself drops none here).
  virtual size_t sweep() = 0;
  // How many sessions this process keeps (none for a shared store).
  virtual size_t size() const = 0;

  // A count of the sessions this process ended or moved to a new id (signed
  // out, signed in, expired): a session found before is still the one the
  // store holds while the count is unchanged.
  uint64_t ends() const { return ends_.load(std::memory_order_acquire); }
  // Counts one more such end.
  void count_end() { ends_.fetch_add(1, std::memory_order_acq_rel); }

 private:
  std::atomic<uint64_t> ends_{0};
};

// How many sessions a store keeps, so that sign-ins cannot fill the memory.
// A session's account is its UserName item when the session is kept under a
// new id (a sign-in), compared without regard to letter case.
struct SessionLimits {
  size_t per_account = 20;  // sessions of one account; beyond, its oldest goes. 0: no limit
  size_t total = 0;         // sessions in all; beyond, the least recently used goes. 0: default_session_cap()
};

// Room the total cap allows each session: about ten times what a signed-in
// session of the node page measures (bench/session_bench.cpp), for the items
// other pages store.
inline constexpr size_t kSessionBudgetBytes = 8 * 1024;

// The total cap when none is set: an eighth of the machine's memory at
// kSessionBudgetBytes a session, at least 10,000.
size_t default_session_cap();

// The account a session is counted under for SessionLimits::per_account: its
// UserName item in lower case; empty for a session nobody signed in to.
std::string session_account(const MemorySession& state);

// A fresh session id: 128 bits from the system's cryptographic generator, in
// 32 lower-case hex digits. Fails with ScriptError 51 when the generator
// cannot be read.
std::string new_session_id();

// Sessions in this process's memory: lost when the process ends.
class MemorySessionStore final : public SessionStore {
 public:
  // `clock` gives the present time.
  explicit MemorySessionStore(SteadyClock clock, SessionLimits limits = {});

  std::shared_ptr<SessionEntry> find(std::string_view id) override;
  std::string renew(std::string_view old_id, std::shared_ptr<SessionEntry> entry) override;
  bool remove(std::string_view id) override;
  void touch(SessionEntry& entry) override;
  // Never: touch only updates this process's memory.
  bool touch_writes(const SessionEntry&) const override { return false; }
  size_t sweep() override;
  size_t size() const override;

 private:
  struct Slot;
  using Sessions = std::map<std::string, Slot, std::less<>>;
  // A kept session and its places in the orders the caps go by.
  struct Slot {
    std::shared_ptr<SessionEntry> entry;
    std::list<Sessions::iterator>::iterator recent;  // its place in recent_
    std::string account;                             // lower-case UserName; empty for none
  };

  bool expired(const SessionEntry& entry, std::chrono::steady_clock::time_point now) const;
  // Forgets a kept session, in every order.
  void erase(Sessions::iterator it);

  SteadyClock clock_;
  SessionLimits limits_;
  mutable std::mutex mutex_;  // guards the members below
  Sessions sessions_;         // by id
  std::list<Sessions::iterator> recent_;  // most recently used first
  // The sessions of each signed-in account, oldest sign-in first.
  std::unordered_map<std::string, std::vector<Sessions::iterator>> by_account_;
};

}  // namespace oapx1

#endif  // OAPX1_SESSIONS_SESSION_STORE_H_
