#include "platform/data/read_result_cache.h"

#include <algorithm>
#include <atomic>
#include <initializer_list>
#include <utility>

#include "platform/data/sql_scanner.h"
#include "platform/text/ascii.h"

namespace oapx1 {

namespace {

bool listed(std::string_view word, std::initializer_list<std::string_view> words) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

}  // namespace

ReadDependence read_dependence(std::string_view sql) {
  // Words that take a parenthesis without calling anything, and functions
  // that give the same answer for the same arguments.
  static const std::initializer_list<std::string_view> kCallable = {
      "in", "exists", "from", "join", "on", "where", "and", "or", "not", "as", "select", "union",
      "all", "when", "then", "else", "case", "by", "having", "using", "is", "with", "distinct",
      "between", "like", "glob", "intersect", "except", "over",
      "count", "sum", "min", "max", "avg", "total", "lower", "upper", "length", "coalesce",
      "ifnull", "nullif", "iif", "substr", "substring", "trim", "ltrim", "rtrim", "abs", "round",
      "cast", "replace", "instr", "typeof", "group_concat", "char", "unicode", "hex", "printf",
      "format", "strpos", "position", "char_length", "concat"};
  // Words and functions that read the clock or ask for random numbers, and
  // change nothing.
  static const std::initializer_list<std::string_view> kClockWords = {
      "current_timestamp", "current_date", "current_time", "localtimestamp", "localtime"};
  static const std::initializer_list<std::string_view> kClockCalls = {
      "now", "random", "clock_timestamp", "statement_timestamp", "transaction_timestamp",
      "timeofday", "localtimestamp", "current_timestamp", "current_time", "localtime",
      "datetime", "date", "time", "julianday", "strftime", "unixepoch", "randomblob"};
  const std::vector<SqlToken> tokens = scan_sql(sql);
  ReadDependence dependence = ReadDependence::kData;
  bool first = true;
  for (size_t i = 0; i < tokens.size(); ++i) {
    const SqlToken& t = tokens[i];
    if (!t.significant()) continue;
    if (t.kind != SqlTokenKind::kWord) {
      first = false;
      continue;
    }
    const std::string word = ascii_lower(t.text);
    if (first && word != "select" && word != "with") return ReadDependence::kAnything;
    first = false;
    if (word == "into") return ReadDependence::kAnything;
    size_t next = i + 1;
    while (next < tokens.size() && !tokens[next].significant()) ++next;
    const bool called = next < tokens.size() && tokens[next].kind == SqlTokenKind::kLParen;
    if (called && !listed(word, kCallable)) {
      if (!listed(word, kClockCalls)) return ReadDependence::kAnything;
      dependence = ReadDependence::kClock;
    } else if (!called && listed(word, kClockWords)) {
      dependence = ReadDependence::kClock;
    }
  }
  return dependence;
}

namespace {
std::atomic<uint64_t> next_source{1};
}  // namespace

uint64_t ReadResultCache::new_source() { return next_source.fetch_add(1, std::memory_order_relaxed); }

ReadResultCache::ReadResultCache(size_t max_entries, size_t max_rows)
    : max_entries_(max_entries), max_rows_(max_rows), source_(new_source()) {}

DataStamp ReadResultCache::stamp_at(int64_t version) {
  at_version(version);
  return stamp();
}

std::shared_ptr<const ReadResultCache::Tables> ReadResultCache::tables(const std::vector<std::string>& names,
                                                               bool every) {
  auto set = std::make_shared<Tables>();
  set->every = every || names.empty();
  if (set->every) return set;
  for (const std::string& name : names) {
    auto [it, added] = table_numbers_.try_emplace(name, static_cast<int>(table_numbers_.size()));
    if (added) written_at_.push_back(0);
    set->numbers.push_back(it->second);
  }
  std::sort(set->numbers.begin(), set->numbers.end());
  set->numbers.erase(std::unique(set->numbers.begin(), set->numbers.end()), set->numbers.end());
  return set;
}

void ReadResultCache::make_key(std::string_view sql, const std::vector<DbParam>& params, std::string& key) {
  key.clear();
  key += sql;
  for (const DbParam& p : params) {
    key += '\0';
    key += static_cast<char>('0' + static_cast<int>(p.kind));
    switch (p.kind) {
      case DbParam::Kind::kNull:
        break;
      case DbParam::Kind::kInteger:
        key += std::to_string(p.integer);
        break;
      case DbParam::Kind::kReal:
      case DbParam::Kind::kText:
      case DbParam::Kind::kDateTime:
        key += std::to_string(p.text.size());
        key += ':';
        key += p.text;
        if (p.kind == DbParam::Kind::kReal) {
          key += '=';
          key += std::to_string(p.real);
        }
        break;
    }
  }
}

std::shared_ptr<const DbResult> ReadResultCache::find(std::string_view key, int64_t version) {
  at_version(version);
  Entry* hit = entries_.find(key);
  if (!hit) return nullptr;
  if (last_write_to(*hit->reads) > hit->read_at) return nullptr;
  return hit->result;
}

bool ReadResultCache::keep(const std::string& key, int64_t version, std::shared_ptr<const DbResult> result,
                       std::shared_ptr<const Tables> reads) {
  at_version(version);
  if (!result || result->rows.size() > max_rows_ || max_entries_ == 0) return false;
  if (!reads) reads = std::make_shared<const Tables>();
  entries_.insert(key, Entry{std::move(result), std::move(reads), write_clock_}, max_entries_);
  return true;
}

void ReadResultCache::wrote(const Tables& written) {
  ++write_clock_;
  ++epoch_;
  if (written.every) {
    forget();
    return;
  }
  for (const int t : written.numbers) written_at_[static_cast<size_t>(t)] = write_clock_;
}

void ReadResultCache::forget() {
  ++epoch_;
  if (entries_.size() > 0) entries_.clear();
}

void ReadResultCache::at_version(int64_t version) {
  if (version == version_) return;
  forget();
  version_ = version;
}

uint64_t ReadResultCache::last_write_to(const Tables& tables) const {
  if (tables.every) return write_clock_;
  uint64_t last = 0;
  for (const int t : tables.numbers) last = std::max(last, written_at_[static_cast<size_t>(t)]);
  return last;
}

}  // namespace oapx1
