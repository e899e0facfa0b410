#include "server/session_scope.h"

namespace oapx1 {
namespace {

// The Set-Cookie value that makes the browser forget its session cookie.
std::string removed_cookie() { return std::string(kSessionCookie) + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Lax"; }

}  // namespace

SessionScope::SessionScope(SessionStore& store, const HttpRequest& request, std::string_view system_url,
                           bool secure_cookies)
    : SessionScope(store, request, system_url, secure_cookies, nullptr, true) {}

SessionScope::SessionScope(SessionStore& store, const HttpRequest& request, std::string_view system_url,
                           bool secure_cookies, std::shared_ptr<SessionEntry> found)
    : SessionScope(store, request, system_url, secure_cookies, std::move(found), false) {}

bool SessionScope::finish_writes() const {
  return ended_ || renew_ || (is_new_ && view_->modified()) || (!is_new_ && store_.touch_writes(*entry_));
}

SessionScope::SessionScope(SessionStore& store, const HttpRequest& request, std::string_view system_url,
                           bool secure_cookies, std::shared_ptr<SessionEntry> found, bool ask)
    : store_(store), system_url_(system_url), secure_(secure_cookies) {
  id_ = cookie_value(request.cookie, kSessionCookie);
  if (!id_.empty()) entry_ = ask ? store.find(id_) : std::move(found);
  if (!entry_) {
    entry_ = fresh_entry();
    is_new_ = true;
  }
  hold();
}

std::shared_ptr<SessionEntry> SessionScope::fresh_entry() const {
  auto entry = std::make_shared<SessionEntry>();
  entry->state.set_item("SystemURL", Variant(system_url_));
  return entry;
}

void SessionScope::hold() {
  lock_ = std::unique_lock<std::mutex>(entry_->mutex);
  view_.emplace(entry_->state);
}

bool SessionScope::end_now() {
  ended_ = true;
  if (id_.empty() || removed_) return true;
  removed_ = true;
  const bool gone = store_.remove(id_);
  store_.count_end();
  return gone;
}

void SessionScope::discard() {
  if (!is_new_) {
    store_.remove(id_);
    store_.count_end();
  }
  view_.reset();
  lock_.unlock();
  entry_ = fresh_entry();
  is_new_ = true;
  discarded_ = true;
  hold();
}

void SessionScope::finish(HttpReply& reply) {
  if (ended_) {
    if (!is_new_ && !removed_) {
      store_.remove(id_);
      store_.count_end();
    }
    reply.headers.emplace_back("Set-Cookie", removed_cookie());
    return;
  }
  if (renew_ || (is_new_ && view_->modified())) {
    id_ = store_.renew(id_, entry_);
    store_.count_end();
    reply.headers.emplace_back("Set-Cookie", std::string(kSessionCookie) + "=" + id_ +
                                                 "; Path=/; HttpOnly; SameSite=Lax" +
                                                 (secure_ ? "; Secure" : ""));
  } else if (!is_new_) {
    store_.touch(*entry_);
  } else if (discarded_) {
    reply.headers.emplace_back("Set-Cookie", removed_cookie());
  }
}

}  // namespace oapx1
