// Which peers are trusted proxies, and the client address behind them.
#include <gtest/gtest.h>

#include <stdexcept>

#include "server/request_origin.h"
#include "server/trusted_proxies.h"

namespace oapx1 {
namespace {

TEST(TrustedProxies, addresses_and_ranges_of_both_families) {
  const TrustedProxies p = TrustedProxies::parse("10.0.0.0/8, 192.168.1.5 ::1,fd00::/8");
  struct Case {
    const char* address;
    bool trusted;
  } cases[] = {
      {"10.1.2.3", true},         {"11.0.0.1", false},      {"192.168.1.5", true},
      {"192.168.1.6", false},     {"::1", true},            {"fd12::7", true},
      {"fe80::1", false},         {"::ffff:10.9.9.9", true},  // IPv4 mapped into IPv6
      {"not an address", false},  {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(p.trusts(c.address), c.trusted) << c.address;
  EXPECT_FALSE(TrustedProxies().trusts("127.0.0.1"));
  EXPECT_TRUE(TrustedProxies::parse("0.0.0.0/0").trusts("203.0.113.9"));
  for (const char* bad : {"10.0.0.0/33", "proxy.example", "10.0.0.0/", "10.0.0.0/x", "::1/129"}) {
    EXPECT_THROW(TrustedProxies::parse(bad), std::invalid_argument) << bad;
  }
}

TEST(TrustedProxies, client_is_the_nearest_forwarded_address_that_is_no_trusted_proxy) {
  const TrustedProxies p = TrustedProxies::parse("10.0.0.0/8");
  struct Case {
    const char* peer;
    const char* forwarded_for;
    const char* client;
  } cases[] = {
      {"203.0.113.9", "198.51.100.1", "203.0.113.9"},  // not a proxy: its header is not believed
      {"10.0.0.1", "", "10.0.0.1"},
      {"10.0.0.1", "198.51.100.1", "198.51.100.1"},
      {"10.0.0.1", "1.1.1.1, 198.51.100.1, 10.0.0.2", "198.51.100.1"},  // a forged first hop is skipped
      {"10.0.0.1", "10.0.0.3,10.0.0.2", "10.0.0.3"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(client_address(c.peer, c.forwarded_for, p), c.client) << c.peer << " / " << c.forwarded_for;
  }
}

// A post is the site's own only when its Origin (or Referer) has the scheme,
// host and port the client addressed; the scheme is plain HTTP unless a
// trusted proxy says it received HTTPS.
TEST(RequestOrigin, scheme_host_and_port_must_all_match) {
  const TrustedProxies proxies = TrustedProxies::parse("10.0.0.1");
  struct Case {
    const char* peer;
    const char* origin;
    const char* forwarded_proto;
    const char* forwarded;
    bool own;
  } cases[] = {
      {"203.0.113.9", "http://oa.example:8080", "", "", true},
      {"203.0.113.9", "https://oa.example:8080", "", "", false},       // TLS origin, plain server
      {"203.0.113.9", "https://oa.example:8080", "https", "", false},  // not from a trusted proxy
      {"203.0.113.9", "ftp://oa.example:8080", "", "", false},
      {"10.0.0.1", "https://oa.example:8080", "https", "", true},
      {"10.0.0.1", "https://oa.example:8080", "HTTPS, http", "", true},  // the nearest proxy's word
      {"10.0.0.1", "http://oa.example:8080", "https", "", false},        // plain page on a TLS site
      {"10.0.0.1", "https://oa.example:8080", "", "for=1.2.3.4;proto=https", true},
      {"10.0.0.1", "https://oa.example:8080", "", "for=1.2.3.4;proto=http", false},
      {"10.0.0.1", "https://oa.example:8080", "", "", false},
      {"10.0.0.1", "https://oa.example:8081", "https", "", false},
  };
  for (const auto& c : cases) {
    const RequestSource source{c.peer, "oa.example:8080", c.origin, "", c.forwarded, "", c.forwarded_proto};
    EXPECT_EQ(from_own_site(source, proxies), c.own) << c.peer << " " << c.origin << " " << c.forwarded_proto
                                                     << " " << c.forwarded;
  }
  // Default ports: https://oa.example is oa.example:443 behind a TLS proxy.
  const RequestSource tls{"10.0.0.1", "oa.example:443", "https://oa.example", "", "", "", "https"};
  EXPECT_TRUE(from_own_site(tls, proxies));
  const RequestSource referer{"10.0.0.1", "oa.example", "", "https://oa.example/oa/x.asp", "", "", ""};
  EXPECT_FALSE(from_own_site(referer, proxies));
}

}  // namespace
}  // namespace oapx1
