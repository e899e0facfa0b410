// The web application as the HTTP host serves it: the node settings page, the
// demo login page and the static files, with the application state and the
// sessions they share. It knows nothing of sockets: the transport hands it a
// parsed request and sends back the reply it returns.
#ifndef OAPX1_SERVER_WEB_APPLICATION_H_
#define OAPX1_SERVER_WEB_APPLICATION_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "editing/node_save.h"
#include "host/page.h"
#include "platform/web/memory_intrinsics.h"
#include "server/account_check.h"
#include "server/ahead_reads.h"
#include "server/form.h"
#include "server/http_exchange.h"
#include "server/kept_views.h"
#include "server/session_scope.h"
#include "server/sign_in.h"
#include "server/static_files.h"
#include "server/trusted_proxies.h"
#include "sessions/session_factory.h"

namespace oapx1 {

class AccessLog;

// The URL path of the web application when none is set, for the server and
// for `oapx1 request` alike.
inline constexpr char kDefaultAppRoot[] = "/oa/";

using PageFactory = std::function<std::unique_ptr<Page>()>;

// What a page does to the database, as its route declares it.
enum class PageAccess {
  kReads,              // only reads, however it is asked for
  kWritesWhenPosted,   // reads when asked for with GET or HEAD; a posted form may write
  kWrites,             // may write however it is asked for (a download that gives a model its key)
};

// What the host checks around a page besides what the page does itself.
enum class PageRules {
  kNone,        // nothing
  kWorkflow,    // a signed-in user needs the editing permission (ServerOptions::edit_permission)
  kNodeEditor,  // that, and a posted node save is checked and recorded (editing/node_save.h)
  kNodeHistory, // kWorkflow, and a posted restore (restore=ENTRY) is made through the node save's stages
};

// One page of the application: its URL path below the application root
// (matched without regard to letter case), how it is made, and its access.
struct PageRoute {
  std::string path;
  PageFactory factory;
  PageAccess access = PageAccess::kReads;
  PageRules rules = PageRules::kNone;
};

// The pages of the application, in one place: the node settings page (made
// by `node_page`), the workflow model page that frames it, its node list,
// the list of models, the forms, the diagram and the pickers the node page
// opens. (page_routes.cpp)
std::vector<PageRoute> application_pages(PageFactory node_page);

// The path of the workflow model page below the application root (signing in
// and the application root land on the list of models, kModelListPagePath).
inline constexpr char kModelPagePath[] = "flow/model/model.asp";

// Everything `oapx1 serve` can be told, from flags or the configuration file.
struct ServerOptions {
  std::string address = "127.0.0.1";      // address to listen on
  uint16_t port = 8080;                   // port to listen on; 0 picks a free one
  std::string database;                   // the application database; empty: resolve_database("")
  std::string session_store = "memory";   // "memory" or "redis://host:port/db" (shared by hosts)
  size_t sessions_per_account = 20;       // sessions of one account; beyond, its oldest goes. 0: no limit
  size_t max_sessions = 0;                // sessions in memory; beyond, the least recently used goes. 0: from memory
  std::filesystem::path docroot;          // static files; empty: the shipped www/ folder
  int threads = 0;                        // connection (I/O) threads; 0: one per core
  int page_threads = 0;                   // threads that run page work; 0: one per core, at least 2
  size_t page_queue = 64;                 // page requests waiting for a page thread; more: 503
  size_t max_connections = 0;             // open connections; 0: from the descriptor limit
  size_t max_connections_per_address = 256;  // open connections of one client address; 0: no limit
  std::chrono::milliseconds db_lock_wait{5000};  // longest wait for a database lock; 0: command time-out
  std::chrono::seconds statement_timeout{5};  // longest a page's statement runs or waits for the server; 0: none
  size_t db_pool = 64;                    // database connections open at once; more requests wait for one
  bool keep_views = true;                 // answer a view again while nothing it read changed
  std::string app_root = kDefaultAppRoot; // URL path of the web application, with both slashes
  std::string oa_url;                     // application item TavrinOAURL; empty: app_root
  std::string system_url;                 // session item SystemURL of new sessions; empty: app_root
  std::optional<bool> demo_login;         // demo login page; unset: on when the database has demo data
  std::string access_log;                 // access log file, "-" for standard output; empty: none
  std::string language = "zh-CN";         // regional language of dates: "zh-CN" or "en"
  std::optional<std::string> login_exempt;   // accounts the login policy spares; unset: the environment's
  size_t header_limit = 16 * 1024;        // bytes of request line and headers
  size_t body_limit = 1024 * 1024;        // bytes of a request body
  std::chrono::seconds read_timeout{30};  // to wait for a request to begin (on a new or kept-alive connection)
  std::chrono::seconds header_timeout{10};  // to receive a request's line and headers once it has begun
  std::chrono::seconds body_timeout{30};  // to receive a request's body once its head has come
  std::chrono::seconds write_timeout{30}; // to send one whole reply
  std::chrono::seconds stop_grace{10};    // how long stop() lets in-flight requests finish
  bool secure_cookies = false;            // session cookie only over HTTPS (the Secure flag)
  TrustedProxies trusted_proxies;         // proxies whose forwarding headers are believed
  int login_failures = 10;                // failed sign-ins a minute per address and per account and address pair, and free failures of an account before it waits; 0: no limit
  bool handle_signals = false;            // stop on SIGINT and SIGTERM
  PageFactory page_factory;               // the page object of one request; unset: the node settings page
  std::string edit_permission = kDefaultEditPermission; // function code the workflow pages require
  int retention_days = 0;                 // days history and audit lines are kept (pruned daily); 0: all
  SteadyClock clock;                      // session clock; unset: the steady clock
};

class WebApplication {
 public:
  // Checks the document root, opens the access log when one is set and
  // decides whether the demo login is on (asking the database for its demo
  // marker when the options leave it open). Resolves the database
  // (resolve_database) and makes it the process's default; sets the
  // application item TavrinOAURL. Fails with std::runtime_error for a document
  // root that is not a folder or an access log that cannot be opened.
  explicit WebApplication(ServerOptions options);
  ~WebApplication();

  // Where a request's answer is made.
  enum class PageWork {
    kNone,          // never waits on the database: on the thread that read it
    // A page that only reads: answered from a kept view on the connection
    // thread that read it, while its session has no other request under way
    // (look_kept, after reading ahead what other servers must tell); when no
    // kept view holds, on the page threads.
    kLoopWhenKept,
    kPageThreads,   // may write or wait (a save, a sign-in, a sign-out): on the page threads
  };

  // Where a request goes, decided once from its method and path: both the
  // dispatch (which thread answers) and handle (what answers) read it.
  struct Route {
    enum class Kind { kBadPath, kPage, kLogin, kLogout, kRoot, kStatic };
    Kind kind = Kind::kStatic;
    const PageRoute* page = nullptr;    // the page of a kPage route
    std::vector<std::string> segments;  // the percent-decoded path, as sent
    std::string query;                  // the query string, without its "?"
    bool reads_only = true;             // the answer only reads the database
    PageWork work = PageWork::kNone;
  };
  Route route(const HttpRequest& request) const;

  // The key that orders a request's page work: requests with one key run one
  // after the other (the session cookie's value; empty for none).
  std::string session_key(const HttpRequest& request) const;

  // What a look for a kept view that missed read of its request, carried to
  // the run of its page so that nothing is parsed or read twice.
  struct LookedUp {
    bool looked = false;          // the look ran and filled what follows
    FormPairs query_items;        // the query's items as parsed for the page
    AheadRead read;               // the session as the store gave it (when carried) and the data stamp
    // SessionStore::ends() before the session was read: when it changed
    // since, the session is read again (a sign-out may have ended it).
    uint64_t session_ends = 0;
  };

  // Answers one request along its route and writes its access log line.
  // With `looked`, the page's run uses what a look for its kept view read.
  // Never throws: an unexpected failure (one the page did not handle itself)
  // is logged to the event log, with the request, and answered 500.
  HttpReply handle(const HttpRequest& request, const Route& route, LookedUp* looked = nullptr);
  HttpReply handle(const HttpRequest& request) { return handle(request, route(request)); }

  // Whether a look for a kept view may answer the request: a GET or HEAD of
  // a page that only reads, with a session cookie, while views are kept and
  // some are. Cheap: the dispatch asks it before reading anything ahead.
  bool may_answer_kept(const HttpRequest& request, const Route& route) const;
  // The one decision whether a view is answered from a kept copy: answers a
  // signed-in user's GET or HEAD of a page from its kept view, as handle
  // would and with its access log line, when one still holds; else nothing,
  // with nothing recorded, and what it read in `*looked` for handle. It
  // never runs a page, so the thread that read the request may call it. With
  // `ahead`, the session and data stamp read ahead are used rather than
  // asked for, and nothing is written to the session store (a view that
  // would write goes to handle). Never throws.
  std::optional<HttpReply> look_kept(const HttpRequest& request, const Route& route, const AheadRead* ahead,
                                     LookedUp* looked);
  SessionStore& session_store() { return *sessions_; }
  // The session store when it is on a Redis server, whose sessions the
  // connection threads read ahead; null for sessions in this process.
  RedisSessionStore* redis_sessions() const { return sessions_.as_redis(); }

  // Reopens the access log under its name (after a rotation that moved the
  // file) and the event log's connection to the system log. Requests may run
  // meanwhile. A log that cannot be reopened keeps its old file; the failure
  // goes to the event log.
  void reopen_logs();

  // Ends the sign-ins' password checks (SignIn::stop_checks): for the
  // server's stop, before its page threads and event loops go.
  void stop_sign_ins() { sign_in_->stop_checks(); }

  // Drops expired sessions; returns how many.
  size_t sweep_sessions();
  size_t session_count() const { return sessions_->size(); }
  // Whether the demo login is on. When the options leave it to the database
  // and the database could not be read yet, asks it again.
  bool demo_login_enabled() const;
  // URL path of the node settings page ("/oa/flow/model/jiedian.asp").
  const std::string& page_path() const { return page_path_; }
  const ServerOptions& options() const { return options_; }
  ApplicationState& application_state() { return application_; }

 private:
  struct PageRun;

  HttpReply answer(const HttpRequest& request, const Route& route, LookedUp* looked);
  // The answer of a page whose statement `statement` (its text, cut short)
  // ran out of its time limit: 503 with Retry-After, the statement written
  // to the event log.
  HttpReply statement_timed_out(const std::string& statement) const;
  // Runs a page through its stages, in order. With `kept_only`, only
  // answers from a kept view, and is nothing when none holds, with what it
  // read in `*looked`; else, with `looked`, goes on from what a look read.
  std::optional<HttpReply> run_page(const HttpRequest& request, const Route& route, bool kept_only,
                                    const AheadRead* ahead, LookedUp* looked);
  // The stages of run_page. open_page reads the request's items and its
  // session (the one read `ahead`, or the one a look read, when given).
  void open_page(PageRun& run, const AheadRead* ahead, LookedUp* looked);
  // The answer from a kept view that still holds for the request, for a
  // signed-in user's view that only reads; else nothing.
  std::optional<HttpReply> answer_kept(PageRun& run, const AheadRead* ahead);
  // What a look that missed read, for the run of the page that follows.
  void carry(PageRun& run, LookedUp& looked);
  // Ends the session of a signed-in request whose account no longer holds
  // (AccountChecks), which then goes on as one of nobody signed in. Fails as
  // the data layer does.
  void check_account(PageRun& run);
  // Watches the page as it runs when its view may be kept.
  void watch_page(PageRun& run);
  // The host's rules around the page (PageRules): a refusal's answer (an
  // expired session's save, a user without the permission), or nothing
  // when the page may run; a node save refused by its checks runs the page
  // without saving, with the refusal's message.
  std::optional<HttpReply> apply_rules(PageRun& run);
  // A restore posted to the history page (its OAID and restore=ENTRY):
  // planned (plan_restore) and made through the node save's stages
  // (restore_node, the node page writing it); the 403 page when the user may
  // not edit, else nothing, the page then showing the history with the
  // outcome (kRestoreMessageItem).
  std::optional<HttpReply> restore_posted(PageRun& run, const Request& items);
  // The 403 page of a signed-in user without the editing permission, with
  // the signed-in bar.
  HttpReply forbidden(Session& session);
  // Runs the page itself; nothing when it failed (logged to the event log).
  std::optional<HttpReply> render(PageRun& run);
  // Keeps the view when the watch found it repeatable; the reply then shares
  // the kept bytes.
  void keep_view(PageRun& run, HttpReply& reply);
  // Records the outcome of a posted node save and reads the version the
  // node has after it; a save the page wrote that could not be committed
  // turns `reply` into the page that says nothing was stored.
  void finish_save(PageRun& run, HttpReply& reply);
  // The end of a page's answer: the node version shown (`version` of
  // `node`, for a node page) remembered in the session and sent with the
  // reply, the user named in the log, and the session recorded.
  HttpReply finish_view(SessionScope& session, HttpReply& reply, std::optional<int64_t> node,
                        const std::string& version);
  HttpReply static_file(const std::vector<std::string>& segments);
  // The answer to a node save posted without a signed-in user (its session
  // expired): the login page, told so, returning to the node afterwards.
  HttpReply expired_save(const Request& items);

  ServerOptions options_;
  StaticFiles files_;
  ApplicationState application_;  // the application items and its lock
  ConfiguredSessionStore sessions_;
  std::unique_ptr<AccountChecks> accounts_;  // whether sessions' accounts still hold
  std::unique_ptr<SignIn> sign_in_;
  KeptViews kept_views_;  // views answered again while their inputs hold
  mutable std::atomic<int> demo_login_{0};  // 1 on, 0 off, -1 not known yet (database unreadable)
  std::string page_path_;   // the node settings page
  std::string landing_;     // where signing in and the root lead: the list of models
  // The pages by their path as lower-case segments.
  std::vector<std::pair<std::vector<std::string>, PageRoute>> pages_;
  // The same paths as lower-case segments, as requests are matched.
  std::vector<std::string> root_segments_, login_segments_, logout_segments_;
  std::unique_ptr<AccessLog> access_log_;  // null when there is none
  NodeEditing editing_;  // the permission of the workflow pages and the rules of node saves
};

// The shipped static files: "www" in the working folder when there is one,
// else PREFIX/share/oapx1/www of an installed program (PREFIX/bin/oapx1), else
// the www/ folder of the source tree the program was built in. The
// document root holds the application's shared files as they lie below the
// application root: URL APP_ROOT/PATH is DOCROOT/PATH. Fails with
// std::runtime_error naming each place it looked when none of them is a
// folder.
std::filesystem::path default_docroot();

// True when the database has the demo marker (row 'demo' = '1' of
// OAPX1_Setup); false when it has not (or has no such table); nullopt when the
// database cannot be read.
std::optional<bool> database_has_demo_data(const std::string& connect_string);

}  // namespace oapx1

#endif  // OAPX1_SERVER_WEB_APPLICATION_H_
