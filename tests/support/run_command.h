// The oapx1 program run as an operator runs it, for the command-line tests.
#ifndef OAPX1_TESTS_SUPPORT_RUN_COMMAND_H_
#define OAPX1_TESTS_SUPPORT_RUN_COMMAND_H_

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace oapx1::testing {

// What one run left: the exit status (-1 when it did not exit) and its streams.
struct Outcome {
  int status = -1;
  std::string out, err;
};

// Runs the oapx1 binary with a shell-quoted argument string, after shell
// words `prefix` (environment assignments, a wrapper such as timeout).
inline Outcome run(const std::string& args, const std::string& prefix = "") {
  static int runs = 0;
  const std::string err_file = ::testing::TempDir() + "oapx1-cli-stderr-" + std::to_string(getpid()) + "-" +
                               std::to_string(++runs);
  const std::string command = prefix + " " + std::string(OAPX1_BINARY_DIR) + "/oapx1 " + args + " 2>" + err_file;
  Outcome r;
  FILE* pipe = popen(command.c_str(), "r");
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) r.out.append(buf, n);
  const int status = pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(err_file);
  r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::remove(err_file.c_str());
  return r;
}

}  // namespace oapx1::testing

#endif  // OAPX1_TESTS_SUPPORT_RUN_COMMAND_H_
