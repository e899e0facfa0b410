// The `oapx1 serve` command: serves the node settings page over HTTP.
#ifndef OAPX1_SERVER_SERVE_H_
#define OAPX1_SERVER_SERVE_H_

#include <string>
#include <vector>

#include "server/web_application.h"

namespace oapx1 {

// Runs `oapx1 serve` with the arguments after the word "serve": prints where it
// listens and which database it uses, serves until SIGINT or SIGTERM, and
// returns the process exit code (0 after a clean stop, 2 for bad arguments, 1
// when the server cannot start). Errors go to standard error.
int serve_command(const std::vector<std::string>& args);

// Reads the options of `oapx1 serve` from its arguments (after "serve"),
// applying a --config file first so that flags override it. Fails with
// std::invalid_argument, saying what is wrong, for an unknown flag, a missing
// or bad value or an unreadable configuration file.
ServerOptions parse_serve_args(const std::vector<std::string>& args);

// Applies one setting (a flag's name without its dashes, or a configuration
// file key) to the options. Fails with std::invalid_argument for an unknown
// key or a bad value.
void apply_serve_setting(ServerOptions& options, const std::string& key, const std::string& value);

// The usage text of the command.
std::string serve_usage();

}  // namespace oapx1

#endif  // OAPX1_SERVER_SERVE_H_
