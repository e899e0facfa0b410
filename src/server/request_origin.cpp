#include "server/request_origin.h"

#include "platform/text/ascii.h"

namespace oapx1 {
namespace {

// The first element of a comma-separated header value.
std::string_view first_element(std::string_view value) {
  return trim(value.substr(0, value.find(',')));
}

// The `name`= parameter of a Forwarded element, without its quotes.
std::string_view forwarded_parameter(std::string_view element, std::string_view name) {
  while (!element.empty()) {
    const size_t semi = element.find(';');
    const std::string_view pair = trim(element.substr(0, semi));
    element = semi == std::string_view::npos ? std::string_view() : element.substr(semi + 1);
    const size_t eq = pair.find('=');
    if (eq == std::string_view::npos || !ascii_iequals(trim(pair.substr(0, eq)), name)) continue;
    std::string_view host = trim(pair.substr(eq + 1));
    if (host.size() >= 2 && host.front() == '"' && host.back() == '"') host = host.substr(1, host.size() - 2);
    return host;
  }
  return {};
}

// "host:port" in lower case, the port left out when it is the scheme's default.
std::string normal_authority(std::string_view authority, std::string_view scheme) {
  std::string out = ascii_lower(authority);
  const std::string default_port = scheme == "https" ? ":443" : scheme == "http" ? ":80" : "";
  if (!default_port.empty() && out.size() > default_port.size() &&
      out.compare(out.size() - default_port.size(), default_port.size(), default_port) == 0) {
    out.resize(out.size() - default_port.size());
  }
  return out;
}

}  // namespace

std::string addressed_host(const RequestSource& source, const TrustedProxies& proxies) {
  if (proxies.trusts(source.peer)) {
    if (const std::string_view host = first_element(source.forwarded_host); !host.empty()) {
      return std::string(host);
    }
    if (const std::string_view host = forwarded_parameter(first_element(source.forwarded), "host"); !host.empty()) {
      return std::string(host);
    }
  }
  return std::string(trim(source.host));
}

std::string addressed_scheme(const RequestSource& source, const TrustedProxies& proxies) {
  if (proxies.trusts(source.peer)) {
    std::string_view proto = first_element(source.forwarded_proto);
    if (proto.empty()) proto = forwarded_parameter(first_element(source.forwarded), "proto");
    if (ascii_iequals(proto, "https")) return "https";
  }
  return "http";
}

bool from_own_site(const RequestSource& source, const TrustedProxies& proxies) {
  std::string_view url = trim(source.origin);
  if (url.empty()) url = trim(source.referer);
  if (url.empty()) return true;
  const size_t colon = url.find("://");
  if (colon == std::string_view::npos || colon == 0) return false;  // "null", or no URL
  const std::string scheme = ascii_lower(url.substr(0, colon));
  if (scheme != addressed_scheme(source, proxies)) return false;
  std::string_view authority = url.substr(colon + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  if (authority.empty() || authority.find('@') != std::string_view::npos) return false;
  const std::string host = addressed_host(source, proxies);
  if (host.empty()) return false;
  return normal_authority(authority, scheme) == normal_authority(host, scheme);
}

}  // namespace oapx1
