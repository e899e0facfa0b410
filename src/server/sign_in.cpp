#include "server/sign_in.h"

#include <algorithm>
#include <boost/asio/ip/address.hpp>

#include "host/page.h"
#include "platform/text/ascii.h"

namespace oapx1 {
namespace {

// The library methods alone, on the request of a sign-in.
class SignInPage : public Page {
 public:
  void I_init() override {}
};

// Runs `body` on a library page bound to a request of its own that carries
// the given session, with its connection open as every page opens it.
template <class F>
void with_library_page(ApplicationState& state, Session& session, F&& body) {
  MemoryServer server;
  MemoryApplication application(state);
  MemoryRequest request;
  MemoryResponse response;  // the trailer of a failure is not shown to the user
  ObjectContext context{&server, &application, &session, &request, &response};
  // The thread's context is cleared however the page ends.
  struct Unbind {
    ~Unbind() {
      set_current_object_context(nullptr);
      bind_intrinsics(nullptr);
    }
  } unbind;
  set_current_object_context(&context);
  SignInPage page;
  page.bind_request_context();
  page.tvdb_connI_init();
  body(page);
  page.closedb();
}

}  // namespace

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
                           const std::vector<std::string>& trusted_proxies) {
  const std::string peer_address = canonical_address(peer);
  auto trusted = [&](const std::string& address) {
    return std::find(trusted_proxies.begin(), trusted_proxies.end(), address) != trusted_proxies.end();
  };
  if (peer_address.empty() || !trusted(peer_address)) return peer_address;
  // Each proxy appends the address it was reached from: read from the right,
  // past the proxies we trust, to the first address only a client could give.
  std::string_view rest = forwarded_for;
  while (!trim(rest).empty()) {
    const size_t comma = rest.rfind(',');
    const std::string_view entry = comma == std::string_view::npos ? rest : rest.substr(comma + 1);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(0, comma);
    const std::string address = canonical_address(entry);
    if (address.empty()) break;
    if (!trusted(address)) return address;
  }
  return peer_address;
}

bool login_allowed(ApplicationState& application, Session& session) {
  bool allowed = true;
  with_library_page(application, session, [&](Page& page) {
    const Variant verdict = page.isallowlogin();
    allowed = !(verdict.type() == Variant::Type::kBoolean && !verdict.boolean());
  });
  return allowed;
}

void record_login_event(ApplicationState& application, Session& session, std::string_view legal,
                        std::string_view login) {
  with_library_page(application, session, [&](Page& page) {
    Variant legal_value(legal), login_value(login);
    page.savelog(legal_value, login_value);
  });
}

}  // namespace oapx1
