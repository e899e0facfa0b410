#include "server/session_scope.h"

namespace oapx1 {

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
    : store_(store), secure_(secure_cookies) {
  id_ = cookie_value(request.cookie, kSessionCookie);
  if (!id_.empty()) entry_ = ask ? store.find(id_) : std::move(found);
  if (!entry_) {
    entry_ = std::make_shared<SessionEntry>();
    entry_->state.set_item("SystemURL", Variant(std::string(system_url)));
    is_new_ = true;
  }
  lock_ = std::unique_lock<std::mutex>(entry_->mutex);
  view_.emplace(entry_->state);
}

void SessionScope::finish(HttpReply& reply) {
  if (ended_) {
    if (!is_new_) {
      store_.remove(id_);
      store_.count_end();
    }
    reply.headers.emplace_back("Set-Cookie", std::string(kSessionCookie) +
                                                 "=; Path=/; Max-Age=0; HttpOnly; SameSite=Lax");
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
  }
}

}  // namespace oapx1
