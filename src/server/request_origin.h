// Whether a post comes from the application's own pages: the check that keeps
// another site from making a signed-in browser save.
#ifndef OAPX1_SERVER_REQUEST_ORIGIN_H_
#define OAPX1_SERVER_REQUEST_ORIGIN_H_

#include <string>
#include <string_view>

#include "server/trusted_proxies.h"

namespace oapx1 {

// The headers of a request that say where it comes from and where it goes.
struct RequestSource {
  std::string_view peer;            // address the connection came from
  std::string_view host;            // Host
  std::string_view origin;          // Origin
  std::string_view referer;         // Referer
  std::string_view forwarded;       // Forwarded
  std::string_view forwarded_host;  // X-Forwarded-Host
  std::string_view forwarded_proto; // X-Forwarded-Proto
};

// The host and port the client addressed: the Host header, or, when the peer
// is a trusted proxy, the host the proxy says it received (the first
// X-Forwarded-Host, else the host= of the first Forwarded element).
std::string addressed_host(const RequestSource& source, const TrustedProxies& proxies);

// The scheme the client used, "http" or "https": "http" (this server speaks
// plain HTTP) unless the peer is a trusted proxy that says "https" in the
// first X-Forwarded-Proto, else in the proto= of the first Forwarded element.
std::string addressed_scheme(const RequestSource& source, const TrustedProxies& proxies);

// True unless the request names another site as its source: the Origin, or
// when there is none the Referer, must have the addressed scheme, host and
// port (a default port may be left out). A request with neither header (an old
// client, the command line) passes; an Origin of "null" or a source that is no
// URL does not.
bool from_own_site(const RequestSource& source, const TrustedProxies& proxies);

}  // namespace oapx1

#endif  // OAPX1_SERVER_REQUEST_ORIGIN_H_
