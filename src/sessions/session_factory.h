// The session store a setting names ("memory" or "redis://host:port/db"), made
// or checked before a server listens. What is made is reached through the
// SessionStore interface, and also as the Redis store it is, when it is one,
// for what only that store offers.
#ifndef OAPX1_SESSIONS_SESSION_FACTORY_H_
#define OAPX1_SESSIONS_SESSION_FACTORY_H_

#include <memory>
#include <optional>
#include <string>

#include "sessions/redis_session_store.h"
#include "sessions/session_store.h"

namespace oapx1 {

// The store make_session_store made, owned here.
class ConfiguredSessionStore {
 public:
  explicit ConfiguredSessionStore(std::unique_ptr<MemorySessionStore> store);
  explicit ConfiguredSessionStore(std::unique_ptr<RedisSessionStore> store);

  // The store, through the interface every store has.
  SessionStore& operator*() const { return *store_; }
  SessionStore* operator->() const { return store_.get(); }
  // The same store when it is on a Redis server; null for one in this
  // process's memory.
  RedisSessionStore* as_redis() const { return redis_; }

 private:
  std::unique_ptr<SessionStore> store_;  // never null
  RedisSessionStore* redis_ = nullptr;   // store_, when it is on a Redis server
};

// Makes the store `setting` names: "memory" (or empty) for this process's
// memory, with `clock` and `limits`; "redis://host:port/db" for a Redis
// server, with `times` and the per-account cap of `limits` (the Redis
// server's own memory policy stands for the total cap). Throws
// std::invalid_argument for any other text, or a redis:// URL that is not
// one. Connects lazily: a Redis server that is not up yet is tried again at
// each request.
ConfiguredSessionStore make_session_store(const std::string& setting, SteadyClock clock,
                                          SharedSessionTimes times = {}, SessionLimits limits = {});

// Whether the store `setting` names can be used now, for a check before the
// server listens: a Redis server must answer a PING within the server
// time-out; memory always can. Returns what is wrong, on one line, or nullopt.
std::optional<std::string> session_store_problem(const std::string& setting,
                                                 SharedSessionTimes times = {});

}  // namespace oapx1

#endif  // OAPX1_SESSIONS_SESSION_FACTORY_H_
