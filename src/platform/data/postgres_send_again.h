// The reads a PostgreSQL connection sends again together: after a commit, the
// first read of a request misses its kept result, and so, one by one, would
// the reads that followed it the last time. The connection remembers them
// and sends them all in one round trip (a pipeline) at that first miss, as
// they were last sent, so that the page's next reads find them kept. Only
// the PostgreSQL engine's sources include it.
#ifndef OAPX1_PLATFORM_DATA_POSTGRES_SEND_AGAIN_H_
#define OAPX1_PLATFORM_DATA_POSTGRES_SEND_AGAIN_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/data/lru_map.h"
#include "platform/data/postgres_libpq.h"

namespace oapx1 {

// A read as it was last sent: its prepared statement, by its key in the
// connection's statement cache, and the values sent (none for a NULL).
struct PgSentRead {
  std::string statement;
  std::vector<std::optional<std::string>> values;
};

// One connection's memory of which reads follow which, and how each was
// sent. Requests are told apart by the number of their reads
// (RequestReads::current()), which the caller passes. Used by the
// connection's one thread at a time.
class PgSendAgain {
 public:
  // A read sent again, by its key, and its result.
  struct Answer {
    std::string key;
    pg::ResultPtr result;
  };

  // Notes the kept read `key` of the request `reads`: from the request's
  // first miss (`miss`) on, the reads that follow it are the ones to send
  // again with it. A request's notes are taken up when the connection's next
  // request begins.
  void note_read(uint64_t reads, const std::string& key, bool miss);

  // Remembers how the kept read `key` was sent, in place of what was
  // remembered before.
  void sent(const std::string& key, PgSentRead read) { sent_.insert(key, std::move(read), kSentKept); }

  // At `first`, the first miss of the request `reads`: when a request before
  // it began with the same miss, sends `first` and the reads that followed it
  // then in one pipeline on `conn`, as they were last sent, and returns
  // those that came back with rows, in the order sent (`first` first when it
  // did). `statement_name` gives a prepared statement's name on the server by
  // its key, null when the connection no longer has it: a read whose
  // statement is gone is left out. Empty, with nothing sent, once the
  // request has been here before, when `first` cannot be sent, or when it
  // would go alone. Fails with ScriptError when the connection cannot leave
  // the pipeline, or with kStatementTimedOut when the answers are not in by
  // `deadline` (pg::await_reply).
  std::vector<Answer> send(uint64_t reads, const std::string& first, PGconn* conn, pg::Deadline deadline,
                           const std::function<const std::string*(const std::string&)>& statement_name);

 private:
  static constexpr size_t kSentKept = 512;      // reads whose sending is remembered
  static constexpr size_t kFollowersKept = 64;  // first misses whose followers are remembered
  static constexpr size_t kMaxFollowers = 64;   // followers remembered for one first miss

  // The request being noted.
  struct Recording {
    uint64_t reads = 0;              // its number
    std::string first;               // its first miss
    std::vector<std::string> after;  // the reads after it
  };

  LruMap<PgSentRead> sent_;                     // how each kept read was last sent, by key
  LruMap<std::vector<std::string>> followers_;  // the reads that followed a first miss, by its key
  Recording recording_;                         // the request being noted
  uint64_t sent_again_ = 0;                     // the last request that sent reads again
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_DATA_POSTGRES_SEND_AGAIN_H_
