#include "editing/node_save.h"

#include <exception>
#include <utility>

#include "editing/posted_lists.h"
#include "host/library_page.h"
#include "lookups/rows.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/web/event_log.h"

namespace oapx1 {
namespace {

// What the event log names as the source of the editing rules' failures.
constexpr std::string_view kFailureSource = "oapx1 serve: node editing";

}  // namespace

std::string shown_version_item(int64_t node) { return std::string(kShownVersionItem) + std::to_string(node); }

bool is_conflict(std::string_view shown, std::string_view current) { return !shown.empty() && shown != current; }

std::string conflict_message(const std::optional<NodeHistoryEntry>& last) {
  if (!last) {
    return "系统提示：此节点在您打开之后已被修改，您的设置未保存，下面显示的是当前设置；"
           "您提交的内容已记入修改记录。";
  }
  return "系统提示：此节点已于 " + last->when + " 被 " + last->name + "（" + last->account +
         "）修改，您的设置未保存，下面显示的是当前设置；您提交的内容已记入修改记录。";
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
      event_log().write(kEventError, std::string(kFailureSource) + ": " + failure_text(std::current_exception()));
    }
  });
  return allowed;
}

NodeSave::NodeSave(NodeEditing& editing, Session& session, int64_t node, std::string address)
    : editing_(editing), session_(session), lock_(editing.saves_, std::defer_lock) {
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
      entry_.changes = row_changes(*current, posted_row(*current, posted));
    }
    record_history(conn, entry_);
  });
  audit("流程节点 " + std::to_string(entry_.node) + " 的设置未保存：没有流程设置权限");
}

std::string NodeSave::check(const Request& posted) {
  lock_.lock();
  std::string refusal;
  editing_.with_connection(session_, false, [&](const Variant& conn) {
    before_ = read_node_row(conn, entry_.node);
    if (!before_) return;  // the page says the node does not exist
    entry_.name = full_name(conn, entry_.account);
    refusal = check_posted_lists(conn, posted);
    if (!refusal.empty()) {
      entry_.outcome = kOutcomeBadList;
    } else {
      // The version the posting tab was shown, when its shared script sent
      // it; else the one this session was last shown.
      std::string shown = posted.item(kPostedVersionItem).str();
      if (shown.empty()) shown = session_.item(shown_version_item(entry_.node)).str();
      if (is_conflict(shown, row_version(*before_))) {
        entry_.outcome = kOutcomeConflict;
        refusal = conflict_message(last_saved(conn, entry_.node));
      }
    }
    if (refusal.empty()) return;
    entry_.remark = refusal;
    entry_.changes = row_changes(*before_, posted_row(*before_, posted));
    record_history(conn, entry_);
  });
  writes_ = refusal.empty();
  if (!writes_) {
    audit("流程节点 " + std::to_string(entry_.node) + " 的设置未保存：" + outcome_text(entry_.outcome));
  }
  return refusal;
}

std::string NodeSave::finish() {
  std::optional<NodeRow> after;
  const bool record = writes_ && before_;
  editing_.with_connection(session_, !writes_, [&](const Variant& conn) {
    after = read_node_row(conn, entry_.node);
    if (record && after) {
      entry_.outcome = kOutcomeSaved;
      entry_.remark = kSavedMessage;
      entry_.changes = row_changes(*before_, *after);
      record_history(conn, entry_);
    }
  });
  if (record && after) {
    audit("流程节点 " + std::to_string(entry_.node) + " 的设置已保存，修改了 " +
          std::to_string(entry_.changes.size()) + " 项");
  }
  if (lock_.owns_lock()) lock_.unlock();
  return after ? row_version(*after) : std::string();
}

void NodeSave::audit(const std::string& remark) {
  // Appends through the library's own audit method (oplog), under the
  // session's account and address. A failure propagates as it always has.
  run_library_page(editing_.application_, session_, false, [&](Page& page) {
    Variant text(remark);
    page.oplog(text);
  });
}

}  // namespace oapx1
