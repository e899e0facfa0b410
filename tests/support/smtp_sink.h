// The test mail server for the tests that send mail (tests/messaging/smtp_sink.py,
// which needs Debian's python3-aiosmtpd; without it port() is 0 and the tests
// skip).
#ifndef OAPX1_TESTS_SUPPORT_SMTP_SINK_H_
#define OAPX1_TESTS_SUPPORT_SMTP_SINK_H_

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

extern char** environ;

namespace oapx1::testing {

using json = nlohmann::json;

// The test mail server: a child process on a free port that writes each
// message it accepts, decoded, as one JSON line.
class SmtpSink {
 public:
  // Starts the server; port() is 0 when no Python with aiosmtpd is found.
  explicit SmtpSink(std::string output) : output_(std::move(output)) {
    std::string python;
    for (const char* candidate : {"/usr/bin/python3", "python3"}) {
      const std::string probe = std::string(candidate) + " -c 'import aiosmtpd' >/dev/null 2>&1";
      if (std::system(probe.c_str()) == 0) {
        python = candidate;
        break;
      }
    }
    if (python.empty()) return;
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string script = OAPX1_SOURCE_DIR "/tests/messaging/smtp_sink.py";
    char* argv[] = {python.data(), const_cast<char*>(script.c_str()), output_.data(), nullptr};
    const int rc = posix_spawnp(&pid_, python.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    if (rc != 0) {
      pid_ = 0;
      close(out[0]);
      return;
    }
    FILE* lines = fdopen(out[0], "r");
    int port = 0;
    if (lines && std::fscanf(lines, "%d", &port) == 1) port_ = port;
    if (lines) std::fclose(lines);
  }
  // Closing its standard input stops the server.
  ~SmtpSink() {
    if (stdin_ >= 0) close(stdin_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }

  int port() const { return port_; }
  // The messages received since the last clear(), oldest first.
  std::vector<json> received() const {
    std::vector<json> messages;
    std::ifstream in(output_);
    for (std::string line; std::getline(in, line);) messages.push_back(json::parse(line));
    return messages;
  }
  void clear() const { std::ofstream(output_, std::ios::trunc); }

 private:
  std::string output_;  // the file the server appends its messages to
  pid_t pid_ = 0;       // the server process
  int stdin_ = -1;      // our end of its standard input
  int port_ = 0;        // the port it listens on
};

}  // namespace oapx1::testing

#endif  // OAPX1_TESTS_SUPPORT_SMTP_SINK_H_
