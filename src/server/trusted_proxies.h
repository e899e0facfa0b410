// The reverse proxies whose forwarding headers the server believes: the
// `trusted-proxies` setting, a list of addresses and address ranges.
#ifndef OAPX1_SERVER_TRUSTED_PROXIES_H_
#define OAPX1_SERVER_TRUSTED_PROXIES_H_

#include <string>
#include <string_view>
#include <vector>

#include <boost/asio/ip/address.hpp>

namespace oapx1 {

class TrustedProxies {
 public:
  // Trusts nobody.
  TrustedProxies() = default;

  // Reads a list separated by commas or spaces of IPv4 or IPv6 addresses and
  // ranges in prefix form ("10.0.0.0/8", "::1", "192.168.1.5"). Fails with
  // std::invalid_argument naming the entry that is not an address or range.
  static TrustedProxies parse(std::string_view list);

  // True when `address` (an IP address in text form; an IPv4 address mapped
  // into IPv6 counts as that IPv4 address) lies in one of the entries.
  bool trusts(std::string_view address) const;
  bool empty() const { return ranges_.empty(); }

 private:
  struct Range {
    boost::asio::ip::address network;
    int prefix = 0;  // leading bits that must match
  };
  std::vector<Range> ranges_;
};

// The address of the client of a request that came in from `peer`: the peer
// itself, or, when the peer is a trusted proxy, the nearest address of
// `forwarded_for` (X-Forwarded-For values) that is not a trusted proxy; an
// entry that is no address ends the walk at the hop before it. Addresses are
// in canonical text, an IPv4 address mapped into IPv6 as IPv4.
std::string client_address(std::string_view peer, std::string_view forwarded_for,
                           const TrustedProxies& proxies);
// The address in its canonical text, or "" when the text is no IP address.
std::string canonical_address(std::string_view text);

}  // namespace oapx1

#endif  // OAPX1_SERVER_TRUSTED_PROXIES_H_
