#include "server/web_application.h"

#include <algorithm>
#include <system_error>

#include "editing/history_page.h"
#include "editing/node_restore.h"
#include "editing/node_save.h"
#include "editing/posted_values.h"
#include "pages/flowmodel/model_list_pages.h"
#include "host/file_answer.h"
#include "layout/signed_in_bar.h"
#include "pages/flownode/node_settings_page.h"
#include "platform/call/call_context.h"
#include "platform/components/components.h"
#include "platform/data/connection.h"
#include "platform/data/db_backend.h"
#include "platform/data/db_pool.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/text/ascii.h"
#include "platform/text/codepage.h"
#include "platform/web/event_log.h"
#include "platform/web/failure_watch.h"
#include "platform/web/process.h"
#include "server/ahead_reads.h"
#include "server/failure_page.h"
#include "server/form.h"
#include "server/kept_views.h"
#include "server/logs.h"
#include "server/request_origin.h"
#include "util/ids_and_lists.h"

namespace oapx1 {

namespace fs = std::filesystem;

namespace {

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

// Whether the lower-case segments of a path are `lower`.
bool same_path(const std::vector<std::string>& segments, const std::vector<std::string>& lower) {
  return segments.size() == lower.size() &&
         std::equal(segments.begin(), segments.end(), lower.begin(),
                    [](const std::string& s, const std::string& l) { return ascii_iequals(s, l); });
}

}  // namespace

fs::path default_docroot() {
  std::error_code ec;
  std::string looked = fs::absolute("www", ec).string();
  if (fs::is_directory("www", ec)) return "www";
  const fs::path program = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    // Installed: PREFIX/bin/oapx1 beside PREFIX/share/oapx1/www.
    const fs::path installed = program.parent_path().parent_path() / "share" / "oapx1" / "www";
    if (fs::is_directory(installed, ec)) return installed;
    looked += ", " + installed.string();
    // Built in a folder of the source tree: the tree's www/ above it.
    for (fs::path dir = program.parent_path(); dir.has_relative_path(); dir = dir.parent_path()) {
      if (fs::is_regular_file(dir / "www" / "Include" / "js" / "orderby.js", ec)) return dir / "www";
    }
    looked += " and a www/ folder above " + program.parent_path().string();
  }
  throw std::runtime_error("no document root: looked in " + looked + "; give the folder of the web files with " +
                           "--docroot DIR (the setting docroot)");
}

std::optional<bool> database_has_demo_data(const std::string& connect_string) {
  auto conn = std::make_shared<Connection>();
  try {
    conn->Open(Variant(connect_string));
  } catch (const std::exception&) {
    return std::nullopt;  // no database to ask (yet)
  }
  try {
    Recordset rs;
    rs.Open(Variant("select Value from OAPX1_Setup where Name = 'demo'"),
            Variant(std::static_pointer_cast<Object>(conn)), 1, 3);
    const bool demo = rs.RecordCount() > 0 && rs.field("Value").str() == "1";
    rs.Close();
    conn->Close();
    return demo;
  } catch (const ScriptError& e) {
    // A database without the marker table has no demo data; any other
    // failure (a lock, a broken file) leaves the question open.
    if (e.number() == err::kInvalidObjectName) return false;
    return std::nullopt;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

WebApplication::WebApplication(ServerOptions options)
    : options_(std::move(options)),
      files_(options_.docroot.empty() ? default_docroot() : options_.docroot),
      sessions_(make_session_store(options_.session_store,
                                   options_.clock ? options_.clock
                                                  : SteadyClock(std::chrono::steady_clock::now),
                                   {}, {options_.sessions_per_account, options_.max_sessions})),
      editing_(application_, options_.edit_permission) {
  options_.app_root = with_slashes(options_.app_root);
  options_.database = resolve_database(options_.database);
  if (!options_.access_log.empty()) access_log_ = std::make_unique<AccessLog>(options_.access_log);
  if (options_.oa_url.empty()) options_.oa_url = options_.app_root;
  if (options_.system_url.empty()) options_.system_url = options_.app_root;
  if (!options_.page_factory) {
    options_.page_factory = [] { return std::make_unique<tvwortqflowjiedia>(); };
  }
  page_path_ = options_.app_root + "flow/model/jiedian.asp";
  const std::string login_path = options_.app_root + "login.asp";
  root_segments_ = lower_segments(options_.app_root);
  login_segments_ = lower_segments(login_path);
  const std::string logout_path = options_.app_root + "logout.asp";
  logout_segments_ = lower_segments(logout_path);
  for (PageRoute& page : application_pages(options_.page_factory)) {
    pages_.emplace_back(lower_segments(options_.app_root + page.path), std::move(page));
  }
  landing_ = options_.app_root + kModelListPagePath;
  accounts_ = std::make_unique<AccountChecks>(options_.database);
  sign_in_ = std::make_unique<SignIn>(
      SignInSettings{options_.database, login_path, landing_, options_.oa_url + "login.asp",
                     options_.system_url, options_.secure_cookies, options_.trusted_proxies,
                     options_.login_failures, options_.clock, logout_path,
                     [this] { return demo_login_enabled(); }},
      application_, *sessions_);

  set_default_database(options_.database);
  const int lock_wait_ms = static_cast<int>(options_.db_lock_wait.count());
  const int statement_limit_ms = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(options_.statement_timeout).count());
  update_process_settings([&](ProcessSettings& s) {
    s.database_lock_wait_ms = lock_wait_ms;
    s.statement_limit_ms = statement_limit_ms;
  });
  DbPool::instance().set_limits(options_.db_pool, DbPool::instance().open_wait());
  application_.set_item("TavrinOAURL", Variant(options_.oa_url));
  if (options_.demo_login.has_value()) {
    demo_login_ = *options_.demo_login ? 1 : 0;
  } else {
    const std::optional<bool> demo = database_has_demo_data(options_.database);
    demo_login_ = demo ? (*demo ? 1 : 0) : -1;
  }
}

WebApplication::~WebApplication() = default;

bool WebApplication::demo_login_enabled() const {
  if (demo_login_ < 0) {
    // The database could not be read at start: ask again until it answers.
    if (const std::optional<bool> demo = database_has_demo_data(options_.database)) {
      demo_login_ = *demo ? 1 : 0;
    }
  }
  return demo_login_ > 0;
}

WebApplication::Route WebApplication::route(const HttpRequest& request) const {
  Route route;
  std::string_view target = request.target;
  // An absolute-form target: keep only its path and query.
  if (target.rfind("http://", 0) == 0 || target.rfind("https://", 0) == 0) {
    const size_t path = target.find('/', target.find("//") + 2);
    target = path == std::string_view::npos ? std::string_view("/") : target.substr(path);
  }
  const size_t q = target.find('?');
  if (q != std::string_view::npos) route.query = std::string(target.substr(q + 1));
  auto segments = split_url_path(percent_decode(target.substr(0, q), false));
  if (!segments) {
    route.kind = Route::Kind::kBadPath;
    return route;
  }
  route.segments = std::move(*segments);
  const bool get = request.method == "GET" || request.method == "HEAD";
  const bool post = request.method == "POST";
  for (const auto& [path, page] : pages_) {
    if (!same_path(route.segments, path)) continue;
    route.kind = Route::Kind::kPage;
    route.page = &page;
    route.reads_only = page.access == PageAccess::kReads || (page.access == PageAccess::kWritesWhenPosted && !post);
    if (get || post) {
      route.work = route.reads_only ? PageWork::kLoopWhenKept : PageWork::kPageThreads;
    }
    return route;
  }
  if (same_path(route.segments, login_segments_)) {
    route.kind = Route::Kind::kLogin;
    route.reads_only = !post;  // a sign-in records its event
    if (post) route.work = PageWork::kPageThreads;
  } else if (same_path(route.segments, logout_segments_)) {
    route.kind = Route::Kind::kLogout;
    route.reads_only = !post;  // a GET only shows the sign-out button
    if (post) route.work = PageWork::kPageThreads;
  } else if (route.segments.empty() || same_path(route.segments, root_segments_)) {
    route.kind = Route::Kind::kRoot;
  }
  return route;
}

std::string WebApplication::session_key(const HttpRequest& request) const {
  return cookie_value(request.cookie, kSessionCookie);
}

void WebApplication::reopen_logs() {
  event_log().reopen();
  if (!access_log_) return;
  try {
    access_log_->reopen();
  } catch (const std::exception& e) {
    event_log().write(kEventError, std::string("oapx1 serve: ") + e.what());
  }
}

size_t WebApplication::sweep_sessions() {
  const size_t swept = sessions_->sweep();
  if (swept != 0) sessions_->count_end();
  return swept;
}

HttpReply WebApplication::handle(const HttpRequest& request, const Route& route, LookedUp* looked) {
  RequestLogContext log_context{request.method, request.target, {}};
  RequestLogScope log_scope(log_context);
  HttpReply reply = answer(request, route, looked);
  if (reply.later) {
    // The real reply is made later, as a request of its own for the logs.
    reply.later = [this, request, later = std::move(reply.later)](std::function<void(HttpReply::Make)> resume) {
      later([this, request, resume = std::move(resume)](HttpReply::Make make) {
        resume([this, request, make = std::move(make)] {
          RequestLogContext context{request.method, request.target, {}};
          RequestLogScope scope(context);
          HttpReply done;
          try {
            done = make();
          } catch (...) {
            event_log().write(kEventError, "request failed: " + failure_text(std::current_exception()));
            done = status_page(500, "Internal Server Error");
          }
          if (access_log_) access_log_->write(request, done, context.user);
          return done;
        });
      });
    };
    return reply;
  }
  if (access_log_) access_log_->write(request, reply, log_context.user);
  return reply;
}

bool WebApplication::may_answer_kept(const HttpRequest& request, const Route& route) const {
  return route.kind == Route::Kind::kPage && route.reads_only && options_.keep_views && kept_views_.size() != 0 &&
         (request.method == "GET" || request.method == "HEAD") &&
         request.cookie.find(kSessionCookie) != std::string::npos;
}

std::optional<HttpReply> WebApplication::look_kept(const HttpRequest& request, const Route& route,
                                                   const AheadRead* ahead, LookedUp* looked) {
  if (!may_answer_kept(request, route)) return std::nullopt;
  RequestLogContext log_context{request.method, request.target, {}};
  RequestLogScope log_scope(log_context);
  std::optional<HttpReply> reply;
  try {
    reply = run_page(request, route, true, ahead, looked);
  } catch (...) {
    return std::nullopt;  // handle answers it, and logs what failed
  }
  if (reply && access_log_) access_log_->write(request, *reply, log_context.user);
  return reply;
}

HttpReply WebApplication::answer(const HttpRequest& request, const Route& route, LookedUp* looked) {
  try {
    if (route.kind == Route::Kind::kBadPath) return status_page(400, "Bad Request");
    if (request.method == "POST" &&
        !from_own_site({request.peer_address, request.host, request.origin, request.referer,
                        request.forwarded, request.forwarded_host, request.forwarded_proto},
                       options_.trusted_proxies)) {
      // Another site's page made the browser post here (with its cookie).
      return status_page(403, "Forbidden");
    }
    const bool get = request.method == "GET" || request.method == "HEAD";
    const bool post = request.method == "POST";
    auto not_allowed = [&](std::string allow) {
      HttpReply reply = status_page(405, "Method Not Allowed");
      reply.headers.emplace_back("Allow", std::move(allow));
      return reply;
    };
    switch (route.kind) {
      case Route::Kind::kPage: {
        if (!get && !post) return not_allowed("GET, HEAD, POST");
        // A statement past its time limit, even one the page's own handler
        // reported, makes the whole answer 503: the database is too slow or
        // silent now, and the page it gave is not the page.
        StatementTimeouts timeouts;
        std::optional<HttpReply> reply;
        try {
          reply = run_page(request, route, false, nullptr, looked);
        } catch (...) {
          if (!timeouts.first()) throw;
        }
        if (timeouts.first()) return statement_timed_out(*timeouts.first());
        return std::move(*reply);
      }
      case Route::Kind::kLogin:
        if (!get && !post) return not_allowed("GET, HEAD, POST");
        return post ? sign_in_->sign_in(request, route.query) : sign_in_->form(route.query);
      case Route::Kind::kLogout:
        if (!get && !post) return not_allowed("GET, HEAD, POST");
        // Only a post (from the site's own page, as every post) signs out.
        return post ? sign_in_->sign_out(request) : sign_in_->sign_out_form();
      case Route::Kind::kRoot: {
        if (!get) return not_allowed("GET, HEAD");
        HttpReply reply;
        reply.status = 302;
        reply.headers.emplace_back("Location", landing_);
        return reply;
      }
      case Route::Kind::kBadPath:
      case Route::Kind::kStatic:
        break;
    }
    if (!get) return not_allowed("GET, HEAD");
    return static_file(route.segments);
  } catch (...) {
    event_log().write(kEventError, "request failed: " + failure_text(std::current_exception()));
    return status_page(500, "Internal Server Error");
  }
}

HttpReply WebApplication::statement_timed_out(const std::string& statement) const {
  event_log().write(kEventError, "statement timed out after " + std::to_string(options_.statement_timeout.count()) +
                                     " s: " + statement);
  return unavailable(options_.statement_timeout.count());
}

namespace {

// The answer of a signed-in user without the editing permission, in the
// application's code page and style.
// `bar` is the signed-in bar (signed_in_bar), the way out of the page.
HttpReply forbidden_page(const std::string& system_url, const std::string& permission, const std::string& bar) {
  HttpReply reply = html_reply(
      403, std::string(
               "<!DOCTYPE html>\r\n<html lang=\"zh-CN\">\r\n<head>\r\n"
               "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">\r\n"
               "<title>没有权限</title>\r\n<link href=\"" +
               html_encode(system_url + "Include/imagesV10/CSSForV10.css") +
               "\" type=\"text/css\" rel=\"stylesheet\">\r\n"
               "<style>body{font:12px sans-serif;background:#E4E4E0;margin:0}"
               ".box{width:420px;margin:60px auto;padding:16px 20px;background:#fff;border:1px solid #808080}"
               "h1{font-size:16px;margin:0 0 10px;color:#c00}</style>\r\n</head>\r\n<body>\r\n" +
               bar + "<div class=\"box\"><h1>系统提示：没有权限</h1>\r\n<p>您没有流程设置权限（功能代码 " +
               html_encode(permission) +
               "），不能查看或修改流程设置，什么也没有保存。</p>\r\n<p>如需此权限，请与系统管理员联系。</p></div>\r\n"
               "</body>\r\n</html>\r\n"));
  reply.headers.emplace_back("Cache-Control", "no-store");
  return reply;
}

// Remembers in the session the version of `node` it is shown, only when it
// differs from what it remembers, so that a view costs no session write.
void remember_shown(RequestSession& view, int64_t node, const std::string& version) {
  const std::string key = shown_version_item(node);
  if (view.item(key).str() != version) view.set_item(key, Variant(version));
}

// The node a request names, when its OAID item is a whole number.
std::optional<int64_t> node_of(const Request& items) { return whole_number(items.item("OAID").str()); }

void replace_item(FormPairs& items, std::string_view name, std::optional<std::string> value) {
  std::erase_if(items, [&](const auto& item) { return ascii_iequals(item.first, name); });
  if (value) items.emplace_back(std::string(name), std::move(*value));
}

// A posted save refused by a check (`refusal` not empty): nothing is
// written, and the page shows the node as it is, with the reason. False,
// changing nothing, when there is no refusal.
bool refuse_save(FormPairs& query, FormPairs& form, const std::string& refusal) {
  if (refusal.empty()) return false;
  replace_item(query, "save", std::nullopt);
  replace_item(form, "save", std::nullopt);
  replace_item(form, "msg", std::nullopt);
  replace_item(query, "msg", refusal);
  return true;
}

}  // namespace

HttpReply WebApplication::expired_save(const Request& items) {
  // Back to the model page with the same node open once signed in again.
  std::string next = landing_;
  if (const std::optional<int64_t> node = node_of(items)) {
    MemorySession scratch;
    editing_.with_connection(scratch, true, [&](const Variant& conn) {
      const std::optional<NodeRow> row = read_node_row(conn, *node);
      const std::string model = row ? column_value(*row, "MOAID") : std::string();
      if (!model.empty()) {
        next = options_.app_root + kModelPagePath + "?OAID=" + url_query_text(model) +
               "&JieDianID=" + std::to_string(*node);
      }
    });
  }
  const std::string login = options_.oa_url + "login.asp?expired=1&next=" + url_query_text(next);
  HttpReply reply = html_reply(
      200, "<script LANGUAGE=\"javascript\">\r\n\t\ttop.location.href = \"" + script_string(login) +
               "\";\r\n\t</script>\r\n");
  reply.headers.emplace_back("Cache-Control", "no-store");
  return reply;
}

// One page request on its way through run_page's stages: what it was asked,
// its session, and what the stages found.
struct WebApplication::PageRun {
  PageRun(const HttpRequest& r, const Route& ro) : request(r), route(ro) {}

  const HttpRequest& request;
  const Route& route;
  FormPairs query_items, form_items;  // the request's items, as the page gets them
  bool looked = false;                // a look for a kept view that missed read what follows
  std::optional<SessionScope> session;
  bool session_changed = false;       // the look changed the session it read, which is then not carried
  std::string account;                // the signed-in user's login name; empty for none
  // The request's items as the host's own checks read them (the page gets
  // them moved into its call).
  std::optional<MemoryRequest> asked;
  std::optional<DataStamp> data;      // the data's state when views are kept and it could be read
  uint64_t application_version = 0;   // the application items' version when the request began
  // The watch of a view that may be kept, and what it read.
  std::optional<CallWatch> watch;
  ReadItems request_reads, session_reads;
  std::optional<WatchedSession> watched_session;
  std::optional<int64_t> node;        // the node of a node editor's request
  std::optional<NodeSave> save;       // a posted node save, through its stages
  std::string refused;                // how a posted save was refused (a kOutcome text); "" when it was not
  // The version of the node the page is shown with: a view reads it before
  // the page, with the permission; a save after the page, which may have
  // changed the node.
  std::string version;

  Session& page_session() { return watched_session ? static_cast<Session&>(*watched_session) : session->view(); }
};

std::optional<HttpReply> WebApplication::run_page(const HttpRequest& request, const Route& route, bool kept_only,
                                                  const AheadRead* ahead, LookedUp* looked) {
  // The page, the editor's checks and the version read are one request's
  // reads: an engine that asks its server whether kept results still hold
  // asks once for all of them.
  RequestReads reads;
  // A request that only reads: the look for a kept view, the permission
  // check, the page and the version share one engine connection (on SQLite,
  // one read snapshot too).
  std::optional<DbPool::ThreadHold> one_connection;
  if (route.reads_only) one_connection.emplace();
  PageRun run(request, route);
  open_page(run, ahead, kept_only ? nullptr : looked);
  if (!run.looked) {
    if (std::optional<HttpReply> kept = answer_kept(run, ahead)) return kept;
  }
  if (kept_only) {
    if (looked) carry(run, *looked);
    return std::nullopt;
  }
  check_account(run);
  watch_page(run);
  if (std::optional<HttpReply> refused = apply_rules(run)) return refused;
  // A host page that failed says so in the application's style; the node
  // page answers as it always has, its partial output with the failure's trailer.
  const bool host_page = run.route.page->rules != PageRules::kNodeEditor;
  FailureWatch failures;
  std::optional<HttpReply> reply = render(run);
  if (host_page && (!reply || failures.failed())) {
    return host_failure_page(run.session->view().item("SystemURL").str(), options_.app_root);
  }
  if (!reply) return status_page(500, "Internal Server Error");
  keep_view(run, *reply);
  finish_save(run, *reply);
  // How a save was refused goes with the page, for the shared script to say
  // which case its offer to restore the save is.
  if (!run.refused.empty()) reply->headers.emplace_back("Server-Timing", "save;desc=\"" + run.refused + "\"");
  return finish_view(*run.session, *reply, run.node, run.version);
}

void WebApplication::open_page(PageRun& run, const AheadRead* ahead, LookedUp* looked) {
  const HttpRequest& request = run.request;
  const bool post = request.method == "POST";
  run.looked = looked && looked->looked;
  if (run.looked) {
    // The look that missed parsed the items and read the session and the
    // data's state: the page goes on from there.
    run.query_items = std::move(looked->query_items);
    run.data = looked->read.data;
    if (looked->read.session_read && sessions_->ends() == looked->session_ends) ahead = &looked->read;
  } else {
    run.query_items = parse_form(run.route.query);
  }
  const bool url_encoded = has_media_type(request.content_type, "application/x-www-form-urlencoded");
  if (!post || !(url_encoded || has_media_type(request.content_type, "multipart/form-data"))) {
    // Only a posted form changes data: a link or a redirect from another site
    // still carries the session cookie, and so does a post of some other body
    // that any site can send; their query's "save" item is not passed on.
    if (!run.looked) std::erase_if(run.query_items, [](const auto& item) { return ascii_iequals(item.first, "save"); });
  }
  if (post && url_encoded) run.form_items = parse_form(request.body, form_charset(request.content_type));
  if (ahead && ahead->session_read) {
    run.session.emplace(*sessions_, request, options_.system_url, options_.secure_cookies, ahead->session);
  } else {
    run.session.emplace(*sessions_, request, options_.system_url, options_.secure_cookies);
  }
  run.account = run.session->view().item("UserName").str();
  run.asked.emplace(run.query_items, run.form_items);
  run.application_version = application_.version();
}

std::optional<HttpReply> WebApplication::answer_kept(PageRun& run, const AheadRead* ahead) {
  // A signed-in user's view, asked before with the same inputs while none of
  // them has changed, is answered as it was then; else it is watched as it
  // runs, and kept when it can be answered again.
  if (!run.route.reads_only || run.account.empty() || !options_.keep_views) return std::nullopt;
  run.data = ahead && ahead->data ? ahead->data : current_data_stamp(options_.database);
  if (!run.data) return std::nullopt;
  RequestSession& view = run.session->view();
  // The account must be known to hold at this state of the data: else the
  // page threads read it (check_account).
  if (accounts_->known(view, *run.data) != AccountChecks::Verdict::kHolds) return std::nullopt;
  const std::shared_ptr<const KeptView> kept =
      kept_views_.find(run.route.page, run.route.query, *run.asked, view, *run.data, run.application_version);
  if (!kept) return std::nullopt;
  const std::optional<int64_t> node = run.route.page->rules == PageRules::kNodeEditor ? node_of(*run.asked)
                                                                                      : std::nullopt;
  // A thread that must not wait writes nothing to a shared session store: a
  // view that would (a new version to remember, an expiry due for renewal)
  // goes to a page thread, which reads the session again.
  if (ahead && ahead->session_read) {
    if (node) remember_shown(view, *node, kept->version);
    if (run.session->finish_writes()) {
      run.session_changed = true;  // the page thread reads the session again
      return std::nullopt;
    }
  }
  HttpReply reply;
  reply.status = kept->status;
  reply.headers = kept->headers;
  reply.shared_body = kept->body;
  return finish_view(*run.session, reply, node, kept->version);
}

void WebApplication::carry(PageRun& run, LookedUp& looked) {
  looked.looked = true;
  looked.query_items = std::move(run.query_items);
  looked.read.data = run.data;
  looked.read.session_read = !run.session_changed;
  if (looked.read.session_read) looked.read.session = run.session->found();
}

void WebApplication::check_account(PageRun& run) {
  if (run.account.empty() || accounts_->holds(run.session->view(), run.data)) return;
  // The account was disabled, removed or given another password since this
  // session signed in: the session ends, and the request goes on as one of
  // nobody signed in (a view is sent to sign in, a save is not stored).
  run.session->discard();
  run.account.clear();
}

void WebApplication::watch_page(PageRun& run) {
  if (!run.data) return;
  run.watch.emplace();
  run.watched_session.emplace(run.session->view(), run.session_reads);
}

std::optional<HttpReply> WebApplication::apply_rules(PageRun& run) {
  const PageRules rules = run.route.page->rules;
  if (rules == PageRules::kNone) return std::nullopt;
  RequestSession& view = run.session->view();
  const WatchedRequest watched(*run.asked, run.request_reads);
  const Request& items = run.watch ? static_cast<const Request&>(watched) : *run.asked;
  if (rules == PageRules::kNodeHistory) {
    // Only the host tells the history page of a restore.
    replace_item(run.query_items, kRestoreMessageItem, std::nullopt);
    replace_item(run.form_items, kRestoreMessageItem, std::nullopt);
    if (!run.route.reads_only && !run.account.empty() && node_of(items) &&
        whole_number(items.item("restore").str())) {
      return restore_posted(run, items);
    }
  }
  bool saving = false;
  if (rules == PageRules::kNodeEditor) {
    run.node = node_of(items);
    saving = !run.route.reads_only && script_equal(items.item("save"), "true");
  }
  if (run.account.empty()) return saving ? std::optional<HttpReply>(expired_save(items)) : std::nullopt;
  if (saving && refuse_save(run.query_items, run.form_items, check_posted_lengths(items))) {
    saving = false;
    run.refused = kOutcomeBadValue;
  }
  if (saving && run.node) {
    run.save.emplace(editing_, view, *run.node,
                     client_address(run.request.peer_address, run.request.forwarded_for, options_.trusted_proxies));
  }
  // Authorise. A view reads the row before the page runs: a change committed
  // in between is then shown under an older version, and a save of what was
  // shown is refused as a conflict rather than written over the change.
  const bool read_first = run.node && !saving;
  if (!editing_.may_edit(run.page_session(), read_first ? run.node : std::nullopt,
                         read_first ? &run.version : nullptr)) {
    if (run.save) run.save->refuse_forbidden(items);
    return forbidden(view);
  }
  if (!run.save) return std::nullopt;
  // Check the posted lists and the version shown.
  if (refuse_save(run.query_items, run.form_items, run.save->check(items))) run.refused = run.save->refused();
  return std::nullopt;
}

namespace {

// The response of a page: written in the pages' code page as it renders, or
// a file to save as written when the page asks for one.
class PageResponse : public Response, public FileAnswer {
 public:
  void write(std::string_view text) override {
    if (file_) file_body_.append(text);
    else page_.write(text);
  }
  void set_expires(int minutes) override { page_.set_expires(minutes); }
  void send_as_file(std::string_view content_type, std::string_view file_name) override {
    file_ = true;
    content_type_ = content_type;
    file_name_ = file_name;
  }
  void set_status(int code) override { status_ = code; }

  // The body (the page's in GBK, a file's as written); the response is left empty.
  std::string finish() { return file_ ? std::move(file_body_) : page_.finish(); }
  int expires() const { return page_.expires(); }
  int status() const { return status_; }
  bool is_file() const { return file_; }
  const std::string& content_type() const { return content_type_; }
  const std::string& file_name() const { return file_name_; }

 private:
  GbkResponse page_;          // the page, in GBK
  int status_ = 200;          // the answer's status code
  bool file_ = false;         // the page sends a file
  std::string file_body_;     // the file's bytes, as written
  std::string content_type_;  // its media type
  std::string file_name_;     // the name it is offered under
};

}  // namespace

HttpReply WebApplication::forbidden(Session& session) {
  std::string bar;
  editing_.with_connection(session, true, [&](const Variant& conn) { bar = signed_in_bar(conn); });
  return forbidden_page(session.item("SystemURL").str(), options_.edit_permission, bar);
}

std::optional<HttpReply> WebApplication::restore_posted(PageRun& run, const Request& items) {
  RequestSession& view = run.session->view();
  const int64_t node = *node_of(items);
  const int64_t entry = *whole_number(items.item("restore").str());
  std::optional<RestorePlan> plan;
  std::string message;
  editing_.with_connection(view, true, [&](const Variant& conn) {
    try {
      plan = plan_restore(conn, node, entry);
    } catch (const RestoreRefused& refused) {
      message = refused.what();
    }
  });
  if (plan) {
    // Checked against the version the difference was shown for: a node
    // changed since is refused as a conflict, as a save of the form is.
    if (const std::string shown = items.item(kPostedVersionItem).str(); !shown.empty()) plan->version = shown;
    const std::string address =
        client_address(run.request.peer_address, run.request.forwarded_for, options_.trusted_proxies);
    const RestoreResult result = restore_node(editing_, view, *plan, address, [&](MemoryRequest& posted) {
      // The node page writes the restore as it writes a save; its page is not shown.
      MemoryCall call(application_);
      MemoryResponse discarded;
      call.bind(&view, false, &discarded, &posted);
      std::unique_ptr<Page> page = options_.page_factory();
      page->I_init();
      page->OnEndPage();
    });
    if (result.forbidden) return forbidden(view);
    message = result.message;
  } else if (message.empty()) {
    message = kUncheckedMessage;
  }
  // The history is shown, with what became of the restore.
  replace_item(run.query_items, "restore", std::nullopt);
  replace_item(run.form_items, "restore", std::nullopt);
  replace_item(run.query_items, kRestoreMessageItem, message);
  return std::nullopt;
}

std::optional<HttpReply> WebApplication::render(PageRun& run) {
  MemoryCall call(application_);
  call.request = MemoryRequest(std::move(run.query_items), std::move(run.form_items));
  WatchedRequest watched(call.request, run.request_reads);
  // The page is written in the code page it is sent in as it renders.
  PageResponse page_out;
  call.bind(&run.page_session(), run.route.reads_only, &page_out, run.watch ? &watched : nullptr);
  try {
    std::unique_ptr<Page> page = run.route.page->factory();
    page->I_init();
    page->OnEndPage();
  } catch (...) {
    event_log().write(kEventError, "page failed: " + failure_text(std::current_exception()));
    return std::nullopt;
  }
  HttpReply reply;
  reply.status = page_out.status();
  if (page_out.is_file()) {
    // A file to save: never kept by a cache, offered under its name.
    reply.headers.emplace_back("Content-Type", page_out.content_type());
    reply.headers.emplace_back("Content-Disposition", "attachment; filename=\"" + page_out.file_name() + "\"");
    reply.headers.emplace_back("Cache-Control", "no-store");
    reply.body = page_out.finish();
    return reply;
  }
  reply.headers.emplace_back("Content-Type", "text/html; charset=gb2312");
  const int expires = page_out.expires();
  if (expires == -1) {
    reply.headers.emplace_back("Cache-Control", "private");
  } else if (expires <= 0) {
    reply.headers.emplace_back("Cache-Control", "no-cache, no-store, must-revalidate");
    reply.headers.emplace_back("Pragma", "no-cache");
    reply.headers.emplace_back("Expires", "Thu, 01 Jan 1970 00:00:00 GMT");
  } else {
    reply.headers.emplace_back("Cache-Control", "private, max-age=" + std::to_string(expires * 60L));
  }
  reply.body = page_out.finish();
  return reply;
}

void WebApplication::keep_view(PageRun& run, HttpReply& reply) {
  if (run.watch && run.watch->repeatable()) {
    // Nothing it read can change unseen: kept, under the state of the data
    // it read (or of the data it would have read from, when it read none).
    auto kept = std::make_shared<KeptView>();
    kept->data = run.watch->data().value_or(*run.data);
    kept->application = run.application_version;
    kept->request_items = std::move(run.request_reads);
    kept->session_items = std::move(run.session_reads);
    kept->status = reply.status;
    kept->headers = reply.headers;
    kept->body = std::make_shared<const std::string>(std::move(reply.body));
    kept->version = run.version;
    reply.body.clear();
    reply.shared_body = kept->body;
    kept_views_.keep(run.route.page, run.route.query, std::move(kept));
  }
  run.watch.reset();
}

void WebApplication::finish_save(PageRun& run, HttpReply& reply) {
  // The version shown after a save is the one it left.
  if (run.save && !run.session->view().item("UserName").str().empty()) run.version = run.save->finish();
  if (run.save && run.save->lost()) {
    // The page told of a save that was not stored: the poster is told so
    // instead, and shown no version to post back.
    reply = html_reply(503, std::string("<html><body><p>") + kNotStoredMessage + "</p></body></html>\r\n");
    reply.headers.emplace_back("Cache-Control", "no-store");
    run.version.clear();
  }
  run.save.reset();
}

HttpReply WebApplication::finish_view(SessionScope& session, HttpReply& reply, std::optional<int64_t> node,
                                      const std::string& version) {
  RequestSession& view = session.view();
  if (node && !view.item("UserName").str().empty()) {
    remember_shown(view, *node, version);
    // The version shown goes with the page, for the shared script to post
    // back with the form: each tab then answers for what it showed.
    if (!version.empty()) reply.headers.emplace_back("Server-Timing", "node;desc=\"" + version + "\"");
  }
  if (RequestLogContext* log = RequestLogScope::current()) log->user = view.item("UserName").str();
  session.finish(reply);
  return std::move(reply);
}

HttpReply WebApplication::static_file(const std::vector<std::string>& segments) {
  // Only what lies below the application root is the application's: the
  // same files whatever the root is called.
  const bool below_root =
      segments.size() > root_segments_.size() &&
      std::equal(root_segments_.begin(), root_segments_.end(), segments.begin(),
                 [](const std::string& root, const std::string& s) { return ascii_iequals(root, s); });
  if (!below_root) return status_page(404, "Not Found");
  const std::vector<std::string> below(segments.begin() + static_cast<long>(root_segments_.size()),
                                       segments.end());
  const std::shared_ptr<const StaticFile> file = files_.load(below);
  if (!file) return status_page(404, "Not Found");
  HttpReply reply;
  reply.shared_body = std::shared_ptr<const std::string>(file, &file->content);
  reply.headers.emplace_back("Content-Type", file->content_type);
  reply.headers.emplace_back("Cache-Control", "public, max-age=3600");
  return reply;
}

}  // namespace oapx1
