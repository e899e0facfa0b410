#include "platform/data/kept_results.h"

#include <algorithm>
#include <utility>

namespace oapx1 {

KeptResults::KeptResults(size_t max_entries, size_t max_rows)
    : max_entries_(max_entries), max_rows_(max_rows) {}

std::shared_ptr<const KeptResults::Tables> KeptResults::tables(const std::vector<std::string>& names,
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

void KeptResults::make_key(std::string_view sql, const std::vector<DbParam>& params, std::string& key) {
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

std::shared_ptr<const DbResult> KeptResults::find(std::string_view key, int64_t version) {
  at_version(version);
  Entry* hit = entries_.find(key);
  if (!hit) return nullptr;
  if (last_write_to(*hit->reads) > hit->read_at) return nullptr;
  return hit->result;
}

void KeptResults::keep(const std::string& key, int64_t version, std::shared_ptr<const DbResult> result,
                       std::shared_ptr<const Tables> reads) {
  at_version(version);
  if (!result || result->rows.size() > max_rows_ || max_entries_ == 0) return;
  if (!reads) reads = std::make_shared<const Tables>();
  entries_.insert(key, Entry{std::move(result), std::move(reads), write_clock_}, max_entries_);
}

void KeptResults::wrote(const Tables& written) {
  ++write_clock_;
  if (written.every) {
    forget();
    return;
  }
  for (const int t : written.numbers) written_at_[static_cast<size_t>(t)] = write_clock_;
}

void KeptResults::forget() {
  if (entries_.size() > 0) entries_.clear();
}

void KeptResults::at_version(int64_t version) {
  if (version == version_) return;
  forget();
  version_ = version;
}

uint64_t KeptResults::last_write_to(const Tables& tables) const {
  if (tables.every) return write_clock_;
  uint64_t last = 0;
  for (const int t : tables.numbers) last = std::max(last, written_at_[static_cast<size_t>(t)]);
  return last;
}

}  // namespace oapx1
