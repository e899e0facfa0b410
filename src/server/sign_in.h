// Signing in and out of the HTTP host: the login form, the password check (on
// hashing threads of its own, so that sign-ins never hold the page threads),
// the limits on sign-ins, the session a sign-in starts and a sign-out ends,
// and what they ask of the page library, as the application's login pages do:
// the login access policy (isallowlogin) and the audit log of sign-in events
// (savelog), recorded under the client's address.
#ifndef OAPX1_SERVER_SIGN_IN_H_
#define OAPX1_SERVER_SIGN_IN_H_

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto/password_hash_pool.h"
#include "platform/web/intrinsics.h"
#include "platform/web/memory_intrinsics.h"
#include "server/http_exchange.h"
#include "server/login_throttle.h"
#include "server/session_scope.h"
#include "server/trusted_proxies.h"

namespace oapx1 {

// The message of a sign-out that could not reach the session store.
inline constexpr std::string_view kSignOutFailedMessage =
    "退出没有完成：暂时无法连接会话存储，登录状态仍然有效。请稍后再点“退出”。";

// The message a sign-in refused by the access policy shows.
inline constexpr std::string_view kLoginRefusedMessage =
    "系统安全设置不允许您从当前地址或在当前时间登录，请与系统管理员联系。";

// True when the access policy admits the sign-in whose account and client
// address `session` holds as `_LogUserName` and `_LogUserIPAddress`. Runs
// isallowlogin on a library page bound to `session`; what the page writes is
// dropped, its failures go to the event log.
bool login_allowed(ApplicationState& application, Session& session);
// Records a sign-in event of that session with savelog(legal, login): "1","1"
// an admitted sign-in, "0","1" a refused user, "1","0" a sign-out. What is
// written is for the security settings to decide.
void record_login_event(ApplicationState& application, Session& session, std::string_view legal,
                        std::string_view login);

// What signing in and out needs of the host's settings.
struct SignInSettings {
  std::string database;           // where accounts and the security settings are read
  std::string login_path;         // URL path of the login page, to which its form posts
  std::string landing;            // where a sign-in leads
  std::string signed_out;         // where a sign-out leads
  std::string system_url;         // SystemURL item of a new session
  bool secure_cookies = false;    // the session cookie only over HTTPS
  TrustedProxies trusted_proxies; // proxies whose forwarding headers name the client
  int login_failures = 10;        // failed sign-ins a minute per address and per account and address pair, and free failures of an account before it waits; 0: no limit
  SteadyClock clock;              // the present time (of the failure limit)
  std::string logout_path;        // URL path of the sign-out page, to which its form posts
  // Whether the login form shows the demo database's hint (its users'
  // password); asked at each form, since the database may answer late.
  std::function<bool()> demo_hint;
  int hash_threads = 2;           // passwords checked at once (about 64 MiB each), apart from the page threads
};

class SignIn {
 public:
  SignIn(SignInSettings settings, ApplicationState& application, SessionStore& sessions);

  // The login form, empty. With expired=1 in `query` (a save that found its
  // session expired) it says that the settings were not saved; a `next` item
  // of the query naming a path below the application root is carried in the
  // form, and a sign-in leads there instead of the landing page.
  HttpReply form(std::string_view query = {}) const;
  // A posted sign-in (`query` is the request's query string): with a right
  // password and the access policy's consent, a session under a fresh id and
  // a redirect to the landing page; else the form again with the reason, no
  // sooner than LoginThrottle::kFailureTime after it began; 429 while the
  // throttle refuses the address or account. The password is checked on the
  // hashing threads, an unknown account against a stand-in hash: the reply
  // returned is then made later (HttpReply::later), 503 with Retry-After
  // when too many checks wait.
  HttpReply sign_in(const HttpRequest& request, std::string_view query);
  // The sign-out page: a button that posts to the sign-out path.
  HttpReply sign_out_form() const;
  // Ends the session of the request (recording the sign-out of a signed-in
  // user) and sends the browser to the login page. When the session store
  // cannot be reached, the sign-out page again, 503, saying that the
  // session may still be alive; the cookie is kept for another try.
  HttpReply sign_out(const HttpRequest& request);

  // Ends the password checks: those waiting are dropped (their requests are
  // never answered), the running ones end. For the server's stop, before the
  // page threads and the event loops through which their replies go.
  void stop_checks() { hashing_.stop(); }

  // The session time-out of the security settings (OA_AnQuan.TimeOut), in
  // minutes; 45 when unset or unreadable.
  int session_timeout_minutes() const;

 private:
  // An account's row as a sign-in reads it.
  struct Stored {
    std::string account;  // its UserName; empty: no account of that name can sign in
    std::string key;      // its OAID
    std::string password; // the stored salted hash, or an older plain-text password
  };
  // The row of account `user`; an empty Stored for an unknown or disabled
  // (AccountState '0') account or one without a password. Fails as the
  // data layer does.
  Stored read_account(const std::string& user) const;
  // True when `password` is `stored`'s: `hash_matches` is what the hashing
  // threads found, and an older plain-text password is compared as it is.
  static bool password_matches(const Stored& stored, const std::string& password, bool hash_matches);
  // Stores `fresh`, a new hash of the account's password, when the row still
  // holds what was read (so a change made meanwhile is kept); true when the
  // statement ran. A failure to write is logged (false) and the sign-in stands.
  bool store_fresh_hash(const Stored& stored, const std::string& fresh) const;
  // The answer to a sign-in that did not match: the form again, no sooner
  // than LoginThrottle::kFailureTime after `started`.
  HttpReply sign_in_failed(const std::string& client, const std::string& user, const std::string& password,
                           const std::string& message, const std::string& next,
                           std::chrono::steady_clock::time_point started);
  // The answer to a sign-in whose password matched `account`: the session,
  // under a new id, signed in from `address` and sealed with `seal` (the
  // password_seal of the password column as it stands), the login event
  // recorded, and the browser sent on to `next` (or the landing page).
  HttpReply signed_in(const HttpRequest& request, const std::string& account, const std::string& seal,
                      const Variant& address, const std::string& next);
  HttpReply form_reply(int status, std::string_view message, std::string_view user,
                       std::string_view next = {}) const;
  // `next` when it is a path below the application root (no scheme, host or
  // control character) and stays below it however its escapes are decoded
  // (no "." or ".." segment, "//" or backslash, escaped or not); else "".
  std::string safe_next(std::string_view next) const;

  SignInSettings settings_;
  ApplicationState& application_;
  SessionStore& sessions_;
  LoginThrottle throttle_;
  PasswordHashPool hashing_;  // last: its threads end before what their jobs use
};

}  // namespace oapx1

#endif  // OAPX1_SERVER_SIGN_IN_H_
