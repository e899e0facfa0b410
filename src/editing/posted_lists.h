// What a node save posts, checked before anything is written: its user and
// department lists name entries of the directory (its other values are
// checked by posted_values.h).
#ifndef OAPX1_EDITING_POSTED_LISTS_H_
#define OAPX1_EDITING_POSTED_LISTS_H_

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "editing/node_rows.h"
#include "platform/script/variant.h"
#include "platform/web/intrinsics.h"

namespace oapx1 {

// Where the list checks look up accounts and departments.
class DirectoryEntries {
 public:
  virtual ~DirectoryEntries() = default;
  // The lower-cased accounts among `accounts` that the directory (kx_userinfor) knows.
  virtual std::set<std::string> known_accounts(const std::vector<std::string>& accounts) = 0;
  // The ids among `ids` that are departments (KX_Department), as decimal text.
  virtual std::set<std::string> known_departments(const std::vector<int64_t>& ids) = 0;
  // The lower-cased accounts among `accounts` that may not sign in (AccountState "0").
  virtual std::set<std::string> disabled_accounts(const std::vector<std::string>& accounts) = 0;
};

// The whole directory read once, for checking many nodes in a row (the list
// of models): two statements, whatever the number of nodes. Fails as the
// data layer does.
class DirectorySnapshot : public DirectoryEntries {
 public:
  explicit DirectorySnapshot(const Variant& conn);
  std::set<std::string> known_accounts(const std::vector<std::string>& accounts) override;
  std::set<std::string> known_departments(const std::vector<int64_t>& ids) override;
  std::set<std::string> disabled_accounts(const std::vector<std::string>& accounts) override;

 private:
  std::set<std::string> accounts_;     // every account, lower-cased
  std::set<std::string> disabled_;     // the disabled ones among them
  std::set<std::string> departments_;  // every department id, as text
};

// What keeps a stored node from being saved as it stands, as one sentence
// ("" when nothing does): its lists checked as check_posted_lists checks a
// posted save of them, and a node whose handlers are chosen from a list
// (BanLiRenType "1" or "3") with nobody on it, or with nobody on it who may
// sign in (every handler disabled or gone, as a forced `user disable` or
// import may leave it: the save itself does not refuse that). The second form asks the
// database for each list. Fails as the data layer does.
std::string stored_node_problems(DirectoryEntries& directory, const NodeRow& node);
std::string stored_node_problems(const Variant& conn, const NodeRow& node);

// The first thing wrong with the user and department lists of a posted save,
// as the message that refuses it (naming the bad entries), or "" when every
// posted list names existing accounts and departments: the handler list
// (CurrentJieDianYongHu) and the distribution users (FenFaUser) must name
// accounts of kx_userinfor; the distribution departments (FenFaBuMen) must be
// ';'-separated whole numbers naming departments of KX_Department. Fails as
// the data layer does.
std::string check_posted_lists(const Variant& conn, const Request& posted);

}  // namespace oapx1

#endif  // OAPX1_EDITING_POSTED_LISTS_H_
