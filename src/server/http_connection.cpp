#include <utility>  // before Asio: g++ 12 in C++20 mode needs it declared first

#include "server/http_connection.h"

#include <array>

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include "platform/text/ascii.h"

namespace oapx1 {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

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

namespace {

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

}  // namespace

HttpConnection::HttpConnection(tcp::socket&& socket, std::string peer, std::shared_ptr<ConnectionSet> shared,
                               Dispatch::Loop& loop)
    : socket_(std::move(socket)), shared_(std::move(shared)), peer_(std::move(peer)), loop_(loop) {
  ++shared_->open;
  // Idle from its accept unless its first request came with it: counted for
  // its address and against the cap before its loop reads it, a connection
  // must be one or the other there. Were it neither until its loop's thread
  // got round to it, a loop that fell behind the accepts would leave an
  // address at its limit with nothing to close, and a new client of that
  // address would be shut out.
  idle_ = !request_begun();
}

void HttpConnection::start() {
  {
    std::lock_guard<std::mutex> guard(shared_->mutex);
    shared_->connections.push_back(weak_from_this());
    registration_ = std::prev(shared_->connections.end());
  }
  net::post(socket_.get_executor(), [self = shared_from_this()] { self->read_request(true); });
}

HttpConnection::~HttpConnection() {
  if (!evicting_) --shared_->open;
  bool last;
  {
    std::lock_guard<std::mutex> guard(shared_->mutex);
    shared_->connections.erase(registration_);
    last = shared_->connections.empty();
    if (const auto it = shared_->per_address.find(peer_); it != shared_->per_address.end()) {
      // One closed to make room left its address's count when it was marked.
      if (!evicting_) --it->second;
      if (it->second == 0) shared_->per_address.erase(it);
    }
  }
  if (last && shared_->stopping && shared_->on_idle) shared_->on_idle();
}

void HttpConnection::shut_down() {
  net::post(socket_.get_executor(), [self = shared_from_this()] { self->close_if_idle(); });
}

void HttpConnection::check_deadline(Clock::time_point now) {
  const int64_t deadline = deadline_.load(std::memory_order_relaxed);
  if (deadline == 0 || deadline > now.time_since_epoch().count()) return;
  net::post(socket_.get_executor(), [self = shared_from_this()] {
    const int64_t d = self->deadline_.load(std::memory_order_relaxed);
    if (d != 0 && d <= Clock::now().time_since_epoch().count()) self->close();
  });
}

bool HttpConnection::evict() {
  if (!idle_ || evicting_.exchange(true)) return false;
  --shared_->open;
  // Its address may take a new connection in its place at once, however long
  // its loop takes to close it. The entry stays (the caller may hold it) until
  // the connection ends.
  if (const auto it = shared_->per_address.find(peer_); it != shared_->per_address.end()) --it->second;
  net::post(socket_.get_executor(), [self = shared_from_this()] {
    if (!self->close_if_idle()) {
      // A request arrived in the meantime: it is served after all.
      self->evicting_ = false;
      ++self->shared_->open;
      std::lock_guard<std::mutex> guard(self->shared_->mutex);
      ++self->shared_->per_address[self->peer_];
    }
  });
  return true;
}

bool HttpConnection::request_begun() const {
  beast::error_code ec;
  return socket_.available(ec) > 0 && !ec;
}

bool HttpConnection::close_if_idle() {
  // Bytes that came before the handler waiting for them ran are a request.
  if (!idle_ || request_begun()) return false;
  beast::error_code ec;
  socket_.shutdown(tcp::socket::shutdown_both, ec);
  socket_.close(ec);
  return true;
}

void HttpConnection::set_deadline(std::chrono::seconds timeout) {
  deadline_.store((Clock::now() + timeout).time_since_epoch().count(), std::memory_order_relaxed);
}

void HttpConnection::read_request(bool fresh) {
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
  if (fresh && request_begun()) return read_header();
  // Idle until the first byte comes: the connection may be closed to make
  // room, and is closed when nothing comes within the read time-out.
  idle_ = true;
  set_deadline(shared_->options.read_timeout);
  socket_.async_wait(tcp::socket::wait_read, [self = shared_from_this()](beast::error_code ec) {
    if (ec) return self->close();  // closed to make room, or for the stop
    self->read_header();
  });
}

void HttpConnection::read_header() {
  idle_ = false;
  set_deadline(shared_->options.header_timeout);
  http::async_read_header(socket_, buffer_, *parser_,
                          [self = shared_from_this()](beast::error_code ec, size_t) {
                            self->on_header(ec);
                          });
}

void HttpConnection::on_header(beast::error_code ec) {
  if (ec) return on_read_error(ec);
  const auto& req = parser_->get();
  // An HTTP/1.1 request names the host it is for exactly once; HTTP/1.0 may
  // leave it out. With two, what the application and a proxy in front take
  // for the host could differ.
  if (const size_t hosts = req.count(http::field::host); hosts > 1 || (hosts == 0 && req.version() >= 11)) {
    return reply_error(400);
  }
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

void HttpConnection::read_body() {
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

bool HttpConnection::chunk_lines_can_end() const {
  const auto data = buffer_.data();
  const std::string_view unread(static_cast<const char*>(data.data()), data.size());
  if (unread.size() > shared_->options.header_limit) return false;
  for (size_t at = unread.find('\n'); at != std::string_view::npos; at = unread.find('\n', at + 1)) {
    if (at == 0 || unread[at - 1] != '\r') return false;
  }
  return true;
}

void HttpConnection::on_read(beast::error_code ec) {
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
  shared_->dispatch->dispatch(std::move(request), loop_,
                              [self = shared_from_this(), version, keep_alive, head](HttpReply reply) {
                                self->send(std::move(reply), version, keep_alive && !self->shared_->stopping, head);
                              });
}

void HttpConnection::on_read_error(beast::error_code ec) {
  clear_deadline();
  if (ec == http::error::body_limit) return reply_error(413);
  if (ec == http::error::header_limit) return reply_error(431);
  if (&ec.category() == &http::make_error_code(http::error::bad_method).category() &&
      ec != http::error::end_of_stream && ec != http::error::partial_message) {
    return reply_error(400);  // not HTTP: a bad request line, header or chunk
  }
  close();  // the client left, or was too slow
}

HttpReply HttpConnection::error_reply(int status) {
  const auto reason = http::obsolete_reason(static_cast<http::status>(status));
  return status_page(status, std::string_view(reason.data(), reason.size()));
}

void HttpConnection::send(HttpReply reply, unsigned version, bool keep_alive, bool head) {
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

void HttpConnection::close() {
  clear_deadline();
  beast::error_code ec;
  socket_.shutdown(tcp::socket::shutdown_send, ec);
  socket_.close(ec);
}

}  // namespace oapx1
