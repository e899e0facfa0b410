// `oapx1 history --node N [--limit K]`: a node's change history as the host
// records it, newest first.
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/options.h"
#include "platform/data/connection.h"
#include "platform/web/process.h"
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

// The flags of history besides the common ones.
constexpr Flag kHistoryFlags[] = {
    {"--node", "N", false, "the workflow node (required)", check_node},
    {"--limit", "K", false, "only the newest K changes (0, the default: all)", check_limit},
};

}  // namespace

std::string history_usage() {
  return "usage: oapx1 history --node N [--limit K] [--db URL]\n"
         "Prints the change history of workflow node N, newest first: when, who, from which\n"
         "address, whether it was saved, and each changed column's old and new value.\n"
         "options:\n" +
         flag_lines(common_flags()) + flag_lines(kHistoryFlags);
}

int history_command(const std::vector<std::string>& args) {
  const CommandLine line(args, {kHistoryFlags}, Words::kNone);
  if (!line.has("--node")) throw UsageError{"history needs --node N"};
  const int64_t node = *whole_number(line.value("--node"));
  const int64_t limit = line.has("--limit") ? *whole_number(line.value("--limit")) : 0;
  const std::string database = line.database();
  auto connection = std::make_shared<Connection>();
  connection->Open(Variant(resolve_database(database)));
  const Variant conn(std::static_pointer_cast<Object>(connection));
  const std::vector<NodeHistoryEntry> entries = read_history(conn, node, static_cast<int>(limit));
  if (entries.empty()) {
    std::cout << "node " << node << ": no changes recorded\n";
  } else {
    std::cout << history_text(conn, entries);
  }
  connection->Close();
  return 0;
}

}  // namespace oapx1
