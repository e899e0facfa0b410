// What the look for a kept view needs from other servers, read ahead by a
// connection thread's event loop without waiting: the session, from a
// session store on a Redis server, and the data stamp, from a database
// server. The loop's thread then answers the view from its kept view, or
// hands the request to a page thread, having waited on nothing.
//
// Each loop has its own connection to each server. Session reads go out as
// they come and their replies are read back in order. Stamp reads are shared:
// one question is out at a time, and a request that arrives while one is out
// waits for the next, which goes out as soon as the answer comes: every
// request's stamp is read after the request arrived, so a view never shows
// data older than the last commit made before it was sent.
#ifndef OAPX1_SERVER_AHEAD_READS_H_
#define OAPX1_SERVER_AHEAD_READS_H_

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>

#include "platform/data/data_stamp_probe.h"
#include "platform/kv/redis_client.h"
#include "platform/call/call_context.h"
#include "server/kept_views.h"
#include "sessions/redis_session_store.h"
#include "sessions/session_store.h"

namespace oapx1 {

// What an event loop read ahead for the look for a kept view, in place of
// asking the servers itself.
struct AheadRead {
  bool session_read = false;              // the session was read ahead: it is `session`
  std::shared_ptr<SessionEntry> session;  // null: no such session
  std::optional<DataStamp> data;          // the data stamp, when read ahead
};

// Used on its loop's thread only.
class AheadReads {
 public:
  // For the loop `loop`: the session from `sessions`, the store on a Redis
  // server (null when sessions live in this process: they are not read
  // ahead), and the stamp from the server of `database` when it has one.
  AheadReads(boost::asio::io_context& loop, RedisSessionStore* sessions, std::string database);
  ~AheadReads();
  AheadReads(const AheadReads&) = delete;
  AheadReads& operator=(const AheadReads&) = delete;

  // Connects to the servers there are to ask (this waits). One that cannot
  // be reached now, or breaks off later, is connected to again in the
  // background, a second after the last try, while the requests go to the
  // page threads meanwhile: the loop never waits for a connection.
  void connect();

  // Whether there is anything to read ahead.
  bool active() const { return shared_sessions_ || asks_database_; }

  // Reads ahead for a request of session `id`, then calls `done` on the loop
  // with what was read; with nothing when a server could not be asked or did
  // not answer within a second (the request then goes to a page thread,
  // which asks again, waiting as long as it must).
  using Done = std::function<void(std::optional<AheadRead>)>;
  void read(const std::string& id, Done done);

 private:
  struct Pending {
    std::string id;
    Done done;
    AheadRead read;
    bool session_due = false;  // its session reply is still to come
    bool stamp_due = false;    // its stamp is still to come
    bool ended = false;        // done was called
    uint64_t round = 0;        // the stamp question that answers it
  };
  using Clock = std::chrono::steady_clock;
  using Descriptor = boost::asio::posix::stream_descriptor;

  void end(const std::shared_ptr<Pending>& p, bool failed);
  void end_if_whole(const std::shared_ptr<Pending>& p);

  // Connects again, in the background, to the servers whose connection is
  // missing, unless a try is under way or the last was less than a second ago.
  void reconnect();
  static std::unique_ptr<RedisPipe> open_pipe(const RedisAddress& address);
  void adopt_pipe(std::unique_ptr<RedisPipe> pipe);
  void send_pipe();
  void wait_pipe();
  void on_pipe_readable();
  void fail_pipe();

  void adopt_probe(std::unique_ptr<DataStampProbe> probe);
  void ask_probe();
  void wait_probe();
  void on_probe_readable();
  void fail_probe();

  void watch_time();

  boost::asio::io_context& loop_;
  RedisSessionStore* sessions_;  // null: no session is read ahead
  std::string database_;
  const bool shared_sessions_;
  const bool asks_database_;

  std::unique_ptr<RedisPipe> pipe_;
  std::unique_ptr<Descriptor> pipe_socket_;     // a duplicate of the pipe's socket, to wait on
  bool pipe_reading_ = false, pipe_writing_ = false;
  std::deque<std::shared_ptr<Pending>> pipe_waiting_;  // in the order of their commands
  Clock::time_point pipe_since_{};    // the last reply, or the ask when none was due

  std::unique_ptr<DataStampProbe> probe_;
  std::unique_ptr<Descriptor> probe_socket_;
  bool probe_reading_ = false, probe_writing_ = false;
  bool probe_out_ = false;            // a question is out
  uint64_t rounds_ = 0;               // questions sent
  Clock::time_point probe_since_{};   // when the question out was sent
  std::vector<std::shared_ptr<Pending>> probe_waiting_;

  boost::asio::steady_timer clock_;   // checks that the servers answer in time
  bool clock_running_ = false;

  std::thread connector_;             // the latest try to connect again
  bool connecting_ = false;           // it is under way
  Clock::time_point next_try_{};      // no try before then
};

}  // namespace oapx1

#endif  // OAPX1_SERVER_AHEAD_READS_H_
