#include "server/sessions.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>

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

namespace {

// Sets one item of encode_session's list ([name, type, value]) in `state`;
// false for an item that is not one. Throws nlohmann's errors for a wrong shape.
bool decode_item(const nlohmann::json& v, MemorySession& state) {
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
  return true;
}

// The time-out minutes and the JSON document of encode_session's text.
bool split_session(std::string_view text, int& minutes, nlohmann::json& doc) {
  const size_t newline = text.find('\n');
  if (newline == std::string_view::npos) return false;
  minutes = std::stoi(std::string(text.substr(0, newline)));
  doc = nlohmann::json::parse(text.substr(newline + 1));
  return true;
}

}  // namespace

bool decode_session(std::string_view text, MemorySession& state) {
  try {
    int minutes = 0;
    nlohmann::json doc;
    if (!split_session(text, minutes, doc)) return false;
    state.set_timeout(minutes);
    state.set_code_page(doc.at("codepage").get<int>());
    for (const nlohmann::json& v : doc.at("items")) {
      if (!decode_item(v, state)) return false;
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::optional<std::string> merge_session_change(std::string_view before, std::string_view mine,
                                                std::string_view current) {
  MemorySession merged;
  if (!decode_session(current, merged)) return std::nullopt;
  try {
    int before_minutes = 0, mine_minutes = 0;
    nlohmann::json before_doc, mine_doc;
    if (!split_session(before, before_minutes, before_doc) || !split_session(mine, mine_minutes, mine_doc)) {
      return std::nullopt;
    }
    // Item names compare without regard to letter case, as the session's own.
    std::map<std::string, const nlohmann::json*> had;
    for (const nlohmann::json& v : before_doc.at("items")) had[ascii_lower(v.at(0).get<std::string>())] = &v;
    for (const nlohmann::json& v : mine_doc.at("items")) {
      const auto it = had.find(ascii_lower(v.at(0).get<std::string>()));
      if (it != had.end() && *it->second == v) continue;  // not this request's change
      if (!decode_item(v, merged)) return std::nullopt;
    }
    if (mine_minutes != before_minutes) merged.set_timeout(mine_minutes);
    const int mine_code_page = mine_doc.at("codepage").get<int>();
    if (mine_code_page != before_doc.at("codepage").get<int>()) merged.set_code_page(mine_code_page);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  return encode_session(merged);
}

// ---------------------------------------------------------------------------
// On Redis

namespace {

// A session on Redis is kept as "<minutes> <version> <renewed>\n<JSON>":
// encode_session's text with the session's version (bumped by every write,
// so that a write can tell whether another request wrote since its read) and
// the time its expiry was last restarted (milliseconds since 1970), which
// lets a request that changes nothing skip the write until the expiry is
// due for renewal. The key expires a minute after the time-out, so that
// renewing at most once a minute never ends a session early.

// Writes a session when its version is still ARGV[1]: 1 written; 0 another
// request wrote first; -1 the session is gone (signed out or expired: it
// stays gone).
constexpr const char* kSaveIfUnchanged = R"lua(
local state = redis.call('get', KEYS[1])
if not state then return -1 end
if (string.match(state, '^%d+ (%d+)') or '0') ~= ARGV[1] then return 0 end
redis.call('set', KEYS[1], ARGV[2], 'EX', ARGV[3])
return 1
)lua";

// Keeps a session under a new id, dropping the old id; 0 when the new id is
// taken.
constexpr const char* kMove = R"lua(
if not redis.call('set', KEYS[1], ARGV[1], 'NX', 'EX', ARGV[2]) then return 0 end
if KEYS[2] ~= KEYS[1] then redis.call('del', KEYS[2]) end
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
constexpr std::string_view kAccountKey = "oapx1:account-sessions:";

std::string session_key(std::string_view id) { return std::string(kSessionKey) + std::string(id); }

long long wall_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// A reply the store can work with; an error reply (a server still loading
// its data, say) counts as the server being unavailable.
RedisReply checked(RedisReply reply) {
  if (reply.kind == RedisReply::Kind::kError) throw RedisUnavailable("Redis: " + reply.text);
  return reply;
}

// A session as read from Redis: its version, when its expiry was restarted,
// and encode_session's text of it.
struct StoredSession {
  long long version = 0;
  long long renewed_ms = 0;
  std::string text;
};

// Splits the kept text; nullopt for one that is not a session. A text kept
// before versions were (minutes only) reads as version 0, due for renewal.
std::optional<StoredSession> parse_stored(std::string_view kept) {
  const size_t newline = kept.find('\n');
  if (newline == std::string_view::npos) return std::nullopt;
  StoredSession s;
  int minutes = 0;
  const std::string head(kept.substr(0, newline));
  if (std::sscanf(head.c_str(), "%d %lld %lld", &minutes, &s.version, &s.renewed_ms) < 1) return std::nullopt;
  s.text = std::to_string(minutes) + std::string(kept.substr(newline));
  return s;
}

// The kept text of encode_session's `text` at `version`, renewed at `renewed_ms`.
std::string stored_text(std::string_view text, long long version, long long renewed_ms) {
  const size_t newline = text.find('\n');
  return std::string(text.substr(0, newline)) + " " + std::to_string(version) + " " +
         std::to_string(renewed_ms) + std::string(text.substr(newline));
}

// What the store read for one request: what touch compares the session with
// and which version its write expects.
class RedisHold final : public SessionHold {
 public:
  explicit RedisHold(StoredSession read) : read(std::move(read)) {}
  StoredSession read;
};

class RedisSessionStore final : public SessionStore {
 public:
  RedisSessionStore(RedisAddress address, SharedSessionTimes times, SessionLimits limits)
      : client_(std::make_shared<RedisClient>(std::move(address), times.server_timeout)),
        times_(times),
        limits_(limits) {}

  // One GET: no lock and no write (touch writes only what changed).
  std::shared_ptr<SessionEntry> find(std::string_view id) override {
    try {
      return found(id, client_->run(find_command(id)));
    } catch (const std::exception& e) {
      unavailable(e);
      return nullptr;  // reported as a lost session: the page sends the user to sign in
    }
  }

  const RedisAddress* pipe_address() const override { return &client_->address(); }

  std::vector<std::string> find_command(std::string_view id) const override {
    return {"GET", session_key(id)};
  }

  std::shared_ptr<SessionEntry> found(std::string_view id, const RedisReply& reply) override {
    try {
      RedisReply r = checked(reply);
      if (r.kind != RedisReply::Kind::kString) return nullptr;
      std::optional<StoredSession> read = parse_stored(r.text);
      auto entry = std::make_shared<SessionEntry>();
      if (!read || !decode_session(read->text, entry->state)) {
        event_log().write(kEventError, "oapx1 serve: a shared session could not be read; dropped");
        return nullptr;
      }
      entry->id = std::string(id);
      entry->timeout_minutes = entry->state.timeout();
      entry->last_access = std::chrono::steady_clock::now();
      entry->hold = std::make_unique<RedisHold>(std::move(*read));
      return entry;
    } catch (const std::exception& e) {
      unavailable(e);
      return nullptr;  // reported as a lost session: the page sends the user to sign in
    }
  }

  std::string renew(std::string_view old_id, std::shared_ptr<SessionEntry> entry) override {
    const long long now = wall_ms();
    StoredSession kept{1, now, encode_session(entry->state)};
    const std::string state = stored_text(kept.text, kept.version, kept.renewed_ms);
    const std::string seconds = expiry_seconds(entry->state);
    std::string id;
    try {
      for (int attempt = 0; attempt < 8; ++attempt) {
        id = new_session_id();
        RedisReply r = checked(client_->run({"EVAL", kMove, "2", session_key(id), session_key(old_id), state, seconds}));
        if (r.integer == 1) break;
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
    entry->hold = std::make_unique<RedisHold>(std::move(kept));
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

  bool touch_writes(const SessionEntry& entry) const override {
    auto* hold = dynamic_cast<RedisHold*>(entry.hold.get());
    return !entry.id.empty() && hold && due(*hold, encode_session(entry.state), wall_ms());
  }

  // Writes the session only when the request changed it or its expiry is due
  // for renewal. The write expects the version the request read; when another
  // request wrote in between, this request's changes (the items it set, its
  // time-out and code page) are applied again to the session as it now is,
  // so that two requests changing different items both keep theirs; of two
  // changing the same item, the later write wins.
  void touch(SessionEntry& entry) override {
    if (entry.id.empty()) return;
    auto* hold = dynamic_cast<RedisHold*>(entry.hold.get());
    if (!hold) return;  // never read from this store: nothing to compare with
    const std::string mine = encode_session(entry.state);
    const long long now = wall_ms();
    const bool changed = mine != hold->read.text;
    if (!due(*hold, mine, now)) return;
    try {
      StoredSession base = hold->read;
      std::string next = mine;
      for (int attempt = 0; attempt < 8; ++attempt) {
        RedisReply r = checked(client_->run({"EVAL", kSaveIfUnchanged, "1", session_key(entry.id),
                                             std::to_string(base.version),
                                             stored_text(next, base.version + 1, now),
                                             expiry_seconds(entry.state)}));
        if (r.integer != 0) {
          if (r.integer == 1) hold->read = StoredSession{base.version + 1, now, next};
          return;
        }
        // Another request wrote first; its write restarted the expiry too.
        if (!changed) return;
        RedisReply again = checked(client_->run({"GET", session_key(entry.id)}));
        if (again.kind != RedisReply::Kind::kString) return;  // gone meanwhile
        std::optional<StoredSession> now_kept = parse_stored(again.text);
        std::optional<std::string> merged =
            now_kept ? merge_session_change(hold->read.text, mine, now_kept->text) : std::nullopt;
        if (!merged) {
          event_log().write(kEventError, "oapx1 serve: a shared session could not be read; its change is lost");
          return;
        }
        base = std::move(*now_kept);
        next = std::move(*merged);
      }
      event_log().write(kEventError, "oapx1 serve: a shared session kept changing; this request's change is lost");
    } catch (const std::exception& e) {
      unavailable(e);
    }
  }

  size_t sweep() override { return 0; }  // Redis expires the sessions
  size_t size() const override { return 0; }

 private:
  // Whether a session read as `hold` and now `mine` is to be written at
  // `now`: when it changed, or when its expiry is due for renewal (a renewal
  // time ahead of this host's clock, as clocks of hosts differ, counts as due).
  bool due(const RedisHold& hold, const std::string& mine, long long now) const {
    return mine != hold.read.text || std::llabs(now - hold.read.renewed_ms) >= times_.renew_after.count();
  }

  // The key's life: the time-out, and the minute renewal may lag behind.
  std::string expiry_seconds(const MemorySession& state) const {
    const long long renew_s = (times_.renew_after.count() + 999) / 1000;
    return std::to_string(std::max(1, state.timeout()) * 60LL + renew_s);
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
    try {
      checked(client_->run({"EVAL", kCountAccountSession, "1", std::string(kAccountKey) + account, entry.id,
                            std::to_string(wall_ms()), std::to_string(limits_.per_account),
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
    : SessionScope(store, request, system_url, secure_cookies, nullptr, true) {}

SessionScope::SessionScope(SessionStore& store, const HttpRequest& request, std::string_view system_url,
                           bool secure_cookies, std::shared_ptr<SessionEntry> found)
    : SessionScope(store, request, system_url, secure_cookies, std::move(found), false) {}

bool SessionScope::finish_writes() const {
  return ended_ || renew_ || (is_new_ && view_->modified()) || (!is_new_ && store_.touch_writes(*entry_));
}

SessionScope::SessionScope(SessionStore& store, const HttpRequest& request, std::string_view system_url,
                           bool secure_cookies, std::shared_ptr<SessionEntry> found, bool ask)
    : store_(store), secure_(secure_cookies) {
  id_ = cookie_value(request.cookie, kSessionCookie);
  if (!id_.empty()) entry_ = ask ? store.find(id_) : std::move(found);
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
    if (!is_new_) {
      store_.remove(id_);
      store_.count_end();
    }
    reply.headers.emplace_back("Set-Cookie", std::string(kSessionCookie) +
                                                 "=; Path=/; Max-Age=0; HttpOnly; SameSite=Lax");
    return;
  }
  if (renew_ || (is_new_ && view_->modified())) {
    id_ = store_.renew(id_, entry_);
    store_.count_end();
    reply.headers.emplace_back("Set-Cookie", std::string(kSessionCookie) + "=" + id_ +
                                                 "; Path=/; HttpOnly; SameSite=Lax" +
                                                 (secure_ ? "; Secure" : ""));
  } else if (!is_new_) {
    store_.touch(*entry_);
  }
}

}  // namespace oapx1
