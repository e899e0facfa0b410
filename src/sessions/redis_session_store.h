// Sessions on a Redis server that the hosts of one installation share, so
// that a session outlives the host that made it and follows its browser from
// host to host. A request reads its session with one GET and takes no lock;
// at its end it writes only what it changed, and the server-side scripts
// keep the changes of two requests that overlapped. Besides what every store
// does, it offers an event loop what it needs to read a session ahead on a
// connection of its own without waiting: the server's address, the command
// that reads a session and the session from that command's reply.
#ifndef OAPX1_SESSIONS_REDIS_SESSION_STORE_H_
#define OAPX1_SESSIONS_REDIS_SESSION_STORE_H_

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kv/redis_client.h"
#include "platform/web/memory_intrinsics.h"
#include "sessions/session_store.h"

namespace oapx1 {

// Times of the shared store.
struct SharedSessionTimes {
  std::chrono::milliseconds server_timeout{2'000}; // to connect to or hear from the server
  // A request that changes nothing writes the session only to restart its
  // expiry, and at most once in this time; the session's key lives this much
  // longer than its time-out, so that it never ends early.
  std::chrono::milliseconds renew_after{60'000};
};

class RedisSessionStore final : public SessionStore {
 public:
  // The store on the server at `address`. Connects lazily: a server that is
  // not up yet is tried again at each request. Keeps the per-account cap of
  // `limits`; the server's own memory policy stands for the total cap.
  RedisSessionStore(RedisAddress address, SharedSessionTimes times = {}, SessionLimits limits = {});
  ~RedisSessionStore() override;

  // One GET: no lock and no write (touch writes only what changed). A server
  // that cannot be reached, or answers with an error, is logged to the event
  // log and the session counts as lost (null).
  std::shared_ptr<SessionEntry> find(std::string_view id) override;
  // Keeps the session under a fresh id that no other session holds, counted
  // against its account's cap. When the server cannot be reached nothing is
  // kept: the id returned is `old_id` (so that the browser keeps the id its
  // session, still in the store, is found under once the server is back), or
  // a fresh one for a new session; the failure goes to the event log.
  std::string renew(std::string_view old_id, std::shared_ptr<SessionEntry> entry) override;
  // Deletes the session's key; a failure goes to the event log.
  bool remove(std::string_view id) override;
  // Writes the session only when the request changed it or its expiry is due
  // for renewal. The write expects the version the request read; when another
  // request wrote in between, this request's changes (the items it set, its
  // time-out and code page) are applied again to the session as it now is,
  // so that two requests changing different items both keep theirs; of two
  // changing the same item, the later write wins. A session signed out or
  // expired meanwhile stays gone. Does nothing for a session not read from
  // this store. Failures go to the event log; the change is then lost.
  void touch(SessionEntry& entry) override;
  bool touch_writes(const SessionEntry& entry) const override;
  // None: Redis expires the sessions itself.
  size_t sweep() override { return 0; }
  // None: the sessions are on the server.
  size_t size() const override { return 0; }

  // For an event loop that reads sessions ahead: the server's address, for a
  // connection of the loop's own.
  const RedisAddress& address() const;
  // The command whose reply found(id, ...) reads, as find(id) sends it.
  std::vector<std::string> find_command(std::string_view id) const;
  // The session as find(id) gives it, from the reply to find_command(id):
  // null for no such session, for a kept text that is not a session (logged)
  // and for an error reply (logged; the session counts as lost).
  std::shared_ptr<SessionEntry> found(std::string_view id, const RedisReply& reply);

 private:
  // The key's life in seconds: the time-out, and the time renewal may lag behind.
  std::string expiry_seconds(const MemorySession& state) const;
  // Counts a session just kept under a new id against its account's cap,
  // dropping the account's oldest sessions beyond it. A failure leaves the
  // session kept and uncounted.
  void count_account_session(const SessionEntry& entry, std::string_view old_id);

  std::unique_ptr<RedisClient> client_;
  SharedSessionTimes times_;
  SessionLimits limits_;
};

// Whether the server at `address` can be used now, for a check before a
// server listens: it must answer a PING within the server time-out of
// `times`. Returns what is wrong, on one line, or nullopt.
std::optional<std::string> redis_session_store_problem(const RedisAddress& address,
                                                       SharedSessionTimes times = {});

}  // namespace oapx1

#endif  // OAPX1_SESSIONS_REDIS_SESSION_STORE_H_
