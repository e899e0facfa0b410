#include "platform/web/memory_intrinsics.h"

#include <strings.h>

namespace oapx1 {

namespace {

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// Joins the values of every pair named `key`; false when there is none.
bool collect(const MemoryRequest::Pairs& pairs, std::string_view key, std::string& out) {
  bool found = false;
  for (const auto& [name, value] : pairs) {
    if (!same_name(name, key)) continue;
    if (found) out += ", ";
    out += value;
    found = true;
  }
  return found;
}

}  // namespace

Variant MemoryRequest::item(std::string_view key) const {
  std::string value;
  if (collect(query_, key, value) || collect(form_, key, value)) return Variant(std::move(value));
  return Variant();
}

Variant MemorySession::item(std::string_view key) const {
  auto it = items_.find(key);
  return it == items_.end() ? Variant() : it->second;
}

void MemorySession::set_item(std::string_view key, Variant value) {
  items_.insert_or_assign(std::string(key), std::move(value));
}

Variant ApplicationState::item(std::string_view key) const {
  std::lock_guard<std::mutex> guard(items_mutex_);
  auto it = items_.find(key);
  return it == items_.end() ? Variant() : it->second;
}

void ApplicationState::set_item(std::string_view key, Variant value) {
  std::lock_guard<std::mutex> guard(items_mutex_);
  items_.insert_or_assign(std::string(key), std::move(value));
  version_.fetch_add(1, std::memory_order_release);
}

MemoryApplication::~MemoryApplication() {
  while (held_ > 0) unlock();
}

void MemoryApplication::lock() {
  state_.lock_mutex().lock();
  ++held_;
}

void MemoryApplication::unlock() {
  if (held_ == 0) return;  // unlocking without a lock does nothing, as on the platform
  --held_;
  state_.lock_mutex().unlock();
}

}  // namespace oapx1
