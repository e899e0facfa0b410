#include "platform/data/db_pool.h"

#include "platform/data/db_backend.h"
#include "platform/script/script_error.h"

namespace oapx1 {

namespace {

// The hold of this thread, if one is alive. Per thread: the host opens the
// hold around a request, and the page's connections acquire through it from
// deep in page code that passes nothing along.
constinit thread_local DbPool::ThreadHold* t_hold = nullptr;

}  // namespace

DbPool& DbPool::instance() {
  static DbPool pool;
  return pool;
}

DbPool::ThreadHold::ThreadHold() {
  if (t_hold) return;
  active_ = true;
  t_hold = this;
}

DbPool::ThreadHold::~ThreadHold() {
  if (!active_) return;
  t_hold = nullptr;
  // In use still (a connection object outliving the scope): its own release
  // gives it back.
  if (held_ && !in_use_) DbPool::instance().release_pooled(connect_string_, std::move(held_));
}

std::shared_ptr<DbSession> DbPool::acquire(const std::string& connect_string) {
  ThreadHold* hold = t_hold;
  if (!hold || hold->in_use_) return acquire_pooled(connect_string);
  if (!hold->held_) {
    hold->held_ = acquire_pooled(connect_string);
    hold->connect_string_ = connect_string;
  } else if (hold->connect_string_ != connect_string) {
    return acquire_pooled(connect_string);
  } else if (!hold->held_->alive()) {
    // The server closed it meanwhile: a fresh one is held instead.
    release_pooled(connect_string, std::move(hold->held_));
    hold->held_ = acquire_pooled(connect_string);
  }
  hold->in_use_ = true;
  return hold->held_;
}

void DbPool::release(const std::string& connect_string, std::shared_ptr<DbSession> session) noexcept {
  ThreadHold* hold = t_hold;
  if (hold && session && session == hold->held_) {
    hold->in_use_ = false;  // kept as it is for the thread's next acquire
    return;
  }
  release_pooled(connect_string, std::move(session));
}

std::shared_ptr<DbSession> DbPool::acquire_pooled(const std::string& connect_string) {
  std::vector<std::shared_ptr<DbSession>> dead;  // closed outside the lock
  {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto deadline = std::chrono::steady_clock::now() + open_wait_;
    for (;;) {
      auto& idle = idle_[connect_string];
      while (!idle.empty()) {
        std::shared_ptr<DbSession> session = std::move(idle.back());
        idle.pop_back();
        if (session->alive()) {
          session->set_shared_reads(request_snapshots_);
          return session;
        }
        // The server closed it (a restart): it goes, and a new one is made.
        dead.push_back(std::move(session));
        --open_[connect_string];
      }
      if (open_[connect_string] < max_open_) break;
      if (returned_.wait_until(lock, deadline) == std::cv_status::timeout &&
          open_[connect_string] >= max_open_ && idle_[connect_string].empty()) {
        throw ScriptError(err::kProviderFailure,
                          "No database connection became free in time; the pool is at its bound of " +
                              std::to_string(max_open_) + " connections.");
      }
    }
    ++open_[connect_string];
  }
  dead.clear();
  // Opening may take a while (a network round trip); not under the lock.
  try {
    std::shared_ptr<DbSession> session(open_db_session(connect_string));
    session->set_shared_reads(request_snapshots_);
    return session;
  } catch (...) {
    std::lock_guard<std::mutex> lock(mutex_);
    --open_[connect_string];
    returned_.notify_one();
    throw;
  }
}

void DbPool::release_pooled(const std::string& connect_string,
                            std::shared_ptr<DbSession> session) noexcept {
  if (!session) return;
  std::shared_ptr<DbSession> surplus;  // closed outside the lock
  const bool healthy = session->reset_for_reuse();
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& idle = idle_[connect_string];
    if (healthy && idle.size() < kMaxIdlePerString) {
      idle.push_back(std::move(session));
    } else {
      surplus = std::move(session);
      auto open = open_.find(connect_string);
      if (open != open_.end() && open->second > 0) --open->second;
    }
  } catch (...) {
    // Out of memory for the list: the connection is simply closed.
  }
  returned_.notify_one();
}

void DbPool::clear() {
  std::unordered_map<std::string, std::vector<std::shared_ptr<DbSession>>> closing;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing.swap(idle_);
    for (const auto& [string, sessions] : closing) {
      auto open = open_.find(string);
      if (open != open_.end()) open->second -= std::min(open->second, sessions.size());
    }
  }
  returned_.notify_all();
}

size_t DbPool::idle_count(const std::string& connect_string) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = idle_.find(connect_string);
  return it == idle_.end() ? 0 : it->second.size();
}

size_t DbPool::open_count(const std::string& connect_string) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = open_.find(connect_string);
  return it == open_.end() ? 0 : it->second;
}

size_t DbPool::max_open() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return max_open_;
}

std::chrono::milliseconds DbPool::open_wait() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_wait_;
}

void DbPool::set_limits(size_t max_open, std::chrono::milliseconds open_wait) {
  std::lock_guard<std::mutex> lock(mutex_);
  max_open_ = std::max<size_t>(1, max_open);
  open_wait_ = open_wait;
  returned_.notify_all();
}

}  // namespace oapx1
