// oapx1: runs the workflow node settings page from the command line, invokes
// single methods of the page class, creates and backs up the database and
// serves the page, and manages the accounts that sign in.
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
    "  db init [--db URL] [--config FILE] [--demo] [--if-missing] [--admin LOGIN]\n"
    "        create the database schema, with the demo data on --demo;\n"
    "        --admin LOGIN [--password-stdin] adds the first administrator\n"
    "  db upgrade [--db URL] [--config FILE]\n"
    "        bring a database of an earlier release to the current schema\n"
    "  db check [--db URL] [--config FILE]\n"
    "        check that the database can be served\n"
    "  db backup FILE [--db URL] [--config FILE]\n"
    "        copy the SQLite database into FILE while serving\n"
    "  db prune [--days N] [--db URL] [--config FILE]\n"
    "        remove node history and audit log lines older than N days (retention-days)\n"
    "  user add|passwd|disable|enable|grant|revoke|list|rehash-check|where ...\n"
    "        manage the accounts that sign in\n"
    "  dept add|rename|move|list|remove|where ...\n"
    "        manage the departments, by id or path (总部/财务部)\n"
    "  directory import FILE.csv [--dry-run] [--deactivate-missing]\n"
    "        bring departments and accounts in from a CSV file\n"
    "  history --node N [--limit K] [--page P] [--db URL]\n"
    "        print a workflow node's change history, newest first\n"
    "  settings show [KEY] | settings set KEY VALUE\n"
    "        the session time-out, the sign-in access policy and the outgoing mail server\n"
    "  mail test ADDRESS\n"
    "        send a test message through the configured mail server\n"
    "  model export MODEL|--all [--out FILE] | model import FILE [--dry-run] [--map-logins FILE]\n"
    "        move workflow models between installations as a file\n"
    "\n"
    "every command also takes --db URL, --config FILE (the serve configuration file,\n"
    "whose db setting applies unless --db is given), --help and --version; only db init\n"
    "creates a database\n"
    "\n"
    "options: --help, --version\n"
    "\n";

// The help of one command, or empty for a command there is none of.
std::string command_usage(const std::string& command) {
  if (command == "serve") return oapx1::serve_usage();
  if (command == "request") return oapx1::request_usage();
  if (command == "call") return oapx1::call_usage();
  if (command == "db") return oapx1::db_usage();
  if (command == "user") return oapx1::user_usage();
  if (command == "dept") return oapx1::dept_usage();
  if (command == "directory") return oapx1::directory_usage();
  if (command == "history") return oapx1::history_usage();
  if (command == "settings") return oapx1::settings_usage();
  if (command == "mail") return oapx1::mail_usage();
  if (command == "model") return oapx1::model_usage();
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::cout << kUsage << oapx1::request_options_usage();
    return args.empty() ? 2 : 0;
  }
  if (args[0] == "--version" || args[0] == "-V") {
    std::cout << "oapx1 " << OAPX1_VERSION << "\n";
    return 0;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  const std::string usage = command_usage(command);
  if (!usage.empty() && oapx1::asks_for_help(args)) {
    std::cout << usage;
    return 0;
  }
  if (!usage.empty() && oapx1::asks_for_version(args)) {
    std::cout << "oapx1 " << OAPX1_VERSION << "\n";
    return 0;
  }
  try {
    if (command == "request") return oapx1::request_command(args);
    if (command == "call") return oapx1::call_command(args);
    if (command == "db") return oapx1::db_command(args);
    if (command == "user") return oapx1::user_command(args);
    if (command == "dept") return oapx1::dept_command(args);
    if (command == "directory") return oapx1::directory_command(args);
    if (command == "history") return oapx1::history_command(args);
    if (command == "model") return oapx1::model_command(args);
    if (command == "serve") return oapx1::serve_command(args);
    if (command == "settings") return oapx1::settings_command(args);
    if (command == "mail") return oapx1::mail_command(args);
    if (command.starts_with("-")) throw oapx1::UsageError{"unknown option " + command};
    throw oapx1::UsageError{"unknown command \"" + command + "\""};
  } catch (const oapx1::UsageError& e) {
    std::cerr << "oapx1: " << e.message << "\n" << (e.show_usage ? "(oapx1 --help shows the usage)\n" : "");
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "oapx1: " << e.what() << "\n";
    return 1;
  }
}
