// Views of the application's pages kept by the host: a view asked again with
// the same inputs, while none of them has changed, is answered with the
// bytes of the earlier one instead of running the page again. The inputs are
// every request and session item the page read, the application's items, and
// the data it read from the database, as the engine connection's kept results
// vouch for it (see CallWatch). A view that read the clock, a file or data
// that was not kept, that wrote anything, or that logged an event is not kept:
// it runs again next time. The page's bytes are then exactly those a new run
// would write.
#ifndef OAPX1_SERVER_KEPT_VIEWS_H_
#define OAPX1_SERVER_KEPT_VIEWS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/call/call_context.h"
#include "platform/data/db_backend.h"
#include "platform/web/intrinsics.h"

namespace oapx1 {

// The items of one page call that the page read: a name (as the page spelled
// it) and the value it got, first read only.
using ReadItems = std::vector<std::pair<std::string, Variant>>;

// A request as a watched page sees it: the items of `items`, each read noted
// in `read` (which may gather the reads of several wrappers of one request).
class WatchedRequest : public Request {
 public:
  WatchedRequest(const Request& items, ReadItems& read) : items_(items), read_(read) {}
  Variant item(std::string_view key) const override;

 private:
  const Request& items_;
  ReadItems& read_;  // the items read, in the order first read
};

// A session as a watched page sees it: each item read noted; a change of the
// session (an item, its code page or time-out set to another value) makes the
// call unrepeatable, as a kept view would not make it.
// The items read are noted in `read`; the code page and time-out, when read,
// under names no item can have.
class WatchedSession : public Session {
 public:
  WatchedSession(Session& session, ReadItems& read) : session_(session), read_(read) {}
  Variant item(std::string_view key) const override;
  void set_item(std::string_view key, Variant value) override;
  void set_code_page(int code_page) override;
  int code_page() const override;
  void set_timeout(int minutes) override;
  int timeout() const override;

 private:
  Session& session_;
  ReadItems& read_;  // the items read, in the order first read
};

// One kept view: what it read, and the reply it gave.
struct KeptView {
  DataStamp data;            // the state of the kept results its data was read from
  uint64_t application = 0;  // the application items' version when it began
  ReadItems request_items;   // the request items it read, with their values
  ReadItems session_items;   // the session items it read, with their values
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;  // the page's own (type, caching)
  std::shared_ptr<const std::string> body;                   // the bytes sent
  std::string version;       // the node version shown, for the host's editor checks
};

// Kept views by page and query string. Thread-safe.
class KeptViews {
 public:
  // At most `max_views` views are kept, of `max_bytes` bytes in all, at most
  // `per_query` of one page and query string (one per engine connection and
  // set of inputs, typically). A view of more than a sixty-fourth of
  // `max_bytes` is not kept.
  explicit KeptViews(size_t max_views = 1024, size_t max_bytes = 64 << 20, size_t per_query = 16)
      : max_views_(max_views), max_bytes_(max_bytes), per_query_(per_query) {}

  // The view of `page` asked with `query` whose inputs all read the same now:
  // `items` and `session` give each item the value it read, the application
  // items are at `application`, and the data is at `data`. Null when none.
  std::shared_ptr<const KeptView> find(const void* page, std::string_view query, const Request& items,
                                       const Session& session, const DataStamp& data,
                                       uint64_t application) const;

  // Keeps `view` of `page` asked with `query`, unless its body is too large.
  // When the bounds are reached, every view kept so far goes first. Views of the same engine
  // connection at an earlier state, which can no longer be found, go.
  void keep(const void* page, std::string_view query, std::shared_ptr<const KeptView> view);

  // The number of views kept.
  size_t size() const;

 private:
  // The key of a page and query string, built in `key`.
  static void make_key(const void* page, std::string_view query, std::string& key);

  size_t max_views_;  // the most views kept in all
  size_t max_bytes_;  // the most bytes of their bodies in all
  size_t per_query_;  // the most views kept of one page and query string
  mutable std::shared_mutex mutex_;  // guards what follows
  // Views by page and query string, oldest first.
  std::unordered_map<std::string, std::vector<std::shared_ptr<const KeptView>>, detail::ViewHash,
                     std::equal_to<>>
      views_;
  size_t count_ = 0;  // views kept in all
  size_t bytes_ = 0;  // bytes of their bodies
};

// The state of the kept results of the engine connection that the next page
// of this thread would read `database` through, after the look at the
// database's version a kept read makes; none when no read would be kept (or
// the database cannot be opened).
std::optional<DataStamp> current_data_stamp(const std::string& database);

}  // namespace oapx1

#endif  // OAPX1_SERVER_KEPT_VIEWS_H_
