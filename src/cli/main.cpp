// oapx1: runs the workflow node settings page from the command line, invokes
// single methods of the page class, creates the database and serves the page.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/request_context.h"
#include "server/serve.h"

namespace {

constexpr char kUsage[] =
    "usage: oapx1 COMMAND [OPTIONS]\n"
    "\n"
    "commands:\n"
    "  serve [--listen ADDR:PORT] [--db URL] [--docroot DIR] [--threads N] [--config FILE]\n"
    "        serve the application over HTTP\n"
    "  request [OPTIONS]\n"
    "        run one request of the node settings page; the body goes to stdout\n"
    "        (code page 936, or UTF-8 with --utf8), event log entries to stderr\n"
    "  call METHOD [ARG]... [OPTIONS] [--field NAME=JSON]... [--no-init] [--callbacks markers]\n"
    "        invoke one method of the page class; ARG is a JSON value or @FILE;\n"
    "        prints one JSON object. 'oapx1 call --list' lists the methods\n"
    "  db init [--db URL] [--demo]\n"
    "        create the database schema, with the demo data on --demo\n"
    "\n"
    "request options:\n"
    "  --db URL               database (sqlite:PATH or postgresql://...); default $OAPX1_DB,\n"
    "                         else sqlite:var/oa.db\n"
    "  --query NAME=VALUE     a query string item (repeatable)\n"
    "  --form NAME=VALUE      a posted form item (repeatable)\n"
    "  --session NAME=VALUE   a session item (repeatable)\n"
    "  --application NAME=VALUE  an application item (repeatable)\n"
    "  --now YYYY-MM-DDTHH:MM:SS  the page clock\n"
    "  --utf8                 write the body in UTF-8\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::cout << kUsage;
    return args.empty() ? 2 : 0;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  try {
    if (command == "request") return oapx1::request_command(args);
    if (command == "call") return oapx1::call_command(args);
    if (command == "db") return oapx1::db_command(args);
    if (command == "serve") return oapx1::serve_command(args);
    throw oapx1::UsageError{"unknown command \"" + command + "\""};
  } catch (const oapx1::UsageError& e) {
    std::cerr << "oapx1: " << e.message << "\n(oapx1 --help shows the usage)\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "oapx1: " << e.what() << "\n";
    return 1;
  }
}
