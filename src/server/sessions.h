// Browser sessions of the web application: kept in memory, found by the id in
// the session cookie, dropped once idle for longer than their time-out.
#ifndef OAPX1_SERVER_SESSIONS_H_
#define OAPX1_SERVER_SESSIONS_H_

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/web/memory_intrinsics.h"

namespace oapx1 {

using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

// One session's state. Requests of one session run one at a time: a request
// holds `mutex` while its page runs.
struct SessionEntry {
  std::mutex mutex;
  MemorySession state;                                // items, code page, time-out
  std::chrono::steady_clock::time_point last_access;  // start or end of the last request
  std::atomic<int> timeout_minutes{20};               // copy of state's time-out for the sweep
};

class SessionStore {
 public:
  // `clock` gives the present time; the tests pass one they can move on.
  explicit SessionStore(SteadyClock clock);

  // The live session of that id, its idle time restarted; null when the id is
  // unknown or the session expired (an expired session is dropped here).
  std::shared_ptr<SessionEntry> find(std::string_view id);
  // Keeps a session under a new random id and returns the id.
  std::string add(std::shared_ptr<SessionEntry> entry);
  // Keeps the session under a new random id, forgetting `old_id` (a sign-in
  // must not keep an id that someone else may have planted); returns the id.
  std::string renew(std::string_view old_id, std::shared_ptr<SessionEntry> entry);
  // Forgets the session of that id (a sign-out); does nothing for an unknown id.
  void remove(std::string_view id);
  // Ends a request of the session: records its time-out and restarts its idle time.
  void touch(SessionEntry& entry);
  // Drops every expired session; returns how many.
  size_t sweep();
  size_t size() const;

 private:
  bool expired(const SessionEntry& entry, std::chrono::steady_clock::time_point now) const;

  SteadyClock clock_;
  mutable std::mutex mutex_;                                        // guards sessions_
  std::map<std::string, std::shared_ptr<SessionEntry>, std::less<>> sessions_;  // by id
};

// A fresh session id: 128 bits from the system's cryptographic generator, in hex.
std::string new_session_id();

}  // namespace oapx1

#endif  // OAPX1_SERVER_SESSIONS_H_
