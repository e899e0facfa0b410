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
inline constexpr std::string_view kOutcomeBadValue = "bad value";  // a posted value the node cannot hold
// Changes made on the model pages: to a model's nodes and order, to a model, to the forms.
inline constexpr std::string_view kOutcomeNodeAdded = "node added";
inline constexpr std::string_view kOutcomeNodeMoved = "node moved";
inline constexpr std::string_view kOutcomeNodeRemoved = "node removed";
inline constexpr std::string_view kOutcomeModelCreated = "model created";
inline constexpr std::string_view kOutcomeModelRenamed = "model renamed";
inline constexpr std::string_view kOutcomeModelCopied = "model copied";
inline constexpr std::string_view kOutcomeModelDeleted = "model deleted";
inline constexpr std::string_view kOutcomeFormCreated = "form created";
// Written by a model import, for each node it changes and for the model itself.
inline constexpr std::string_view kOutcomeImported = "imported";

// A save that set the node back to its settings after an earlier line.
inline constexpr std::string_view kOutcomeRestored = "restored";

// Whether a line of `outcome` records a save that was refused (its changes
// were never stored): conflict, bad list, forbidden, bad value. Every other
// outcome, the model pages' and imports' included, records a change made.
bool is_refusal(std::string_view outcome);

// One line of a node's change history.
struct NodeHistoryEntry {
  int64_t id = 0;                      // the line's key; larger is newer
  int64_t node = 0;                    // the node (OA_Flow_Model_JieDian.OAID); 0 for a model's line
  // The node's model (OA_Flow_Model_Header.OAID); 0: record_history reads it from the node.
  int64_t model = 0;
  std::string when;                    // when it was recorded, "yyyy-mm-dd hh:nn:ss"
  std::string account;                 // login name of the user who saved
  std::string name;                    // that user's full name, as it was then
  std::string address;                 // the client address of the save
  std::string outcome;                 // one of the kOutcome texts
  std::string remark;                  // the message the user was shown
  std::vector<ColumnChange> changes;   // the columns, in the node's column order
};

// A value of a refused save's line longer than this many bytes is kept as
// its digest (value_digest).
inline constexpr size_t kRefusedValueBytes = 64;

// What the history keeps of a long value: its first characters (up to 24
// bytes), "…", and its length in bytes and version, as
// "前缀…［921600 字节，校验 0123456789abcdef］"; `value` itself when it is no
// longer than kRefusedValueBytes.
std::string value_digest(const std::string& value);

// Appends one line to the node's history, under its model (entry.model, else
// the node's MOAID); its key. A refused line (is_refusal) keeps each changed column's old and new value
// as its value_digest and the first 512 bytes of its remark: a refused post
// leaves a line of a few hundred bytes whatever was posted. Fails as the data
// layer does.
int64_t record_history(const Variant& conn, const NodeHistoryEntry& entry);

// Lines of a node's history, newest first: `limit` of them after skipping
// the newest `skip` (all of them for `limit` 0). Reads only those lines. Fails as the
// data layer does.
std::vector<NodeHistoryEntry> read_history(const Variant& conn, int64_t node, int limit, int64_t skip = 0);

// The lines of a node's history from line `first` on (its key), newest
// first. Fails as the data layer does.
std::vector<NodeHistoryEntry> read_history_from(const Variant& conn, int64_t node, int64_t first);

// The lines prune_records removed from each table.
struct PrunedRecords {
  int64_t history = 0;  // of the node history (OAPX1_NodeHistory)
  int64_t audit = 0;    // of the audit log (OA_Log)
};

// Removes the lines of the node history and of the audit log of `database`
// (a connection string) recorded more than `days` days before the
// database's local time now (lines without a time are kept); nothing for
// `days` 0 or less. Returns how many lines went. Fails as the data layer
// does (ScriptError), the first table's removal then standing.
PrunedRecords prune_records(const std::string& database, int days);

// The newest line of a node's history that saved it (saved or restored), if
// any; none also when the history cannot be read.
std::optional<NodeHistoryEntry> last_saved(const Variant& conn, int64_t node);

// The full name of an account ("" when unknown). Fails as the data layer does.
std::string full_name(const Variant& conn, const std::string& account);

// For display: a ';'-separated account list as "full name (account)" joined
// by "、", and a department list as department names; an entry the directory
// does not know is shown as it is, marked "（不存在）"; a refused line's
// value_digest of a long list as it is; any other column's value in the
// form's words (column_value_words).
std::string display_value(const Variant& conn, std::string_view column, const std::string& value);

// The text of an outcome for people ("已保存", "未保存：...", "已恢复", the
// model pages' "添加节点", ...); an unknown outcome as it is.
std::string outcome_text(std::string_view outcome);

// Whether a change is none to the editor: its old and new value are the same
// setting (same_value: a list written another way) or read the same in the
// editor's words (column_value_words: a check box null and "0").
bool reads_the_same(const ColumnChange& change);

// The changes of a line as they are shown: those that read the same left out.
std::vector<ColumnChange> shown_changes(const NodeHistoryEntry& entry);

// `oapx1 history`'s text of a history, newest first: one block per line,
// headed by the line's number (its key, which --restore takes), each change
// under its column's label (history_label), lists by display name.
std::string history_text(const Variant& conn, const std::vector<NodeHistoryEntry>& entries);

}  // namespace oapx1

#endif  // OAPX1_EDITING_NODE_HISTORY_H_
