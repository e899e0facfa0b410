// What the web application and its transport exchange: one parsed HTTP
// request, the reply made to it, and the pieces of both that several parts of
// the host read (the session cookie, a small GBK page).
#ifndef OAPX1_SERVER_HTTP_EXCHANGE_H_
#define OAPX1_SERVER_HTTP_EXCHANGE_H_

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace oapx1 {

// One parsed HTTP request, as the application needs it.
struct HttpRequest {
  std::string method;        // "GET", "POST", ...
  std::string target;        // path and query string, as sent
  std::string content_type;  // the Content-Type header
  std::string cookie;        // the Cookie header
  std::string body;          // the request body
  std::string peer_address;  // address of the connection's other end; empty when unknown
  std::string host;          // the Host header
  std::string origin;        // the Origin header
  std::string referer;       // the Referer header
  std::string user_agent;    // the User-Agent header
  std::string forwarded;     // the Forwarded header
  std::string forwarded_host;  // the X-Forwarded-Host header
  std::string forwarded_proto; // the X-Forwarded-Proto header
  std::string forwarded_for; // the X-Forwarded-For headers, joined by ", "
  std::string version;       // "HTTP/1.1" or "HTTP/1.0"; empty: HTTP/1.1
};

// The reply to one request.
struct HttpReply {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;  // besides Content-Length
  std::string body;                                          // bytes as sent
  // When set, the bytes sent instead of `body` (a cached static file, shared
  // by the replies that send it); `body` is then empty.
  std::shared_ptr<const std::string> shared_body;
  // The bytes sent: `shared_body` when set, else `body`.
  std::string_view bytes() const { return shared_body ? std::string_view(*shared_body) : std::string_view(body); }
  // Sent no sooner than this (a failed sign-in takes a fixed time); the
  // transport waits without holding a thread.
  std::chrono::steady_clock::time_point not_before{};
  // The making of the reply once something it waits for has ended, given to
  // Later's callback; it may fail as a page does.
  using Make = std::function<HttpReply()>;
  // When set, this reply only stands for one that is not ready (a sign-in
  // whose password is checked on the hashing threads): whoever answers the
  // request calls `later` once with a callback, which is called exactly once,
  // from any thread, with what makes the real reply.
  std::function<void(std::function<void(Make)>)> later;
};

// The session cookie's name.
inline constexpr std::string_view kSessionCookie = "OAPX1SESSION";

// The value of cookie `name` in a Cookie header; empty when absent.
std::string cookie_value(std::string_view header, std::string_view name);

// A reply of `status` with a page written in UTF-8, sent in code page 936.
HttpReply html_reply(int status, std::string_view utf8_body);

// The plain page of an error status: "<html><body><h1>404 Not Found</h1>..."
// for status 404 and its `reason`.
HttpReply status_page(int status, std::string_view reason);

// 503 Service Unavailable with Retry-After: the client may come back in
// `retry_seconds` (at least 1).
HttpReply unavailable(long long retry_seconds = 1);

}  // namespace oapx1

#endif  // OAPX1_SERVER_HTTP_EXCHANGE_H_
