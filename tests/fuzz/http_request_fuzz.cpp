// The HTTP request reader: bytes from a connection read by Beast's request
// parser set up as the server sets it up (its default header and body limits,
// chunked bodies decoded), one request after another as a kept-alive
// connection sends them; each complete request is taken apart as the server
// does (the headers it reads, the query string and form body, the session
// cookie).
#include <boost/beast/core/error.hpp>
#include <boost/beast/http.hpp>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "server/form.h"
#include "server/http_exchange.h"

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
using namespace oapx1;

constexpr size_t kHeaderLimit = 16 * 1024;  // the server's default header-limit
constexpr size_t kBodyLimit = 1024 * 1024;  // and body-limit

std::string field(const http::request<http::string_body>& req, http::field name) {
  const auto it = req.find(name);
  return it == req.end() ? std::string() : std::string(it->value());
}

void take_apart(const http::request<http::string_body>& req) {
  HttpRequest request;
  request.method = std::string(req.method_string());
  request.target = std::string(req.target());
  request.content_type = field(req, http::field::content_type);
  for (auto [it, end] = req.equal_range(http::field::cookie); it != end; ++it) {
    if (!request.cookie.empty()) request.cookie += "; ";
    request.cookie += std::string(it->value());
  }
  request.body = req.body();
  request.host = field(req, http::field::host);
  request.origin = field(req, http::field::origin);
  (void)req.keep_alive();
  (void)req.count(http::field::transfer_encoding);

  const size_t query = request.target.find('?');
  if (query != std::string::npos) {
    for (const auto& [name, value] : parse_form(std::string_view(request.target).substr(query + 1))) {
      if (!fuzz::valid_utf8(name) || !fuzz::valid_utf8(value)) fuzz::fail("a query pair is not UTF-8");
    }
  }
  if (has_media_type(request.content_type, "application/x-www-form-urlencoded")) {
    for (const auto& [name, value] : parse_form(request.body)) {
      if (!fuzz::valid_utf8(name) || !fuzz::valid_utf8(value)) fuzz::fail("a form pair is not UTF-8");
    }
  }
  (void)cookie_value(request.cookie, kSessionCookie);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  while (!rest.empty()) {
    http::request_parser<http::string_body> parser;
    parser.header_limit(static_cast<uint32_t>(kHeaderLimit));
    parser.body_limit(kBodyLimit);
    parser.eager(true);
    beast::error_code ec;
    while (!parser.is_done()) {
      if (rest.empty()) {
        // The connection closes here: only a body read to the close ends well.
        parser.put_eof(ec);
        if (ec || !parser.is_done()) return 0;
        break;
      }
      const size_t used = parser.put(boost::asio::buffer(rest.data(), rest.size()), ec);
      if (used > rest.size()) fuzz::fail("the parser used more than it was given");
      rest.remove_prefix(used);
      if (ec && ec != http::error::need_more) return 0;  // the server answers 4xx and closes
      // Needing more than there is: the connection ends before the request.
      if (used == 0 && !parser.is_done()) return 0;
      ec = {};
    }
    if (!parser.is_done()) return 0;
    take_apart(parser.get());
  }
  return 0;
}
