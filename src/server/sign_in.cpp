#include "server/sign_in.h"

#include <algorithm>
#include <limits>

#include "host/library_page.h"
#include "platform/crypto/password_hash.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/text/ascii.h"
#include "platform/web/event_log.h"
#include "server/account_check.h"
#include "server/form.h"
#include "server/logs.h"

namespace oapx1 {

bool login_allowed(ApplicationState& application, Session& session) {
  bool allowed = true;
  run_library_page(application, session, false, [&](Page& page) {
    const Variant verdict = page.isallowlogin();
    allowed = !(verdict.type() == Variant::Type::kBoolean && !verdict.boolean());
  });
  return allowed;
}

void record_login_event(ApplicationState& application, Session& session, std::string_view legal,
                        std::string_view login) {
  run_library_page(application, session, false, [&](Page& page) {
    Variant legal_value(legal), login_value(login);
    page.savelog(legal_value, login_value);
  });
}

namespace {

// True when no segment of `path` (which begins with "/") leads up or aside:
// no "." or ".." segment, no empty one but the last ("//" starts a host), no
// backslash (a "/" to a browser) and no control character.
bool plain_segments(std::string_view path) {
  for (char c : path) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '\\') return false;
  }
  for (size_t at = 1; at <= path.size();) {
    const size_t end = std::min(path.find('/', at), path.size());
    const std::string_view segment = path.substr(at, end - at);
    if (segment == "." || segment == ".." || (segment.empty() && end < path.size())) return false;
    at = end + 1;
  }
  return true;
}

// Runs `sql` on the database and gives `read` the open recordset, standing
// on its first row when it has one.
template <class F>
void read_first_row(const std::string& database, const std::string& sql, F&& read) {
  auto conn = std::make_shared<Connection>();
  conn->Open(Variant(database));
  Recordset rs;
  rs.Open(Variant(sql), Variant(std::static_pointer_cast<Object>(conn)), 1, 3);
  read(rs);
  rs.Close();
  conn->Close();
}

// The head of the sign-in and sign-out pages, up to the start of their form,
// which posts to `action`.
std::string form_page_start(std::string_view title, std::string_view action) {
  std::string page =
      "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n"
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">\r\n"
      "<title>" + std::string(title) + " - 办公自动化系统</title>\r\n"
      "<style>body{font:14px sans-serif;background:#E4E4E0;margin:0}"
      "form{width:320px;margin:80px auto;padding:24px;background:#fff;border:1px solid #808080}"
      "h1{font-size:18px;margin:0 0 16px}label{display:block;margin:8px 0 4px}"
      "input[type=text],input[type=password]{width:100%;box-sizing:border-box;padding:4px}"
      "p.msg{color:#c00}p.hint{color:#666;font-size:12px}button{margin-top:16px;padding:4px 16px}"
      "</style>\r\n</head>\r\n<body>\r\n";
  page += "<form method=\"post\" action=\"" + html_encode(action) + "\">\r\n";
  page += "<h1>办公自动化系统 " + std::string(title) + "</h1>\r\n";
  return page;
}

std::string login_form(std::string_view action, std::string_view message, std::string_view user,
                       std::string_view next, bool demo_hint) {
  std::string page = form_page_start("登录", action);
  if (!message.empty()) page += "<p class=\"msg\">" + html_encode(message) + "</p>\r\n";
  if (!next.empty()) page += "<input type=\"hidden\" name=\"next\" value=\"" + html_encode(next) + "\">\r\n";
  page += "<label for=\"username\">用户名</label><input type=\"text\" id=\"username\" name=\"username\" value=\"" +
          html_encode(user) + "\" autofocus>\r\n";
  page += "<label for=\"password\">密码</label><input type=\"password\" id=\"password\" name=\"password\">\r\n";
  page += "<button type=\"submit\">登录</button>\r\n";
  if (demo_hint) page += "<p class=\"hint\">演示数据库的用户（如 admin、zhangsan）密码均为 demo。</p>\r\n";
  page += "</form>\r\n</body>\r\n</html>\r\n";
  return page;
}

// The sign-out page: a button that posts the sign-out, so that a link or an
// image of another site cannot sign anyone out.
std::string logout_form(std::string_view action, std::string_view message = {}) {
  std::string page = form_page_start("退出", action);
  if (!message.empty()) page += "<p class=\"msg\">" + html_encode(message) + "</p>\r\n";
  page += "<p>确定要退出办公自动化系统吗？</p>\r\n";
  page += "<button type=\"submit\">退出</button>\r\n";
  page += "</form>\r\n</body>\r\n</html>\r\n";
  return page;
}

// Password checks that may wait for a hashing thread; more are answered 503.
constexpr size_t kWaitingChecks = 256;

}  // namespace

SignIn::SignIn(SignInSettings settings, ApplicationState& application, SessionStore& sessions)
    : settings_(std::move(settings)),
      application_(application),
      sessions_(sessions),
      throttle_(settings_.login_failures, std::chrono::minutes(1), settings_.clock),
      hashing_(settings_.hash_threads, kWaitingChecks) {}

HttpReply SignIn::form_reply(int status, std::string_view message, std::string_view user,
                             std::string_view next) const {
  HttpReply reply = html_reply(status, login_form(settings_.login_path, message, user, next,
                                                       settings_.demo_hint && settings_.demo_hint()));
  reply.headers.emplace_back("Cache-Control", "no-store");
  return reply;
}

std::string SignIn::safe_next(std::string_view next) const {
  const std::string_view root =
      std::string_view(settings_.login_path).substr(0, settings_.login_path.rfind('/') + 1);
  if (root.empty() || next.size() <= root.size() || next.substr(0, root.size()) != root) return "";
  // Printable ASCII alone, as a Location header carries it, and no backslash.
  for (char c : next) {
    if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7f || c == '\\') return "";
  }
  // Below the root only, however the path is resolved: a browser takes an
  // escaped dot ("%2e") for a dot, a server behind may decode an escaped slash
  // or backslash, and an escape may be escaped again. So each decoding of the
  // path, until one changes nothing, must be plain segments.
  std::string path(next.substr(0, next.find_first_of("?#")));
  for (;;) {
    if (!plain_segments(path)) return "";
    std::string decoded = percent_decode(path, false);
    if (decoded == path) return std::string(next);
    path = std::move(decoded);
  }
}

HttpReply SignIn::form(std::string_view query) const {
  MemoryRequest items(parse_form(query), FormPairs{});
  const std::string message = script_equal(items.item("expired"), "1")
                                  ? "登录已超时，流程节点的设置没有保存。请重新登录，登录后将回到原来的节点。"
                                  : "";
  return form_reply(200, message, "", safe_next(items.item("next").str()));
}

HttpReply SignIn::sign_in(const HttpRequest& request, std::string_view query) {
  MemoryRequest items(parse_form(query),
                      has_media_type(request.content_type, "application/x-www-form-urlencoded")
                          ? parse_form(request.body)
                          : FormPairs{});
  const std::string user = items.item("username").str();
  const std::string password = items.item("password").str();
  const std::string next = safe_next(items.item("next").str());
  const std::string client = client_address(request.peer_address, request.forwarded_for, settings_.trusted_proxies);
  if (const auto wait = throttle_.refused(client, user)) {
    HttpReply reply =
        form_reply(429, "登录失败次数过多，请于 " + std::to_string(wait->count()) + " 秒后再试。", user, next);
    reply.headers.emplace_back("Retry-After", std::to_string(wait->count()));
    return reply;
  }
  const auto started = std::chrono::steady_clock::now();
  // The attempt as the access policy and the audit log read it: the account
  // typed and the client's address, in a session of its own until admitted.
  auto attempt = std::make_shared<MemorySession>();
  attempt->set_item("_LogUserName", Variant(user));
  attempt->set_item("_LogUserIPAddress", Variant(client));
  if (!login_allowed(application_, *attempt)) {
    return sign_in_failed(client, user, password, std::string(kLoginRefusedMessage), next, started);
  }
  // An empty name or password is no sign-in to check: refused at once.
  if (user.empty() || password.empty()) {
    if (!user.empty()) record_login_event(application_, *attempt, "0", "1");
    return sign_in_failed(client, user, password, "用户名或密码不正确。", next, started);
  }
  Stored stored;
  try {
    stored = read_account(user);
  } catch (...) {
    event_log().write(kEventError, "oapx1 serve: login failed: " + failure_text(std::current_exception()));
    return sign_in_failed(client, user, password, "无法连接数据库，请稍后再试。", next, started);
  }
  // The check runs on the hashing threads, and the page thread goes on with
  // other work; the reply is made on a page thread once the check has ended.
  // Every sign-in is checked, an unknown account against a stand-in hash,
  // so that its time does not tell whether the account exists.
  HttpReply pending;
  pending.later = [this, request, attempt, stored = std::move(stored), user, password, next, client,
                   started](std::function<void(HttpReply::Make)> resume) {
    const std::string hash = is_password_hash(stored.password) ? stored.password : "";
    const bool queued = hashing_.try_check(hash, password, [=, this](bool hash_matches) {
      const bool matches = password_matches(stored, password, hash_matches);
      // A password still stored as it was typed, or hashed at an older cost,
      // is hashed afresh here, on the hashing thread, now that it is known.
      std::string fresh;
      if (matches && (!is_password_hash(stored.password) || password_hash_outdated(stored.password))) {
        try {
          fresh = hash_password(password);
        } catch (...) {
          event_log().write(kEventError, "oapx1 serve: the password of " + stored.account +
                                             " could not be hashed: " + failure_text(std::current_exception()));
        }
      }
      resume([=, this] {
        if (!matches) {
          record_login_event(application_, *attempt, "0", "1");
          return sign_in_failed(client, user, password, "用户名或密码不正确。", next, started);
        }
        // The session is sealed with the password as the row holds it now.
        const bool rehashed = !fresh.empty() && store_fresh_hash(stored, fresh);
        throttle_.succeeded(client, user);
        return signed_in(request, stored.account, password_seal(rehashed ? fresh : stored.password),
                         attempt->item("_LogUserIPAddress"), next);
      });
    });
    if (!queued) {
      // Too many sign-ins waiting for their check: the client may come back shortly.
      resume([] { return unavailable(); });
    }
  };
  return pending;
}

HttpReply SignIn::sign_in_failed(const std::string& client, const std::string& user, const std::string& password,
                                 const std::string& message, const std::string& next,
                                 std::chrono::steady_clock::time_point started) {
  if (!user.empty() && !password.empty()) throttle_.failed(client, user);
  HttpReply reply = form_reply(200, message, user, next);
  // Whether the account exists or not, a failure takes the same time.
  reply.not_before = started + LoginThrottle::kFailureTime;
  return reply;
}

HttpReply SignIn::signed_in(const HttpRequest& request, const std::string& account, const std::string& seal,
                            const Variant& address, const std::string& next) {
  const int timeout = session_timeout_minutes();
  SessionScope session(sessions_, request, settings_.system_url, settings_.secure_cookies);
  session.view().set_item("UserName", Variant(account));
  session.view().set_item("_LogUserName", Variant(account));
  session.view().set_item(kAccountSealItem, Variant(seal));
  // The access line of the sign-in names the account now signed in.
  if (RequestLogContext* log = RequestLogScope::current()) log->user = account;
  session.view().set_item("_LogUserIPAddress", address);
  // The session lives as long as the security settings say from the start,
  // not only after its first page has read them.
  session.view().set_timeout(timeout);
  record_login_event(application_, session.view(), "1", "1");
  session.renew();
  HttpReply reply;
  reply.status = 303;  // after a post, the browser follows with a GET
  reply.headers.emplace_back("Location", next.empty() ? settings_.landing : next);
  reply.headers.emplace_back("Cache-Control", "no-store");
  session.finish(reply);
  return reply;
}

HttpReply SignIn::sign_out_form() const {
  HttpReply reply = html_reply(200, logout_form(settings_.logout_path));
  reply.headers.emplace_back("Cache-Control", "no-store");
  return reply;
}

HttpReply SignIn::sign_out(const HttpRequest& request) {
  SessionScope session(sessions_, request, settings_.system_url, settings_.secure_cookies);
  if (!session.end_now()) {
    // The store was out of reach: the session may live on there, so the
    // browser keeps its cookie and is told to try again.
    HttpReply reply = unavailable(5);
    reply.body = html_reply(503, logout_form(settings_.logout_path, kSignOutFailedMessage)).body;
    reply.headers.emplace_back("Cache-Control", "no-store");
    return reply;
  }
  if (script_unequal(session.view().item("UserName"), "")) {
    record_login_event(application_, session.view(), "1", "0");
  }
  HttpReply reply;
  reply.status = 303;
  reply.headers.emplace_back("Location", settings_.signed_out);
  reply.headers.emplace_back("Cache-Control", "no-store");
  session.finish(reply);
  return reply;
}

SignIn::Stored SignIn::read_account(const std::string& user) const {
  Stored stored;
  read_first_row(settings_.database,
                 "select OAID, UserName, password, AccountState from kx_userinfor where UserName = '" +
                     sql_text(Variant(user)) + "'",
                 [&](Recordset& rs) {
                   if (rs.RecordCount() == 0) return;
                   const Variant state = rs.field("AccountState");
                   // A disabled account ('0') signs in no more; one of no state is active,
                   // as the user pickers list it.
                   if (!state.is_null() && state.str() == "0") return;
                   const Variant value = rs.field("password");
                   if (value.is_null()) return;
                   stored = Stored{rs.field("UserName").str(), rs.field("OAID").str(), value.str()};
                 });
  return stored;
}

bool SignIn::password_matches(const Stored& stored, const std::string& password, bool hash_matches) {
  if (stored.account.empty() || password.empty()) return false;
  if (is_password_hash(stored.password)) return hash_matches;
  return stored.password == password;
}

bool SignIn::store_fresh_hash(const Stored& stored, const std::string& fresh) const {
  try {
    auto conn = std::make_shared<Connection>();
    conn->Open(Variant(settings_.database));
    conn->execute(Variant("update kx_userinfor set password = '" + sql_text(Variant(fresh)) +
                          "' where OAID = " + sql_integer(Variant(stored.key)) + " and password = '" +
                          sql_text(Variant(stored.password)) + "'"));
    conn->Close();
    return true;
  } catch (...) {
    event_log().write(kEventError, "oapx1 serve: the password of " + stored.account +
                                         " could not be stored hashed: " + failure_text(std::current_exception()));
    return false;
  }
}

int SignIn::session_timeout_minutes() const {
  constexpr int kDefaultMinutes = 45;  // as the page's session guard
  try {
    Variant minutes;
    read_first_row(settings_.database, "select TimeOut from OA_AnQuan", [&](Recordset& rs) {
      if (rs.RecordCount() > 0) minutes = rs.field("TimeOut");
    });
    if (minutes.is_null() || minutes.is_empty() || !is_numeric(minutes)) return kDefaultMinutes;
    return static_cast<int>(std::clamp<int64_t>(minutes.to_integer(), 0, std::numeric_limits<int>::max()));
  } catch (const std::exception&) {
    return kDefaultMinutes;
  }
}

}  // namespace oapx1
