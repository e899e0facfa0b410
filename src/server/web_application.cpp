#include "server/web_application.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include <system_error>
#include <fstream>
#include <sstream>

#include "pages/flownode/node_settings_page.h"
#include "platform/text/codepage.h"
#include "platform/web/components.h"
#include "platform/data/connection.h"
#include "platform/data/lock_waits.h"
#include "platform/web/event_log.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/web/process.h"
#include "server/form.h"
#include "server/sign_in.h"
#include "server/logs.h"
#include "server/request_origin.h"

#ifndef OAPX1_WWW_DIR
#define OAPX1_WWW_DIR "www"
#endif

namespace oapx1 {

namespace fs = std::filesystem;

namespace {

// The session of one request, as the page sees it. Remembers whether the
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
  bool modified() const { return modified_; }

 private:
  MemorySession& state_;
  bool modified_ = false;
};

// The value of cookie `name` in a Cookie header; empty when absent.
std::string cookie_value(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    const size_t semi = header.find(';');
    std::string_view pair = header.substr(0, semi);
    header.remove_prefix(semi == std::string_view::npos ? header.size() : semi + 1);
    while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
    const size_t eq = pair.find('=');
    if (eq != std::string_view::npos && pair.substr(0, eq) == name) {
      return std::string(pair.substr(eq + 1));
    }
  }
  return {};
}

std::string quote_sql(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

std::vector<std::string> lower_segments(std::string_view path) {
  std::vector<std::string> segments = split_url_path(path).value_or(std::vector<std::string>{});
  for (std::string& s : segments) s = ascii_lower(s);
  return segments;
}

std::string with_slashes(std::string root) {
  if (root.empty() || root.front() != '/') root.insert(root.begin(), '/');
  if (root.back() != '/') root += '/';
  return root;
}

// Opens a connection of the data layer on a connection string.
std::shared_ptr<Connection> open_database(const std::string& connect_string) {
  auto conn = std::make_shared<Connection>();
  conn->Open(Variant(connect_string));
  return conn;
}

std::shared_ptr<Recordset> query(const std::shared_ptr<Connection>& conn, const std::string& sql) {
  auto rs = std::make_shared<Recordset>();
  rs->Open(Variant(sql), Variant(std::static_pointer_cast<Object>(conn)), 1, 3);
  return rs;
}

std::string failure_text(std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const ScriptError& e) {
    return std::to_string(e.number()) + " " + e.what();
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown failure";
  }
}

}  // namespace

// The session of one request, held (and so locked against the session's other
// requests) from before the page runs until its reply is made.
struct WebApplication::SessionScope {
  SessionScope(SessionStore& store, const ServerOptions& options, const HttpRequest& request)
      : store_(store), secure_(options.secure_cookies) {
    id_ = cookie_value(request.cookie, kSessionCookie);
    if (!id_.empty()) entry_ = store.find(id_);
    if (!entry_) {
      entry_ = std::make_shared<SessionEntry>();
      entry_->state.set_item("SystemURL", Variant(options.system_url));
      is_new_ = true;
    }
    lock_ = std::unique_lock<std::mutex>(entry_->mutex);
    view_.emplace(entry_->state);
  }

  RequestSession& view() { return *view_; }
  // The session keeps its state under a fresh id after this request.
  void renew() { renew_ = true; }
  // The session is forgotten after this request, and its cookie with it.
  void end() { ended_ = true; }

  // Records the session after the request and adds its cookie when it is new.
  void finish(HttpReply& reply) {
    if (ended_) {
      if (!is_new_) store_.remove(id_);
      reply.headers.emplace_back("Set-Cookie", std::string(kSessionCookie) +
                                                   "=; Path=/; Max-Age=0; HttpOnly; SameSite=Lax");
      return;
    }
    if (renew_ || (is_new_ && view_->modified())) {
      id_ = store_.renew(id_, entry_);
      reply.headers.emplace_back("Set-Cookie", std::string(kSessionCookie) + "=" + id_ +
                                                   "; Path=/; HttpOnly; SameSite=Lax" +
                                                   (secure_ ? "; Secure" : ""));
    } else if (!is_new_) {
      store_.touch(*entry_);
    }
  }

 private:
  SessionStore& store_;
  bool secure_;
  std::string id_;
  std::shared_ptr<SessionEntry> entry_;
  bool is_new_ = false;
  bool renew_ = false;
  bool ended_ = false;
  std::unique_lock<std::mutex> lock_;
  std::optional<RequestSession> view_;
};

fs::path default_docroot() {
  std::error_code ec;
  if (fs::is_directory("www", ec)) return "www";
  return OAPX1_WWW_DIR;
}

std::optional<bool> database_has_demo_data(const std::string& connect_string) {
  std::shared_ptr<Connection> conn;
  try {
    conn = open_database(connect_string);
  } catch (const std::exception&) {
    return std::nullopt;  // no database to ask (yet)
  }
  try {
    auto rs = query(conn, "select Value from OAPX1_Setup where Name = 'demo'");
    const bool demo = rs->RecordCount() > 0 && rs->field("Value").str() == "1";
    rs->Close();
    conn->Close();
    return demo;
  } catch (const std::exception& e) {
    // A database without the marker table has no demo data; any other
    // failure (a lock, a broken file) leaves the question open.
    const std::string_view what = e.what();
    if (what.find("no such table") != std::string_view::npos ||
        what.find("does not exist") != std::string_view::npos) {
      return false;
    }
    return std::nullopt;
  }
}

WebApplication::WebApplication(ServerOptions options)
    : options_(std::move(options)),
      files_(options_.docroot.empty() ? default_docroot() : options_.docroot),
      sessions_(make_session_store(options_.session_store,
                                   options_.clock ? options_.clock
                                                  : SteadyClock(std::chrono::steady_clock::now))),
      login_throttle_(options_.login_failures, std::chrono::minutes(1), options_.clock) {
  options_.app_root = with_slashes(options_.app_root);
  options_.database = resolve_database(options_.database);
  if (!options_.access_log.empty()) access_log_ = std::make_unique<AccessLog>(options_.access_log);
  if (options_.oa_url.empty()) options_.oa_url = options_.app_root;
  if (options_.system_url.empty()) options_.system_url = options_.app_root;
  if (!options_.page_factory) {
    options_.page_factory = [] { return std::make_unique<tvwortqflowjiedia>(); };
  }
  page_path_ = options_.app_root + "flow/model/jiedian.asp";
  login_path_ = options_.app_root + "login.asp";
  logout_path_ = options_.app_root + "logout.asp";
  root_segments_ = lower_segments(options_.app_root);
  login_segments_ = lower_segments(login_path_);
  logout_segments_ = lower_segments(logout_path_);
  for (auto& [path, factory] : application_pages(options_.page_factory)) {
    pages_.emplace_back(lower_segments(options_.app_root + path), std::move(factory));
  }
  landing_ = options_.app_root + kModelPagePath + "?OAID=1";

  pages_may_run_here_ = options_.database.rfind("sqlite:", 0) == 0 && options_.session_store == "memory";
  set_default_database(options_.database);
  const int lock_wait_ms = static_cast<int>(options_.db_lock_wait.count());
  update_process_settings([&](ProcessSettings& s) { s.database_lock_wait_ms = lock_wait_ms; });
  application_.set_item("TavrinOAURL", Variant(options_.oa_url));
  if (options_.demo_login.has_value()) {
    demo_login_ = *options_.demo_login ? 1 : 0;
  } else {
    const std::optional<bool> demo = database_has_demo_data(options_.database);
    demo_login_ = demo ? (*demo ? 1 : 0) : -1;
  }
}

bool WebApplication::demo_login_enabled() const {
  if (demo_login_ < 0) {
    // The database could not be read at start: ask again until it answers.
    if (const std::optional<bool> demo = database_has_demo_data(options_.database)) {
      demo_login_ = *demo ? 1 : 0;
    }
  }
  return demo_login_ > 0;
}

WebApplication::PageWork WebApplication::page_work(const HttpRequest& request) const {
  std::string_view target = request.target;
  target = target.substr(0, target.find('?'));
  // Only the pages, a sign-in and a sign-out can wait on the database. Most
  // requests are static files, told apart by their ending without decoding
  // the path.
  if (target.size() < 4 || !ascii_iequals(target.substr(target.size() - 4), ".asp")) {
    if (target.find('%') == std::string_view::npos) return PageWork::kNone;
  }
  const auto segments = lower_segments(percent_decode(target, false));
  for (const auto& route : pages_) {
    if (segments != route.first) continue;
    const bool get = request.method == "GET" || request.method == "HEAD";
    return pages_may_run_here_ && get ? PageWork::kHereFirst : PageWork::kElsewhere;
  }
  if (segments == logout_segments_) return PageWork::kElsewhere;
  return segments == login_segments_ && request.method == "POST" ? PageWork::kElsewhere : PageWork::kNone;
}

std::optional<HttpReply> WebApplication::try_handle_here(const HttpRequest& request) {
  RequestLogContext log_context{request.method, request.target, {}};
  RequestLogScope log_scope(log_context);
  HttpReply reply;
  {
    HeldEvents events;  // a refused run's failures are not the request's
    LockWaitsRefused no_waits;
    reply = answer(request);
    if (no_waits.refused()) return std::nullopt;
    events.release();
  }
  if (access_log_) access_log_->write(request, reply, log_context.user);
  return reply;
}

std::string WebApplication::session_key(const HttpRequest& request) const {
  return cookie_value(request.cookie, kSessionCookie);
}

HttpReply WebApplication::html(int status, std::string_view utf8_body) const {
  HttpReply reply;
  reply.status = status;
  reply.headers.emplace_back("Content-Type", "text/html; charset=gb2312");
  reply.body = utf8_to_gbk(utf8_body);
  return reply;
}

WebApplication::~WebApplication() = default;

HttpReply WebApplication::handle(const HttpRequest& request) {
  RequestLogContext log_context{request.method, request.target, {}};
  RequestLogScope log_scope(log_context);
  HttpReply reply = answer(request);
  if (access_log_) access_log_->write(request, reply, log_context.user);
  return reply;
}

HttpReply WebApplication::answer(const HttpRequest& request) {
  try {
    std::string_view target = request.target;
    // An absolute-form target: keep only its path and query.
    if (target.rfind("http://", 0) == 0 || target.rfind("https://", 0) == 0) {
      const size_t path = target.find('/', target.find("//") + 2);
      target = path == std::string_view::npos ? std::string_view("/") : target.substr(path);
    }
    const size_t q = target.find('?');
    const std::string_view query = q == std::string_view::npos ? std::string_view() : target.substr(q + 1);
    const auto segments = split_url_path(percent_decode(target.substr(0, q), false));
    if (!segments) return html(400, "<html><body><h1>400 Bad Request</h1></body></html>");
    if (request.method == "POST" &&
        !from_own_site({request.peer_address, request.host, request.origin, request.referer,
                        request.forwarded, request.forwarded_host},
                       options_.trusted_proxies)) {
      // Another site's page made the browser post here (with its cookie).
      return html(403, "<html><body><h1>403 Forbidden</h1></body></html>");
    }

    std::vector<std::string> lower;
    for (const std::string& s : *segments) lower.push_back(ascii_lower(s));
    const bool get = request.method == "GET" || request.method == "HEAD";
    const bool post = request.method == "POST";
    auto not_allowed = [&](std::string allow) {
      HttpReply reply = html(405, "<html><body><h1>405 Method Not Allowed</h1></body></html>");
      reply.headers.emplace_back("Allow", std::move(allow));
      return reply;
    };

    for (const auto& [path, factory] : pages_) {
      if (lower != path) continue;
      if (!get && !post) return not_allowed("GET, HEAD, POST");
      return run_page(request, query, factory);
    }
    if (lower == login_segments_) {
      if (!get && !post) return not_allowed("GET, HEAD, POST");
      return login(request, query);
    }
    if (lower == logout_segments_) {
      if (!get && !post) return not_allowed("GET, HEAD, POST");
      return logout(request);
    }
    if (lower.empty() || lower == root_segments_) {
      if (!get) return not_allowed("GET, HEAD");
      HttpReply reply;
      reply.status = 302;
      reply.headers.emplace_back("Location", landing_);
      return reply;
    }
    if (!get) return not_allowed("GET, HEAD");
    return static_file(request, *segments);
  } catch (...) {
    event_log().write(kEventError, "request failed: " + failure_text(std::current_exception()));
    return html(500, "<html><body><h1>500 Internal Server Error</h1></body></html>");
  }
}

HttpReply WebApplication::run_page(const HttpRequest& request, std::string_view query,
                                   const PageFactory& factory) {
  const bool post = request.method == "POST";
  FormPairs query_items = parse_form(query);
  const bool url_encoded = has_media_type(request.content_type, "application/x-www-form-urlencoded");
  if (!post || !(url_encoded || has_media_type(request.content_type, "multipart/form-data"))) {
    // Only a posted form changes data: a link or a redirect from another site
    // still carries the session cookie, and so does a post of some other body
    // that any site can send; their query's "save" item is not passed on.
    std::erase_if(query_items, [](const auto& item) { return ascii_iequals(item.first, "save"); });
  }
  MemoryRequest items(std::move(query_items),
                      post && url_encoded ? parse_form(request.body) : FormPairs{});
  SessionScope session(*sessions_, options_, request);
  MemoryResponse response;
  MemoryServer server;
  std::exception_ptr failure;
  {
    // Releases an application lock the page still holds when it ends.
    MemoryApplication application(application_);
    ObjectContext context{&server, &application, &session.view(), &items, &response};
    HostCall call(&context);
    try {
      std::unique_ptr<Page> page = factory();
      page->I_init();
      page->OnEndPage();
    } catch (...) {
      failure = std::current_exception();
    }
  }
  if (failure) {
    event_log().write(kEventError, "page failed: " + failure_text(failure));
    return html(500, "<html><body><h1>500 Internal Server Error</h1></body></html>");
  }

  HttpReply reply;
  reply.headers.emplace_back("Content-Type", "text/html; charset=gb2312");
  if (response.expires() == -1) {
    reply.headers.emplace_back("Cache-Control", "private");
  } else if (response.expires() <= 0) {
    reply.headers.emplace_back("Cache-Control", "no-cache, no-store, must-revalidate");
    reply.headers.emplace_back("Pragma", "no-cache");
    reply.headers.emplace_back("Expires", "Thu, 01 Jan 1970 00:00:00 GMT");
  } else {
    reply.headers.emplace_back("Cache-Control",
                               "private, max-age=" + std::to_string(response.expires() * 60L));
  }
  reply.body = utf8_to_gbk(response.body());
  if (RequestLogContext* log = RequestLogScope::current()) log->user = session.view().item("UserName").str();
  session.finish(reply);
  return reply;
}

namespace {

std::string login_form(std::string_view action, std::string_view message, std::string_view user) {
  std::string page =
      "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n"
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">\r\n"
      "<title>登录 - 办公自动化系统</title>\r\n"
      "<style>body{font:14px sans-serif;background:#E4E4E0;margin:0}"
      "form{width:320px;margin:80px auto;padding:24px;background:#fff;border:1px solid #808080}"
      "h1{font-size:18px;margin:0 0 16px}label{display:block;margin:8px 0 4px}"
      "input[type=text],input[type=password]{width:100%;box-sizing:border-box;padding:4px}"
      "p.msg{color:#c00}p.hint{color:#666;font-size:12px}button{margin-top:16px;padding:4px 16px}"
      "</style>\r\n</head>\r\n<body>\r\n";
  page += "<form method=\"post\" action=\"" + html_encode(action) + "\">\r\n";
  page += "<h1>办公自动化系统 登录</h1>\r\n";
  if (!message.empty()) page += "<p class=\"msg\">" + html_encode(message) + "</p>\r\n";
  page += "<label for=\"username\">用户名</label><input type=\"text\" id=\"username\" name=\"username\" value=\"" +
          html_encode(user) + "\" autofocus>\r\n";
  page += "<label for=\"password\">密码</label><input type=\"password\" id=\"password\" name=\"password\">\r\n";
  page += "<button type=\"submit\">登录</button>\r\n";
  page += "<p class=\"hint\">演示数据库的用户（如 admin、zhangsan）密码均为 demo。</p>\r\n";
  page += "</form>\r\n</body>\r\n</html>\r\n";
  return page;
}

}  // namespace

HttpReply WebApplication::login(const HttpRequest& request, std::string_view query) {
  if (!demo_login_enabled()) {
    return html(404,
                "<html><body><h1>404 Not Found</h1><p>The demo login is off: the database has no "
                "demo data. Start the server with --demo-login to turn it on.</p></body></html>");
  }
  if (request.method != "POST") {
    HttpReply reply = html(200, login_form(login_path_, "", ""));
    reply.headers.emplace_back("Cache-Control", "no-store");
    return reply;
  }
  MemoryRequest items(parse_form(query),
                      has_media_type(request.content_type, "application/x-www-form-urlencoded")
                          ? parse_form(request.body)
                          : FormPairs{});
  const std::string user = items.item("username").str();
  const std::string password = items.item("password").str();
  const std::string client = client_address(request.peer_address, request.forwarded_for, options_.trusted_proxies);
  if (const auto wait = login_throttle_.refused(client, user)) {
    HttpReply reply = html(429, login_form(login_path_, "登录失败次数过多，请稍后再试。", user));
    reply.headers.emplace_back("Retry-After", std::to_string(wait->count()));
    reply.headers.emplace_back("Cache-Control", "no-store");
    return reply;
  }
  const auto started = std::chrono::steady_clock::now();
  // The attempt as the access policy and the audit log read it: the account
  // typed and the client's address, in a session of its own until admitted.
  MemorySession attempt;
  attempt.set_item("_LogUserName", Variant(user));
  attempt.set_item("_LogUserIPAddress", Variant(client));
  std::optional<std::string> account;
  std::string message;
  if (!login_allowed(application_, attempt)) {
    message = kLoginRefusedMessage;
  } else {
    try {
      account = check_password(user, password);
      if (!account) {
        message = "用户名或密码不正确。";
        if (!user.empty()) record_login_event(application_, attempt, "0", "1");
      }
    } catch (...) {
      event_log().write(kEventError, "oapx1 serve: login failed: " + failure_text(std::current_exception()));
      message = "无法连接数据库，请稍后再试。";
    }
  }
  if (!account) {
    if (!user.empty() && !password.empty()) login_throttle_.failed(client, user);
    HttpReply reply = html(200, login_form(login_path_, message, user));
    reply.headers.emplace_back("Cache-Control", "no-store");
    // Whether the account exists or not, a failure takes the same time.
    reply.not_before = started + LoginThrottle::kFailureTime;
    return reply;
  }
  login_throttle_.succeeded(user);
  const int timeout = session_timeout_minutes();
  SessionScope session(*sessions_, options_, request);
  session.view().set_item("UserName", Variant(*account));
  session.view().set_item("_LogUserName", Variant(*account));
  session.view().set_item("_LogUserIPAddress", attempt.item("_LogUserIPAddress"));
  // The session lives as long as the security settings say from the start,
  // not only after its first page has read them.
  session.view().set_timeout(timeout);
  record_login_event(application_, session.view(), "1", "1");
  session.renew();
  HttpReply reply;
  reply.status = 303;  // after a post, the browser follows with a GET
  reply.headers.emplace_back("Location", landing_);
  reply.headers.emplace_back("Cache-Control", "no-store");
  session.finish(reply);
  return reply;
}

HttpReply WebApplication::logout(const HttpRequest& request) {
  SessionScope session(*sessions_, options_, request);
  if (script_unequal(session.view().item("UserName"), "")) {
    record_login_event(application_, session.view(), "1", "0");
  }
  session.end();
  HttpReply reply;
  reply.status = 303;
  reply.headers.emplace_back("Location", options_.oa_url + "login.asp");
  reply.headers.emplace_back("Cache-Control", "no-store");
  session.finish(reply);
  return reply;
}

std::optional<std::string> WebApplication::check_password(const std::string& user,
                                                          const std::string& password) {
  if (user.empty() || password.empty()) return std::nullopt;
  auto conn = open_database(options_.database);
  auto rs = query(conn, "select UserName, password from kx_userinfor where UserName = " + quote_sql(user));
  std::optional<std::string> account;
  if (rs->RecordCount() > 0) {
    const Variant stored = rs->field("password");
    if (!stored.is_null() && stored.str() == password) account = rs->field("UserName").str();
  }
  rs->Close();
  conn->Close();
  return account;
}

int WebApplication::session_timeout_minutes() {
  constexpr int kDefaultMinutes = 45;  // as the page's session guard
  try {
    auto conn = open_database(options_.database);
    auto rs = query(conn, "select TimeOut from OA_AnQuan");
    Variant minutes = rs->RecordCount() > 0 ? rs->field("TimeOut") : Variant();
    rs->Close();
    conn->Close();
    if (minutes.is_null() || minutes.is_empty() || !is_numeric(minutes)) return kDefaultMinutes;
    return static_cast<int>(std::clamp<int64_t>(minutes.to_integer(), 0, std::numeric_limits<int>::max()));
  } catch (const std::exception&) {
    return kDefaultMinutes;
  }
}

HttpReply WebApplication::static_file(const HttpRequest&, const std::vector<std::string>& segments) {
  // Only what lies below the application root is the application's: the
  // same files whatever the root is called.
  const bool below_root =
      segments.size() > root_segments_.size() &&
      std::equal(root_segments_.begin(), root_segments_.end(), segments.begin(),
                 [](const std::string& root, const std::string& s) { return ascii_iequals(root, s); });
  if (!below_root) return html(404, "<html><body><h1>404 Not Found</h1></body></html>");
  const std::vector<std::string> below(segments.begin() + static_cast<long>(root_segments_.size()),
                                       segments.end());
  const std::shared_ptr<const StaticFile> file = files_.load(below);
  if (!file) return html(404, "<html><body><h1>404 Not Found</h1></body></html>");
  HttpReply reply;
  reply.shared_body = std::shared_ptr<const std::string>(file, &file->content);
  reply.headers.emplace_back("Content-Type", file->content_type);
  reply.headers.emplace_back("Cache-Control", "public, max-age=3600");
  return reply;
}

}  // namespace oapx1
