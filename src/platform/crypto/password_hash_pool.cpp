#include "platform/crypto/password_hash_pool.h"

#include <algorithm>
#include <exception>

#include "platform/crypto/password_hash.h"
#include "platform/web/event_log.h"

namespace oapx1 {
namespace {

// A hash of no one's password, at the current cost: what an account that
// has no hash is checked against. Made once, on a pool thread.
const std::string& stand_in_hash() {
  static const std::string hash = hash_password("no account signs in with this");
  return hash;
}

}  // namespace

PasswordHashPool::PasswordHashPool(int threads, size_t queue_limit) : queue_limit_(queue_limit) {
  jobs_.emplace_back([] { stand_in_hash(); });
  for (int i = 0; i < std::max(1, threads); ++i) threads_.emplace_back([this] { run(); });
}

PasswordHashPool::~PasswordHashPool() { stop(); }

void PasswordHashPool::stop() {
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stopping_ = true;
    dropped.swap(jobs_);
  }
  ready_.notify_all();
  dropped.clear();  // outside the lock: what a job holds may take time to let go
  for (std::thread& t : threads_) {
    if (t.joinable()) t.join();
  }
}

bool PasswordHashPool::try_check(std::string stored, std::string password,
                                 std::function<void(bool matches)> done) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (stopping_ || jobs_.size() >= queue_limit_) return false;
    jobs_.emplace_back([stored = std::move(stored), password = std::move(password), done = std::move(done)] {
      // `done` is called whatever happens, so that every check is answered:
      // a check that fails (a damaged hash, no memory for it) matches nothing.
      bool matches = false;
      try {
        const bool hashed = is_password_hash(stored);
        matches = verify_password(hashed ? stored : stand_in_hash(), password) && hashed;
      } catch (...) {
        event_log().write(kEventError, "password check failed: " + failure_text(std::current_exception()));
      }
      done(matches);
    });
  }
  ready_.notify_one();
  return true;
}

size_t PasswordHashPool::busy() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return jobs_.size() + running_;
}

void PasswordHashPool::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    if (jobs_.empty()) return;  // stopping
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    ++running_;
    lock.unlock();
    try {
      job();
    } catch (...) {
      event_log().write(kEventError, "password check failed: " + failure_text(std::current_exception()));
    }
    job = nullptr;  // what the job holds goes before the pool counts it ended
    lock.lock();
    --running_;
  }
}

}  // namespace oapx1
