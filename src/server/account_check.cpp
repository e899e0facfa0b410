#include "server/account_check.h"

#include <memory>
#include <mutex>
#include <utility>

#include "platform/crypto/password_hash.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"

namespace oapx1 {
namespace {

// Accounts remembered at once; beyond, all are forgotten and read again.
constexpr size_t kMaxRemembered = 8192;

}  // namespace

AccountChecks::AccountChecks(std::string database) : database_(std::move(database)) {}

bool AccountChecks::matches(const Found& found, const Session& session) {
  return found.active && !found.seal.empty() && found.seal == session.item(kAccountSealItem).str();
}

AccountChecks::Verdict AccountChecks::known(const Session& session, const DataStamp& stamp) const {
  const std::string account = session.item("UserName").str();
  std::shared_lock lock(mutex_);
  const auto source = found_.find(stamp.source);
  if (source == found_.end()) return Verdict::kUnknown;
  const auto it = source->second.find(account);
  if (it == source->second.end() || it->second.epoch != stamp.epoch) return Verdict::kUnknown;
  return matches(it->second, session) ? Verdict::kHolds : Verdict::kEnded;
}

bool AccountChecks::holds(const Session& session, const std::optional<DataStamp>& stamp) {
  if (stamp) {
    const Verdict verdict = known(session, *stamp);
    if (verdict != Verdict::kUnknown) return verdict == Verdict::kHolds;
  }
  const std::string account = session.item("UserName").str();
  Found found = read(account);
  const bool result = matches(found, session);
  if (stamp) {
    found.epoch = stamp->epoch;
    std::unique_lock lock(mutex_);
    if (count_ >= kMaxRemembered) {
      found_.clear();
      count_ = 0;
    }
    auto [it, added] = found_[stamp->source].insert_or_assign(account, std::move(found));
    if (added) ++count_;
  }
  return result;
}

AccountChecks::Found AccountChecks::read(const std::string& account) const {
  Found found;
  auto conn = std::make_shared<Connection>();
  conn->Open(Variant(database_));
  Recordset rs;
  rs.Open(Variant("select AccountState, password from kx_userinfor where UserName = '" + sql_text(Variant(account)) +
                  "'"),
          Variant(std::static_pointer_cast<Object>(conn)), 1, 3);
  if (!rs.Eof()) {
    const Variant state = rs.field("AccountState");
    const Variant password = rs.field("password");
    // As a sign-in reads it: a state of '0' is disabled, no state is active.
    found.active = state.is_null() || state.str() != "0";
    if (!password.is_null()) found.seal = password_seal(password.str());
  }
  rs.Close();
  conn->Close();
  return found;
}

}  // namespace oapx1
