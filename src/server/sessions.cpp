#include "server/sessions.h"

#include <nlohmann/json.hpp>

#include <random>
#include <stdexcept>
#include <thread>

#include "platform/kv/redis_client.h"
#include "platform/web/event_log.h"

namespace oapx1 {

// ---------------------------------------------------------------------------
// In memory

MemorySessionStore::MemorySessionStore(SteadyClock clock) : clock_(std::move(clock)) {}

bool MemorySessionStore::expired(const SessionEntry& entry,
                                 std::chrono::steady_clock::time_point now) const {
  const int minutes = std::max(1, entry.timeout_minutes.load());
  return now - entry.last_access > std::chrono::minutes(minutes);
}

std::shared_ptr<SessionEntry> MemorySessionStore::find(std::string_view id) {
  const auto now = clock_();
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = sessions_.find(id);
  if (it == sessions_.end()) return nullptr;
  if (expired(*it->second, now)) {
    sessions_.erase(it);
    return nullptr;
  }
  it->second->last_access = now;
  return it->second;
}

std::string MemorySessionStore::renew(std::string_view old_id, std::shared_ptr<SessionEntry> entry) {
  const auto now = clock_();
  std::lock_guard<std::mutex> guard(mutex_);
  if (auto it = sessions_.find(old_id); it != sessions_.end()) sessions_.erase(it);
  std::string id;
  do {
    id = new_session_id();
  } while (sessions_.count(id) != 0);
  entry->last_access = now;
  entry->timeout_minutes = entry->state.timeout();
  entry->id = id;
  sessions_.emplace(id, std::move(entry));
  return id;
}

void MemorySessionStore::remove(std::string_view id) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (auto it = sessions_.find(id); it != sessions_.end()) sessions_.erase(it);
}

void MemorySessionStore::touch(SessionEntry& entry) {
  const auto now = clock_();
  std::lock_guard<std::mutex> guard(mutex_);
  entry.timeout_minutes = entry.state.timeout();
  entry.last_access = now;
}

size_t MemorySessionStore::sweep() {
  const auto now = clock_();
  std::lock_guard<std::mutex> guard(mutex_);
  size_t dropped = 0;
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    if (expired(*it->second, now)) {
      it = sessions_.erase(it);
      ++dropped;
    } else {
      ++it;
    }
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

constexpr std::string_view kSessionKey = "oapx1:session:";
constexpr std::string_view kLockKey = "oapx1:session-lock:";

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
  RedisSessionStore(RedisAddress address, SharedSessionTimes times)
      : client_(std::make_shared<RedisClient>(std::move(address), times.server_timeout)),
        times_(times) {}

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
    }
    entry->id = id;
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

  std::shared_ptr<RedisClient> client_;
  SharedSessionTimes times_;
};

}  // namespace

std::unique_ptr<SessionStore> make_session_store(const std::string& setting, SteadyClock clock,
                                                 SharedSessionTimes times) {
  if (setting.empty() || setting == "memory") return std::make_unique<MemorySessionStore>(std::move(clock));
  if (setting.rfind("redis://", 0) == 0) {
    return std::make_unique<RedisSessionStore>(parse_redis_url(setting), times);
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
