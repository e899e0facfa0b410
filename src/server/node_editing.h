// The rules the host applies around the workflow pages: who may use them (a
// function code checked with the library's permission methods), whether a
// posted node save may be written (its user and department lists name
// existing entries; the node has not changed since the session was shown it),
// and the change history every save leaves (OAPX1_NodeHistory, and one line of
// the application's audit log).
#ifndef OAPX1_SERVER_NODE_EDITING_H_
#define OAPX1_SERVER_NODE_EDITING_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/script/variant.h"
#include "platform/web/intrinsics.h"
#include "platform/web/memory_intrinsics.h"

namespace oapx1 {

// The function code the workflow pages require when no setting names one.
inline constexpr char kDefaultEditPermission[] = "FLOWSET";

// The session item that remembers the version of node N the session was last
// shown is this prefix followed by N.
inline constexpr std::string_view kShownVersionItem = "_NodeShown";
// The form item in which the shared script posts back the version of the
// node its page was shown with (sent with the page in its Server-Timing
// header, "node;desc=VERSION"); it takes precedence over the session's.
inline constexpr std::string_view kPostedVersionItem = "OAPX1ShownVersion";

// How a save ended, as the history records it.
inline constexpr std::string_view kOutcomeSaved = "saved";
inline constexpr std::string_view kOutcomeConflict = "conflict";
inline constexpr std::string_view kOutcomeBadList = "bad list";
inline constexpr std::string_view kOutcomeForbidden = "forbidden";

// One column a save changed (or, for a refused save, would have changed).
struct ColumnChange {
  std::string column;  // the node column
  std::string before;  // its stored value ("" for null)
  std::string after;   // the value saved or posted
};

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

// The values of one node row, column by column, in the table's order;
// nullopt when there is no such node.
using NodeRow = std::vector<std::pair<std::string, std::string>>;

// A cheap, stable version of a row: FNV-1a over its columns and values, in hex.
std::string row_version(const NodeRow& row);

// The row of node `node` on the open connection `conn`; nullopt when there is
// none. Fails as the data layer does.
std::optional<NodeRow> read_node_row(const Variant& conn, int64_t node);

// row_version of read_node_row(conn, node), read without building the row;
// "" when there is no such node. Fails as the data layer does.
std::string node_version(const Variant& conn, int64_t node);

// The columns whose values differ between `before` and `after` (both rows of
// one table, matched by column name).
std::vector<ColumnChange> row_changes(const NodeRow& before, const NodeRow& after);

// The node row a posted save would write over `current`: the text items the
// form carries (a text item not posted keeps its value, as the page saves
// them) and the check boxes. For the history of a refused save.
NodeRow posted_row(const NodeRow& current, const Request& posted);

// The first thing wrong with the user and department lists of a posted save,
// as the message that refuses it (naming the bad entries), or "" when every
// posted list names existing accounts and departments: the handler list
// (CurrentJieDianYongHu) and the distribution users (FenFaUser) must name
// accounts of kx_userinfor; the distribution departments (FenFaBuMen) must be
// ';'-separated whole numbers naming departments of KX_Department.
std::string check_posted_lists(const Variant& conn, const Request& posted);

// Appends one line to the node's history; its key.
int64_t record_history(const Variant& conn, const NodeHistoryEntry& entry);

// The newest `limit` lines of a node's history, newest first (all for 0).
std::vector<NodeHistoryEntry> read_history(const Variant& conn, int64_t node, int limit);

// The newest saved (not refused) line of a node's history, if any.
std::optional<NodeHistoryEntry> last_saved(const Variant& conn, int64_t node);

// For display: a ';'-separated account list as "full name (account)" joined
// by "、", and a department list as department names; an entry the directory
// does not know is shown as it is, marked "（不存在）". Other columns as they are.
std::string display_value(const Variant& conn, std::string_view column, const std::string& value);

// The text of an outcome for people ("已保存", "未保存：..." ).
std::string outcome_text(std::string_view outcome);

// The full name of an account ("" when unknown).
std::string full_name(const Variant& conn, const std::string& account);

// True when the signed-in user of `session` (its UserName) holds the function
// code `permission`: through a role (userhaspower) or a direct grant. Runs on a
// library page of its own; its failures go to the event log and refuse.
// With `node` and `version`, and the user allowed, also reads that node's
// version (node_version) into `*version` on the same page's connection (""
// when there is no such node, or when the read failed, which goes to the
// event log): a view of the node costs one library page, not two.
bool user_may_edit(ApplicationState& application, const Session& session, const std::string& permission,
                   std::optional<int64_t> node = std::nullopt, std::string* version = nullptr);

// Runs `body(conn)` on a library page bound to `session`, with the request's
// connection open as every page opens it; false when that failed (logged to
// the event log). `reads_only` as the host binds pages.
bool with_library_connection(ApplicationState& application, Session& session, bool reads_only,
                             const std::function<void(const Variant& conn)>& body);

// Appends one line to the application's audit log (oplog) under the
// session's account and address.
void audit_node_save(ApplicationState& application, Session& session, const std::string& remark);

// `oapx1 history`'s text of a history, newest first: one block per line.
std::string history_text(const Variant& conn, const std::vector<NodeHistoryEntry>& entries);

}  // namespace oapx1

#endif  // OAPX1_SERVER_NODE_EDITING_H_
