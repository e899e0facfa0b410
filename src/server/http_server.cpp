#include <utility>  // before Asio: g++ 12 in C++20 mode needs it declared first

#include "server/http_server.h"

#include <atomic>
#include <csignal>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include <boost/asio/dispatch.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "platform/web/event_log.h"
#include "server/form.h"

namespace oapx1 {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

class HttpConnection;

// What the connections of one server share.
struct Shared {
  ServerOptions options;
  std::unique_ptr<WebApplication> app;
  std::atomic<bool> stopping{false};
  std::mutex mutex;                                // guards connections
  std::list<std::weak_ptr<HttpConnection>> connections;  // live connections, for the stop
  std::function<void()> on_idle;  // called when the last connection ends during a stop
};

const char* reason_text(int status) {
  return http::obsolete_reason(static_cast<http::status>(status)).data();
}

// One client connection: reads requests one after the other, each within the
// read time-out and the size limits, and writes each reply within the write
// time-out. Runs on its own strand.
class HttpConnection : public std::enable_shared_from_this<HttpConnection> {
 public:
  HttpConnection(tcp::socket&& socket, std::shared_ptr<Shared> shared)
      : stream_(std::move(socket)), shared_(std::move(shared)) {}

  void start() {
    {
      std::lock_guard<std::mutex> guard(shared_->mutex);
      shared_->connections.push_back(weak_from_this());
      registration_ = std::prev(shared_->connections.end());
    }
    net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->read_request(); });
  }

  ~HttpConnection() {
    bool last;
    {
      std::lock_guard<std::mutex> guard(shared_->mutex);
      shared_->connections.erase(registration_);
      last = shared_->connections.empty();
    }
    if (last && shared_->stopping && shared_->on_idle) shared_->on_idle();
  }

  // The server stops: an idle connection closes now, one with a request under
  // way finishes it first.
  void shut_down() {
    net::post(stream_.get_executor(), [self = shared_from_this()] {
      if (self->waiting_ && self->buffer_.size() == 0 &&
          (!self->parser_ || !self->parser_->got_some())) {
        beast::error_code ec;
        self->stream_.socket().shutdown(tcp::socket::shutdown_both, ec);
        self->stream_.socket().close(ec);
      }
    });
  }

 private:
  void read_request() {
    if (shared_->stopping) return close();
    parser_.emplace();
    parser_->header_limit(static_cast<uint32_t>(shared_->options.header_limit));
    parser_->body_limit(shared_->options.body_limit);
    waiting_ = true;
    // One deadline for the whole request, however slowly its bytes arrive.
    stream_.expires_after(shared_->options.read_timeout);
    http::async_read_header(stream_, buffer_, *parser_,
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
        static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
        net::async_write(stream_, net::buffer(kContinue.data(), kContinue.size()),
                         [self = shared_from_this()](beast::error_code ec, size_t) {
                           if (ec) return self->close();
                           self->read_body();
                         });
        return;
      }
    }
    read_body();
  }

  void read_body() {
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code ec, size_t) {
                       self->on_read(ec);
                     });
  }

  void on_read(beast::error_code ec) {
    if (ec) return on_read_error(ec);
    waiting_ = false;
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
    request.body = req.body();
    beast::error_code peer_error;
    const tcp::endpoint peer = stream_.socket().remote_endpoint(peer_error);
    if (!peer_error) request.peer_address = peer.address().to_string();
    for (auto [it, end] = req.equal_range("X-Forwarded-For"); it != end; ++it) {
      if (!request.forwarded_for.empty()) request.forwarded_for += ", ";
      request.forwarded_for += std::string(it->value());
    }
    // For the access log.
    request.version = req.version() == 10 ? "HTTP/1.0" : "HTTP/1.1";
    if (auto f = req.find(http::field::referer); f != req.end()) request.referer = std::string(f->value());
    if (auto f = req.find(http::field::user_agent); f != req.end()) request.user_agent = std::string(f->value());
    const bool head = req.method() == http::verb::head;
    const bool keep_alive = req.keep_alive();
    const unsigned version = req.version();
    HttpReply reply = shared_->app->handle(request);
    send(std::move(reply), version, keep_alive && !shared_->stopping, head);
  }

  void on_read_error(beast::error_code ec) {
    waiting_ = false;
    if (ec == http::error::body_limit) return reply_error(413);
    if (ec == http::error::header_limit) return reply_error(431);
    if (&ec.category() == &http::make_error_code(http::error::bad_method).category() &&
        ec != http::error::end_of_stream && ec != http::error::partial_message) {
      return reply_error(400);  // not HTTP: a bad request line, header or chunk
    }
    close();  // the client left, or was too slow
  }

  // Answers a request that cannot be read further, then closes.
  void reply_error(int status) {
    HttpReply reply;
    reply.status = status;
    reply.headers.emplace_back("Content-Type", "text/html; charset=gb2312");
    reply.body = "<html><body><h1>" + std::to_string(status) + " " + reason_text(status) +
                 "</h1></body></html>";
    send(std::move(reply), 11, false, false);
  }

  void send(HttpReply reply, unsigned version, bool keep_alive, bool head) {
    auto res = std::make_shared<http::response<http::string_body>>(
        static_cast<http::status>(reply.status), version);
    res->set(http::field::server, "oapx1");
    for (auto& [name, value] : reply.headers) res->insert(name, value);
    res->body() = std::move(reply.body);
    res->keep_alive(keep_alive);
    res->prepare_payload();
    if (head) res->body().clear();  // Content-Length stays that of the body
    stream_.expires_after(shared_->options.write_timeout);
    http::async_write(stream_, *res,
                      [self = shared_from_this(), res, keep_alive](beast::error_code ec, size_t) {
                        if (ec || !keep_alive) return self->close();
                        self->read_request();
                      });
  }

  void close() {
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
    stream_.socket().close(ec);
  }

  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::shared_ptr<Shared> shared_;
  std::list<std::weak_ptr<HttpConnection>>::iterator registration_;
  bool waiting_ = false;  // reading a request (or waiting for one)
};

}  // namespace

struct HttpServer::Impl {
  explicit Impl(ServerOptions options)
      : shared(std::make_shared<Shared>()),
        thread_count(options.threads > 0 ? options.threads
                                         : std::max(1u, std::thread::hardware_concurrency())),
        ioc(thread_count),
        acceptor(net::make_strand(ioc)),
        sweep_timer(ioc),
        grace_timer(ioc),
        signals(ioc) {
    shared->options = options;
    shared->on_idle = [this] { net::post(ioc, [this] { grace_timer.cancel(); }); };
    shared->app = std::make_unique<WebApplication>(std::move(options));
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
    if (o.handle_signals) {
      signals.add(SIGINT);
      signals.add(SIGTERM);
      signals.async_wait([this](beast::error_code ec, int) {
        if (!ec) begin_stop();
      });
    }
  }

  ~Impl() {
    // Connections still queued die with the io_context: nothing to tell then.
    shared->on_idle = nullptr;
  }

  void accept() {
    acceptor.async_accept(net::make_strand(ioc), [this](beast::error_code ec, tcp::socket socket) {
      if (shared->stopping || !acceptor.is_open()) return;
      if (!ec) {
        beast::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        std::make_shared<HttpConnection>(std::move(socket), shared)->start();
      }
      accept();  // a failed accept (out of descriptors, ...) must not end the server
    });
  }

  void schedule_sweep() {
    sweep_timer.expires_after(std::chrono::seconds(30));
    sweep_timer.async_wait([this](beast::error_code ec) {
      if (ec || shared->stopping) return;
      shared->app->sweep_sessions();
      schedule_sweep();
    });
  }

  // Runs on the io_context.
  void begin_stop() {
    if (shared->stopping.exchange(true)) return;
    beast::error_code ec;
    acceptor.close(ec);
    sweep_timer.cancel();
    signals.cancel(ec);
    std::vector<std::shared_ptr<HttpConnection>> live;
    {
      std::lock_guard<std::mutex> guard(shared->mutex);
      for (auto& weak : shared->connections) {
        if (auto c = weak.lock()) live.push_back(std::move(c));
      }
    }
    // Requests still running after the grace are abandoned; the timer is
    // cancelled as soon as the last connection has ended.
    grace_timer.expires_after(shared->options.stop_grace);
    grace_timer.async_wait([this](beast::error_code ec) {
      if (!ec) ioc.stop();
    });
    if (live.empty()) grace_timer.cancel();
    for (auto& c : live) c->shut_down();
  }

  void run_threads(int count) {
    for (int i = 0; i < count; ++i) {
      workers.emplace_back([this] { run_loop(); });
    }
  }

  void run_loop() {
    for (;;) {
      try {
        ioc.run();
        return;
      } catch (const std::exception& e) {
        // Nothing should get here; if it does, log it and keep serving.
        event_log().write(kEventError, std::string("oapx1 serve: ") + e.what());
      }
    }
  }

  void join() {
    for (auto& t : workers) {
      if (t.joinable()) t.join();
    }
    workers.clear();
  }

  // Once the last connection is gone nothing but the grace timer is left.
  std::shared_ptr<Shared> shared;
  int thread_count;
  net::io_context ioc;
  tcp::acceptor acceptor;
  net::steady_timer sweep_timer;
  net::steady_timer grace_timer;
  net::signal_set signals;
  std::vector<std::thread> workers;
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

void HttpServer::start() { impl_->run_threads(impl_->thread_count); }

void HttpServer::run() {
  impl_->run_threads(impl_->thread_count - 1);
  impl_->run_loop();
  impl_->join();
}

void HttpServer::stop() {
  net::post(impl_->ioc, [impl = impl_.get()] { impl->begin_stop(); });
}

void HttpServer::wait() { impl_->join(); }

WebApplication& HttpServer::application() { return *impl_->shared->app; }

}  // namespace oapx1
