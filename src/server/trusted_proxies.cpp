#include "server/trusted_proxies.h"

#include <array>
#include <optional>
#include <stdexcept>

#include "platform/text/ascii.h"

namespace oapx1 {
namespace {

namespace ip = boost::asio::ip;

// An IPv4 address mapped into IPv6 compares as the IPv4 address it carries.
ip::address unmapped(const ip::address& a) {
  if (a.is_v6() && a.to_v6().is_v4_mapped()) {
    return ip::make_address_v4(ip::v4_mapped, a.to_v6());
  }
  return a;
}

std::optional<ip::address> to_address(std::string_view text) {
  boost::system::error_code ec;
  const ip::address a = ip::make_address(std::string(text), ec);
  if (ec) return std::nullopt;
  return unmapped(a);
}

template <size_t N>
bool prefix_matches(const std::array<unsigned char, N>& a, const std::array<unsigned char, N>& b,
                    int prefix) {
  for (size_t i = 0; i < N && prefix > 0; ++i, prefix -= 8) {
    const int bits = prefix >= 8 ? 8 : prefix;
    const unsigned mask = (0xFFu << (8 - bits)) & 0xFFu;
    if ((a[i] & mask) != (b[i] & mask)) return false;
  }
  return true;
}

}  // namespace

TrustedProxies TrustedProxies::parse(std::string_view list) {
  TrustedProxies proxies;
  size_t pos = 0;
  while (pos < list.size()) {
    const size_t end = list.find_first_of(", \t", pos);
    const std::string_view entry =
        list.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    pos = end == std::string_view::npos ? list.size() : end + 1;
    if (entry.empty()) continue;
    const size_t slash = entry.find('/');
    const auto network = to_address(entry.substr(0, slash));
    if (!network) throw std::invalid_argument("not an IP address: \"" + std::string(entry) + "\"");
    const int bits = network->is_v4() ? 32 : 128;
    int prefix = bits;
    if (slash != std::string_view::npos) {
      const std::string digits(entry.substr(slash + 1));
      size_t used = 0;
      try {
        prefix = std::stoi(digits, &used);
      } catch (const std::exception&) {
        used = 0;
      }
      if (digits.empty() || used != digits.size() || prefix < 0 || prefix > bits) {
        throw std::invalid_argument("not an address range: \"" + std::string(entry) + "\"");
      }
    }
    proxies.ranges_.push_back({*network, prefix});
  }
  return proxies;
}

bool TrustedProxies::trusts(std::string_view text) const {
  if (ranges_.empty()) return false;
  const auto address = to_address(trim(text));
  if (!address) return false;
  for (const Range& r : ranges_) {
    if (r.network.is_v4() && address->is_v4()) {
      if (prefix_matches(r.network.to_v4().to_bytes(), address->to_v4().to_bytes(), r.prefix)) return true;
    } else if (r.network.is_v6() && address->is_v6()) {
      if (prefix_matches(r.network.to_v6().to_bytes(), address->to_v6().to_bytes(), r.prefix)) return true;
    }
  }
  return false;
}

std::string canonical_address(std::string_view text) {
  boost::system::error_code ec;
  boost::asio::ip::address address = boost::asio::ip::make_address(std::string(trim(text)), ec);
  if (ec) return {};
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    address = boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, address.to_v6());
  }
  return address.to_string();
}

std::string client_address(std::string_view peer, std::string_view forwarded_for,
                           const TrustedProxies& proxies) {
  std::string client = canonical_address(peer);
  if (client.empty()) client = std::string(peer);
  if (!proxies.trusts(client)) return client;
  // Each proxy appends the address it got the request from: walk back from
  // the nearest while the hops are our own proxies.
  while (!forwarded_for.empty()) {
    const size_t comma = forwarded_for.rfind(',');
    const std::string_view hop =
        trim(comma == std::string_view::npos ? forwarded_for : forwarded_for.substr(comma + 1));
    forwarded_for = comma == std::string_view::npos ? std::string_view() : forwarded_for.substr(0, comma);
    if (hop.empty()) continue;
    const std::string address = canonical_address(hop);
    if (address.empty()) break;
    client = address;
    if (!proxies.trusts(address)) break;
  }
  return client;
}

}  // namespace oapx1
