// The pool of engine connections, kept per connection string, so that opening
// a request's connection reuses an idle engine connection instead of making one.
#ifndef OAPX1_PLATFORM_DATA_DB_POOL_H_
#define OAPX1_PLATFORM_DATA_DB_POOL_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace oapx1 {

class DbSession;

class DbPool {
 public:
  // The process's pool.
  static DbPool& instance();

  // An idle engine connection of `connect_string` that the engine has not
  // closed meanwhile, or a new one when none is idle. While the string has
  // `max_open` connections open, waits up to `open_wait` for one to come back,
  // then fails with a provider failure; fails as open_db_session does.
  std::shared_ptr<DbSession> acquire(const std::string& connect_string);
  // Gives an engine connection back: kept for reuse when it is healthy (its
  // open transaction, if any, rolled back) and the string's idle list is not
  // full; closed otherwise. Never throws.
  void release(const std::string& connect_string, std::shared_ptr<DbSession> session) noexcept;
  // Closes every idle engine connection.
  void clear();
  // Idle engine connections kept for a string.
  size_t idle_count(const std::string& connect_string) const;
  // Engine connections of a string open now, in use or idle.
  size_t open_count(const std::string& connect_string) const;
  // Bounds the engine connections open per connection string (at least 1),
  // and how long a request waits for one at the bound.
  void set_limits(size_t max_open, std::chrono::milliseconds open_wait);
  // The bound on engine connections open per string (64 until set_limits).
  size_t max_open() const;
  // How long a request waits for a connection at the bound (10 s until set_limits).
  std::chrono::milliseconds open_wait() const;

  // With `on`, engine connections handed out from now on share one read
  // transaction among the reads of each use (see DbSession::set_shared_reads):
  // a request reads one snapshot, as fresh as the database when its first
  // read ran. Off by default: each statement then reads the latest commit.
  void set_request_snapshots(bool on) { request_snapshots_ = on; }

  // Idle engine connections kept per connection string.
  static constexpr size_t kMaxIdlePerString = 16;

  // While alive, the engine connection this thread next acquires is held for
  // the thread: each later acquire of the same connection string on this
  // thread, while it is not in use, gets it again as it was given back, with
  // its read transaction (one snapshot, see set_request_snapshots) and its
  // kept results; the scope's end gives it back to the pool (reset as
  // release does). An acquire while it is in use, or of another string,
  // goes to the pool as usual. For a request that only reads: a transaction
  // of a caller's own, left open, would carry over to the next use, which is
  // why it reads alone. Scopes do not nest: an inner one holds nothing.
  class ThreadHold {
   public:
    ThreadHold();
    ~ThreadHold();
    ThreadHold(const ThreadHold&) = delete;
    ThreadHold& operator=(const ThreadHold&) = delete;

   private:
    friend class DbPool;
    bool active_ = false;              // this scope is the thread's hold
    std::string connect_string_;       // the string of the held connection
    std::shared_ptr<DbSession> held_;  // the held connection; null until acquired
    bool in_use_ = false;              // acquired and not yet given back
  };

 private:
  mutable std::mutex mutex_;
  std::condition_variable returned_;  // a connection came back or was closed
  // Idle engine connections by connection string, the most recently returned last.
  std::unordered_map<std::string, std::vector<std::shared_ptr<DbSession>>> idle_;
  std::unordered_map<std::string, size_t> open_;  // open connections by string
  size_t max_open_ = 64;
  std::chrono::milliseconds open_wait_{10'000};
  // An engine connection from the idle list or a new one, as acquire hands out.
  std::shared_ptr<DbSession> acquire_pooled(const std::string& connect_string);
  // Gives an engine connection back to the idle list, as release does.
  void release_pooled(const std::string& connect_string, std::shared_ptr<DbSession> session) noexcept;
  std::atomic<bool> request_snapshots_{false};
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_DATA_DB_POOL_H_
