#include "server/web_application.h"

#include <algorithm>
#include <system_error>

#include "pages/flownode/node_settings_page.h"
#include "platform/call/call_context.h"
#include "platform/components/components.h"
#include "platform/data/connection.h"
#include "platform/data/db_pool.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/text/ascii.h"
#include "platform/text/codepage.h"
#include "platform/web/event_log.h"
#include "platform/web/process.h"
#include "server/form.h"
#include "server/kept_views.h"
#include "server/node_editing.h"
#include "server/logs.h"
#include "server/request_origin.h"

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

HttpReply status_page(int status, std::string_view text) {
  return html_reply(status, "<html><body><h1>" + std::to_string(status) + " " + std::string(text) +
                                "</h1></body></html>");
}

}  // namespace

fs::path default_docroot() {
  std::error_code ec;
  if (fs::is_directory("www", ec)) return "www";
  const fs::path program = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    // Installed: PREFIX/bin/oapx1 beside PREFIX/share/oapx1/www.
    const fs::path installed = program.parent_path().parent_path() / "share" / "oapx1" / "www";
    if (fs::is_directory(installed, ec)) return installed;
    // Built in a folder of the source tree: the tree's www/ above it.
    for (fs::path dir = program.parent_path(); dir.has_relative_path(); dir = dir.parent_path()) {
      if (fs::is_regular_file(dir / "www" / "Include" / "js" / "orderby.js", ec)) return dir / "www";
    }
  }
  return "www";
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
                                   {}, {options_.sessions_per_account, options_.max_sessions})) {
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
  landing_ = options_.app_root + kModelPagePath + "?OAID=1";
  sign_in_ = std::make_unique<SignIn>(
      SignInSettings{options_.database, login_path, landing_, options_.oa_url + "login.asp",
                     options_.system_url, options_.secure_cookies, options_.trusted_proxies,
                     options_.login_failures, options_.clock, logout_path,
                     [this] { return demo_login_enabled(); }},
      application_, *sessions_);

  set_default_database(options_.database);
  const int lock_wait_ms = static_cast<int>(options_.db_lock_wait.count());
  update_process_settings([&](ProcessSettings& s) { s.database_lock_wait_ms = lock_wait_ms; });
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
    route.reads_only = page.access == PageAccess::kReads || !post;
    if (get || post) {
      route.work = route.reads_only ? PageWork::kReadsHere : PageWork::kPageThreads;
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

HttpReply WebApplication::handle(const HttpRequest& request, const Route& route) {
  RequestLogContext log_context{request.method, request.target, {}};
  RequestLogScope log_scope(log_context);
  HttpReply reply = answer(request, route);
  if (access_log_) access_log_->write(request, reply, log_context.user);
  return reply;
}

bool WebApplication::may_answer_kept(const HttpRequest& request, const Route& route) const {
  return route.kind == Route::Kind::kPage && route.reads_only && options_.keep_views && kept_views_.size() != 0 &&
         (request.method == "GET" || request.method == "HEAD") &&
         request.cookie.find(kSessionCookie) != std::string::npos;
}

std::optional<HttpReply> WebApplication::handle_kept(const HttpRequest& request, const Route& route,
                                                     const AheadRead* ahead) {
  if (!may_answer_kept(request, route)) return std::nullopt;
  RequestLogContext log_context{request.method, request.target, {}};
  RequestLogScope log_scope(log_context);
  std::optional<HttpReply> reply;
  try {
    reply = run_page(request, route, true, ahead);
  } catch (...) {
    return std::nullopt;  // handle answers it, and logs what failed
  }
  if (reply && access_log_) access_log_->write(request, *reply, log_context.user);
  return reply;
}

HttpReply WebApplication::answer(const HttpRequest& request, const Route& route) {
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
      case Route::Kind::kPage:
        if (!get && !post) return not_allowed("GET, HEAD, POST");
        return *run_page(request, route, false);
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

namespace {

// The answer of a signed-in user without the editing permission, in the
// application's code page and style.
HttpReply forbidden_page(const std::string& system_url, const std::string& permission) {
  HttpReply reply = html_reply(
      403, std::string(
               "<!DOCTYPE html>\r\n<html lang=\"zh-CN\">\r\n<head>\r\n"
               "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">\r\n"
               "<title>没有权限</title>\r\n<link href=\"" +
               html_encode(system_url + "Include/imagesV10/CSSForV10.css") +
               "\" type=\"text/css\" rel=\"stylesheet\">\r\n"
               "<style>body{font:12px sans-serif;background:#E4E4E0;margin:0}"
               ".box{width:420px;margin:60px auto;padding:16px 20px;background:#fff;border:1px solid #808080}"
               "h1{font-size:16px;margin:0 0 10px;color:#c00}</style>\r\n</head>\r\n<body>\r\n"
               "<div class=\"box\"><h1>系统提示：没有权限</h1>\r\n<p>您没有流程设置权限（功能代码 " +
               html_encode(permission) +
               "），不能查看或修改流程设置，什么也没有保存。</p>\r\n<p>如需此权限，请与系统管理员联系。</p></div>\r\n"
               "</body>\r\n</html>\r\n"));
  reply.headers.emplace_back("Cache-Control", "no-store");
  return reply;
}

// The session item that holds the version of `node` the session was shown.
std::string shown_version_item(int64_t node) { return std::string(kShownVersionItem) + std::to_string(node); }

// Remembers in the session the version of `node` it is shown, only when it
// differs from what it remembers, so that a view costs no session write.
void remember_shown(RequestSession& view, int64_t node, const std::string& version) {
  const std::string key = shown_version_item(node);
  if (view.item(key).str() != version) view.set_item(key, Variant(version));
}

// The node a request names, when its OAID item is a whole number.
std::optional<int64_t> node_of(const Request& items) {
  const std::string id = items.item("OAID").str();
  if (id.empty() || id.size() > 18 || !std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  return std::stoll(id);
}

void replace_item(FormPairs& items, std::string_view name, std::optional<std::string> value) {
  std::erase_if(items, [&](const auto& item) { return ascii_iequals(item.first, name); });
  if (value) items.emplace_back(std::string(name), std::move(*value));
}

}  // namespace

HttpReply WebApplication::expired_save(const Request& items) {
  // Back to the model page with the same node open once signed in again.
  std::string next = landing_;
  if (const std::optional<int64_t> node = node_of(items)) {
    MemorySession scratch;
    with_library_connection(application_, scratch, true, [&](const Variant& conn) {
      if (const std::optional<NodeRow> row = read_node_row(conn, *node)) {
        for (const auto& [column, value] : *row) {
          if (ascii_iequals(column, "MOAID") && !value.empty()) {
            next = options_.app_root + kModelPagePath + "?OAID=" + url_query_text(value) +
                   "&JieDianID=" + std::to_string(*node);
          }
        }
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

std::optional<HttpReply> WebApplication::run_page(const HttpRequest& request, const Route& route, bool kept_only,
                                                  const AheadRead* ahead) {
  // The page, the editor's checks and the version read are one request's
  // reads: an engine that asks its server whether kept results still hold
  // asks once for all of them.
  RequestReads reads;
  // A request that only reads: the look for a kept view, the permission
  // check, the page and the version share one engine connection (on SQLite,
  // one read snapshot too).
  std::optional<DbPool::ThreadHold> one_connection;
  if (route.reads_only) one_connection.emplace();
  const bool post = request.method == "POST";
  FormPairs query_items = parse_form(route.query);
  const bool url_encoded = has_media_type(request.content_type, "application/x-www-form-urlencoded");
  if (!post || !(url_encoded || has_media_type(request.content_type, "multipart/form-data"))) {
    // Only a posted form changes data: a link or a redirect from another site
    // still carries the session cookie, and so does a post of some other body
    // that any site can send; their query's "save" item is not passed on.
    std::erase_if(query_items, [](const auto& item) { return ascii_iequals(item.first, "save"); });
  }
  FormPairs form_items = post && url_encoded ? parse_form(request.body, form_charset(request.content_type))
                                             : FormPairs{};
  SessionScope session = ahead && ahead->session_read
                             ? SessionScope(*sessions_, request, options_.system_url, options_.secure_cookies,
                                            ahead->session)
                             : SessionScope(*sessions_, request, options_.system_url, options_.secure_cookies);
  RequestSession& view = session.view();
  const PageRules rules = route.page->rules;
  const std::string account = view.item("UserName").str();

  // A signed-in user's view, asked before with the same inputs while none of
  // them has changed, is answered as it was then; else it is watched as it
  // runs, and kept when it can be answered again.
  // The request's items as the host's own checks read them (the page gets
  // them moved into its call).
  const MemoryRequest asked(query_items, form_items);
  std::optional<DataStamp> data;
  const uint64_t application_version = application_.version();
  if (route.reads_only && !account.empty() && options_.keep_views) {
    data = ahead && ahead->data ? ahead->data : current_data_stamp(options_.database);
    if (data) {
      if (std::shared_ptr<const KeptView> kept =
              kept_views_.find(route.page, route.query, asked, view, *data, application_version)) {
        const std::optional<int64_t> node = rules == PageRules::kNodeEditor ? node_of(asked) : std::nullopt;
        // A thread that must not wait writes nothing to a shared session
        // store: a view that would (a new version to remember, an expiry due
        // for renewal) goes to a page thread, which reads the session again.
        if (ahead && ahead->session_read) {
          if (node) remember_shown(view, *node, kept->version);
          if (session.finish_writes()) return std::nullopt;
        }
        HttpReply reply;
        reply.status = kept->status;
        reply.headers = kept->headers;
        reply.shared_body = kept->body;
        return finish_view(session, reply, node, kept->version);
      }
    }
  }
  if (kept_only) return std::nullopt;
  std::optional<CallWatch> watch;
  ReadItems request_reads, session_reads;
  std::optional<WatchedSession> watched_session;
  if (data) {
    watch.emplace();
    watched_session.emplace(view, session_reads);
  }
  Session& page_session = watched_session ? static_cast<Session&>(*watched_session) : view;

  // The node save this request posts, as the host checks and records it.
  std::optional<int64_t> node;
  bool saving = false;
  std::optional<NodeRow> before;
  std::unique_lock<std::mutex> save_lock(node_saves_, std::defer_lock);
  NodeHistoryEntry entry;
  // The version of the node the page is shown with: a view reads it before
  // the page, with the permission; a save after the page, which may have
  // changed the node.
  std::string version;
  bool posted_save = false;
  if (rules != PageRules::kNone) {
    const WatchedRequest watched(asked, request_reads);
    const Request& items = watch ? static_cast<const Request&>(watched) : asked;
    if (rules == PageRules::kNodeEditor) {
      node = node_of(items);
      saving = !route.reads_only && script_equal(items.item("save"), "true");
      posted_save = saving;
    }
    if (account.empty() && saving) return expired_save(items);
    if (!account.empty() && node && rules == PageRules::kNodeEditor) {
      entry.node = *node;
      entry.account = account;
      entry.address = client_address(request.peer_address, request.forwarded_for, options_.trusted_proxies);
    }
    // A view reads the row before the page runs: a change committed in
    // between is then shown under an older version, and a save of what was
    // shown is refused as a conflict rather than written over the change.
    const bool read_first = node && !saving;
    if (!account.empty() && !user_may_edit(application_, page_session, options_.edit_permission,
                                           read_first ? node : std::nullopt, read_first ? &version : nullptr)) {
      if (saving && node) {
        entry.outcome = kOutcomeForbidden;
        entry.remark = "系统提示：没有流程设置权限，设置未保存！";
        with_library_connection(application_, view, false, [&](const Variant& conn) {
          entry.name = full_name(conn, account);
          if (const std::optional<NodeRow> current = read_node_row(conn, *node)) {
            entry.changes = row_changes(*current, posted_row(*current, items));
          }
          record_history(conn, entry);
        });
        audit_node_save(application_, view, "流程节点 " + std::to_string(*node) + " 的设置未保存：没有流程设置权限");
      }
      return forbidden_page(view.item("SystemURL").str(), options_.edit_permission);
    }
    if (saving && node) {
      save_lock.lock();
      std::string refusal;
      with_library_connection(application_, view, false, [&](const Variant& conn) {
        before = read_node_row(conn, *node);
        if (!before) return;  // the page says the node does not exist
        entry.name = full_name(conn, account);
        refusal = check_posted_lists(conn, items);
        if (!refusal.empty()) {
          entry.outcome = kOutcomeBadList;
        } else {
          // The version the posting tab was shown, when its shared script
          // sent it; else the one this session was last shown.
          std::string shown = items.item(kPostedVersionItem).str();
          if (shown.empty()) shown = view.item(shown_version_item(*node)).str();
          if (!shown.empty() && shown != row_version(*before)) {
            entry.outcome = kOutcomeConflict;
            const std::optional<NodeHistoryEntry> last = last_saved(conn, *node);
            refusal = last ? "系统提示：此节点已于 " + last->when + " 被 " + last->name + "（" + last->account +
                                 "）修改，您的设置未保存，下面显示的是当前设置；您提交的内容已记入修改记录。"
                           : std::string("系统提示：此节点在您打开之后已被修改，您的设置未保存，下面显示的是当前设置；"
                                         "您提交的内容已记入修改记录。");
          }
        }
        if (refusal.empty()) return;
        entry.remark = refusal;
        entry.changes = row_changes(*before, posted_row(*before, items));
        record_history(conn, entry);
      });
      if (!refusal.empty()) {
        // Nothing is written: the page shows the node as it is, with the reason.
        saving = false;
        replace_item(query_items, "save", std::nullopt);
        replace_item(form_items, "save", std::nullopt);
        replace_item(form_items, "msg", std::nullopt);
        replace_item(query_items, "msg", refusal);
        audit_node_save(application_, view, "流程节点 " + std::to_string(*node) + " 的设置未保存：" +
                                                std::string(outcome_text(entry.outcome)));
      }
    }
  }

  HttpReply reply;
  {
    MemoryCall call(application_);
    call.request = MemoryRequest(std::move(query_items), std::move(form_items));
    WatchedRequest watched(call.request, request_reads);
    // The page is written in the code page it is sent in as it renders.
    GbkResponse page_out;
    call.bind(&page_session, route.reads_only, &page_out, watch ? &watched : nullptr);
    try {
      std::unique_ptr<Page> page = route.page->factory();
      page->I_init();
      page->OnEndPage();
    } catch (...) {
      event_log().write(kEventError, "page failed: " + failure_text(std::current_exception()));
      return status_page(500, "Internal Server Error");
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
  }
  if (watch && watch->repeatable()) {
    // Nothing it read can change unseen: kept, under the state of the data
    // it read (or of the data it would have read from, when it read none).
    auto kept = std::make_shared<KeptView>();
    kept->data = watch->data().value_or(*data);
    kept->application = application_version;
    kept->request_items = std::move(request_reads);
    kept->session_items = std::move(session_reads);
    kept->status = reply.status;
    kept->headers = reply.headers;
    kept->body = std::make_shared<const std::string>(std::move(reply.body));
    kept->version = version;
    reply.body.clear();
    reply.shared_body = kept->body;
    kept_views_.keep(route.page, route.query, std::move(kept));
  }
  watch.reset();

  if (posted_save && node && !view.item("UserName").str().empty()) {
    // The version shown after a save is the one it left.
    std::optional<NodeRow> after;
    with_library_connection(application_, view, !saving, [&](const Variant& conn) {
      after = read_node_row(conn, *node);
      if (saving && before && after) {
        entry.outcome = kOutcomeSaved;
        entry.remark = "系统提示：流程流程节点设置保存成功！";
        entry.changes = row_changes(*before, *after);
        record_history(conn, entry);
      }
    });
    version = after ? row_version(*after) : std::string();
    if (saving && before && after) {
      audit_node_save(application_, view, "流程节点 " + std::to_string(*node) + " 的设置已保存，修改了 " +
                                              std::to_string(entry.changes.size()) + " 项");
    }
  }
  if (save_lock.owns_lock()) save_lock.unlock();
  return finish_view(session, reply, node, version);
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
