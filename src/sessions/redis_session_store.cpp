#include "sessions/redis_session_store.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "platform/web/event_log.h"
#include "sessions/session_encoding.h"

namespace oapx1 {

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

void unavailable(const std::exception& e) {
  event_log().write(kEventError, std::string("oapx1 serve: session store: ") + e.what());
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

// Whether a session read as `hold` and now `mine` is to be written at `now`:
// when it changed, or when its expiry is due for renewal, `renew_after`
// after the last (a renewal time ahead of this host's clock, as clocks of
// hosts differ, counts as due).
bool due(const RedisHold& hold, const std::string& mine, long long now, std::chrono::milliseconds renew_after) {
  return mine != hold.read.text || std::llabs(now - hold.read.renewed_ms) >= renew_after.count();
}

}  // namespace

RedisSessionStore::RedisSessionStore(RedisAddress address, SharedSessionTimes times, SessionLimits limits)
    : client_(std::make_unique<RedisClient>(std::move(address), times.server_timeout)),
      times_(times),
      limits_(limits) {}

RedisSessionStore::~RedisSessionStore() = default;

const RedisAddress& RedisSessionStore::address() const { return client_->address(); }

std::vector<std::string> RedisSessionStore::find_command(std::string_view id) const {
  return {"GET", session_key(id)};
}

std::shared_ptr<SessionEntry> RedisSessionStore::find(std::string_view id) {
  try {
    return found(id, client_->run(find_command(id)));
  } catch (const std::exception& e) {
    unavailable(e);
    return nullptr;  // reported as a lost session: the page sends the user to sign in
  }
}

std::shared_ptr<SessionEntry> RedisSessionStore::found(std::string_view id, const RedisReply& reply) {
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

std::string RedisSessionStore::renew(std::string_view old_id, std::shared_ptr<SessionEntry> entry) {
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

bool RedisSessionStore::remove(std::string_view id) {
  try {
    checked(client_->run({"DEL", session_key(id)}));
    return true;
  } catch (const std::exception& e) {
    unavailable(e);
    return false;
  }
}

bool RedisSessionStore::touch_writes(const SessionEntry& entry) const {
  auto* hold = dynamic_cast<RedisHold*>(entry.hold.get());
  return !entry.id.empty() && hold && due(*hold, encode_session(entry.state), wall_ms(), times_.renew_after);
}

void RedisSessionStore::touch(SessionEntry& entry) {
  if (entry.id.empty()) return;
  auto* hold = dynamic_cast<RedisHold*>(entry.hold.get());
  if (!hold) return;  // never read from this store: nothing to compare with
  const std::string mine = encode_session(entry.state);
  const long long now = wall_ms();
  const bool changed = mine != hold->read.text;
  if (!due(*hold, mine, now, times_.renew_after)) return;
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

std::string RedisSessionStore::expiry_seconds(const MemorySession& state) const {
  const long long renew_s = (times_.renew_after.count() + 999) / 1000;
  return std::to_string(std::max(1, state.timeout()) * 60LL + renew_s);
}

void RedisSessionStore::count_account_session(const SessionEntry& entry, std::string_view old_id) {
  const std::string account = session_account(entry.state);
  if (account.empty() || limits_.per_account == 0) return;
  try {
    checked(client_->run({"EVAL", kCountAccountSession, "1", std::string(kAccountKey) + account, entry.id,
                          std::to_string(wall_ms()), std::to_string(limits_.per_account),
                          std::string(old_id)}));
  } catch (const std::exception& e) {
    unavailable(e);
  }
}

std::optional<std::string> redis_session_store_problem(const RedisAddress& address, SharedSessionTimes times) {
  try {
    RedisClient client(address, times.server_timeout);
    const RedisReply reply = client.run({"PING"});
    if (reply.kind == RedisReply::Kind::kError) return "the Redis server answered: " + reply.text;
  } catch (const std::exception& e) {
    return std::string(e.what());
  }
  return std::nullopt;
}

}  // namespace oapx1
