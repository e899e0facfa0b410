// Browser sessions of the web application, found by the id in the session
// cookie and dropped once idle for longer than their time-out. Two stores:
// one in the memory of this process (the default), and one on a Redis server
// that several hosts share, so that a session outlives the host that made it.
#ifndef OAPX1_SERVER_SESSIONS_H_
#define OAPX1_SERVER_SESSIONS_H_

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/call/call_context.h"
#include "platform/kv/redis_client.h"
#include "platform/web/memory_intrinsics.h"
#include "server/http_exchange.h"

namespace oapx1 {

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

// What an event loop read ahead for the look for a kept view (see
// AheadReads), in place of asking the servers itself.
struct AheadRead {
  bool session_read = false;              // the session was read ahead: it is `session`
  std::shared_ptr<SessionEntry> session;  // null: no such session
  std::optional<DataStamp> data;          // the data stamp, when read ahead
};

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
  // Forgets the session of that id (a sign-out); does nothing for an unknown id.
  virtual void remove(std::string_view id) = 0;
  // Ends a request of the session: records its state and time-out and restarts
  // its idle time.
  virtual void touch(SessionEntry& entry) = 0;
  // For a store on a Redis server, which an event loop may read ahead
  // without waiting: its address; null for a store in this process.
  virtual const RedisAddress* pipe_address() const { return nullptr; }
  // The command whose reply find(id) reads, for a store on a Redis server.
  virtual std::vector<std::string> find_command(std::string_view /*id*/) const { return {}; }
  // The session as find(id) gives it, from the reply of find_command(id).
  virtual std::shared_ptr<SessionEntry> found(std::string_view id, const RedisReply& reply) {
    (void)reply;
    return find(id);
  }
  // Whether touch(entry) would write to the store now (the session changed,
  // or its expiry is due for renewal): a thread that must not wait leaves
  // the request to one that may.
  virtual bool touch_writes(const SessionEntry& entry) const {
    (void)entry;
    return false;
  }
  // Drops every expired session; returns how many (a store that expires its
  // sessions itself drops none here).
  virtual size_t sweep() = 0;
  // How many sessions this process keeps (none for a shared store).
  virtual size_t size() const = 0;
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

// Sessions in this process's memory: lost when the process ends.
class MemorySessionStore final : public SessionStore {
 public:
  // `clock` gives the present time; the tests pass one they can move on.
  explicit MemorySessionStore(SteadyClock clock, SessionLimits limits = {});

  std::shared_ptr<SessionEntry> find(std::string_view id) override;
  std::string renew(std::string_view old_id, std::shared_ptr<SessionEntry> entry) override;
  void remove(std::string_view id) override;
  void touch(SessionEntry& entry) override;
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

// Times of the shared store.
struct SharedSessionTimes {
  std::chrono::milliseconds server_timeout{2'000}; // to connect to or hear from the server
  // A request that changes nothing writes the session only to restart its
  // expiry, and at most once in this time; the session's key lives this much
  // longer than its time-out, so that it never ends early.
  std::chrono::milliseconds renew_after{60'000};
};

// Makes the store `setting` names: "memory" (or empty) for this process's
// memory, "redis://host:port/db" for a Redis server. Throws
// std::invalid_argument for any other text. Connects lazily: a Redis server
// that is not up yet is tried again at each request. A Redis store keeps the
// per-account cap of `limits` (the Redis server's own memory policy stands
// for the total cap).
std::unique_ptr<SessionStore> make_session_store(const std::string& setting, SteadyClock clock,
                                                 SharedSessionTimes times = {}, SessionLimits limits = {});

// Whether the store `setting` names can be used now, for a check before the
// server listens: a Redis server must answer a PING within the server
// time-out; memory always can. Returns what is wrong, on one line, or nullopt.
std::optional<std::string> session_store_problem(const std::string& setting,
                                                 SharedSessionTimes times = {});

// The session's state as the shared store keeps it, and back. Objects are not
// kept (they live in one process); every other item keeps its type and value.
std::string encode_session(const MemorySession& state);
// Fills `state` from encode_session's text; false (state partly filled) for a
// text that is not one.
bool decode_session(std::string_view text, MemorySession& state);
// One request's change of a session applied to the session as another request
// left it meanwhile (all three encode_session's texts): the items `mine` sets
// to other values than `before` had, and its time-out and code page when they
// differ from `before`'s, over `current`. nullopt when a text is not a session.
std::optional<std::string> merge_session_change(std::string_view before, std::string_view mine,
                                                std::string_view current);

// A fresh session id: 128 bits from the system's cryptographic generator, in hex.
std::string new_session_id();

// The session of one request as the page sees it. Remembers whether the
// request stored anything, so that a visit that leaves no state behind (a
// crawler, a request without cookies) creates no session.
class RequestSession : public Session {
 public:
  explicit RequestSession(MemorySession& state) : state_(state) {}
  Variant item(std::string_view key) const override { return state_.item(key); }
  void set_item(std::string_view key, Variant value) override {
    state_.set_item(key, std::move(value));
    modified_ = true;
  }
  void set_code_page(int code_page) override { state_.set_code_page(code_page); }
  int code_page() const override { return state_.code_page(); }
  void set_timeout(int minutes) override { state_.set_timeout(minutes); }
  int timeout() const override { return state_.timeout(); }
  // True once the request has stored an item.
  bool modified() const { return modified_; }

 private:
  MemorySession& state_;
  bool modified_ = false;
};

// The session of one request, held (and so locked against the session's other
// requests) from before the page runs until its reply is made: the session of
// the request's cookie, or a new one whose SystemURL item is `system_url`.
class SessionScope {
 public:
  // `secure_cookies` adds the Secure flag to the cookie of a new session id.
  SessionScope(SessionStore& store, const HttpRequest& request, std::string_view system_url,
               bool secure_cookies);
  // The same, with the session the store gave for the request's id read
  // ahead (`found`, null for none) rather than asked for here.
  SessionScope(SessionStore& store, const HttpRequest& request, std::string_view system_url,
               bool secure_cookies, std::shared_ptr<SessionEntry> found);
  SessionScope(const SessionScope&) = delete;
  SessionScope& operator=(const SessionScope&) = delete;

  RequestSession& view() { return *view_; }
  // The session keeps its state under a fresh id after this request.
  void renew() { renew_ = true; }
  // The session is forgotten after this request, and its cookie with it.
  void end() { ended_ = true; }
  // Records the session after the request and adds its cookie when it is new
  // (or renewed), or the cookie's removal when it ended.
  void finish(HttpReply& reply);
  // Whether finish() would write to the store.
  bool finish_writes() const;

 private:
  SessionScope(SessionStore& store, const HttpRequest& request, std::string_view system_url,
               bool secure_cookies, std::shared_ptr<SessionEntry> found, bool ask);
  SessionStore& store_;
  bool secure_;
  std::string id_;
  std::shared_ptr<SessionEntry> entry_;
  bool is_new_ = false;
  bool renew_ = false;
  bool ended_ = false;
  std::unique_lock<std::mutex> lock_;
  std::optional<RequestSession> view_;
};

}  // namespace oapx1

#endif  // OAPX1_SERVER_SESSIONS_H_
