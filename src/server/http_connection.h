// One client connection of the HTTP host, and what the connections of one
// server share. A connection reads requests one after the other, within the
// size limits and time-outs, hands each to the dispatch and writes back the
// reply it gets; it knows nothing of what answers them.
#ifndef OAPX1_SERVER_HTTP_CONNECTION_H_
#define OAPX1_SERVER_HTTP_CONNECTION_H_

#include <utility>  // before Asio: g++ 12 in C++20 mode needs it declared first

#include <atomic>
#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "server/dispatch.h"
#include "server/web_application.h"

namespace oapx1 {

class HttpConnection;

// What the connections of one server share.
struct ConnectionSet {
  ServerOptions options;
  Dispatch* dispatch = nullptr;  // owned by the server, which outlives every connection
  std::atomic<bool> stopping{false};
  std::mutex mutex;  // guards connections and per_address
  // Live connections, those idle the longest first (a connection moves to the
  // end when it starts waiting for a request): for the stop, the time-out
  // sweep and for making room when the connections reach their cap.
  std::list<std::weak_ptr<HttpConnection>> connections;
  // Connections that hold a descriptor, less those being closed to make room.
  std::atomic<size_t> open{0};
  // Live connections by client address (the peer's), less those being closed
  // to make room, for the per-address limit.
  std::unordered_map<std::string, size_t> per_address;
  std::function<void()> on_idle;  // called when the last connection ends during a stop
};

// The address of a socket's peer in canonical text (an IPv4 address mapped
// into IPv6 as IPv4); empty when the socket has none.
std::string peer_address(const boost::asio::ip::tcp::socket& socket);

// One client connection: reads requests one after the other, each within the
// size limits and its time-outs (the read time-out for a request to begin,
// the header time-out for its head, the body time-out for its body), and
// writes each reply within the write time-out. Its handlers run one at a time
// on its executor (the event loop it was given to); the
// time-outs are enforced by the server's periodic sweep, which reads
// `deadline_`. The server has counted it for its address (`peer`) before.
class HttpConnection : public std::enable_shared_from_this<HttpConnection> {
 public:
  // A connection of `peer` on `socket`, whose requests go to the dispatch on
  // `loop` (the dispatch's part of the event loop the socket is on). Counts
  // itself open in `shared`.
  HttpConnection(boost::asio::ip::tcp::socket&& socket, std::string peer, std::shared_ptr<ConnectionSet> shared,
                 Dispatch::Loop& loop);
  // Counts itself closed, and tells a stop waiting for the last connection.
  ~HttpConnection();

  // Registers the connection and begins reading its first request.
  void start();

  // The server stops: an idle connection closes now, one with a request under
  // way finishes it first.
  void shut_down();

  // Waiting for a request of which nothing has come, and not being closed.
  // A connection that has sent part of a request is busy; a new one is idle
  // from its accept unless its first request came with it.
  bool is_idle() const { return idle_ && !evicting_; }

  // The client's address.
  const std::string& peer() const { return peer_; }

  // Closes the connection when its read or write has outlasted its time-out.
  void check_deadline(std::chrono::steady_clock::time_point now);

  // Marks the connection to be closed to make room for a new one; false when
  // it is busy or already marked. Its descriptor, and its place in its
  // address's count, count as free from here. Called with the set's mutex held.
  bool evict();

 private:
  // Whether bytes of a request have come that no handler has read yet.
  bool request_begun() const;

  // Closes the connection when it waits for a request of which nothing has
  // come; false, leaving it open, when it is busy or its request has begun.
  bool close_if_idle();

  // The read or write under way must end within `timeout` from now.
  void set_deadline(std::chrono::seconds timeout);
  void clear_deadline() { deadline_.store(0, std::memory_order_relaxed); }

  // Waits for the next request; `fresh` for the first of a new connection.
  void read_request(bool fresh = false);

  // The request has begun: from here it is busy, and its head must be whole
  // within the header time-out, however slowly its bytes arrive.
  void read_header();

  // The head has come: refuses what cannot be read on (400 for an HTTP/1.1
  // request without a Host header, or any with two), answers a 100-continue,
  // and goes on to the body.
  void on_header(boost::beast::error_code ec);

  // Reads the body within the body time-out. Each arrival is parsed at once,
  // so that a chunked body whose size line or trailer cannot end is refused
  // (400) as soon as it shows, rather than waiting for a CR LF that never
  // comes until the time-out.
  void read_body();

  // Whether the bytes of a chunked body the parser has left unread can still
  // end as sound lines. The parser leaves a line (a chunk's closing CR LF and
  // the next size line, or the last chunk and its trailer) unread until its
  // CR LF has come; a bare LF in it, or more of it than a request head may
  // hold, means the CR LF it waits for will never end it.
  bool chunk_lines_can_end() const;

  // The request is whole: hands it to the dispatch.
  void on_read(boost::beast::error_code ec);

  // A read that failed: answered when it was a bad request, else closed.
  void on_read_error(boost::beast::error_code ec);

  // The reply to a request that cannot be read further: its status's page.
  static HttpReply error_reply(int status);

  // Answers a request that cannot be read further, then closes.
  void reply_error(int status) { send(error_reply(status), 11, false, false); }

  // Writes `reply` (for HTTP `version`: 10 or 11; only its head for a HEAD
  // request), then waits for the next request or closes the connection.
  void send(HttpReply reply, unsigned version, bool keep_alive, bool head);

  // Closes the connection now.
  void close();

  boost::asio::ip::tcp::socket socket_;
  boost::beast::flat_buffer buffer_;
  std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
  std::shared_ptr<ConnectionSet> shared_;
  std::list<std::weak_ptr<HttpConnection>>::iterator registration_;
  std::string peer_;      // the client's address
  Dispatch::Loop& loop_;  // the dispatch's part of the connection's event loop
  std::string out_head_;  // the reply being written: its head,
  std::string out_body_;  // its body,
  std::shared_ptr<const std::string> out_shared_;  // or a body it shares (a cached file)
  std::atomic<bool> idle_{false};      // waiting for a request of which nothing has come
  std::atomic<bool> evicting_{false};  // being closed to make room
  // When the read or write under way times out (steady clock ticks); 0: none.
  std::atomic<int64_t> deadline_{0};
};

}  // namespace oapx1

#endif  // OAPX1_SERVER_HTTP_CONNECTION_H_
