// `oapx1 history --node N [--limit K] [--db URL]`: a node's change history as
// the host records it, newest first.
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/request_context.h"
#include "platform/data/connection.h"
#include "platform/web/process.h"
#include "editing/node_history.h"

namespace oapx1 {
namespace {

// A whole number of at most 18 digits, or -1.
int64_t whole_number(const std::string& text) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::stoll(text);
}

}  // namespace

int history_command(const std::vector<std::string>& args) {
  int64_t node = -1, limit = 0;
  std::string database;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError{a + " needs a value"};
      return args[++i];
    };
    if (a == "--node") {
      node = whole_number(value());
      if (node < 0) throw UsageError{"--node needs a node number"};
    } else if (a == "--limit") {
      limit = whole_number(value());
      if (limit < 0 || limit > 1000000) throw UsageError{"--limit needs a number of lines"};
    } else if (a == "--db") {
      database = value();
    } else {
      throw UsageError{"unknown option " + a};
    }
  }
  if (node < 0) throw UsageError{"history needs --node N"};
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
