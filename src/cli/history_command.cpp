// `oapx1 history --node N [--limit K] [--page P]`: a node's change history as
// the host records it, newest first, all of it or a page of it.
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/options.h"
#include "platform/data/connection.h"
#include "platform/web/process.h"
#include "editing/history_page.h"
#include "editing/node_history.h"
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

// The flags of history besides the common ones.
constexpr Flag kHistoryFlags[] = {
    {"--node", "N", false, "the workflow node (required)", check_node},
    {"--limit", "K", false,
     "only the newest K changes (0, the default: all); with --page,\nK changes a page", check_limit},
    {"--page", "P", false,
     "page P of the history, newest first (50 changes a page unless\n--limit says)", check_page},
};

}  // namespace

std::string history_usage() {
  return "usage: oapx1 history --node N [--limit K] [--page P] [--db URL] [--config FILE]\n"
         "Prints the change history of workflow node N, newest first: when, who, from which\n"
         "address, whether it was saved, and each changed column's old and new value.\n"
         "options:\n" +
         flag_lines(common_flags()) + flag_lines(kHistoryFlags);
}

int history_command(const std::vector<std::string>& args) {
  const CommandLine line(args, {kHistoryFlags}, Words::kNone);
  if (!line.has("--node")) throw UsageError{"history needs --node N"};
  const int64_t node = *whole_number(line.value("--node"));
  int64_t limit = line.has("--limit") ? *whole_number(line.value("--limit")) : 0;
  const int64_t page = line.has("--page") ? *whole_number(line.value("--page")) : 0;
  if (page > 0 && limit <= 0) limit = kHistoryPageLines;  // as the history page shows them
  auto connection = std::make_shared<Connection>();
  connection->Open(Variant(line.existing_database()));
  const Variant conn(std::static_pointer_cast<Object>(connection));
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
