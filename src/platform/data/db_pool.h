// The pool of engine connections, kept per connection string, so that opening
// a request's connection reuses an idle engine connection instead of making one.
#ifndef OAPX1_PLATFORM_DATA_DB_POOL_H_
#define OAPX1_PLATFORM_DATA_DB_POOL_H_

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

  // An idle engine connection of `connect_string`, or a new one when none is
  // idle. Fails as open_db_session does.
  std::shared_ptr<DbSession> acquire(const std::string& connect_string);
  // Gives an engine connection back: kept for reuse when it is healthy (its
  // open transaction, if any, rolled back) and the string's idle list is not
  // full; closed otherwise. Never throws.
  void release(const std::string& connect_string, std::shared_ptr<DbSession> session) noexcept;
  // Closes every idle engine connection.
  void clear();
  // Idle engine connections kept for a string.
  size_t idle_count(const std::string& connect_string) const;

  // Idle engine connections kept per connection string.
  static constexpr size_t kMaxIdlePerString = 16;

 private:
  mutable std::mutex mutex_;
  // Idle engine connections by connection string, the most recently returned last.
  std::unordered_map<std::string, std::vector<std::shared_ptr<DbSession>>> idle_;
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_DATA_DB_POOL_H_
