#include "server/kept_views.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/data/connection.h"
#include "platform/data/db_backend.h"
#include "platform/text/ascii.h"

namespace oapx1 {
namespace {

// The session's code page and time-out, noted among its items under names no
// item can have.
constexpr std::string_view kCodePageItem = "\x01" "CodePage";
constexpr std::string_view kTimeoutItem = "\x01" "Timeout";

// Whether two values are the same value of the same type: what a page reads
// from either behaves alike. An object is never the same, as it may change.
bool same_value(const Variant& a, const Variant& b) {
  if (a.type() != b.type()) return false;
  switch (a.type()) {
    case Variant::Type::kEmpty:
    case Variant::Type::kNull:
      return true;
    case Variant::Type::kBoolean:
      return a.boolean() == b.boolean();
    case Variant::Type::kInteger:
      return a.integer() == b.integer();
    case Variant::Type::kDouble:
      return std::bit_cast<uint64_t>(a.real()) == std::bit_cast<uint64_t>(b.real());
    case Variant::Type::kDate:
      return a.date() == b.date();
    case Variant::Type::kText:
      return a.text() == b.text();
    case Variant::Type::kObject:
      return false;
  }
  return false;
}

// Notes the first read of item `name`: names compare without regard to case,
// as items are found.
void note(ReadItems& read, std::string_view name, const Variant& value) {
  for (const auto& [n, v] : read) {
    if (ascii_iequals(n, name)) return;
  }
  read.emplace_back(std::string(name), value);
}

// Whether `session` gives each item of `items` the value noted.
bool session_reads_same(const Session& session, const ReadItems& items) {
  for (const auto& [name, value] : items) {
    Variant now;
    if (name == kCodePageItem) {
      now = Variant(static_cast<int64_t>(session.code_page()));
    } else if (name == kTimeoutItem) {
      now = Variant(static_cast<int64_t>(session.timeout()));
    } else {
      now = session.item(name);
    }
    if (!same_value(now, value)) return false;
  }
  return true;
}

bool request_reads_same(const Request& request, const ReadItems& items) {
  return std::all_of(items.begin(), items.end(),
                     [&](const auto& item) { return same_value(request.item(item.first), item.second); });
}

}  // namespace

Variant WatchedRequest::item(std::string_view key) const {
  Variant value = items_.item(key);
  note(read_, key, value);
  return value;
}

Variant WatchedSession::item(std::string_view key) const {
  Variant value = session_.item(key);
  note(read_, key, value);
  return value;
}

void WatchedSession::set_item(std::string_view key, Variant value) {
  if (!same_value(session_.item(key), value)) CallWatch::unrepeatable();
  session_.set_item(key, std::move(value));
}

void WatchedSession::set_code_page(int code_page) {
  if (session_.code_page() != code_page) CallWatch::unrepeatable();
  session_.set_code_page(code_page);
}

int WatchedSession::code_page() const {
  const int code_page = session_.code_page();
  note(read_, kCodePageItem, Variant(static_cast<int64_t>(code_page)));
  return code_page;
}

void WatchedSession::set_timeout(int minutes) {
  if (session_.timeout() != minutes) CallWatch::unrepeatable();
  session_.set_timeout(minutes);
}

int WatchedSession::timeout() const {
  const int minutes = session_.timeout();
  note(read_, kTimeoutItem, Variant(static_cast<int64_t>(minutes)));
  return minutes;
}

void KeptViews::make_key(const void* page, std::string_view query, std::string& key) {
  key.assign(reinterpret_cast<const char*>(&page), sizeof page);
  key += query;
}

std::shared_ptr<const KeptView> KeptViews::find(const void* page, std::string_view query, const Request& items,
                                                 const Session& session, const DataStamp& data,
                                                 uint64_t application) const {
  // Per thread: the key's buffer, kept between looks so that a look on a
  // connection thread allocates nothing.
  thread_local std::string key;
  make_key(page, query, key);
  std::shared_lock lock(mutex_);
  const auto found = views_.find(std::string_view(key));
  if (found == views_.end()) return nullptr;
  for (auto it = found->second.rbegin(); it != found->second.rend(); ++it) {
    const KeptView& view = **it;
    if (view.data == data && view.application == application && request_reads_same(items, view.request_items) &&
        session_reads_same(session, view.session_items)) {
      return *it;
    }
  }
  return nullptr;
}

void KeptViews::keep(const void* page, std::string_view query, std::shared_ptr<const KeptView> view) {
  const size_t size = view->body ? view->body->size() : 0;
  if (size > max_bytes_ / 64) return;
  std::string key;
  make_key(page, query, key);
  std::unique_lock lock(mutex_);
  if (count_ >= max_views_ || bytes_ + size > max_bytes_) {
    // Full: start afresh rather than track which views are used.
    views_.clear();
    count_ = 0;
    bytes_ = 0;
  }
  std::vector<std::shared_ptr<const KeptView>>& list = views_[key];
  auto drop = [&](const std::shared_ptr<const KeptView>& v) {
    --count_;
    bytes_ -= v->body ? v->body->size() : 0;
    return true;
  };
  // A view read at an earlier state of the same kept results is found no more.
  std::erase_if(list, [&](const auto& v) {
    return v->data.source == view->data.source && v->data != view->data && drop(v);
  });
  if (list.size() >= per_query_ && drop(list.front())) list.erase(list.begin());
  list.push_back(std::move(view));
  ++count_;
  bytes_ += size;
}

size_t KeptViews::size() const {
  std::shared_lock lock(mutex_);
  return count_;
}

std::optional<DataStamp> current_data_stamp(const std::string& database) {
  try {
    Connection connection;
    connection.Open(Variant(database));
    std::optional<DataStamp> stamp = connection.session().data_stamp();
    connection.Close();
    return stamp;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace oapx1
