// oapx1: runs the workflow node settings page from the command line, invokes
// single methods of the page class, creates and backs up the database and
// serves the page, and manages the accounts that sign in.
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
    "                     [--admin LOGIN [--password-stdin]]\n"
    "       oapx1 db upgrade [--db URL] [--config FILE]\n"
    "       oapx1 db check [--db URL] [--config FILE]\n"
    "       oapx1 db backup FILE [--db URL] [--config FILE]\n"
    "  init    creates the schema, or upgrades an existing one; with the demo data on\n"
    "          --demo; with --if-missing only when the database has no schema yet; with\n"
    "          --admin the first administrator, holding the editing permission FLOWSET\n"
    "          (password from stdin with --password-stdin, else asked twice)\n"
    "  upgrade brings a database of an earlier release to the current schema, in one\n"
    "          transaction, keeping its rows; running it again changes nothing\n"
    "  check   exits 0 when serve can use the database, else 1 with the reason\n"
    "  backup  copies a SQLite database into FILE while the server keeps running\n"
    "A SQLite database and its backups are created readable by their owner only.\n"
    "The database is --db, else the db of the serve configuration FILE, else $OAPX1_DB,\n"
    "else sqlite:var/oa.db.\n";

constexpr char kUserUsage[] =
    "usage: oapx1 user add LOGIN --name NAME [--department ID] [--password-stdin]\n"
    "       oapx1 user passwd LOGIN [--password-stdin]\n"
    "       oapx1 user disable|enable LOGIN\n"
    "       oapx1 user grant|revoke LOGIN FUNCTION-CODE\n"
    "       oapx1 user list\n"
    "       oapx1 user rehash-check\n"
    "  (each also takes [--db URL] [--config FILE], as oapx1 db does)\n"
    "  add      adds an active account in department ID (KX_Department) or none\n"
    "  passwd   sets a new password\n"
    "  disable  refuses the account's sign-ins; enable admits them again\n"
    "  grant    grants a function (OA_Functions.CodeNumber, e.g. FLOWSET, the editing\n"
    "           permission) to the account directly; revoke takes the grant away\n"
    "  list     prints the accounts, one a line, tab-separated\n"
    "  rehash-check  prints the accounts whose password is still stored in plain text\n"
    "           (replaced by its hash at the next sign-in); exit status 1 when any\n"
    "Passwords are stored as salted argon2id hashes. Without --password-stdin the\n"
    "password is asked twice on the terminal, without echo; with it, the first line of\n"
    "stdin is the password. An unknown account, department or function, or a login\n"
    "taken, exits with status 1.\n";
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
    "  db init [--db URL] [--config FILE] [--demo] [--if-missing] [--admin LOGIN]\n"
    "        create the database schema, with the demo data on --demo;\n"
    "        --admin LOGIN [--password-stdin] adds the first administrator\n"
    "  db upgrade [--db URL] [--config FILE]\n"
    "        bring a database of an earlier release to the current schema\n"
    "  db check [--db URL] [--config FILE]\n"
    "        check that the database can be served\n"
    "  db backup FILE [--db URL] [--config FILE]\n"
    "        copy the SQLite database into FILE while serving\n"
    "  user add|passwd|disable|enable|grant|revoke|list|rehash-check ...\n"
    "        manage the accounts that sign in\n"
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
  if (command == "user") return kUserUsage;
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
    if (command == "user") return oapx1::user_command(args);
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
