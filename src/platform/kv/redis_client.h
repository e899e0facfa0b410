// A client of a Redis server, the key-value store that hosts of one
// installation share. The only code that talks to hiredis.
#ifndef OAPX1_PLATFORM_KV_REDIS_CLIENT_H_
#define OAPX1_PLATFORM_KV_REDIS_CLIENT_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace oapx1 {

// The server could not be reached, or broke off, or did not answer in time.
// The connection concerned is dropped; the next command connects again.
class RedisUnavailable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One reply of the server, with nested replies for an array.
struct RedisReply {
  enum class Kind : uint8_t { kNil, kString, kInteger, kArray, kStatus, kError };
  Kind kind = Kind::kNil;
  std::string text;                // kString, kStatus, kError
  long long integer = 0;           // kInteger
  std::vector<RedisReply> items;   // kArray
};

// Where a Redis server is: parsed from "redis://host:port/db" (port 6379 and
// database 0 when left out).
struct RedisAddress {
  std::string host = "127.0.0.1";
  int port = 6379;
  int database = 0;
};

// Parses a redis:// URL; throws std::invalid_argument for anything else.
RedisAddress parse_redis_url(const std::string& url);

// Connections to one server, shared by the threads of a process: each command
// borrows an idle connection (or opens one) and returns it afterwards. No
// command waits longer than the time-out for a connection or an answer.
class RedisClient {
 public:
  RedisClient(RedisAddress address, std::chrono::milliseconds timeout);
  ~RedisClient();
  RedisClient(const RedisClient&) = delete;
  RedisClient& operator=(const RedisClient&) = delete;

  // Runs one command, each argument sent as it is (binary-safe). An error
  // reply comes back as kError; throws RedisUnavailable when the server cannot
  // be reached or the answer does not come in time. A command that fails on a
  // connection left over from before a server restart is sent once more on a
  // new connection.
  RedisReply run(const std::vector<std::string>& args);

  const RedisAddress& address() const { return address_; }

 private:
  struct Connection;
  // An idle connection (`reused` set) or a new one; throws RedisUnavailable.
  std::unique_ptr<Connection> take(bool& reused);
  // Keeps a connection that worked for the next command.
  void give_back(std::unique_ptr<Connection> connection);

  RedisAddress address_;
  std::chrono::milliseconds timeout_;
  std::mutex mutex_;                               // guards idle_
  std::vector<std::unique_ptr<Connection>> idle_;  // connections between commands
};

// One connection to a Redis server for an event loop: commands are queued
// and sent without waiting for their replies, which are read back later, in
// the order sent, as they come. Nothing but connecting waits. Used by one
// thread at a time.
class RedisPipe {
 public:
  // Connects and selects the database, waiting at most `timeout`; throws
  // RedisUnavailable.
  RedisPipe(const RedisAddress& address, std::chrono::milliseconds timeout);
  ~RedisPipe();
  RedisPipe(const RedisPipe&) = delete;
  RedisPipe& operator=(const RedisPipe&) = delete;

  // The connection's socket, to wait on: for reading while replies are due,
  // for writing while flush() has more to send.
  int socket() const;
  // Queues one command, each argument sent as it is.
  void queue(const std::vector<std::string>& args);
  // Sends what it can of the queued commands without waiting; true when all
  // is sent. Throws RedisUnavailable when the connection is broken.
  bool flush();
  // Reads what has come without waiting, and gives the next whole reply, if
  // one is in; the replies come in the order of the commands. Throws
  // RedisUnavailable when the server closed the connection or sent what is
  // not a reply.
  std::optional<RedisReply> next();

 private:
  struct Context;
  std::unique_ptr<Context> context_;
  std::string where_;    // "Redis at host:port", for messages
  std::string unsent_;   // queued bytes not yet sent
  size_t sent_ = 0;      // of unsent_, those sent
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_KV_REDIS_CLIENT_H_
