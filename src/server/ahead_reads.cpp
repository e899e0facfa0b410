#include <utility>  // before Asio: g++ 12 in C++20 mode needs it declared first

#include "server/ahead_reads.h"

#include <unistd.h>

#include <boost/asio/post.hpp>

#include "platform/web/event_log.h"

namespace oapx1 {

namespace net = boost::asio;

namespace {

// How long a server may leave a question unanswered before its connection
// is dropped and the requests waiting on it go to the page threads; and how
// long after a try to connect the next may begin.
constexpr std::chrono::seconds kAnswerWait{1};
constexpr std::chrono::seconds kRetryAfter{1};
constexpr std::chrono::milliseconds kClockTick{250};

// A descriptor of `loop` on a duplicate of `socket`: the original stays its
// owner's, which closes it.
std::unique_ptr<net::posix::stream_descriptor> watch_socket(net::io_context& loop, int socket) {
  const int copy = ::dup(socket);
  if (copy < 0) return nullptr;
  return std::make_unique<net::posix::stream_descriptor>(loop, copy);
}

}  // namespace

AheadReads::AheadReads(net::io_context& loop, RedisSessionStore* sessions, std::string database)
    : loop_(loop),
      sessions_(sessions),
      database_(std::move(database)),
      shared_sessions_(sessions != nullptr),
      asks_database_(DataStampProbe::asks_server(database_)),
      clock_(loop) {}

AheadReads::~AheadReads() {
  if (connector_.joinable()) connector_.join();
}

void AheadReads::connect() {
  if (shared_sessions_) adopt_pipe(open_pipe(sessions_->address()));
  if (asks_database_) adopt_probe(DataStampProbe::open(database_));
  next_try_ = Clock::now() + kRetryAfter;
}

void AheadReads::reconnect() {
  if (connecting_ || Clock::now() < next_try_) return;
  connecting_ = true;
  if (connector_.joinable()) connector_.join();  // the last try, which has ended
  const RedisAddress* address = shared_sessions_ && !pipe_ ? &sessions_->address() : nullptr;
  const bool probe = asks_database_ && !probe_;
  connector_ = std::thread([this, address, probe, database = database_] {
    std::unique_ptr<RedisPipe> pipe = address ? open_pipe(*address) : nullptr;
    std::unique_ptr<DataStampProbe> opened = probe ? DataStampProbe::open(database) : nullptr;
    // Handed to the loop; dropped unused when the loop has stopped.
    net::post(loop_, [this, pipe = std::move(pipe), opened = std::move(opened)]() mutable {
      connecting_ = false;
      next_try_ = Clock::now() + kRetryAfter;
      if (pipe) adopt_pipe(std::move(pipe));
      if (opened) adopt_probe(std::move(opened));
    });
  });
}

void AheadReads::read(const std::string& id, Done done) {
  auto p = std::make_shared<Pending>();
  p->id = id;
  p->done = std::move(done);
  p->session_due = shared_sessions_;
  p->stamp_due = asks_database_;
  if (p->session_due) {
    if (!pipe_) {
      reconnect();
      return end(p, true);
    }
    try {
      pipe_->queue(sessions_->find_command(id));
    } catch (const RedisUnavailable&) {
      fail_pipe();
      return end(p, true);
    }
    if (pipe_waiting_.empty()) pipe_since_ = Clock::now();
    pipe_waiting_.push_back(p);
    send_pipe();
  }
  if (p->stamp_due && !p->ended) {
    if (!probe_) {
      reconnect();
      return end(p, true);
    }
    // Answered by the next question sent, which goes out after it arrived.
    p->round = rounds_ + 1;
    probe_waiting_.push_back(p);
    if (!probe_out_) ask_probe();
  }
  if (!p->ended) watch_time();
  end_if_whole(p);
}

void AheadReads::end(const std::shared_ptr<Pending>& p, bool failed) {
  if (p->ended) return;
  p->ended = true;
  Done done = std::move(p->done);
  if (failed) {
    done(std::nullopt);
  } else {
    done(std::move(p->read));
  }
}

void AheadReads::end_if_whole(const std::shared_ptr<Pending>& p) {
  if (!p->session_due && !p->stamp_due) end(p, false);
}

// --- sessions -------------------------------------------------------------

std::unique_ptr<RedisPipe> AheadReads::open_pipe(const RedisAddress& address) {
  try {
    return std::make_unique<RedisPipe>(address, std::chrono::milliseconds(500));
  } catch (const RedisUnavailable& e) {
    event_log().write(kEventError, std::string("oapx1 serve: session store: ") + e.what());
    return nullptr;
  }
}

void AheadReads::adopt_pipe(std::unique_ptr<RedisPipe> pipe) {
  if (!pipe) return;
  pipe_socket_ = watch_socket(loop_, pipe->socket());
  if (pipe_socket_) pipe_ = std::move(pipe);
}

void AheadReads::send_pipe() {
  try {
    if (pipe_->flush() || pipe_writing_) return wait_pipe();
  } catch (const RedisUnavailable&) {
    return fail_pipe();
  }
  pipe_writing_ = true;
  pipe_socket_->async_wait(Descriptor::wait_write, [this](boost::system::error_code ec) {
    pipe_writing_ = false;
    if (!ec && pipe_) send_pipe();
  });
}

void AheadReads::wait_pipe() {
  if (pipe_reading_ || pipe_waiting_.empty()) return;
  pipe_reading_ = true;
  pipe_socket_->async_wait(Descriptor::wait_read, [this](boost::system::error_code ec) {
    pipe_reading_ = false;
    if (!ec && pipe_) on_pipe_readable();
  });
}

void AheadReads::on_pipe_readable() {
  try {
    // Read until nothing more has come: the wait then sees the next arrival.
    while (std::optional<RedisReply> reply = pipe_->next()) {
      if (pipe_waiting_.empty()) throw RedisUnavailable("a reply to no command");
      std::shared_ptr<Pending> p = std::move(pipe_waiting_.front());
      pipe_waiting_.pop_front();
      pipe_since_ = Clock::now();
      if (p->ended) continue;
      p->read.session_read = true;
      p->read.session = sessions_->found(p->id, *reply);
      p->session_due = false;
      end_if_whole(p);
    }
  } catch (const RedisUnavailable& e) {
    event_log().write(kEventError, std::string("oapx1 serve: session store: ") + e.what());
    return fail_pipe();
  }
  wait_pipe();
}

void AheadReads::fail_pipe() {
  // Closing the descriptor ends its waits; their handlers find no pipe.
  pipe_socket_.reset();
  pipe_.reset();
  pipe_reading_ = pipe_writing_ = false;
  std::deque<std::shared_ptr<Pending>> waiting = std::move(pipe_waiting_);
  pipe_waiting_.clear();
  for (auto& p : waiting) end(p, true);
}

// --- the data stamp -------------------------------------------------------

void AheadReads::adopt_probe(std::unique_ptr<DataStampProbe> probe) {
  if (!probe) return;
  probe_socket_ = watch_socket(loop_, probe->socket());
  if (probe_socket_) probe_ = std::move(probe);
}

void AheadReads::ask_probe() {
  if (!probe_->ask()) return fail_probe();
  ++rounds_;
  probe_out_ = true;
  probe_since_ = Clock::now();
  for (;;) {
    const int left = probe_->flush();
    if (left < 0) return fail_probe();
    if (left == 0 || probe_writing_) break;
    probe_writing_ = true;
    probe_socket_->async_wait(Descriptor::wait_write, [this](boost::system::error_code ec) {
      probe_writing_ = false;
      if (!ec && probe_ && probe_->flush() < 0) fail_probe();
    });
    break;
  }
  wait_probe();
}

void AheadReads::wait_probe() {
  if (probe_reading_ || !probe_out_) return;
  probe_reading_ = true;
  probe_socket_->async_wait(Descriptor::wait_read, [this](boost::system::error_code ec) {
    probe_reading_ = false;
    if (!ec && probe_) on_probe_readable();
  });
}

void AheadReads::on_probe_readable() {
  DataStamp stamp;
  switch (probe_->receive(stamp)) {
    case DataStampProbe::Answer::kNotYet:
      return wait_probe();
    case DataStampProbe::Answer::kBroken:
      return fail_probe();
    case DataStampProbe::Answer::kStamp:
      break;
  }
  probe_out_ = false;
  // The requests that arrived before the question went out have their stamp.
  std::vector<std::shared_ptr<Pending>> answered;
  std::erase_if(probe_waiting_, [&](std::shared_ptr<Pending>& p) {
    if (p->round > rounds_) return false;
    answered.push_back(std::move(p));
    return true;
  });
  if (!probe_waiting_.empty()) ask_probe();
  for (auto& p : answered) {
    if (p->ended) continue;
    p->read.data = stamp;
    p->stamp_due = false;
    end_if_whole(p);
  }
}

void AheadReads::fail_probe() {
  probe_socket_.reset();
  probe_.reset();
  probe_reading_ = probe_writing_ = probe_out_ = false;
  std::vector<std::shared_ptr<Pending>> waiting = std::move(probe_waiting_);
  probe_waiting_.clear();
  for (auto& p : waiting) end(p, true);
}

// --- time -------------------------------------------------------------------

void AheadReads::watch_time() {
  if (clock_running_) return;
  clock_running_ = true;
  clock_.expires_after(kClockTick);
  clock_.async_wait([this](boost::system::error_code ec) {
    clock_running_ = false;
    if (ec) return;
    const auto now = Clock::now();
    if (!pipe_waiting_.empty() && now - pipe_since_ > kAnswerWait) {
      event_log().write(kEventError, "oapx1 serve: session store: no answer within a second");
      fail_pipe();
    }
    if (probe_out_ && now - probe_since_ > kAnswerWait) {
      event_log().write(kEventError, "oapx1 serve: database: no answer within a second");
      fail_probe();
    }
    if (!pipe_waiting_.empty() || probe_out_) watch_time();
  });
}

}  // namespace oapx1
