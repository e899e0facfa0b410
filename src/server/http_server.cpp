#include <utility>  // before Asio: g++ 12 in C++20 mode needs it declared first

#include "server/http_server.h"

#include <array>
#include <atomic>
#include <csignal>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <pthread.h>
#include <sys/resource.h>
#include <time.h>

#include "platform/web/event_log.h"
#include "server/ahead_reads.h"
#include "server/form.h"
#include "server/page_workers.h"

namespace oapx1 {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

class HttpConnection;
using Clock = std::chrono::steady_clock;

// What the connections of one server share.
struct Shared {
  ServerOptions options;
  std::unique_ptr<WebApplication> app;
  PageWorkers* workers = nullptr;  // owned by the server, which outlives every request
  std::atomic<bool> stopping{false};
  std::mutex mutex;  // guards connections
  // Live connections, those idle the longest first (a connection moves to the
  // end when it starts waiting for a request): for the stop, the time-out
  // sweep and for making room when the connections reach their cap.
  std::list<std::weak_ptr<HttpConnection>> connections;
  // Connections that hold a descriptor, less those being closed to make room.
  std::atomic<size_t> open{0};
  // Live connections by client address (the peer's), for the per-address limit.
  std::unordered_map<std::string, size_t> per_address;
  std::function<void()> on_idle;  // called when the last connection ends during a stop
};

// How long the accept loop rests when an accept fails (no descriptor left, ...)
// or when every connection is busy at the cap, before it tries again.
constexpr std::chrono::milliseconds kAcceptPause{20};

// How long a sample of a connection thread's load lasts at least, and the
// share of that time on a core under which the thread has room for more
// connections.
constexpr std::chrono::milliseconds kLoadSample{20};
constexpr double kRoomyLoop = 0.5;

// How often the read and write time-outs are checked: a slow client is closed
// at most this much after its time-out.
constexpr std::chrono::milliseconds kTimeoutSweep{250};

// The address of the connection's peer in canonical text (an IPv4 address
// mapped into IPv6 as IPv4); empty when the socket has none.
std::string peer_address(const tcp::socket& socket) {
  beast::error_code ec;
  const auto remote = socket.remote_endpoint(ec);
  if (ec) return {};
  auto address = remote.address();
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    address = net::ip::make_address_v4(net::ip::v4_mapped, address.to_v6());
  }
  return address.to_string();
}

// Page threads when the settings leave them open. A page on SQLite with
// in-memory sessions keeps its core busy; one that waits for a server over
// the network (PostgreSQL, sessions in Redis) keeps a core busy only with
// several pages under way on it.
int default_page_threads(const ServerOptions& options) {
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const bool waits_on_network = options.database.starts_with("postgres") ||
                                options.session_store.starts_with("redis");
  return waits_on_network ? std::max(8, 4 * cores) : std::max(2, cores);
}

// The connection cap that the descriptor limit leaves room for: the database,
// static files, the event loop and the log keep an eighth of the limit, and
// never less than 64 descriptors.
size_t connections_for_descriptor_limit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 100000;
  const size_t descriptors = static_cast<size_t>(limit.rlim_cur);
  const size_t headroom = std::max<size_t>(64, descriptors / 8);
  return descriptors > headroom + 16 ? descriptors - headroom : 16;
}

// The status line and headers of a reply, Content-Length and Connection
// included, ready to be sent before its body.
std::string reply_head(const HttpReply& reply, unsigned version, bool keep_alive) {
  const auto status = static_cast<http::status>(reply.status);
  const auto reason = http::obsolete_reason(status);
  std::string head;
  head.reserve(160 + reply.headers.size() * 48);
  head += version == 10 ? "HTTP/1.0 " : "HTTP/1.1 ";
  head += std::to_string(reply.status);
  head += ' ';
  head.append(reason.data(), reason.size());
  head += "\r\nServer: oapx1\r\n";
  for (const auto& [name, value] : reply.headers) {
    head += name;
    head += ": ";
    head += value;
    head += "\r\n";
  }
  // No body, and so no length, for 1xx, 204 and 304.
  if (!(reply.status / 100 == 1 || reply.status == 204 || reply.status == 304)) {
    head += "Content-Length: ";
    head += std::to_string(reply.bytes().size());
    head += "\r\n";
  }
  if (version == 10 && keep_alive) head += "Connection: keep-alive\r\n";
  if (version != 10 && !keep_alive) head += "Connection: close\r\n";
  head += "\r\n";
  return head;
}

// One client connection: reads requests one after the other, each within the
// size limits and its time-outs (the read time-out for a request to begin,
// the header time-out for its head, the body time-out for its body), and
// writes each reply within the write time-out. Its handlers run one at a time
// on its executor (the event loop it was given to); the
// time-outs are enforced by the server's periodic sweep, which reads
// `deadline_`. The server has counted it for its address (`peer`) before.
class HttpConnection : public std::enable_shared_from_this<HttpConnection> {
 public:
  HttpConnection(tcp::socket&& socket, std::string peer, std::shared_ptr<Shared> shared, AheadReads* ahead)
      : socket_(std::move(socket)), shared_(std::move(shared)), peer_(std::move(peer)), ahead_(ahead) {
    ++shared_->open;
  }

  void start() {
    {
      std::lock_guard<std::mutex> guard(shared_->mutex);
      shared_->connections.push_back(weak_from_this());
      registration_ = std::prev(shared_->connections.end());
    }
    net::post(socket_.get_executor(), [self = shared_from_this()] { self->read_request(true); });
  }

  ~HttpConnection() {
    if (!evicting_) --shared_->open;
    bool last;
    {
      std::lock_guard<std::mutex> guard(shared_->mutex);
      shared_->connections.erase(registration_);
      last = shared_->connections.empty();
      if (const auto it = shared_->per_address.find(peer_); it != shared_->per_address.end()) {
        if (--it->second == 0) shared_->per_address.erase(it);
      }
    }
    if (last && shared_->stopping && shared_->on_idle) shared_->on_idle();
  }

  // The server stops: an idle connection closes now, one with a request under
  // way finishes it first.
  void shut_down() {
    net::post(socket_.get_executor(), [self = shared_from_this()] { self->close_if_idle(); });
  }

  // Waiting for a request of which nothing has come, and not being closed.
  // A connection that has sent part of a request is busy.
  bool is_idle() const { return idle_ && !evicting_; }

  // The client's address.
  const std::string& peer() const { return peer_; }

  // Closes the connection when its read or write has outlasted its time-out.
  void check_deadline(Clock::time_point now) {
    const int64_t deadline = deadline_.load(std::memory_order_relaxed);
    if (deadline == 0 || deadline > now.time_since_epoch().count()) return;
    net::post(socket_.get_executor(), [self = shared_from_this()] {
      const int64_t d = self->deadline_.load(std::memory_order_relaxed);
      if (d != 0 && d <= Clock::now().time_since_epoch().count()) self->close();
    });
  }

  // Marks the connection to be closed to make room for a new one; false when
  // it is busy or already marked. Its descriptor counts as free from here.
  bool evict() {
    if (!idle_ || evicting_.exchange(true)) return false;
    --shared_->open;
    net::post(socket_.get_executor(), [self = shared_from_this()] {
      if (!self->close_if_idle()) {
        // A request arrived in the meantime: it is served after all.
        self->evicting_ = false;
        ++self->shared_->open;
      }
    });
    return true;
  }

 private:
  // Closes the connection when it waits for a request of which nothing has come.
  bool close_if_idle() {
    if (!idle_) return false;
    beast::error_code ec;
    socket_.shutdown(tcp::socket::shutdown_both, ec);
    socket_.close(ec);
    return true;
  }

  void set_deadline(std::chrono::seconds timeout) {
    deadline_.store((Clock::now() + timeout).time_since_epoch().count(), std::memory_order_relaxed);
  }
  void clear_deadline() { deadline_.store(0, std::memory_order_relaxed); }

  // Waits for the next request; `fresh` for the first of a new connection.
  void read_request(bool fresh = false) {
    if (shared_->stopping) return close();
    {
      // Idle from now: the last in line to be closed to make room.
      std::lock_guard<std::mutex> guard(shared_->mutex);
      shared_->connections.splice(shared_->connections.end(), shared_->connections, registration_);
    }
    parser_.emplace();
    parser_->header_limit(static_cast<uint32_t>(shared_->options.header_limit));
    parser_->body_limit(shared_->options.body_limit);
    // A pipelined request has begun already.
    if (buffer_.size() != 0) return read_header();
    // So has the first request of a new connection whose bytes came with it
    // (as they mostly do): it is busy from here, never taken for idle, and so
    // closed to make room, while the handler that reads it waits its turn.
    if (fresh) {
      beast::error_code ec;
      if (socket_.available(ec) > 0 && !ec) return read_header();
    }
    // Idle until the first byte comes: the connection may be closed to make
    // room, and is closed when nothing comes within the read time-out.
    idle_ = true;
    set_deadline(shared_->options.read_timeout);
    socket_.async_wait(tcp::socket::wait_read, [self = shared_from_this()](beast::error_code ec) {
      if (ec) return self->close();  // closed to make room, or for the stop
      self->read_header();
    });
  }

  // The request has begun: from here it is busy, and its head must be whole
  // within the header time-out, however slowly its bytes arrive.
  void read_header() {
    idle_ = false;
    set_deadline(shared_->options.header_timeout);
    http::async_read_header(socket_, buffer_, *parser_,
                            [self = shared_from_this()](beast::error_code ec, size_t) {
                              self->on_header(ec);
                            });
  }

  void on_header(beast::error_code ec) {
    if (ec) return on_read_error(ec);
    const auto& req = parser_->get();
    // A transfer coding this server does not decode would leave the body in
    // the stream to be read as the next request: refuse it.
    if (const size_t codings = req.count(http::field::transfer_encoding); codings > 0) {
      const auto te = req.find(http::field::transfer_encoding);
      if (codings > 1 ||
          ascii_lower(trim(std::string_view(te->value().data(), te->value().size()))) != "chunked" ||
          req.find(http::field::content_length) != req.end()) {
        return reply_error(400);
      }
    }
    if (auto expect = req.find(http::field::expect); expect != req.end()) {
      if (ascii_lower(trim(std::string_view(expect->value().data(), expect->value().size()))) !=
          "100-continue") {
        return reply_error(417);
      }
      if (!parser_->is_done()) {
        set_deadline(shared_->options.body_timeout);
        static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
        net::async_write(socket_, net::buffer(kContinue.data(), kContinue.size()),
                         [self = shared_from_this()](beast::error_code ec, size_t) {
                           if (ec) return self->close();
                           self->read_body();
                         });
        return;
      }
    }
    if (parser_->is_done()) return on_read({});
    set_deadline(shared_->options.body_timeout);
    read_body();
  }

  // Reads the body within the body time-out. Each arrival is parsed at once,
  // so that a chunked body whose size line or trailer cannot end is refused
  // (400) as soon as it shows, rather than waiting for a CR LF that never
  // comes until the time-out.
  void read_body() {
    parser_->eager(true);
    beast::error_code ec;
    while (buffer_.size() != 0) {
      const size_t used = parser_->put(buffer_.data(), ec);
      buffer_.consume(used);
      if (ec == http::error::need_more) break;
      if (ec) return on_read_error(ec);
      if (parser_->is_done()) return on_read({});
      if (used == 0) break;
    }
    if (parser_->chunked() && !chunk_lines_can_end()) return reply_error(400);
    socket_.async_read_some(
        buffer_.prepare(beast::read_size(buffer_, 65536)),
        [self = shared_from_this()](beast::error_code ec, size_t bytes) {
          self->buffer_.commit(bytes);
          if (ec == net::error::eof) {
            ec = {};
            self->parser_->put_eof(ec);  // a body cut short: partial_message
            return ec ? self->on_read_error(ec) : self->on_read({});
          }
          if (ec) return self->on_read_error(ec);
          self->read_body();
        });
  }

  // Whether the bytes of a chunked body the parser has left unread can still
  // end as sound lines. The parser leaves a line (a chunk's closing CR LF and
  // the next size line, or the last chunk and its trailer) unread until its
  // CR LF has come; a bare LF in it, or more of it than a request head may
  // hold, means the CR LF it waits for will never end it.
  bool chunk_lines_can_end() const {
    const auto data = buffer_.data();
    const std::string_view unread(static_cast<const char*>(data.data()), data.size());
    if (unread.size() > shared_->options.header_limit) return false;
    for (size_t at = unread.find('\n'); at != std::string_view::npos; at = unread.find('\n', at + 1)) {
      if (at == 0 || unread[at - 1] != '\r') return false;
    }
    return true;
  }

  void on_read(beast::error_code ec) {
    if (ec) return on_read_error(ec);
    clear_deadline();  // page work has no time-out; the reply's write has its own
    const auto& req = parser_->get();
    HttpRequest request;
    request.method = std::string(req.method_string());
    request.target = std::string(req.target());
    if (auto f = req.find(http::field::content_type); f != req.end()) request.content_type = std::string(f->value());
    // Several Cookie headers are one list.
    for (auto [it, end] = req.equal_range(http::field::cookie); it != end; ++it) {
      if (!request.cookie.empty()) request.cookie += "; ";
      request.cookie += std::string(it->value());
    }
    request.body = std::move(parser_->get().body());
    request.peer_address = peer_;
    auto header = [&req](const auto& name) {
      const auto it = req.find(name);
      return it == req.end() ? std::string() : std::string(it->value());
    };
    request.host = header(http::field::host);
    request.origin = header(http::field::origin);
    request.referer = header(http::field::referer);
    request.user_agent = header(http::field::user_agent);
    request.forwarded = header(http::field::forwarded);
    request.forwarded_host = header("X-Forwarded-Host");
    request.forwarded_proto = header("X-Forwarded-Proto");
    for (auto [it, end] = req.equal_range("X-Forwarded-For"); it != end; ++it) {
      if (!request.forwarded_for.empty()) request.forwarded_for += ", ";
      request.forwarded_for += std::string(it->value());
    }
    request.version = req.version() == 10 ? "HTTP/1.0" : "HTTP/1.1";
    const bool head = req.method() == http::verb::head;
    const bool keep_alive = req.keep_alive();
    const unsigned version = req.version();
    WebApplication::Route route = shared_->app->route(request);
    if (route.work == WebApplication::PageWork::kNone) {
      HttpReply reply = shared_->app->handle(request, route);
      return send(std::move(reply), version, keep_alive && !shared_->stopping, head);
    }
    std::string session = shared_->app->session_key(request);
    // A view that a kept view answers is answered here when its session has
    // no other request under way: handing it to a page thread and its reply
    // back would cost more than the answer. What other servers must tell
    // for it (the session, the data's state) is read ahead without waiting.
    // No page runs here, so the other connections of this thread's loop
    // never wait on one.
    if (route.work == WebApplication::PageWork::kReadsHere && shared_->app->may_answer_kept(request, route)) {
      if (ahead_->active()) {
        auto asked = std::make_shared<Asked>(Asked{std::move(request), std::move(route), std::move(session)});
        ahead_->read(asked->session, [self = shared_from_this(), asked, version, keep_alive,
                                      head](std::optional<AheadRead> ahead) {
          self->answer_here(std::move(asked->request), std::move(asked->route), std::move(asked->session),
                            ahead ? &*ahead : nullptr, version, keep_alive, head);
        });
        return;
      }
      return answer_here(std::move(request), std::move(route), std::move(session), nullptr, version, keep_alive,
                         head);
    }
    to_page_threads(std::move(request), std::move(route), std::move(session), version, keep_alive, head);
  }

  // A request and where it goes, while what it needs is read ahead.
  struct Asked {
    HttpRequest request;
    WebApplication::Route route;
    std::string session;
  };

  // Answers a view from its kept view here, with what was read `ahead` for
  // it (null: the look asks itself), or hands it to the page threads.
  void answer_here(HttpRequest request, WebApplication::Route route, std::string session, const AheadRead* ahead,
                   unsigned version, bool keep_alive, bool head) {
    std::optional<HttpReply> reply;
    const bool looked = (ahead || !ahead_->active()) &&
                        shared_->workers->try_run_here(session, [&] {
                          reply = shared_->app->handle_kept(request, route, ahead);
                        });
    if (looked && reply) return send(std::move(*reply), version, keep_alive && !shared_->stopping, head);
    to_page_threads(std::move(request), std::move(route), std::move(session), version, keep_alive, head);
  }

  void to_page_threads(HttpRequest request, WebApplication::Route route, std::string session, unsigned version,
                       bool keep_alive, bool head) {
    // Page work runs on the page threads, one request of a session after the
    // other; this thread goes back to the other connections. The work guard
    // keeps the loop running until the reply has been handed back.
    // The reply goes back once the session counts as free again, so that
    // the client's next request finds it free.
    auto reply = std::make_shared<HttpReply>();
    const bool queued = shared_->workers->try_post(
        std::move(session),
        [self = shared_from_this(), request = std::move(request), route = std::move(route), reply]() {
          *reply = self->shared_->app->handle(request, route);
        },
        [self = shared_from_this(), reply, version, keep_alive, head,
         work = net::make_work_guard(socket_.get_executor())]() {
          net::post(self->socket_.get_executor(), [self, reply, version, keep_alive, head] {
            self->send(std::move(*reply), version, keep_alive && !self->shared_->stopping, head);
          });
        });
    if (!queued) {
      // Too much page work waiting: the client may come back shortly.
      HttpReply reply = error_reply(503);
      reply.headers.emplace_back("Retry-After", "1");
      send(std::move(reply), version, keep_alive && !shared_->stopping, head);
    }
  }

  void on_read_error(beast::error_code ec) {
    clear_deadline();
    if (ec == http::error::body_limit) return reply_error(413);
    if (ec == http::error::header_limit) return reply_error(431);
    if (&ec.category() == &http::make_error_code(http::error::bad_method).category() &&
        ec != http::error::end_of_stream && ec != http::error::partial_message) {
      return reply_error(400);  // not HTTP: a bad request line, header or chunk
    }
    close();  // the client left, or was too slow
  }

  static HttpReply error_reply(int status) {
    HttpReply reply;
    reply.status = status;
    reply.headers.emplace_back("Content-Type", "text/html; charset=gb2312");
    reply.body = "<html><body><h1>" + std::to_string(status) + " " +
                 std::string(http::obsolete_reason(static_cast<http::status>(status))) +
                 "</h1></body></html>";
    return reply;
  }

  // Answers a request that cannot be read further, then closes.
  void reply_error(int status) { send(error_reply(status), 11, false, false); }

  void send(HttpReply reply, unsigned version, bool keep_alive, bool head) {
    if (reply.not_before > Clock::now()) {
      // The reply waits on a timer, not on a thread.
      auto timer = std::make_shared<net::steady_timer>(socket_.get_executor(), reply.not_before);
      reply.not_before = {};
      timer->async_wait([self = shared_from_this(), timer, reply = std::move(reply), version,
                         keep_alive, head](beast::error_code) mutable {
        self->send(std::move(reply), version, keep_alive && !self->shared_->stopping, head);
      });
      return;
    }
    // Head and body go out in one gathered write; HEAD keeps the length of
    // the body it does not send.
    out_head_ = reply_head(reply, version, keep_alive);
    out_body_ = std::move(reply.body);
    if (reply.shared_body) out_shared_ = std::move(reply.shared_body);
    const std::string& body = out_shared_ ? *out_shared_ : out_body_;
    std::array<net::const_buffer, 2> buffers{net::const_buffer(out_head_.data(), out_head_.size()),
                                             net::const_buffer(body.data(), head ? 0 : body.size())};
    set_deadline(shared_->options.write_timeout);
    net::async_write(socket_, buffers,
                     [self = shared_from_this(), keep_alive](beast::error_code ec, size_t) {
                       self->clear_deadline();
                       self->out_shared_.reset();
                       if (ec || !keep_alive) return self->close();
                       self->read_request();
                     });
  }

  void close() {
    clear_deadline();
    beast::error_code ec;
    socket_.shutdown(tcp::socket::shutdown_send, ec);
    socket_.close(ec);
  }

  tcp::socket socket_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::shared_ptr<Shared> shared_;
  std::list<std::weak_ptr<HttpConnection>>::iterator registration_;
  std::string peer_;      // the client's address
  AheadReads* ahead_;     // the reads ahead of the connection's loop
  std::string out_head_;  // the reply being written: its head,
  std::string out_body_;  // its body,
  std::shared_ptr<const std::string> out_shared_;  // or a body it shares (a cached file)
  std::atomic<bool> idle_{false};      // waiting for a request of which nothing has come
  std::atomic<bool> evicting_{false};  // being closed to make room
  // When the read or write under way times out (steady clock ticks); 0: none.
  std::atomic<int64_t> deadline_{0};
};

}  // namespace

struct HttpServer::Impl {
  explicit Impl(ServerOptions options)
      : shared(std::make_shared<Shared>()),
        thread_count(options.threads > 0 ? options.threads
                                         : std::max(1u, std::thread::hardware_concurrency())),
        loops(make_loops(thread_count)),
        control(net::make_strand(loops.front()->ioc)),
        acceptor(control),
        accept_timer(control),
        sweep_timer(control),
        timeout_timer(control),
        grace_timer(control),
        signals(control) {
    shared->options = options;
    max_connections = options.max_connections > 0 ? options.max_connections
                                                  : connections_for_descriptor_limit();
    const int page_threads = options.page_threads > 0 ? options.page_threads : default_page_threads(options);
    workers = std::make_unique<PageWorkers>(page_threads, std::max<size_t>(1, options.page_queue));
    shared->workers = workers.get();
    shared->on_idle = [this] { net::post(control, [this] { grace_timer.cancel(); }); };
    shared->app = std::make_unique<WebApplication>(std::move(options));
    for (auto& loop : loops) {
      loop->ahead = std::make_unique<AheadReads>(loop->ioc, shared->app->redis_sessions(),
                                                 shared->app->options().database);
      if (shared->options.keep_views) loop->ahead->connect();  // else never asked
    }
    const ServerOptions& o = shared->options;
    beast::error_code ec;
    const auto address = net::ip::make_address(o.address, ec);
    if (ec) throw std::runtime_error("not an IP address: " + o.address);
    const tcp::endpoint endpoint(address, o.port);
    acceptor.open(endpoint.protocol(), ec);
    if (!ec) acceptor.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) acceptor.bind(endpoint, ec);
    if (!ec) acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
      throw std::runtime_error("cannot listen on " + o.address + ":" + std::to_string(o.port) +
                               ": " + ec.message());
    }
    accept();
    schedule_sweep();
    schedule_timeouts();
    if (o.handle_signals) {
      signals.add(SIGINT);
      signals.add(SIGTERM);
      signals.add(SIGHUP);
      wait_for_signal();
    }
  }

  // Runs on the control strand. SIGHUP reopens the logs (after a rotation) and
  // the server goes on; SIGINT and SIGTERM stop it.
  void wait_for_signal() {
    signals.async_wait([this](beast::error_code ec, int signal) {
      if (ec) return;
      if (signal != SIGHUP) return begin_stop();
      shared->app->reopen_logs();
      event_log().write(kEventInformation, "oapx1 serve: logs reopened");
      wait_for_signal();
    });
  }

  ~Impl() {
    // Connections still queued die with the io_context: nothing to tell then.
    shared->on_idle = nullptr;
  }

  // One event loop and the connection thread that runs it.
  struct Loop {
    net::io_context ioc{1};
    // Keeps the loop running while it has no connection, until the stop.
    net::executor_work_guard<net::io_context::executor_type> keep{ioc.get_executor()};
    // What its connections' views need from other servers, read ahead.
    std::unique_ptr<AheadReads> ahead;
    // The CPU clock of the thread running the loop, once it runs.
    std::atomic<bool> running{false};
    clockid_t cpu_clock{};
    // The share of the last sample's time that its thread was on a core (0
    // to 1), and when that sample ended; read and written on the control
    // strand only.
    double busy = 0;
    Clock::time_point sampled{};
    int64_t cpu_at_sample = 0;  // its thread's CPU time then, in nanoseconds

    // Takes a new sample when the last is older than kLoadSample.
    void sample(Clock::time_point now) {
      if (now - sampled < kLoadSample || !running.load(std::memory_order_acquire)) return;
      timespec cpu{};
      if (clock_gettime(cpu_clock, &cpu) != 0) return;
      const int64_t cpu_now = int64_t{cpu.tv_sec} * 1000000000 + cpu.tv_nsec;
      if (sampled != Clock::time_point{}) {
        const auto wall = std::chrono::duration_cast<std::chrono::nanoseconds>(now - sampled).count();
        busy = wall > 0 ? static_cast<double>(cpu_now - cpu_at_sample) / static_cast<double>(wall) : busy;
      }
      sampled = now;
      cpu_at_sample = cpu_now;
    }
  };
  static std::vector<std::unique_ptr<Loop>> make_loops(int count) {
    std::vector<std::unique_ptr<Loop>> made;
    for (int i = 0; i < count; ++i) made.push_back(std::make_unique<Loop>());
    return made;
  }

  // Runs on the control strand. The loop of a new connection: the first
  // whose thread has room (is on a core less than half the time), else the
  // least busy. Connections gather on few loops while those keep up: each
  // loop thread that has work is one more thread wanting a core, and on a
  // machine whose cores are also busy with the database or other programs,
  // a loop thread taken off its core holds up every connection of its loop.
  Loop& connection_loop() {
    const auto now = Clock::now();
    Loop* chosen = nullptr;
    for (auto& loop : loops) {
      loop->sample(now);
      if (loop->busy < kRoomyLoop) return *loop;
      if (!chosen || loop->busy < chosen->busy) chosen = loop.get();
    }
    return *chosen;
  }

  // Runs on the control strand.
  void accept() {
    if (shared->stopping || !acceptor.is_open()) return;
    // At the cap with every connection busy, new ones wait in the listen queue.
    if (shared->open >= max_connections && !any_idle()) return pause_accepting();
    Loop& loop = connection_loop();
    acceptor.async_accept(loop.ioc.get_executor(), [this, &loop](beast::error_code ec, tcp::socket socket) {
      if (shared->stopping || !acceptor.is_open()) return;
      if (ec) {
        // Out of descriptors (or another passing failure): make room and rest
        // a moment rather than spin on an accept that fails at once.
        if (ec == net::error::no_descriptors || ec == net::error::no_buffer_space ||
            ec == net::error::no_memory) {
          evict_oldest_idle();
        }
        return pause_accepting();
      }
      std::string peer = peer_address(socket);
      if (!admit(peer)) {
        // Its address holds as many connections as it may, all busy.
        beast::error_code ignored;
        socket.close(ignored);
        return accept();
      }
      // At the cap the new connection takes the place of the one idle the longest.
      if (shared->open >= max_connections) evict_oldest_idle();
      beast::error_code ignored;
      socket.set_option(tcp::no_delay(true), ignored);
      std::make_shared<HttpConnection>(std::move(socket), std::move(peer), shared, loop.ahead.get())->start();
      accept();
    });
  }

  void pause_accepting() {
    accept_timer.expires_after(kAcceptPause);
    accept_timer.async_wait([this](beast::error_code ec) {
      if (!ec) accept();
    });
  }

  bool any_idle() {
    // A connection whose last owner is dropped here ends after the lock is released.
    std::vector<std::shared_ptr<HttpConnection>> seen;
    std::lock_guard<std::mutex> guard(shared->mutex);
    for (auto& weak : shared->connections) {
      auto c = weak.lock();
      if (!c) continue;
      const bool idle = c->is_idle();
      seen.push_back(std::move(c));
      if (idle) return true;
    }
    return false;
  }

  // Counts a new connection from `peer` against the per-address limit; false
  // when the address is at its limit and none of its connections is idle.
  // At the limit the address's connection idle the longest is closed to make
  // room. Trusted proxies, which bring many clients, have no limit.
  bool admit(const std::string& peer) {
    const size_t limit = shared->options.max_connections_per_address;
    std::vector<std::shared_ptr<HttpConnection>> seen;  // released after the lock
    std::lock_guard<std::mutex> guard(shared->mutex);
    size_t& count = shared->per_address[peer];
    if (limit != 0 && count >= limit && !shared->options.trusted_proxies.trusts(peer)) {
      bool made_room = false;
      for (auto& weak : shared->connections) {
        auto c = weak.lock();
        if (!c) continue;
        made_room = c->peer() == peer && c->evict();
        seen.push_back(std::move(c));
        if (made_room) break;
      }
      if (!made_room) return false;
    }
    ++count;
    return true;
  }

  // Closes the connection idle the longest; false when none is idle.
  bool evict_oldest_idle() {
    std::vector<std::shared_ptr<HttpConnection>> victims;  // released after the lock
    std::lock_guard<std::mutex> guard(shared->mutex);
    for (auto& weak : shared->connections) {
      auto c = weak.lock();
      if (!c) continue;
      const bool evicted = c->evict();
      victims.push_back(std::move(c));
      if (evicted) return true;
    }
    return false;
  }

  void schedule_sweep() {
    sweep_timer.expires_after(std::chrono::seconds(30));
    sweep_timer.async_wait([this](beast::error_code ec) {
      if (ec || shared->stopping) return;
      shared->app->sweep_sessions();
      schedule_sweep();
    });
  }

  // One periodic look at every connection closes those whose read or write
  // has outlasted its time-out, rather than a timer armed for each operation.
  void schedule_timeouts() {
    timeout_timer.expires_after(kTimeoutSweep);
    timeout_timer.async_wait([this](beast::error_code ec) {
      if (ec || timeouts_off) return;
      std::vector<std::shared_ptr<HttpConnection>> live;  // released after the lock
      const auto now = Clock::now();
      {
        std::lock_guard<std::mutex> guard(shared->mutex);
        live.reserve(shared->connections.size());
        for (auto& weak : shared->connections) {
          if (auto c = weak.lock()) {
            c->check_deadline(now);
            live.push_back(std::move(c));
          }
        }
      }
      schedule_timeouts();
    });
  }

  // Runs on the control strand.
  void begin_stop() {
    if (shared->stopping.exchange(true)) return;
    beast::error_code ec;
    acceptor.close(ec);
    accept_timer.cancel();
    sweep_timer.cancel();
    signals.cancel(ec);
    // The loops end once the connections have.
    for (auto& loop : loops) loop->keep.reset();
    std::vector<std::shared_ptr<HttpConnection>> live;
    {
      std::lock_guard<std::mutex> guard(shared->mutex);
      for (auto& weak : shared->connections) {
        if (auto c = weak.lock()) live.push_back(std::move(c));
      }
    }
    // Requests still running after the grace are abandoned; the grace timer
    // (and the time-out sweep) are cancelled as soon as the last connection
    // has ended.
    grace_timer.expires_after(shared->options.stop_grace);
    grace_timer.async_wait([this](beast::error_code ec) {
      timeouts_off = true;
      timeout_timer.cancel();
      if (ec) return;
      for (auto& loop : loops) loop->ioc.stop();
    });
    if (live.empty()) grace_timer.cancel();
    for (auto& c : live) c->shut_down();
  }

  void run_threads(int from) {
    for (int i = from; i < thread_count; ++i) {
      io_threads.emplace_back([this, i] { run_loop(i); });
    }
  }

  void run_loop(int i) {
    if (!loops[i]->running && pthread_getcpuclockid(pthread_self(), &loops[i]->cpu_clock) == 0) {
      loops[i]->running.store(true, std::memory_order_release);
    }
    for (;;) {
      try {
        loops[i]->ioc.run();
        return;
      } catch (const std::exception& e) {
        // Nothing should get here; if it does, log it and keep serving.
        event_log().write(kEventError, std::string("oapx1 serve: ") + e.what());
      }
    }
  }

  void join() {
    for (auto& t : io_threads) {
      if (t.joinable()) t.join();
    }
    io_threads.clear();
  }

  // Once the last connection is gone nothing but the grace timer is left.
  std::shared_ptr<Shared> shared;
  int thread_count;
  size_t max_connections = 0;
  // An event loop per connection thread. A connection belongs to one loop,
  // whose thread runs all its handlers: no lock and no other thread woken to
  // serve it. A loop's thread never runs a page (pages run on the page
  // threads; it answers only from kept views), so it is never held up long
  // and never strands the connections of its loop.
  std::vector<std::unique_ptr<Loop>> loops;
  // Runs the server's own handlers one at a time, on the first loop:
  // accepting, the timers, signals and the stop.
  net::strand<net::io_context::executor_type> control;
  tcp::acceptor acceptor;
  net::steady_timer accept_timer;  // the pause of the accept loop
  net::steady_timer sweep_timer;
  net::steady_timer timeout_timer;
  bool timeouts_off = false;  // the stop has ended the time-out sweep
  net::steady_timer grace_timer;
  net::signal_set signals;
  std::vector<std::thread> io_threads;
  // Destroyed before the event loop: page work still running posts its reply there.
  std::unique_ptr<PageWorkers> workers;
};

HttpServer::HttpServer(ServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

HttpServer::~HttpServer() {
  stop();
  wait();
  // Handlers still queued (after a stop that outlasted its grace) hold
  // connections; destroying the io_context releases them.
}

uint16_t HttpServer::port() const {
  beast::error_code ec;
  return impl_->acceptor.is_open() ? impl_->acceptor.local_endpoint(ec).port() : 0;
}

std::string HttpServer::address() const { return impl_->shared->options.address; }
int HttpServer::threads() const { return impl_->thread_count; }
int HttpServer::page_threads() const { return impl_->workers->threads(); }
size_t HttpServer::max_connections() const { return impl_->max_connections; }
size_t HttpServer::open_connections() const { return impl_->shared->open; }
size_t HttpServer::page_work_running() const { return impl_->workers->running(); }
size_t HttpServer::page_work_waiting() const { return impl_->workers->waiting(); }

void HttpServer::start() { impl_->run_threads(0); }

void HttpServer::run() {
  impl_->run_threads(1);
  impl_->run_loop(0);
  impl_->join();
}

void HttpServer::stop() {
  net::post(impl_->control, [impl = impl_.get()] { impl->begin_stop(); });
}

void HttpServer::wait() { impl_->join(); }

WebApplication& HttpServer::application() { return *impl_->shared->app; }

}  // namespace oapx1
