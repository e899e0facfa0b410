#include "editing/node_save.h"

#include <exception>
#include <utility>

#include "editing/posted_lists.h"
#include "editing/posted_values.h"
#include "editing/rows.h"
#include "host/library_page.h"
#include "lookups/rows.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/text/ascii.h"
#include "platform/web/event_log.h"
#include "util/ids_and_lists.h"

namespace oapx1 {
namespace {

// What the event log names as the source of the editing rules' failures.
constexpr std::string_view kFailureSource = "oapx1 serve: node editing";

// The node table and its key, whose row a save locks.
constexpr std::string_view kNodeTable = "OA_Flow_Model_JieDian";
constexpr std::string_view kNodeKey = "OAID";

// How many lines of a node's history a refused save looks back through for
// the version its poster was shown.
constexpr int kLinesBack = 50;

void report_failure(std::string_view what) {
  event_log().write(kEventError, std::string(kFailureSource) + ": " + std::string(what) + ": " +
                                     failure_text(std::current_exception()));
}

// The model of a node's row (its MOAID), for its history line; 0 when none.
int64_t model_of(const NodeRow& row) { return whole_number(column_value(row, "MOAID")).value_or(0); }

}  // namespace

std::string shown_version_item(int64_t node) { return std::string(kShownVersionItem) + std::to_string(node); }

bool is_conflict(std::string_view shown, std::string_view current) { return !shown.empty() && shown != current; }

std::string conflict_message(const std::optional<NodeHistoryEntry>& last, const std::vector<std::string>& changed) {
  const std::string who = last ? "已于 " + last->when + " 被 " + last->name + "（" + last->account + "）修改"
                                : std::string("在您打开之后已被修改");
  const std::string since =
      changed.empty() ? "；" : "。您打开之后的改动：" + editing::joined(changed, "；") + "。";
  return "系统提示：此节点" + who + "，您的设置未保存，下面显示的是当前设置" + since + "您提交的内容已记入修改记录。";
}

std::optional<NodeRow> row_of_version(const Variant& conn, int64_t node, NodeRow row, std::string_view version) {
  if (row_version(row) == version) return row;
  for (const NodeHistoryEntry& e : read_history(conn, node, kLinesBack)) {
    // A refused line was never stored, and keeps only digests of long values.
    if (e.outcome == kOutcomeConflict || e.outcome == kOutcomeBadList || e.outcome == kOutcomeForbidden ||
        e.outcome == kOutcomeBadValue) {
      continue;
    }
    for (const ColumnChange& c : e.changes) {
      for (auto& [column, value] : row) {
        if (ascii_iequals(column, c.column)) value = c.before;
      }
    }
    if (row_version(row) == version) return row;
  }
  return std::nullopt;
}

std::vector<std::string> changes_in_words(const Variant& conn, const NodeRow& before, const NodeRow& after) {
  std::vector<std::string> words;
  for (const ColumnChange& c : row_changes(before, after)) {
    if (!column_on_form(c.column)) continue;
    // A list as the names it holds; any other value as the form words it.
    auto word = [&](const std::string& value) {
      const std::string names = value.empty() ? value : display_value(conn, c.column, value);
      return names != value ? names : column_value_words(c.column, value);
    };
    // A list written another way (";lisi;" for "lisi") names the same entries.
    const std::string was = word(c.before), now = word(c.after);
    if (was != now) words.push_back(column_label(c.column) + "：" + was + " → " + now);
  }
  return words;
}

NodeEditing::NodeEditing(ApplicationState& application, std::string permission)
    : application_(application), permission_(std::move(permission)) {}

bool NodeEditing::with_connection(Session& session, bool reads_only,
                                  const std::function<void(const Variant& conn)>& body) {
  return try_library_page(application_, session, reads_only, kFailureSource,
                          [&](Page& page) { body(page.conn); });
}

bool NodeEditing::may_edit(const Session& session, std::optional<int64_t> node, std::string* version) {
  if (version) version->clear();
  const std::string account = session.item("UserName").str();
  if (account.empty()) return false;
  // The library's role check reads the user's id from the session; the
  // host's sessions hold the account only, so a session of the check's own
  // carries both. The id, the check and the node's row are read on one page.
  MemorySession check;
  check.set_item("UserName", Variant(account));
  bool allowed = false;
  try_library_page(application_, check, true, kFailureSource, [&](Page& page) {
    Variant rows = open_rows(
        "select OAID from kx_userinfor where UserName='" + sql_text(Variant(account)) + "'", page.conn);
    Recordset& r = rows.as<Recordset>();
    if (!r.Eof()) check.set_item("_userId", r.field("OAID"));
    r.Close();
    Variant code(permission_), user(account);
    allowed = script_equal(page.userhaspower(code, user), true);
    if (!allowed || !node || !version) return;
    try {
      *version = node_version(page.conn, *node);
    } catch (...) {
      report_failure("the node's version");
    }
  });
  return allowed;
}

NodeSave::NodeSave(NodeEditing& editing, Session& session, int64_t node, std::string address)
    : editing_(editing), session_(session) {
  entry_.node = node;
  entry_.account = session.item("UserName").str();
  entry_.address = std::move(address);
}

void NodeSave::refuse_forbidden(const Request& posted) {
  entry_.outcome = kOutcomeForbidden;
  entry_.remark = kForbiddenMessage;
  editing_.with_connection(session_, false, [&](const Variant& conn) {
    entry_.name = full_name(conn, entry_.account);
    if (const std::optional<NodeRow> current = read_node_row(conn, entry_.node)) {
      entry_.model = model_of(*current);
      entry_.changes = row_changes(*current, posted_row(*current, posted));
    }
    record_history(conn, entry_);
  });
  audit("流程节点 " + std::to_string(entry_.node) + " 的设置未保存：没有流程设置权限");
}

std::string NodeSave::check(const Request& posted) {
  std::string refusal = check_posted_values(posted);
  if (!refusal.empty()) entry_.outcome = kOutcomeBadValue;
  const bool checked = editing_.with_connection(session_, false, [&](const Variant& conn) {
    Connection& c = conn.as<Connection>();
    try {
      if (refusal.empty()) {
        refusal = check_on(conn, posted);
      } else {
        before_ = read_node_row(conn, entry_.node);
        entry_.name = full_name(conn, entry_.account);
      }
      if (refusal.empty() || !before_) return;  // the page writes, or says the node does not exist
      entry_.remark = refusal;
      entry_.model = model_of(*before_);
      entry_.changes = row_changes(*before_, posted_row(*before_, posted));
      record_history(conn, entry_);
      if (write_.open_on(c)) write_.commit(c);
    } catch (...) {
      write_.rollback(c);
      throw;
    }
  });
  if (!checked && refusal.empty()) {
    // Not checked is not passed: nothing is written.
    refusal = kUncheckedMessage;
    refused_ = "unchecked";
    before_.reset();
    writes_ = false;
    try {
      audit("流程节点 " + std::to_string(entry_.node) + " 的设置未保存：无法检查");
    } catch (...) {
      report_failure("the audit line of an unchecked save");
    }
    return refusal;
  }
  writes_ = refusal.empty();
  if (!writes_) {
    refused_ = entry_.outcome;
    audit("流程节点 " + std::to_string(entry_.node) + " 的设置未保存：" + outcome_text(entry_.outcome));
  }
  return refusal;
}

std::string NodeSave::check_on(const Variant& c, const Request& posted) {
  Connection& conn = c.as<Connection>();
  write_.begin(conn, kNodeTable, kNodeKey, entry_.node);
  before_ = read_node_row(c, entry_.node);
  if (!before_) {
    write_.rollback(conn);  // nothing to write: the page says the node does not exist
    return "";
  }
  entry_.name = full_name(c, entry_.account);
  std::string refusal = check_posted_lists(c, posted);
  if (!refusal.empty()) {
    entry_.outcome = kOutcomeBadList;
    return refusal;
  }
  // The version the posting tab was shown, when its shared script sent it;
  // else the one this session was last shown.
  std::string shown = posted.item(kPostedVersionItem).str();
  if (shown.empty()) shown = session_.item(shown_version_item(entry_.node)).str();
  if (is_conflict(shown, row_version(*before_))) {
    entry_.outcome = kOutcomeConflict;
    const std::optional<NodeHistoryEntry> last = last_saved(c, entry_.node);
    std::vector<std::string> changed;
    // Only a history that could be read (it named the last saver) is read
    // again: a failed statement would end the save's transaction.
    if (last) {
      try {
        if (const std::optional<NodeRow> shown_row = row_of_version(c, entry_.node, *before_, shown)) {
          changed = changes_in_words(c, *shown_row, *before_);
        }
      } catch (const ScriptError&) {
        report_failure("the changes since the version shown");
      }
    }
    refusal = conflict_message(last, changed);
  }
  return refusal;
}

std::string NodeSave::finish() {
  std::optional<NodeRow> after;
  const bool record = writes_ && before_;
  const bool ran = editing_.with_connection(session_, !writes_, [&](const Variant& conn) {
    Connection& c = conn.as<Connection>();
    if (!record) {
      after = read_node_row(conn, entry_.node);
      return;
    }
    try {
      after = read_node_row(conn, entry_.node);
      if (after) {
        entry_.outcome = restore_remark_ ? kOutcomeRestored : kOutcomeSaved;
        entry_.remark = restore_remark_ ? *restore_remark_ : std::string(kSavedMessage);
        entry_.model = model_of(*before_);
        entry_.changes = row_changes(*before_, *after);
        try {
          write_.step(c, [&] { record_history(conn, entry_); });
        } catch (...) {
          report_failure("the history line of a save");
        }
      }
      write_.commit(c);
    } catch (...) {
      write_.rollback(c);
      after.reset();
      throw;
    }
  });
  lost_ = record && !ran;
  if (record && ran && after) {
    const char* done = restore_remark_ ? " 的设置已恢复，修改了 " : " 的设置已保存，修改了 ";
    audit("流程节点 " + std::to_string(entry_.node) + done + std::to_string(entry_.changes.size()) + " 项");
  }
  return after ? row_version(*after) : std::string();
}

void NodeSave::record_as_restore(std::string remark) { restore_remark_ = std::move(remark); }

void NodeSave::audit(const std::string& remark) {
  // Appends through the library's own audit method (oplog), under the
  // session's account and address. A failure propagates as it always has.
  run_library_page(editing_.application_, session_, false, [&](Page& page) {
    Variant text(remark);
    page.oplog(text);
  });
}

}  // namespace oapx1
