// The threads that check and make password hashes, apart from the threads
// that run pages. Each hash takes about 64 MiB and a tenth of a second, so a
// burst of sign-ins run where pages run would hold every page thread and
// that much memory per thread; here at most `threads` hashes run at once
// (memory bounded by threads x one hash) and the rest wait in a bounded
// queue without holding a thread.
#ifndef OAPX1_PLATFORM_CRYPTO_PASSWORD_HASH_POOL_H_
#define OAPX1_PLATFORM_CRYPTO_PASSWORD_HASH_POOL_H_

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace oapx1 {

class PasswordHashPool {
 public:
  // Starts `threads` threads (at least one); at most `queue_limit` checks
  // wait for one. The first job of the pool makes the stand-in hash of
  // check(), so that the first check of an unknown account is no slower
  // than the others.
  PasswordHashPool(int threads, size_t queue_limit);
  // Stops, as stop() does.
  ~PasswordHashPool();
  PasswordHashPool(const PasswordHashPool&) = delete;
  PasswordHashPool& operator=(const PasswordHashPool&) = delete;

  // Queues a check of `password` against the hash `stored` and returns at
  // once; false (and nothing is run) when the queue is full or the pool is
  // stopping. On a pool thread, `done` is then called with
  // verify_password(stored, password). A `stored` that is no hash (an
  // unknown account, a plain-text password) is checked against a stand-in
  // hash instead and gives false, so that it takes the time of a real
  // check. `done` must not throw; if it does, the failure goes to the event
  // log.
  bool try_check(std::string stored, std::string password, std::function<void(bool matches)> done);

  // Drops the checks still waiting (their `done` is never called, what they
  // hold is released here) and waits for the running ones to end; later
  // checks are refused. Calling it again does nothing.
  void stop();

  // Checks running and waiting.
  size_t busy() const;

 private:
  void run();

  const size_t queue_limit_;
  mutable std::mutex mutex_;  // guards everything below but threads_
  std::condition_variable ready_;
  std::deque<std::function<void()>> jobs_;  // waiting for a thread
  size_t running_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_CRYPTO_PASSWORD_HASH_POOL_H_
