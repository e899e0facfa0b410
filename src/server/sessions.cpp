#include "server/sessions.h"

#include <random>

namespace oapx1 {

SessionStore::SessionStore(SteadyClock clock) : clock_(std::move(clock)) {}

bool SessionStore::expired(const SessionEntry& entry,
                           std::chrono::steady_clock::time_point now) const {
  const int minutes = std::max(1, entry.timeout_minutes.load());
  return now - entry.last_access > std::chrono::minutes(minutes);
}

std::shared_ptr<SessionEntry> SessionStore::find(std::string_view id) {
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

std::string SessionStore::add(std::shared_ptr<SessionEntry> entry) {
  return renew({}, std::move(entry));
}

std::string SessionStore::renew(std::string_view old_id, std::shared_ptr<SessionEntry> entry) {
  const auto now = clock_();
  std::lock_guard<std::mutex> guard(mutex_);
  if (auto it = sessions_.find(old_id); it != sessions_.end()) sessions_.erase(it);
  std::string id;
  do {
    id = new_session_id();
  } while (sessions_.count(id) != 0);
  entry->last_access = now;
  entry->timeout_minutes = entry->state.timeout();
  sessions_.emplace(id, std::move(entry));
  return id;
}

void SessionStore::remove(std::string_view id) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (auto it = sessions_.find(id); it != sessions_.end()) sessions_.erase(it);
}

void SessionStore::touch(SessionEntry& entry) {
  const auto now = clock_();
  std::lock_guard<std::mutex> guard(mutex_);
  entry.timeout_minutes = entry.state.timeout();
  entry.last_access = now;
}

size_t SessionStore::sweep() {
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

size_t SessionStore::size() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return sessions_.size();
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

}  // namespace oapx1
