// The subcommands of `oapx1`. Each takes the arguments after its name (read
// with CommandLine, cli/options.h) and returns the process exit status; usage
// errors are thrown as UsageError.
#ifndef OAPX1_CLI_COMMANDS_H_
#define OAPX1_CLI_COMMANDS_H_

#include <string>
#include <vector>

namespace oapx1 {

// Each command and its usage (`oapx1 COMMAND --help`): the text of the
// command, then the usage lines of its flags.

// Runs one request of the node settings page; prints the body and the events.
int request_command(const std::vector<std::string>& args);
std::string request_usage();
// Invokes one method of the page class by name; prints one JSON object.
int call_command(const std::vector<std::string>& args);
std::string call_usage();
// The database subcommands: init (the schema, and the demo data with --demo,
// the first administrator with --admin), upgrade (an older database to the
// current schema), check (whether serve can use it), backup FILE (a SQLite
// copy while serving) and prune (the history and audit lines older than
// --days N, else the configuration's retention-days).
int db_command(const std::vector<std::string>& args);
std::string db_usage();
// The account subcommands: add, passwd, disable, enable, grant, revoke, list,
// rehash-check (the accounts whose password is still plain text) and where
// (the workflow nodes that name an account).
int user_command(const std::vector<std::string>& args);
std::string user_usage();
// The department subcommands: add, rename, move, list, remove and where (the
// workflow nodes that name a department); departments by id or path.
int dept_command(const std::vector<std::string>& args);
std::string dept_usage();
// `directory import FILE.csv`: departments and accounts from a CSV file, with
// --dry-run, --deactivate-missing and --force.
int directory_command(const std::vector<std::string>& args);
std::string directory_usage();
// Prints the change history of one workflow node, newest first:
// --node N (required), --limit K (the newest K lines), --page P (page P of
// K lines, 50 without --limit). Usage errors are
// thrown as UsageError; a database that cannot be read fails.
int history_command(const std::vector<std::string>& args);
std::string history_usage();

// The installation's settings by name: `settings show [KEY]` prints them,
// `settings set KEY VALUE` checks a value and stores it (settings.h).
int settings_command(const std::vector<std::string>& args);
std::string settings_usage();
// `mail test ADDRESS`: sends a test message through the configured mail
// server and prints the outcome in one line; exit status 1 when it failed.
int mail_command(const std::vector<std::string>& args);
std::string mail_usage();
// Workflow models between installations: export (one model by id, key or
// name, or --all, as a model file to stdout or --out FILE) and import (a
// model file: the difference printed first; --dry-run changes nothing;
// --map-logins FILE maps the file's logins and departments). Exit status 1,
// nothing changed, for a refusal.
int model_command(const std::vector<std::string>& args);
std::string model_usage();

// A new password: the first line of stdin with `from_stdin`, else asked twice
// on the terminal without echo. Throws UsageError when there is none, it is
// empty or the two typed differ.
std::string read_new_password(bool from_stdin);

}  // namespace oapx1

#endif  // OAPX1_CLI_COMMANDS_H_
