// A request's session on the HTTP side: found by the id in the session
// cookie, held while the request's page runs, recorded in its store when the
// reply is made, and its cookie set, renewed or removed on that reply.
#ifndef OAPX1_SERVER_SESSION_SCOPE_H_
#define OAPX1_SERVER_SESSION_SCOPE_H_

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/web/memory_intrinsics.h"
#include "server/http_exchange.h"
#include "sessions/session_store.h"

namespace oapx1 {

// The session of one request as the page sees it. Remembers whether the
// request stored anything, so that a visit that leaves no state behind (a
// crawler, a request without cookies) creates no session.
class RequestSession : public Session {
 public:
  explicit RequestSession(MemorySession& state) : state_(state) {}
  Variant item(std::string_view key) const override { return state_.item(key); }
  void set_item(std::string_view key, Variant value) override {
    state_.set_item(key, std::move(value));
    modified_ = true;
  }
  void set_code_page(int code_page) override { state_.set_code_page(code_page); }
  int code_page() const override { return state_.code_page(); }
  void set_timeout(int minutes) override { state_.set_timeout(minutes); }
  int timeout() const override { return state_.timeout(); }
  // True once the request has stored an item.
  bool modified() const { return modified_; }

 private:
  MemorySession& state_;
  bool modified_ = false;
};

// The session of one request, held (and so locked against the session's other
// requests) from before the page runs until its reply is made: the session of
// the request's cookie, or a new one whose SystemURL item is `system_url`.
class SessionScope {
 public:
  // `secure_cookies` adds the Secure flag to the cookie of a new session id.
  SessionScope(SessionStore& store, const HttpRequest& request, std::string_view system_url,
               bool secure_cookies);
  // The same, with the session the store gave for the request's id read
  // ahead (`found`, null for none) rather than asked for here.
  SessionScope(SessionStore& store, const HttpRequest& request, std::string_view system_url,
               bool secure_cookies, std::shared_ptr<SessionEntry> found);
  SessionScope(const SessionScope&) = delete;
  SessionScope& operator=(const SessionScope&) = delete;

  // The session as the request's page sees it.
  RequestSession& view() { return *view_; }
  // The session keeps its state under a fresh id after this request.
  void renew() { renew_ = true; }
  // The session is forgotten after this request, and its cookie with it.
  void end() { ended_ = true; }
  // The session is forgotten now, in its store, and its cookie after this
  // request (a sign-out, which must tell whether it ended). The store is
  // asked whenever the request names a session, even one it did not find
  // (it may have been out of reach). False when the store could not be
  // reached: the session may live on there.
  bool end_now();
  // The session is forgotten now (its account changed since it signed in),
  // and the request goes on as one that named no session: with a fresh
  // session, whose cookie replaces the old one when the request stores
  // anything in it, else the old cookie is removed.
  void discard();
  // Records the session after the request and adds its cookie when it is new
  // (or renewed), or the cookie's removal when it ended.
  void finish(HttpReply& reply);
  // Whether finish() would write to the store.
  bool finish_writes() const;
  // The session the store gave for the request's id (null for none, and
  // for a session this scope made).
  std::shared_ptr<SessionEntry> found() const { return is_new_ ? nullptr : entry_; }

 private:
  SessionScope(SessionStore& store, const HttpRequest& request, std::string_view system_url,
               bool secure_cookies, std::shared_ptr<SessionEntry> found, bool ask);
  // A new session's entry, holding the SystemURL item.
  std::shared_ptr<SessionEntry> fresh_entry() const;
  // Holds `entry_` for the request and shows it to the page.
  void hold();

  SessionStore& store_;
  std::string system_url_;
  bool secure_;
  std::string id_;
  std::shared_ptr<SessionEntry> entry_;
  bool is_new_ = false;
  bool renew_ = false;
  bool ended_ = false;
  bool removed_ = false;    // the store was asked to forget the session already
  bool discarded_ = false;  // the request's own session was forgotten; its cookie goes
  std::unique_lock<std::mutex> lock_;
  std::optional<RequestSession> view_;
};

}  // namespace oapx1

#endif  // OAPX1_SERVER_SESSION_SCOPE_H_
