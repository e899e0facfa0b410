// The `oapx1 serve` command: serves the node settings page over HTTP.
#ifndef OAPX1_SERVER_SERVE_H_
#define OAPX1_SERVER_SERVE_H_

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/data/database_admin.h"
#include "server/web_application.h"

namespace oapx1 {

// Runs `oapx1 serve` with the arguments after the word "serve": prints where it
// listens and which database it uses, serves until SIGINT or SIGTERM, and
// returns the process exit code (0 after a clean stop, 2 for bad arguments, 1
// when the server cannot start). Errors go to standard error.
int serve_command(const std::vector<std::string>& args);

// Reads the options of `oapx1 serve` from its arguments (after "serve"),
// applying a --config file first so that flags override it. The database is
// left as given (empty when not), for resolve_database. Fails with
// std::invalid_argument, saying what is wrong ("unknown option --x" for an
// unknown flag), for a missing or bad value or an unreadable configuration file.
ServerOptions parse_serve_args(const std::vector<std::string>& args);

// A setting name apply_serve_setting does not know.
struct UnknownSetting : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

// Applies one setting (a flag's name without its dashes, or a configuration
// file key) to the options. Fails with UnknownSetting for an unknown key and
// std::invalid_argument for a bad value.
void apply_serve_setting(ServerOptions& options, const std::string& key, const std::string& value);

// What to do about a database that cannot serve, for after the problem's own
// message: where to correct an unsupported URL, the db init command that
// creates a missing database or schema, what to check for a server that
// cannot be reached. `configured` is the URL as given (empty when it came
// from the environment or the default).
std::string database_advice(const DatabaseProblem& problem, const std::string& url,
                            const std::string& configured);

// The usage text of the command.
std::string serve_usage();

}  // namespace oapx1

#endif  // OAPX1_SERVER_SERVE_H_
