// A map of text keys that keeps only the entries used most recently: the
// data layer's caches of prepared statements, translations, judged texts and
// kept results are all one of these.
#ifndef OAPX1_PLATFORM_DATA_LRU_MAP_H_
#define OAPX1_PLATFORM_DATA_LRU_MAP_H_

#include <cstddef>
#include <functional>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace oapx1 {
namespace detail {

// Hashes text keys so that maps of them are looked up by views: a lookup
// copies nothing.
struct ViewHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

}  // namespace detail

// Values by text key, the least recently used dropped first once there are
// more than the capacity an insert names. A value that owns a resource frees
// it when destroyed (RAII), so dropping it is just erasing it. Not
// thread-safe: one owner uses it at a time.
template <class Value>
class LruMap {
 public:
  // The value of `key`, now the most recently used; nullptr when absent. The
  // pointer holds until that entry is erased or dropped.
  Value* find(std::string_view key) {
    auto it = index_.find(key);
    if (it == index_.end()) return nullptr;
    order_.splice(order_.begin(), order_, it->second);
    return &it->second->second;
  }
  // Stores `value` under `key` as the most recently used, replacing what was
  // there, then drops the least recently used entries beyond `capacity` (the
  // new one always stays); returns the stored value.
  Value& insert(const std::string& key, Value value, size_t capacity) {
    erase(key);
    order_.emplace_front(key, std::move(value));
    index_[key] = order_.begin();
    while (order_.size() > capacity && order_.size() > 1) {
      index_.erase(order_.back().first);
      order_.pop_back();
    }
    return order_.front().second;
  }
  // Drops the entry of `key`; nothing when absent.
  void erase(const std::string& key) {
    auto it = index_.find(key);
    if (it == index_.end()) return;
    order_.erase(it->second);
    index_.erase(it);
  }
  // Drops every entry.
  void clear() {
    index_.clear();
    order_.clear();
  }
  // The number of entries.
  size_t size() const { return order_.size(); }

 private:
  using Entries = std::list<std::pair<std::string, Value>>;
  Entries order_;  // most recently used first
  std::unordered_map<std::string, typename Entries::iterator, detail::ViewHash, std::equal_to<>>
      index_;  // key -> its entry in order_
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_DATA_LRU_MAP_H_
