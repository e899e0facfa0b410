#include "sessions/session_store.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>

#include "platform/files/type_lib.h"
#include "platform/text/ascii.h"

namespace oapx1 {

size_t default_session_cap() {
  constexpr size_t kLeast = 10'000;
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page_size <= 0) return kLeast;
  const size_t memory = static_cast<size_t>(pages) * static_cast<size_t>(page_size);
  return std::max(kLeast, memory / 8 / kSessionBudgetBytes);
}

std::string session_account(const MemorySession& state) { return ascii_lower(state.item("UserName").str()); }

std::string new_session_id() {
  // The kernel's generator, asked once per id: it keeps no state in this
  // process, so every thread and every store may draw from it at once.
  uint32_t words[4];
  secure_random_bytes(words, sizeof words);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id;
  id.reserve(32);
  for (uint32_t bits : words) {
    for (int i = 0; i < 8; ++i, bits >>= 4) id += kHex[bits & 0xF];
  }
  return id;
}

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
  std::string account = session_account(entry->state);
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

bool MemorySessionStore::remove(std::string_view id) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (auto it = sessions_.find(id); it != sessions_.end()) erase(it);
  return true;
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

}  // namespace oapx1
