// Results of reads kept by one engine connection, so that a read repeated
// while the database is unchanged is answered without running it again. The
// engine decides which reads may be kept (those whose answer depends on the
// data alone), names the tables each statement reads or writes, and supplies
// the database's version: a counter that changes whenever another
// connection commits (SQLite: PRAGMA data_version). A kept result is handed
// out only while the version it was read at holds and this connection has
// written none of the tables it read since. Knows no engine.
#ifndef OAPX1_PLATFORM_DATA_READ_RESULT_CACHE_H_
#define OAPX1_PLATFORM_DATA_READ_RESULT_CACHE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/call/call_context.h"
#include "platform/data/db_backend.h"
#include "platform/data/sql_dialect.h"

namespace oapx1 {

// What the answer of a statement depends on, judged from its text.
enum class ReadDependence : uint8_t {
  kData,      // a select (or with) that reads the data alone: its result may be kept
  kClock,     // a select that also reads the clock or random numbers, and writes nothing
  kAnything,  // anything else: it may write, or call what this rule does not know
};

// What the answer of `sql` (the engine's text, with its literals mostly
// lifted out as parameters) depends on. A select whose only calls are to
// functions that give the same answer for the same arguments depends on the
// data; one that also reads the clock or asks for random numbers, on the
// clock; a select that creates a table (select ... into), any other
// statement, or a call this rule does not name, on anything. The text is
// read as scan_sql reads it: literals, quoted names and comments are passed
// over, and a name is called when "(" follows it, across spaces or comments.
ReadDependence read_dependence(std::string_view sql);

// Used by one thread at a time, as its engine connection is.
class ReadResultCache {
 public:
  // The tables a statement reads (one that returns rows) or writes (any
  // other), by this cache's numbers for their names.
  struct Tables {
    std::vector<int> numbers;  // ascending, no repeats; empty when `every`
    bool every = true;         // it may touch tables it does not name
  };

  static constexpr size_t kDefaultMaxEntries = 128;
  static constexpr size_t kDefaultMaxRows = 1000;

  // Keeps at most `max_entries` results, dropping the least recently used
  // first, and no result of more than `max_rows` rows.
  explicit ReadResultCache(size_t max_entries = kDefaultMaxEntries, size_t max_rows = kDefaultMaxRows);

  // The tables named `names` (lower case, repeats allowed), numbered by this
  // cache; every table when `every` is set or `names` is empty. Shared, so
  // that keeping a result under them copies nothing.
  std::shared_ptr<const Tables> tables(const std::vector<std::string>& names, bool every);

  // Writes to `key` the key of statement `sql` run with `params`: kinds and
  // values are spelled out with their lengths, so that different values
  // never give the same key. `key` is a buffer of the caller's, so that a
  // lookup that hits allocates nothing.
  static void make_key(std::string_view sql, const std::vector<DbParam>& params, std::string& key);

  // The result kept under `key` (now the most recently used), when the
  // database is still at `version` and this connection has written none of
  // the tables it read since; nullptr otherwise. A version other than the
  // one the kept results were read at forgets them all. The caller reports
  // a result handed out to the call's watches (CallWatch::read_data) at
  // stamp().
  std::shared_ptr<const DbResult> find(std::string_view key, int64_t version);

  // Keeps `result`, read from `reads` with the database at `version` (or a
  // later version: never an earlier one), under `key`, replacing what was
  // kept there. Nothing is kept for a result of more rows than the bound. A
  // version other than the one the kept results were read at forgets them
  // all first. True when kept; the caller reports the read to the call's
  // watches: at stamp() when kept, else as a read nothing vouches for.
  bool keep(const std::string& key, int64_t version, std::shared_ptr<const DbResult> result,
            std::shared_ptr<const Tables> reads);

  // This connection wrote `written`: results read from any of them are no
  // longer handed out; none is when `written.every`.
  void wrote(const Tables& written);

  // Forgets every kept result: for a change the engine cannot put down to
  // tables (a script, another database attached, a cascade).
  void forget();

  // The number of results kept.
  size_t size() const { return entries_.size(); }

  // The state of these kept results with the database at `version` (a
  // version other than the one they were read at forgets them all first).
  // It changes with every forgetting and every write of this connection, so
  // that equal stamps mean the data read between them is unchanged.
  DataStamp stamp_at(int64_t version);
  // The state as it stands, without a look at the database.
  DataStamp stamp() const { return shared_source_ ? DataStamp{shared_source_, static_cast<uint64_t>(version_)}
                                                  : DataStamp{source_, epoch_}; }

  // Stamps from here on are the database's version under `source` (from
  // new_source()), the same for every connection to that database: for an
  // engine whose version is numbered for the whole process, changes with
  // every commit (this connection's own included), and whose results are
  // kept only outside transactions, so that the version alone proves the data
  // unchanged.
  void share_stamps(uint64_t source) { shared_source_ = source; }
  // A number for stamps, unique in the process.
  static uint64_t new_source();

 private:
  // A kept result, the tables it was read from, and the write clock's
  // reading when it was read.
  struct Entry {
    std::shared_ptr<const DbResult> result;
    std::shared_ptr<const Tables> reads;
    uint64_t read_at = 0;
  };

  // Forgets every kept result when `version` is not the one they were read at.
  void at_version(int64_t version);
  // The write clock's reading at this connection's last write to any of
  // `tables`; at its last write of all for every table.
  uint64_t last_write_to(const Tables& tables) const;

  size_t max_entries_;  // the most results kept
  size_t max_rows_;     // the most rows of one kept result
  uint64_t source_;     // this cache's number in the process, for stamps
  uint64_t epoch_ = 0;  // counts forgettings and writes, for stamps
  uint64_t shared_source_ = 0;  // see share_stamps(); 0: stamps of this cache's own
  LruMap<Entry> entries_;  // kept results by key, least recently used last
  int64_t version_ = -1;  // the database's version the kept results were read at
  // This connection's writes, counted, and the count at its last write to
  // each table, by the table's number.
  uint64_t write_clock_ = 0;
  std::unordered_map<std::string, int> table_numbers_;  // table name -> its number
  std::vector<uint64_t> written_at_;
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_DATA_READ_RESULT_CACHE_H_
