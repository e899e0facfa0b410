// A small blocking HTTP client for the server tests: sends bytes as given (so
// a test can send malformed requests) and reads replies with Beast's parser.
#ifndef OAPX1_TESTS_SERVER_HTTP_CLIENT_H_
#define OAPX1_TESTS_SERVER_HTTP_CLIENT_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/web/memory_intrinsics.h"

namespace oapx1::testing {

struct ClientReply {
  int status = 0;  // 0 when the server closed without replying
  std::map<std::string, std::string, AsciiNoCaseLess> headers;
  std::string body;
  std::string header(std::string_view name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
  }
};

// One connection to the server on 127.0.0.1. Reads give up after a few
// seconds, so a server that does not answer fails the test instead of hanging it.
class HttpClient {
 public:
  explicit HttpClient(uint16_t port);
  ~HttpClient();
  // Sends the bytes and reads one reply (of a HEAD request when `head`).
  ClientReply exchange(std::string_view raw, bool head = false);
  void send(std::string_view raw);
  ClientReply read(bool head = false);
  // True when the server has closed the connection (reads end of stream).
  bool closed_by_server();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// One request on a new connection.
ClientReply http_get(uint16_t port, std::string_view target, std::string_view cookie = "");
ClientReply http_post(uint16_t port, std::string_view target, std::string_view body,
                      std::string_view cookie = "",
                      std::string_view content_type = "application/x-www-form-urlencoded");

// The "name=value" of the reply's Set-Cookie, without its attributes.
std::string cookie_of(const ClientReply& reply);

}  // namespace oapx1::testing

#endif  // OAPX1_TESTS_SERVER_HTTP_CLIENT_H_
