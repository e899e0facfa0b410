#include "platform/data/db_pool.h"

#include "platform/data/db_backend.h"

namespace oapx1 {

DbPool& DbPool::instance() {
  static DbPool pool;
  return pool;
}

std::shared_ptr<DbSession> DbPool::acquire(const std::string& connect_string) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = idle_.find(connect_string);
    if (it != idle_.end() && !it->second.empty()) {
      std::shared_ptr<DbSession> session = std::move(it->second.back());
      it->second.pop_back();
      return session;
    }
  }
  // Opening may take a while (a network round trip); not under the lock.
  return std::shared_ptr<DbSession>(open_db_session(connect_string));
}

void DbPool::release(const std::string& connect_string,
                     std::shared_ptr<DbSession> session) noexcept {
  if (!session || !session->reset_for_reuse()) return;
  std::shared_ptr<DbSession> surplus;  // closed outside the lock
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& idle = idle_[connect_string];
    if (idle.size() < kMaxIdlePerString) {
      idle.push_back(std::move(session));
    } else {
      surplus = std::move(session);
    }
  } catch (...) {
    // Out of memory for the list: the connection is simply closed.
  }
}

void DbPool::clear() {
  std::unordered_map<std::string, std::vector<std::shared_ptr<DbSession>>> closing;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing.swap(idle_);
  }
}

size_t DbPool::idle_count(const std::string& connect_string) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = idle_.find(connect_string);
  return it == idle_.end() ? 0 : it->second.size();
}

}  // namespace oapx1
