#include "server/http_exchange.h"

#include "platform/text/codepage.h"

namespace oapx1 {

std::string cookie_value(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    const size_t semi = header.find(';');
    std::string_view pair = header.substr(0, semi);
    header.remove_prefix(semi == std::string_view::npos ? header.size() : semi + 1);
    while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
    const size_t eq = pair.find('=');
    if (eq != std::string_view::npos && pair.substr(0, eq) == name) {
      return std::string(pair.substr(eq + 1));
    }
  }
  return {};
}

HttpReply html_reply(int status, std::string_view utf8_body) {
  HttpReply reply;
  reply.status = status;
  reply.headers.emplace_back("Content-Type", "text/html; charset=gb2312");
  reply.body = utf8_to_gbk(utf8_body);
  return reply;
}

HttpReply status_page(int status, std::string_view reason) {
  return html_reply(status, "<html><body><h1>" + std::to_string(status) + " " + std::string(reason) +
                                "</h1></body></html>");
}

HttpReply unavailable(long long retry_seconds) {
  HttpReply reply = status_page(503, "Service Unavailable");
  reply.headers.emplace_back("Retry-After", std::to_string(retry_seconds < 1 ? 1 : retry_seconds));
  return reply;
}

}  // namespace oapx1
