#include "server/sessions.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <thread>

#include "platform/kv/redis_client.h"
#include "platform/text/ascii.h"
#include "platform/web/event_log.h"

namespace oapx1 {

// ---------------------------------------------------------------------------
// In memory

size_t default_session_cap() {
  constexpr size_t kLeast = 10'000;
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page_size <= 0) return kLeast;
  const size_t memory = static_cast<size_t>(pages) * static_cast<size_t>(page_size);
  return std::max(kLeast, memory / 8 / kSessionBudgetBytes);
}

namespace {

// The account a session is counted under: its UserName, in lower case.
std::string account_of(const SessionEntry& entry) { return ascii_lower(entry.state.item("UserName").str()); }

}  // namespace

MemorySessionStore::MemorySessionStore(SteadyClock clock, SessionLimits limits)
    : clock_(std::move(clock)), limits_(limits) {
  if (limits_.total == 0) limits_.total = default_session_cap();
}

bool MemorySessionStore::expired(const SessionEntry& entry,
                                 std::chrono::steady_clock::time_point now) const {
  const int minutes = std::max(1, entry.timeout_minutes.load());
  return now - entry.last_access > std::chrono::minutes(minutes);
}

void MemorySessionStore::erase(Sessions::iterator it) {
  Slot& slot = it->second;
  recent_.erase(slot.recent);
  if (!slot.account.empty()) {
    auto account = by_account_.find(slot.account);
    if (account != by_account_.end()) {
      std::erase(account->second, it);
      if (account->second.empty()) by_account_.erase(account);
    }
  }
  sessions_.erase(it);
}

std::shared_ptr<SessionEntry> MemorySessionStore::find(std::string_view id) {
  const auto now = clock_();
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = sessions_.find(id);
  if (it == sessions_.end()) return nullptr;
  if (expired(*it->second.entry, now)) {
    erase(it);
    return nullptr;
  }
  it->second.entry->last_access = now;
  recent_.splice(recent_.begin(), recent_, it->second.recent);
  return it->second.entry;
}

std::string MemorySessionStore::renew(std::string_view old_id, std::shared_ptr<SessionEntry> entry) {
  const auto now = clock_();
  std::string account = account_of(*entry);
  std::lock_guard<std::mutex> guard(mutex_);
  if (auto it = sessions_.find(old_id); it != sessions_.end()) erase(it);
  std::string id;
  do {
    id = new_session_id();
  } while (sessions_.count(id) != 0);
  entry->last_access = now;
  entry->timeout_minutes = entry->state.timeout();
  entry->id = id;
  const auto it = sessions_.emplace(id, Slot{std::move(entry), {}, std::move(account)}).first;
  recent_.push_front(it);
  it->second.recent = recent_.begin();
  if (!it->second.account.empty()) {
    std::vector<Sessions::iterator>& own = by_account_[it->second.account];
    own.push_back(it);
    // The account's oldest sign-ins go first; the new one is last.
    if (limits_.per_account > 0) {
      while (own.size() > limits_.per_account) erase(own.front());
    }
  }
  // The least recently used go first; the new one is the most recent.
  while (sessions_.size() > limits_.total) erase(recent_.back());
  return id;
}

void MemorySessionStore::remove(std::string_view id) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (auto it = sessions_.find(id); it != sessions_.end()) erase(it);
}

void MemorySessionStore::touch(SessionEntry& entry) {
  const auto now = clock_();
  std::lock_guard<std::mutex> guard(mutex_);
  entry.timeout_minutes = entry.state.timeout();
  entry.last_access = now;
  // A session the caps dropped while its request ran stays dropped.
  if (auto it = sessions_.find(entry.id); it != sessions_.end() && it->second.entry.get() == &entry) {
    recent_.splice(recent_.begin(), recent_, it->second.recent);
  }
}

size_t MemorySessionStore::sweep() {
  const auto now = clock_();
  std::lock_guard<std::mutex> guard(mutex_);
  size_t dropped = 0;
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    const auto next = std::next(it);
    if (expired(*it->second.entry, now)) {
      erase(it);
      ++dropped;
    }
    it = next;
  }
  return dropped;
}

size_t MemorySessionStore::size() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return sessions_.size();
}

// ---------------------------------------------------------------------------
// Encoding: "<time-out minutes>\n<JSON>", the minutes first so that the
// server's scripts can restart a session's expiry without reading the JSON.

std::string encode_session(const MemorySession& state) {
  nlohmann::json items = nlohmann::json::array();
  for (const auto& [name, value] : state.items()) {
    nlohmann::json v;
    switch (value.type()) {
      case Variant::Type::kEmpty:
        v = {name, "e"};
        break;
      case Variant::Type::kNull:
        v = {name, "n"};
        break;
      case Variant::Type::kBoolean:
        v = {name, "b", value.boolean()};
        break;
      case Variant::Type::kInteger:
        v = {name, "i", value.integer()};
        break;
      case Variant::Type::kDouble:
        v = {name, "r", value.real()};
        break;
      case Variant::Type::kDate:
        v = {name, "d", value.date().serial};
        break;
      case Variant::Type::kText:
        v = {name, "t", value.text()};
        break;
      case Variant::Type::kObject:
        continue;  // an object lives in one process only
    }
    items.push_back(std::move(v));
  }
  const nlohmann::json doc = {{"codepage", state.code_page()}, {"items", std::move(items)}};
  // Texts are UTF-8 already; anything else is replaced rather than failing the save.
  return std::to_string(std::max(1, state.timeout())) + "\n" +
         doc.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool decode_session(std::string_view text, MemorySession& state) {
  const size_t newline = text.find('\n');
  if (newline == std::string_view::npos) return false;
  try {
    state.set_timeout(std::stoi(std::string(text.substr(0, newline))));
    const nlohmann::json doc = nlohmann::json::parse(text.substr(newline + 1));
    state.set_code_page(doc.at("codepage").get<int>());
    for (const nlohmann::json& v : doc.at("items")) {
      const std::string name = v.at(0).get<std::string>();
      const std::string type = v.at(1).get<std::string>();
      Variant value;
      if (type == "n") {
        value = Variant::null();
      } else if (type == "b") {
        value = Variant(v.at(2).get<bool>());
      } else if (type == "i") {
        value = Variant(v.at(2).get<long long>());
      } else if (type == "r") {
        value = Variant(v.at(2).get<double>());
      } else if (type == "d") {
        value = Variant(DateTime{v.at(2).get<double>()});
      } else if (type == "t") {
        value = Variant(v.at(2).get<std::string>());
      } else if (type != "e") {
        return false;
      }
      state.set_item(name, std::move(value));
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// ---------------------------------------------------------------------------
// On Redis

namespace {

// Takes the session's lock when it is free and reads the session, restarting
// its expiry: {1, state}; {1} when there is no such session (the lock is not
// kept); {0} while another request holds the lock.
constexpr const char* kLockAndRead = R"lua(
if not redis.call('set', KEYS[2], ARGV[1], 'NX', 'PX', ARGV[2]) then return {0} end
local state = redis.call('get', KEYS[1])
if not state then
  redis.call('del', KEYS[2])
  return {1}
end
local minutes = tonumber(string.match(state, '^(%d+)')) or 20
redis.call('expire', KEYS[1], minutes * 60)
return {1, state}
)lua";

// Releases a lock when it is still this request's.
constexpr const char* kRelease = R"lua(
if redis.call('get', KEYS[1]) == ARGV[1] then return redis.call('del', KEYS[1]) end
return 0
)lua";

// Writes a session that still exists (a signed-out or expired one stays
// gone), restarts its expiry and releases the request's lock.
constexpr const char* kSaveAndRelease = R"lua(
redis.call('set', KEYS[1], ARGV[1], 'XX', 'EX', ARGV[2])
if redis.call('get', KEYS[2]) == ARGV[3] then redis.call('del', KEYS[2]) end
return 1
)lua";

// Keeps a session under a new id, dropping the old id and releasing its lock;
// 0 when the new id is taken.
constexpr const char* kMove = R"lua(
if not redis.call('set', KEYS[1], ARGV[1], 'NX', 'EX', ARGV[2]) then return 0 end
if KEYS[2] ~= KEYS[1] then redis.call('del', KEYS[2]) end
if redis.call('get', KEYS[3]) == ARGV[3] then redis.call('del', KEYS[3]) end
return 1
)lua";

// Counts a new session of an account (KEYS[1], the account's sorted set of
// session ids by sign-in time) and drops the account's oldest sessions beyond
// the cap: ARGV[1] the new id, ARGV[2] its time in milliseconds (made later
// than the newest, so that sign-ins keep their order), ARGV[3] the cap,
// ARGV[4] the id it replaces. Ids of sessions that expired or ended are
// pruned first, so the set holds no more than the cap.
constexpr const char* kCountAccountSession = R"lua(
redis.call('zrem', KEYS[1], ARGV[4])
local score = tonumber(ARGV[2])
local newest = redis.call('zrange', KEYS[1], -1, -1, 'WITHSCORES')
if newest[2] and tonumber(newest[2]) >= score then score = tonumber(newest[2]) + 1 end
redis.call('zadd', KEYS[1], score, ARGV[1])
for _, id in ipairs(redis.call('zrange', KEYS[1], 0, -1)) do
  if redis.call('exists', 'oapx1:session:' .. id) == 0 then redis.call('zrem', KEYS[1], id) end
end
local over = redis.call('zcard', KEYS[1]) - tonumber(ARGV[3])
if over <= 0 then return 0 end
for _, id in ipairs(redis.call('zrange', KEYS[1], 0, over - 1)) do
  redis.call('del', 'oapx1:session:' .. id)
  redis.call('zrem', KEYS[1], id)
end
return over
)lua";

constexpr std::string_view kSessionKey = "oapx1:session:";
constexpr std::string_view kLockKey = "oapx1:session-lock:";
constexpr std::string_view kAccountKey = "oapx1:account-sessions:";

std::string session_key(std::string_view id) { return std::string(kSessionKey) + std::string(id); }
std::string lock_key(std::string_view id) { return std::string(kLockKey) + std::string(id); }

// A reply the store can work with; an error reply (a server still loading
// its data, say) counts as the server being unavailable.
RedisReply checked(RedisReply reply) {
  if (reply.kind == RedisReply::Kind::kError) throw RedisUnavailable("Redis: " + reply.text);
  return reply;
}

// The lock on one session for one request; released when dropped, unless a
// save already released it.
class RedisHold final : public SessionHold {
 public:
  RedisHold(std::shared_ptr<RedisClient> client, std::string id, std::string token)
      : client_(std::move(client)), id_(std::move(id)), token_(std::move(token)) {}
  ~RedisHold() override {
    if (token_.empty()) return;
    try {
      client_->run({"EVAL", kRelease, "1", lock_key(id_), token_});
    } catch (const std::exception&) {
      // The lock expires on its own.
    }
  }
  const std::string& token() const { return token_; }
  void released() { token_.clear(); }

 private:
  std::shared_ptr<RedisClient> client_;
  std::string id_;
  std::string token_;  // the lock's value; empty once released
};

class RedisSessionStore final : public SessionStore {
 public:
  RedisSessionStore(RedisAddress address, SharedSessionTimes times, SessionLimits limits)
      : client_(std::make_shared<RedisClient>(std::move(address), times.server_timeout)),
        times_(times),
        limits_(limits) {}

  std::shared_ptr<SessionEntry> find(std::string_view id) override {
    try {
      const std::string token = new_session_id();
      const auto deadline = std::chrono::steady_clock::now() + times_.lock_wait;
      auto pause = std::chrono::milliseconds(2);
      for (;;) {
        RedisReply r = checked(client_->run({"EVAL", kLockAndRead, "2", session_key(id), lock_key(id),
                                             token, std::to_string(times_.lock_expiry.count())}));
        if (r.kind != RedisReply::Kind::kArray || r.items.empty()) {
          throw RedisUnavailable("Redis: unexpected reply");
        }
        if (r.items[0].integer == 1) {
          if (r.items.size() < 2 || r.items[1].kind != RedisReply::Kind::kString) return nullptr;
          auto entry = load(id, r.items[1].text);
          if (entry) entry->hold = std::make_unique<RedisHold>(client_, std::string(id), token);
          return entry;
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(10));
      }
      // The session's other request has outlasted the wait (its host may be
      // stuck): this one goes on without the lock rather than hang.
      event_log().write(kEventError, "oapx1 serve: session lock wait ended; going on without it");
      RedisReply r = checked(client_->run({"GET", session_key(id)}));
      if (r.kind != RedisReply::Kind::kString) return nullptr;
      return load(id, r.text);
    } catch (const std::exception& e) {
      unavailable(e);
      return nullptr;  // reported as a lost session: the page sends the user to sign in
    }
  }

  std::string renew(std::string_view old_id, std::shared_ptr<SessionEntry> entry) override {
    auto* hold = dynamic_cast<RedisHold*>(entry->hold.get());
    const std::string state = encode_session(entry->state);
    const std::string seconds = std::to_string(std::max(1, entry->state.timeout()) * 60);
    std::string id;
    try {
      for (int attempt = 0; attempt < 8; ++attempt) {
        id = new_session_id();
        RedisReply r = checked(client_->run({"EVAL", kMove, "3", session_key(id),
                                             session_key(old_id), lock_key(old_id), state, seconds,
                                             hold ? hold->token() : std::string()}));
        if (r.integer == 1) {
          if (hold) hold->released();
          break;
        }
      }
    } catch (const std::exception& e) {
      unavailable(e);
      // Nothing was kept: the browser keeps the id it came with, so that its
      // session, still in the store, is found again once the store is back.
      if (!old_id.empty()) id = std::string(old_id);
      entry->id = id;
      return id;
    }
    entry->id = id;
    count_account_session(*entry, old_id);
    return id;
  }

  void remove(std::string_view id) override {
    try {
      checked(client_->run({"DEL", session_key(id)}));
    } catch (const std::exception& e) {
      unavailable(e);
    }
  }

  void touch(SessionEntry& entry) override {
    if (entry.id.empty()) return;
    auto* hold = dynamic_cast<RedisHold*>(entry.hold.get());
    try {
      checked(client_->run({"EVAL", kSaveAndRelease, "2", session_key(entry.id), lock_key(entry.id),
                            encode_session(entry.state),
                            std::to_string(std::max(1, entry.state.timeout()) * 60),
                            hold ? hold->token() : std::string()}));
      if (hold) hold->released();
    } catch (const std::exception& e) {
      unavailable(e);
    }
  }

  size_t sweep() override { return 0; }  // Redis expires the sessions
  size_t size() const override { return 0; }

 private:
  std::shared_ptr<SessionEntry> load(std::string_view id, const std::string& text) {
    auto entry = std::make_shared<SessionEntry>();
    if (!decode_session(text, entry->state)) {
      event_log().write(kEventError, "oapx1 serve: a shared session could not be read; dropped");
      return nullptr;
    }
    entry->id = std::string(id);
    entry->timeout_minutes = entry->state.timeout();
    entry->last_access = std::chrono::steady_clock::now();
    return entry;
  }

  void unavailable(const std::exception& e) {
    event_log().write(kEventError, std::string("oapx1 serve: session store: ") + e.what());
  }

  // Counts a session just kept under a new id against its account's cap,
  // dropping the account's oldest sessions beyond it. A failure leaves the
  // session kept and uncounted.
  void count_account_session(const SessionEntry& entry, std::string_view old_id) {
    const std::string account = ascii_lower(entry.state.item("UserName").str());
    if (account.empty() || limits_.per_account == 0) return;
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    try {
      checked(client_->run({"EVAL", kCountAccountSession, "1", std::string(kAccountKey) + account, entry.id,
                            std::to_string(now.count()), std::to_string(limits_.per_account),
                            std::string(old_id)}));
    } catch (const std::exception& e) {
      unavailable(e);
    }
  }

  std::shared_ptr<RedisClient> client_;
  SharedSessionTimes times_;
  SessionLimits limits_;
};

}  // namespace

std::unique_ptr<SessionStore> make_session_store(const std::string& setting, SteadyClock clock,
                                                 SharedSessionTimes times, SessionLimits limits) {
  if (setting.empty() || setting == "memory") {
    return std::make_unique<MemorySessionStore>(std::move(clock), limits);
  }
  if (setting.rfind("redis://", 0) == 0) {
    return std::make_unique<RedisSessionStore>(parse_redis_url(setting), times, limits);
  }
  throw std::invalid_argument("session_store: expected memory or redis://host:port/db, not " + setting);
}

std::optional<std::string> session_store_problem(const std::string& setting,
                                                 SharedSessionTimes times) {
  if (setting.empty() || setting == "memory") return std::nullopt;
  try {
    const RedisAddress address = parse_redis_url(setting);
    RedisClient client(address, times.server_timeout);
    const RedisReply reply = client.run({"PING"});
    if (reply.kind == RedisReply::Kind::kError) return "the Redis server answered: " + reply.text;
  } catch (const std::exception& e) {
    return std::string(e.what());
  }
  return std::nullopt;
}

std::string new_session_id() {
  // libstdc++'s random_device reads the kernel's generator (getrandom or
  // /dev/urandom) or the processor's; each is fit for secrets.
  thread_local std::random_device device;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id;
  for (int word = 0; word < 4; ++word) {
    uint32_t bits = device();
    for (int i = 0; i < 8; ++i, bits >>= 4) id += kHex[bits & 0xF];
  }
  return id;
}

SessionScope::SessionScope(SessionStore& store, const HttpRequest& request, std::string_view system_url,
                           bool secure_cookies)
    : store_(store), secure_(secure_cookies) {
  id_ = cookie_value(request.cookie, kSessionCookie);
  if (!id_.empty()) entry_ = store.find(id_);
  if (!entry_) {
    entry_ = std::make_shared<SessionEntry>();
    entry_->state.set_item("SystemURL", Variant(std::string(system_url)));
    is_new_ = true;
  }
  lock_ = std::unique_lock<std::mutex>(entry_->mutex);
  view_.emplace(entry_->state);
}

void SessionScope::finish(HttpReply& reply) {
  if (ended_) {
    if (!is_new_) store_.remove(id_);
    reply.headers.emplace_back("Set-Cookie", std::string(kSessionCookie) +
                                                 "=; Path=/; Max-Age=0; HttpOnly; SameSite=Lax");
    return;
  }
  if (renew_ || (is_new_ && view_->modified())) {
    id_ = store_.renew(id_, entry_);
    reply.headers.emplace_back("Set-Cookie", std::string(kSessionCookie) + "=" + id_ +
                                                 "; Path=/; HttpOnly; SameSite=Lax" +
                                                 (secure_ ? "; Secure" : ""));
  } else if (!is_new_) {
    store_.touch(*entry_);
  }
}

}  // namespace oapx1
