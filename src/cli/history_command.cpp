// `oapx1 history --node N [--limit K] [--page P]`: a node's change history as
// the host records it, newest first, all of it or a page of it; with
// `--restore ENTRY [--dry-run]`, the node set back to its settings after one
// line of it, through the node editor's checks.
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/options.h"
#include "editing/history_page.h"
#include "editing/node_history.h"
#include "editing/node_restore.h"
#include "editing/posted_values.h"
#include "pages/flownode/node_settings_page.h"
#include "platform/data/connection.h"
#include "platform/web/memory_intrinsics.h"
#include "platform/web/process.h"
#include "server/serve.h"
#include "server/web_application.h"
#include "util/ids_and_lists.h"

namespace oapx1 {
namespace {

constexpr int64_t kMostLines = 1000000;

void check_node(std::string_view, const std::string& text) {
  if (!whole_number(text)) throw UsageError{"--node needs a node number"};
}

void check_limit(std::string_view, const std::string& text) {
  const std::optional<int64_t> lines = whole_number(text);
  if (!lines || *lines > kMostLines) throw UsageError{"--limit needs a number of lines"};
}

void check_page(std::string_view, const std::string& text) {
  const std::optional<int64_t> page = whole_number(text);
  if (!page || *page < 1 || *page > kMostLines) throw UsageError{"--page needs a page number from 1"};
}

void check_entry(std::string_view, const std::string& text) {
  if (!whole_number(text)) throw UsageError{"--restore needs the number of a line of the history"};
}

// The flags of history besides the common ones.
constexpr Flag kHistoryFlags[] = {
    {"--node", "N", false, "the workflow node (required)", check_node},
    {"--limit", "K", false,
     "only the newest K changes (0, the default: all); with --page,\nK changes a page", check_limit},
    {"--page", "P", false,
     "page P of the history, newest first (50 changes a page unless\n--limit says)", check_page},
    {"--restore", "ENTRY", false,
     "set the node back to its settings after line ENTRY (the #number\nthe history shows), checked as a save "
     "of the node form is", check_entry},
    {"--dry-run", "", false, "with --restore: only show what it would change (and the\nnode's version)"},
    {"--user", "LOGIN", false, "with --restore: the account that restores (it needs the editing\npermission)"},
    {"--expect-version", "V", false,
     "with --restore: refuse it when the node's version is no longer V\n(the version --dry-run showed)"},
};

// The lines of a restore's plan: each column it changes (current -> restored)
// and each it cannot set.
void print_plan(const Variant& conn, const RestorePlan& plan) {
  std::cout << "node " << plan.node << " (version " << plan.version << ") back to its settings after #"
            << plan.entry << ":\n";
  auto line = [&](const ColumnChange& c) {
    return "  " + history_label(c.column) + ": " + display_value(conn, c.column, c.before) + " -> " +
           display_value(conn, c.column, c.after);
  };
  for (const ColumnChange& c : plan.changes) std::cout << line(c) << "\n";
  for (const ColumnChange& c : plan.unsettable) std::cout << line(c) << "  (not restored: a save does not set it)\n";
  if (plan.changes.empty()) std::cout << "  nothing to change\n";
}

// Makes the restore of `plan` as `user` through the editor's stages; its
// exit status: 0 restored, 1 refused.
int restore(const CommandLine& line, const std::string& database, RestorePlan plan) {
  const std::string user = line.value("--user");
  if (line.has("--expect-version")) plan.version = line.value("--expect-version");
  const std::string permission =
      line.has("--config") ? parse_serve_args({"--config", line.value("--config")}).edit_permission
                           : std::string(kDefaultEditPermission);
  ScopedProcessSettings settings([&](ProcessSettings& s) { s.database = database; });
  ApplicationState application;
  application.set_item("TavrinOAURL", Variant(kDefaultAppRoot));
  NodeEditing editing(application, permission);
  MemorySession session;
  session.set_item("UserName", Variant(user));
  session.set_item("_LogUserName", Variant(user));
  session.set_item("_LogUserIPAddress", Variant("command line"));
  const RestoreResult result =
      restore_node(editing, session, plan, "command line", [&](MemoryRequest& posted) {
        // The node page writes the restore as it writes a save.
        MemoryCall call(application);
        call.bind(&session, false, nullptr, &posted);
        tvwortqflowjiedia page;
        page.I_init();
        page.OnEndPage();
      });
  std::cout << result.message << "\n";
  return result.restored ? 0 : 1;
}

}  // namespace

std::string history_usage() {
  return "usage: oapx1 history --node N [--limit K] [--page P] [--db URL]\n"
         "       oapx1 history --node N --restore ENTRY (--dry-run | --user LOGIN [--expect-version V])\n"
         "Prints the change history of workflow node N, newest first: each line's number, when,\n"
         "who, from which address, the outcome, and each changed setting's old and new value.\n"
         "With --restore, sets the node back to its settings after line ENTRY, as a save of the\n"
         "node form by LOGIN (the permission, the lists and the version are checked), recorded\n"
         "as restored; exit status 1 when it is refused.\n"
         "options:\n" +
         flag_lines(common_flags()) + flag_lines(kHistoryFlags);
}

int history_command(const std::vector<std::string>& args) {
  const CommandLine line(args, {kHistoryFlags}, Words::kNone);
  if (!line.has("--node")) throw UsageError{"history needs --node N"};
  const int64_t node = *whole_number(line.value("--node"));
  const bool restoring = line.has("--restore");
  if (!restoring && (line.has("--dry-run") || line.has("--user") || line.has("--expect-version"))) {
    throw UsageError{"--dry-run, --user and --expect-version go with --restore"};
  }
  if (restoring && !line.has("--dry-run") && line.value("--user").empty()) {
    throw UsageError{"--restore needs --user LOGIN (or --dry-run)"};
  }
  int64_t limit = line.has("--limit") ? *whole_number(line.value("--limit")) : 0;
  const int64_t page = line.has("--page") ? *whole_number(line.value("--page")) : 0;
  if (page > 0 && limit <= 0) limit = kHistoryPageLines;  // as the history page shows them
  const std::string database = line.existing_database();
  auto connection = std::make_shared<Connection>();
  connection->Open(Variant(database));
  const Variant conn(std::static_pointer_cast<Object>(connection));
  if (restoring) {
    std::optional<RestorePlan> plan;
    try {
      plan = plan_restore(conn, node, *whole_number(line.value("--restore")));
    } catch (const RestoreRefused& refused) {
      std::cout << refused.what() << "\n";
      return 1;
    }
    print_plan(conn, *plan);
    connection->Close();
    if (line.has("--dry-run") || plan->changes.empty()) return 0;
    return restore(line, database, std::move(*plan));
  }
  const std::vector<NodeHistoryEntry> entries =
      read_history(conn, node, static_cast<int>(limit), page > 0 ? (page - 1) * limit : 0);
  if (entries.empty()) {
    const std::string where = page > 1 ? "on page " + std::to_string(page) : "recorded";
    std::cout << "node " << node << ": no changes " << where << "\n";
  } else {
    std::cout << history_text(conn, entries);
  }
  connection->Close();
  return 0;
}

}  // namespace oapx1
