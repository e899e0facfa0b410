#include <utility>  // before Asio: g++ 12 in C++20 mode needs it declared first

// GCC 12 reports a boost::optional inside Beast's response parser as maybe
// uninitialised when inlined under the sanitizers; it is initialised.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include "http_client.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

namespace oapx1::testing {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

struct HttpClient::Impl {
  net::io_context ioc;
  tcp::socket socket{ioc};
  beast::flat_buffer buffer;
};

HttpClient::HttpClient(uint16_t port) : impl_(std::make_unique<Impl>()) {
  impl_->socket.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
  timeval tv{5, 0};
  setsockopt(impl_->socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

HttpClient::~HttpClient() = default;

void HttpClient::send(std::string_view raw) {
  beast::error_code ec;
  net::write(impl_->socket, net::buffer(raw.data(), raw.size()), ec);
}

ClientReply HttpClient::read(bool head) {
  ClientReply reply;
  http::response_parser<http::string_body> parser;
  parser.body_limit(64 * 1024 * 1024);
  parser.skip(head);
  beast::error_code ec;
  http::read(impl_->socket, impl_->buffer, parser, ec);
  if (ec) return reply;
  const auto& res = parser.get();
  reply.status = static_cast<int>(res.result_int());
  for (const auto& field : res) {
    std::string& value = reply.headers[std::string(field.name_string())];
    if (!value.empty()) value += "\n";
    value += std::string(field.value());
  }
  reply.body = res.body();
  return reply;
}

ClientReply HttpClient::exchange(std::string_view raw, bool head) {
  send(raw);
  return read(head);
}

bool HttpClient::closed_by_server() {
  char c;
  beast::error_code ec;
  impl_->socket.read_some(net::buffer(&c, 1), ec);
  return ec == net::error::eof || ec == net::error::connection_reset;
}

ClientReply http_get(uint16_t port, std::string_view target, std::string_view cookie) {
  std::string raw = "GET " + std::string(target) + " HTTP/1.1\r\nHost: localhost\r\n";
  if (!cookie.empty()) raw += "Cookie: " + std::string(cookie) + "\r\n";
  raw += "Connection: close\r\n\r\n";
  return HttpClient(port).exchange(raw);
}

ClientReply http_post(uint16_t port, std::string_view target, std::string_view body,
                      std::string_view cookie, std::string_view content_type) {
  std::string raw = "POST " + std::string(target) + " HTTP/1.1\r\nHost: localhost\r\n";
  if (!cookie.empty()) raw += "Cookie: " + std::string(cookie) + "\r\n";
  raw += "Content-Type: " + std::string(content_type) + "\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + std::string(body);
  return HttpClient(port).exchange(raw);
}

std::string cookie_of(const ClientReply& reply) {
  const std::string set = reply.header("Set-Cookie");
  return set.substr(0, set.find(';'));
}

}  // namespace oapx1::testing
