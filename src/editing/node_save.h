// The rules a node save follows around the node page: who may edit the
// workflow pages (a function code, checked with the library's permission
// methods), whether a posted save may be written (its user and department
// lists name existing entries; the node has not changed since the poster was
// shown it), and the outcome every save leaves in the node's history and in
// the application's audit log. A save passes its stages in order:
// authorise, check the posted values and lists, check the version, write
// (the page), record the outcome. The version check, the page's write and the
// record of the outcome are one database transaction with the node's row
// locked, so that of two saves of one version, on any hosts, one lands and
// the other is refused as a conflict, and a save lands with its history line
// or not at all.
#ifndef OAPX1_EDITING_NODE_SAVE_H_
#define OAPX1_EDITING_NODE_SAVE_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "editing/node_history.h"
#include "editing/node_rows.h"
#include "platform/data/held_write.h"
#include "platform/web/intrinsics.h"
#include "platform/web/memory_intrinsics.h"

namespace oapx1 {

// The function code the workflow pages require when no setting names one
// (流程设置).
inline constexpr char kDefaultEditPermission[] = "FLOWSET";

// The session item that remembers the version of node N the session was last
// shown is this prefix followed by N (shown_version_item).
inline constexpr std::string_view kShownVersionItem = "_NodeShown";
// The form item in which the shared script posts back the version of the
// node its page was shown with (sent with the page in its Server-Timing
// header, "node;desc=VERSION"); it takes precedence over the session's.
inline constexpr std::string_view kPostedVersionItem = "OAPX1ShownVersion";

// What the poster is told of a save that was written, and of one refused for
// want of the editing permission.
inline constexpr char kSavedMessage[] = "系统提示：流程流程节点设置保存成功！";
inline constexpr char kForbiddenMessage[] = "系统提示：没有流程设置权限，设置未保存！";
// What the poster is told when a check could not be made (the database
// failed or a lock was not had in time): nothing was stored.
inline constexpr char kUncheckedMessage[] =
    "系统提示：暂时无法检查您提交的设置（数据库忙或出错），设置未保存，请稍后再试！";
// What the poster is told when a save that passed its checks could not be
// stored after the page ran: nothing was stored.
inline constexpr char kNotStoredMessage[] = "系统提示：设置未能写入数据库，设置未保存，请稍后再试！";


// The session item that holds the version of `node` the session was shown.
std::string shown_version_item(int64_t node);

// The conflict rule: a save over `current` (the node's version now) is
// refused when the poster was shown another version. A poster that was
// shown none (`shown` empty) is not refused: there is nothing to compare.
bool is_conflict(std::string_view shown, std::string_view current);

// The message that refuses a save as a conflict, naming who saved the node
// last and when (`last`), or saying only that it changed when no saved line
// of its history is known; with the changes made since the poster opened the
// node (`changed`, each "允许驳回：勾选 → 未勾选") when they are known.
std::string conflict_message(const std::optional<NodeHistoryEntry>& last,
                             const std::vector<std::string>& changed = {});

// The row of node `node` as it was at `version`: `row` (the node now) with
// the changes of the stored lines of its history undone, newest first, until
// it has that version; none when the newest 50 lines do not lead back to it
// (a change made outside the editor, a history pruned). Fails as the data
// layer does.
std::optional<NodeRow> row_of_version(const Variant& conn, int64_t node, NodeRow row, std::string_view version);

// The columns the node form shows that differ from `before` to `after`, in
// the editor's words: "允许驳回：勾选 → 未勾选", a list as the names of its
// accounts or departments (a list that names the same entries is no change).
// Fails as the data layer does.
std::vector<std::string> changes_in_words(const Variant& conn, const NodeRow& before, const NodeRow& after);

// The editing rules of one application: its permission.
class NodeEditing {
 public:
  // `permission` is the function code the workflow pages require.
  NodeEditing(ApplicationState& application, std::string permission);

  const std::string& permission() const { return permission_; }

  // Authorises: true when the signed-in user of `session` (its UserName)
  // holds the permission, through a role (userhaspower) or a direct grant.
  // Runs on a library page of its own; its failures go to the event log and
  // refuse. With `node` and `version`, and the user allowed, also reads that
  // node's version (node_version) into `*version` on the same page's
  // connection ("" when there is no such node, or when the read failed,
  // which goes to the event log): a view of the node costs one library page,
  // not two.
  bool may_edit(const Session& session, std::optional<int64_t> node = std::nullopt,
                std::string* version = nullptr);

  // Runs `body(conn)` on a library page bound to `session`, with the
  // request's connection open as every page opens it; false when that failed
  // (logged to the event log). `reads_only` as the host binds pages.
  bool with_connection(Session& session, bool reads_only, const std::function<void(const Variant& conn)>& body);

 private:
  friend class NodeSave;
  ApplicationState& application_;
  std::string permission_;
};

// One posted save of one node by a signed-in user, through its stages. The
// host calls refuse_forbidden when the user may not edit; else check before
// the page runs and, when the page has run, finish. Made, used and ended on
// one thread: from its making to its end, the connections that thread opens
// one after the other (the checks', the page's, the record's) are one engine
// connection, in which the save's transaction stays open from check to finish.
// Ended without finish (the page failed), the transaction is rolled back.
class NodeSave {
 public:
  // The save of `node` posted in `session` (whose UserName is the poster)
  // from the client `address`.
  NodeSave(NodeEditing& editing, Session& session, int64_t node, std::string address);
  NodeSave(const NodeSave&) = delete;
  NodeSave& operator=(const NodeSave&) = delete;

  // The poster lacks the permission: records the refused save, with what it
  // would have changed, in the history and the audit log. Failures go to the
  // event log.
  void refuse_forbidden(const Request& posted);

  // Checks the posted values and lists, then the version the poster was
  // shown (the posted kPostedVersionItem, else the session's
  // shown_version_item) against the node's, in a transaction that locks the
  // node's row: from here until finish() no other save of the node, on any
  // host, passes its version check. Returns "" when the page may write the
  // save (also when the node does not exist: the page says so), else the
  // message that refuses it; a refusal is recorded in the history and the
  // audit log. A check that fails (the database, a lock not had in time)
  // refuses with kUncheckedMessage, reported to the event log, and records
  // no history line.
  std::string check(const Request& posted);

  // After the page has run: reads the node as it is now and, for a save
  // that passed check(), records its outcome in the history and commits the
  // node and the line together (a history that cannot be written is reported
  // to the event log and the node still lands). Returns the version the node
  // has now ("" when there is none or it could not be read).
  std::string finish();

  // How the save was refused by check() (one of the kOutcome texts, or
  // "unchecked" when the checks could not be made); "" when it was not.
  std::string_view refused() const { return refused_; }
  // Makes this save a restore of the node's earlier settings: finish()
  // records it as kOutcomeRestored with `remark` (what the poster is told)
  // instead of as saved. Call before finish().
  void record_as_restore(std::string remark);

  // True after finish() when a save that passed check() could not be
  // committed: nothing of it was stored (reported to the event log).
  bool lost() const { return lost_; }

 private:
  // Appends the line of the audit log for this save.
  void audit(const std::string& remark);
  // The checks of check() that read the database, on the open connection
  // `conn`, in the save's transaction, which they begin: the refusal (the
  // transaction still open, for its record), or "" with the transaction left
  // open for the page (none when the node does not exist). Fails as the data
  // layer does.
  std::string check_on(const Variant& conn, const Request& posted);

  NodeEditing& editing_;
  Session& session_;
  NodeHistoryEntry entry_;           // the history line being made
  std::optional<NodeRow> before_;    // the row before the save, read by check()
  bool writes_ = false;              // check() passed: the page writes the save
  bool lost_ = false;                // the save passed check() but could not be committed
  std::string refused_;              // how check() refused the save; "" when it did not
  std::optional<std::string> restore_remark_;  // set: the save is a restore, recorded so
  HeldWrite write_;                  // the save's transaction and the thread's connection
};

}  // namespace oapx1

#endif  // OAPX1_EDITING_NODE_SAVE_H_
