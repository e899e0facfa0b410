// A redis-server of a test's own, for the tests of what the host keeps on
// Redis, and the count of the commands it ran. Skipped by the tests when
// redis-server is not installed.
#ifndef OAPX1_TESTS_SUPPORT_REDIS_PROCESS_H_
#define OAPX1_TESTS_SUPPORT_REDIS_PROCESS_H_

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "platform/kv/redis_client.h"

namespace oapx1 {

inline std::string find_redis_server() {
  for (const char* p : {"/usr/bin/redis-server", "/usr/local/bin/redis-server"}) {
    if (access(p, X_OK) == 0) return p;
  }
  return "";
}

// A redis-server of the test's own, writing its append-only file to a
// temporary folder so that a restart keeps the sessions.
class RedisProcess {
 public:
  RedisProcess() : dir_(std::filesystem::temp_directory_path() / ("oapx1_redis_" + std::to_string(getpid()))) {
    std::filesystem::create_directories(dir_);
    // A port that is free now, kept for restarts, and below the range the
    // system hands out to outgoing connections (32768 and up), which the
    // other tests' connections take from meanwhile.
    for (int i = 0; i < 12000 && port_ == 0; ++i) {
      const int candidate = 20000 + static_cast<int>((getpid() + i) % 12000);
      const int s = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      address.sin_port = htons(static_cast<uint16_t>(candidate));
      if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) port_ = candidate;
      ::close(s);
    }
  }
  ~RedisProcess() {
    stop();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  void start() {
    pid_ = fork();
    if (pid_ == 0) {
      const std::string port = std::to_string(port_);
      execl(find_redis_server().c_str(), "redis-server", "--port", port.c_str(), "--bind",
            "127.0.0.1", "--dir", dir_.c_str(), "--appendonly", "yes", "--appendfsync", "always",
            "--save", "", "--loglevel", "warning", static_cast<char*>(nullptr));
      _exit(127);
    }
    RedisClient probe(RedisAddress{"127.0.0.1", port_, 0}, std::chrono::milliseconds(200));
    for (int i = 0; i < 100; ++i) {
      try {
        if (probe.run({"PING"}).kind == RedisReply::Kind::kStatus) return;
      } catch (const RedisUnavailable&) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    FAIL() << "redis-server did not start";
  }
  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  std::string url() const { return "redis://127.0.0.1:" + std::to_string(port_) + "/3"; }

 private:
  std::filesystem::path dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

// Calls of each command the Redis server has run, from INFO commandstats.
inline std::map<std::string, long long> command_calls(RedisClient& client) {
  std::map<std::string, long long> calls;
  const std::string info = client.run({"INFO", "commandstats"}).text;
  std::istringstream lines(info);
  for (std::string line; std::getline(lines, line);) {
    // cmdstat_get:calls=3,usec=...
    const size_t colon = line.find(':'), equals = line.find("calls=");
    if (line.rfind("cmdstat_", 0) != 0 || colon == std::string::npos || equals == std::string::npos) continue;
    calls[line.substr(8, colon - 8)] = std::stoll(line.substr(equals + 6));
  }
  return calls;
}

// The commands run between two readings, but for the INFO of the reading.
inline std::map<std::string, long long> commands_between(const std::map<std::string, long long>& before,
                                                         const std::map<std::string, long long>& after) {
  std::map<std::string, long long> run;
  for (const auto& [name, n] : after) {
    const auto it = before.find(name);
    const long long d = n - (it == before.end() ? 0 : it->second) - (name == "info" ? 1 : 0);
    if (d > 0) run[name] = d;
  }
  return run;
}

// The commands as "name=count " for each, in name order.
inline std::string describe(const std::map<std::string, long long>& commands) {
  std::string text;
  for (const auto& [name, n] : commands) text += name + "=" + std::to_string(n) + " ";
  return text;
}

}  // namespace oapx1

#endif  // OAPX1_TESTS_SUPPORT_REDIS_PROCESS_H_
