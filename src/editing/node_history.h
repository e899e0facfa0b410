// The change history of workflow nodes (OAPX1_NodeHistory): one line for
// every save, written or refused, and its text for people.
#ifndef OAPX1_EDITING_NODE_HISTORY_H_
#define OAPX1_EDITING_NODE_HISTORY_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "editing/node_rows.h"
#include "platform/script/variant.h"

namespace oapx1 {

// How a save ended, as the history records it.
inline constexpr std::string_view kOutcomeSaved = "saved";
inline constexpr std::string_view kOutcomeConflict = "conflict";
inline constexpr std::string_view kOutcomeBadList = "bad list";
inline constexpr std::string_view kOutcomeForbidden = "forbidden";

// One line of a node's change history.
struct NodeHistoryEntry {
  int64_t id = 0;                      // the line's key; larger is newer
  int64_t node = 0;                    // the node (OA_Flow_Model_JieDian.OAID)
  std::string when;                    // when it was recorded, "yyyy-mm-dd hh:nn:ss"
  std::string account;                 // login name of the user who saved
  std::string name;                    // that user's full name, as it was then
  std::string address;                 // the client address of the save
  std::string outcome;                 // one of the kOutcome texts
  std::string remark;                  // the message the user was shown
  std::vector<ColumnChange> changes;   // the columns, in the node's column order
};

// Appends one line to the node's history; its key. Fails as the data layer does.
int64_t record_history(const Variant& conn, const NodeHistoryEntry& entry);

// The newest `limit` lines of a node's history, newest first (all for 0).
// Fails as the data layer does.
std::vector<NodeHistoryEntry> read_history(const Variant& conn, int64_t node, int limit);

// The newest saved (not refused) line of a node's history, if any; none also
// when the history cannot be read.
std::optional<NodeHistoryEntry> last_saved(const Variant& conn, int64_t node);

// The full name of an account ("" when unknown). Fails as the data layer does.
std::string full_name(const Variant& conn, const std::string& account);

// For display: a ';'-separated account list as "full name (account)" joined
// by "、", and a department list as department names; an entry the directory
// does not know is shown as it is, marked "（不存在）". Other columns as they are.
std::string display_value(const Variant& conn, std::string_view column, const std::string& value);

// The text of an outcome for people ("已保存", "未保存：..." ); an unknown
// outcome as it is.
std::string outcome_text(std::string_view outcome);

// `oapx1 history`'s text of a history, newest first: one block per line.
std::string history_text(const Variant& conn, const std::vector<NodeHistoryEntry>& entries);

}  // namespace oapx1

#endif  // OAPX1_EDITING_NODE_HISTORY_H_
