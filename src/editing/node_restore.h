// Setting a workflow node back to its settings as they were after a line of
// its history, through the same stages as a save from the node form.
//
// The history keeps, per line, only the columns the line changed, with their
// old and new values. The settings after line E are found backwards from
// the node as it is now: each later line that changed the node (every line
// but a refused save's) is undone, newest first, by setting its columns back
// to their old values. Backwards, because the start of a history may be gone
// (pruned by its retention, or older than the history itself) while the
// node as it is now is always there; a column no later line changed keeps
// its value now.
#ifndef OAPX1_EDITING_NODE_RESTORE_H_
#define OAPX1_EDITING_NODE_RESTORE_H_

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "editing/node_rows.h"
#include "editing/node_save.h"
#include "platform/web/memory_intrinsics.h"

namespace oapx1 {

// A restore that cannot be planned: no such node, or no line of its history
// that changed it under that number. Its message is for people.
struct RestoreRefused : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// What restoring a node to its settings after one line of its history would
// change.
struct RestorePlan {
  int64_t node = 0;                     // the node
  int64_t entry = 0;                    // the history line restored to
  std::string version;                  // row_version of `current`, which the restore is checked against
  NodeRow current;                      // the node as it is
  NodeRow target;                       // the node as it was after the line
  // current → what the restore's save writes (the settings after the line,
  // and what every save of the form sets besides)
  std::vector<ColumnChange> changes;
  // current → target where the save cannot write the target's value (a
  // column it keeps, or sets to a fixed value)
  std::vector<ColumnChange> unsettable;
};

// The plan to set node `node` back to its settings after its history line
// `entry`, read on `conn`. Throws RestoreRefused when there is no such node,
// or `entry` is no line of its history that changed it (a refused save's
// line changed nothing); fails as the data layer does.
RestorePlan plan_restore(const Variant& conn, int64_t node, int64_t entry);

// What a restore did.
struct RestoreResult {
  bool restored = false;  // the node was set back, and the restore recorded in its history
  bool forbidden = false; // refused: the user lacks the editing permission
  std::string message;    // what the user is told: the refusal, or what was restored
  std::string version;    // the node's version afterwards ("" when not read)
};

// Sets the node of `plan` back to `plan.target` as the signed-in user of
// `session` (from client `address`), through the stages of a save from the
// node form: the posted lengths; the permission (NodeEditing::may_edit;
// refused: recorded as forbidden); the posted values, the lists and the
// version `plan.version` (NodeSave::check; refused: recorded, nothing
// changed); the node page's own write, by `write_page`, which runs the node
// page on this thread with the request it is given (a posted save of
// `plan.target`'s values); and the record, as kOutcomeRestored. Fails only as
// `write_page` does.
RestoreResult restore_node(NodeEditing& editing, Session& session, const RestorePlan& plan,
                           const std::string& address, const std::function<void(MemoryRequest&)>& write_page);

// What the user is told of a restore to the settings after history line
// `entry`: "系统提示：节点已恢复到修改记录 #ENTRY 之后的设置！".
std::string restored_message(int64_t entry);

}  // namespace oapx1

#endif  // OAPX1_EDITING_NODE_RESTORE_H_
