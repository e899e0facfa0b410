// oapx1: runs the workflow node settings page from the command line, invokes
// single methods of the page class, creates and backs up the database and
// serves the page.
#include <algorithm>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/request_context.h"
#include "server/serve.h"

#ifndef OAPX1_VERSION
#define OAPX1_VERSION "unknown"
#endif

namespace {

constexpr char kRequestOptions[] =
    "request options:\n"
    "  --db URL               database (sqlite:PATH or postgresql://...); default $OAPX1_DB,\n"
    "                         else sqlite:var/oa.db\n"
    "  --query NAME=VALUE     a query string item (repeatable)\n"
    "  --form NAME=VALUE      a posted form item (repeatable)\n"
    "  --session NAME=VALUE   a session item (repeatable)\n"
    "  --application NAME=VALUE  an application item (repeatable); TavrinOAURL defaults\n"
    "                         to /oa/, the application root of oapx1 serve\n"
    "  --now YYYY-MM-DDTHH:MM:SS  the page clock\n"
    "  --utf8                 write the body in UTF-8\n";

constexpr char kRequestUsage[] =
    "usage: oapx1 request [request options]\n"
    "Runs one request of the node settings page; the body goes to stdout (code page 936,\n"
    "or UTF-8 with --utf8), event log entries to stderr. Exit status 0 whenever the page ran.\n\n";

constexpr char kCallUsage[] =
    "usage: oapx1 call METHOD [ARG]... [request options] [--field NAME=JSON]... [--no-init]\n"
    "                  [--callbacks markers]\n"
    "       oapx1 call --list\n"
    "Invokes one method of the page class; ARG is a JSON value or @FILE. Prints one JSON\n"
    "object. An unknown method or a wrong argument count exits with status 2.\n\n";

constexpr char kDbUsage[] =
    "usage: oapx1 db init [--db URL] [--config FILE] [--demo] [--if-missing]\n"
    "       oapx1 db check [--db URL] [--config FILE]\n"
    "       oapx1 db backup FILE [--db URL] [--config FILE]\n"
    "  init    creates the schema (idempotent), with the demo data on --demo; with\n"
    "          --if-missing only when the database has no schema yet\n"
    "  check   exits 0 when serve can use the database, else 1 with the reason\n"
    "  backup  copies a SQLite database into FILE while the server keeps running\n"
    "The database is --db, else the db of the serve configuration FILE, else $OAPX1_DB,\n"
    "else sqlite:var/oa.db.\n";

constexpr char kHistoryUsage[] =
    "usage: oapx1 history --node N [--limit K] [--db URL]\n"
    "Prints the change history of workflow node N, newest first: when, who, from which\n"
    "address, whether it was saved, and each changed column's old and new value.\n";

constexpr char kUsage[] =
    "usage: oapx1 COMMAND [OPTIONS]       (oapx1 COMMAND --help for one command)\n"
    "\n"
    "commands:\n"
    "  serve [--listen ADDR:PORT] [--db URL] [--docroot DIR] [--threads N] [--config FILE] ...\n"
    "        serve the application over HTTP\n"
    "  request [OPTIONS]\n"
    "        run one request of the node settings page; the body goes to stdout\n"
    "        (code page 936, or UTF-8 with --utf8), event log entries to stderr\n"
    "  call METHOD [ARG]... [OPTIONS] [--field NAME=JSON]... [--no-init] [--callbacks markers]\n"
    "        invoke one method of the page class; ARG is a JSON value or @FILE;\n"
    "        prints one JSON object. 'oapx1 call --list' lists the methods\n"
    "  db init [--db URL] [--config FILE] [--demo] [--if-missing]\n"
    "        create the database schema, with the demo data on --demo\n"
    "  db check [--db URL] [--config FILE]\n"
    "        check that the database can be served\n"
    "  db backup FILE [--db URL] [--config FILE]\n"
    "        copy the SQLite database into FILE while serving\n"
    "  history --node N [--limit K] [--db URL]\n"
    "        print a workflow node's change history, newest first\n"
    "\n"
    "options: --help, --version\n"
    "\n";

// The help of one command, or empty for a command there is none of.
std::string command_usage(const std::string& command) {
  if (command == "serve") return oapx1::serve_usage();
  if (command == "request") return std::string(kRequestUsage) + kRequestOptions;
  if (command == "call") return std::string(kCallUsage) + kRequestOptions;
  if (command == "db") return kDbUsage;
  if (command == "history") return kHistoryUsage;
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::cout << kUsage << kRequestOptions;
    return args.empty() ? 2 : 0;
  }
  if (args[0] == "--version" || args[0] == "-V") {
    std::cout << "oapx1 " << OAPX1_VERSION << "\n";
    return 0;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  const std::string usage = command_usage(command);
  if (!usage.empty() && std::any_of(args.begin(), args.end(), [](const std::string& a) {
        return a == "--help" || a == "-h";
      })) {
    std::cout << usage;
    return 0;
  }
  try {
    if (command == "request") return oapx1::request_command(args);
    if (command == "call") return oapx1::call_command(args);
    if (command == "db") return oapx1::db_command(args);
    if (command == "history") return oapx1::history_command(args);
    if (command == "serve") return oapx1::serve_command(args);
    if (command.starts_with("-")) throw oapx1::UsageError{"unknown option " + command};
    throw oapx1::UsageError{"unknown command \"" + command + "\""};
  } catch (const oapx1::UsageError& e) {
    std::cerr << "oapx1: " << e.message << "\n(oapx1 --help shows the usage)\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "oapx1: " << e.what() << "\n";
    return 1;
  }
}
