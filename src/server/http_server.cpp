#include <utility>  // before Asio: g++ 12 in C++20 mode needs it declared first

#include "server/http_server.h"

#include <array>
#include <atomic>
#include <csignal>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <pthread.h>
#include <sys/resource.h>
#include <time.h>

#include "editing/node_history.h"
#include "platform/web/event_log.h"
#include "server/dispatch.h"
#include "server/http_connection.h"
#include "server/page_workers.h"

namespace oapx1 {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

using Clock = std::chrono::steady_clock;

// How long the accept loop rests when an accept fails (no descriptor left, ...)
// or when every connection is busy at the cap, before it tries again.
constexpr std::chrono::milliseconds kAcceptPause{20};

// How long a sample of a connection thread's load lasts at least, and the
// share of that time on a core under which the thread has room for more
// connections.
constexpr std::chrono::milliseconds kLoadSample{20};
constexpr double kRoomyLoop = 0.5;

// How often the read and write time-outs are checked: a slow client is closed
// at most this much after its time-out.
constexpr std::chrono::milliseconds kTimeoutSweep{250};

// Page threads when the settings leave them open. A page on SQLite with
// in-memory sessions keeps its core busy; one that waits for a server over
// the network (PostgreSQL, sessions in Redis) keeps a core busy only with
// several pages under way on it.
int default_page_threads(const ServerOptions& options) {
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const bool waits_on_network = options.database.starts_with("postgres") ||
                                options.session_store.starts_with("redis");
  return waits_on_network ? std::max(8, 4 * cores) : std::max(2, cores);
}

// The connection cap that the descriptor limit leaves room for: the database,
// static files, the event loop and the log keep an eighth of the limit, and
// never less than 64 descriptors.
size_t connections_for_descriptor_limit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 100000;
  const size_t descriptors = static_cast<size_t>(limit.rlim_cur);
  const size_t headroom = std::max<size_t>(64, descriptors / 8);
  return descriptors > headroom + 16 ? descriptors - headroom : 16;
}

// Removes the node history and audit log lines of `database` older than
// `days` days; how many, or why it could not, goes to the event log.
void prune(const std::string& database, int days) {
  try {
    const PrunedRecords pruned = prune_records(database, days);
    event_log().write(kEventInformation,
                      "oapx1 serve: removed " + std::to_string(pruned.history) + " node history and " +
                          std::to_string(pruned.audit) + " audit log lines older than " +
                          std::to_string(days) + " days");
  } catch (...) {
    event_log().write(kEventError, "oapx1 serve: removing old history lines: " +
                                       failure_text(std::current_exception()));
  }
}

}  // namespace

struct HttpServer::Impl {
  explicit Impl(ServerOptions options)
      : shared(std::make_shared<ConnectionSet>()),
        thread_count(options.threads > 0 ? options.threads
                                         : std::max(1u, std::thread::hardware_concurrency())),
        loops(make_loops(thread_count)),
        control(net::make_strand(loops.front()->ioc)),
        acceptor(control),
        accept_timer(control),
        sweep_timer(control),
        prune_timer(control),
        timeout_timer(control),
        grace_timer(control),
        signals(control) {
    shared->options = options;
    max_connections = options.max_connections > 0 ? options.max_connections
                                                  : connections_for_descriptor_limit();
    const int page_threads = options.page_threads > 0 ? options.page_threads : default_page_threads(options);
    workers = std::make_unique<PageWorkers>(page_threads, std::max<size_t>(1, options.page_queue));
    shared->on_idle = [this] { net::post(control, [this] { grace_timer.cancel(); }); };
    app = std::make_unique<WebApplication>(std::move(options));
    dispatch = std::make_unique<Dispatch>(*app, *workers);
    shared->dispatch = dispatch.get();
    for (auto& loop : loops) loop->dispatch = dispatch->make_loop(loop->ioc);
    const ServerOptions& o = shared->options;
    beast::error_code ec;
    const auto address = net::ip::make_address(o.address, ec);
    if (ec) throw std::runtime_error("not an IP address: " + o.address);
    const tcp::endpoint endpoint(address, o.port);
    acceptor.open(endpoint.protocol(), ec);
    if (!ec) acceptor.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) acceptor.bind(endpoint, ec);
    if (!ec) acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
      throw std::runtime_error("cannot listen on " + o.address + ":" + std::to_string(o.port) +
                               ": " + ec.message());
    }
    accept();
    schedule_sweep();
    if (o.retention_days > 0) schedule_prune(std::chrono::seconds(0));
    schedule_timeouts();
    if (o.handle_signals) {
      signals.add(SIGINT);
      signals.add(SIGTERM);
      signals.add(SIGHUP);
      wait_for_signal();
    }
  }

  // Runs on the control strand. SIGHUP reopens the logs (after a rotation) and
  // the server goes on; SIGINT and SIGTERM stop it.
  void wait_for_signal() {
    signals.async_wait([this](beast::error_code ec, int signal) {
      if (ec) return;
      if (signal != SIGHUP) return begin_stop();
      app->reopen_logs();
      event_log().write(kEventInformation, "oapx1 serve: logs reopened");
      wait_for_signal();
    });
  }

  ~Impl() {
    // Connections still queued die with the io_context: nothing to tell then.
    shared->on_idle = nullptr;
    // A password check still running replies through the page threads and a
    // loop: it ends while they are there.
    app->stop_sign_ins();
  }

  // One event loop and the connection thread that runs it.
  struct Loop {
    net::io_context ioc{1};
    // Keeps the loop running while it has no connection, until the stop.
    net::executor_work_guard<net::io_context::executor_type> keep{ioc.get_executor()};
    // The dispatch's part of the loop: what its connections' views need from
    // other servers, read ahead.
    std::unique_ptr<Dispatch::Loop> dispatch;
    // The CPU clock of the thread running the loop, once it runs.
    std::atomic<bool> running{false};
    clockid_t cpu_clock{};
    // The share of the last sample's time that its thread was on a core (0
    // to 1), and when that sample ended; read and written on the control
    // strand only.
    double busy = 0;
    Clock::time_point sampled{};
    int64_t cpu_at_sample = 0;  // its thread's CPU time then, in nanoseconds

    // Takes a new sample when the last is older than kLoadSample.
    void sample(Clock::time_point now) {
      if (now - sampled < kLoadSample || !running.load(std::memory_order_acquire)) return;
      timespec cpu{};
      if (clock_gettime(cpu_clock, &cpu) != 0) return;
      const int64_t cpu_now = int64_t{cpu.tv_sec} * 1000000000 + cpu.tv_nsec;
      if (sampled != Clock::time_point{}) {
        const auto wall = std::chrono::duration_cast<std::chrono::nanoseconds>(now - sampled).count();
        busy = wall > 0 ? static_cast<double>(cpu_now - cpu_at_sample) / static_cast<double>(wall) : busy;
      }
      sampled = now;
      cpu_at_sample = cpu_now;
    }
  };
  static std::vector<std::unique_ptr<Loop>> make_loops(int count) {
    std::vector<std::unique_ptr<Loop>> made;
    for (int i = 0; i < count; ++i) made.push_back(std::make_unique<Loop>());
    return made;
  }

  // Runs on the control strand. The loop of a new connection: the first
  // whose thread has room (is on a core less than half the time), else the
  // least busy. Connections gather on few loops while those keep up: each
  // loop thread that has work is one more thread wanting a core, and on a
  // machine whose cores are also busy with the database or other programs,
  // a loop thread taken off its core holds up every connection of its loop.
  Loop& connection_loop() {
    const auto now = Clock::now();
    Loop* chosen = nullptr;
    for (auto& loop : loops) {
      loop->sample(now);
      if (loop->busy < kRoomyLoop) return *loop;
      if (!chosen || loop->busy < chosen->busy) chosen = loop.get();
    }
    return *chosen;
  }

  // Runs on the control strand.
  void accept() {
    if (shared->stopping || !acceptor.is_open()) return;
    // At the cap with every connection busy, new ones wait in the listen queue.
    if (shared->open >= max_connections && !any_idle()) return pause_accepting();
    Loop& loop = connection_loop();
    acceptor.async_accept(loop.ioc.get_executor(), [this, &loop](beast::error_code ec, tcp::socket socket) {
      if (shared->stopping || !acceptor.is_open()) return;
      if (ec) {
        // Out of descriptors (or another passing failure): make room and rest
        // a moment rather than spin on an accept that fails at once.
        if (ec == net::error::no_descriptors || ec == net::error::no_buffer_space ||
            ec == net::error::no_memory) {
          evict_oldest_idle();
        }
        return pause_accepting();
      }
      std::string peer = peer_address(socket);
      if (!admit(peer)) {
        // Its address holds as many connections as it may, all busy.
        beast::error_code ignored;
        socket.close(ignored);
        return accept();
      }
      // At the cap the new connection takes the place of the one idle the longest.
      if (shared->open >= max_connections) evict_oldest_idle();
      beast::error_code ignored;
      socket.set_option(tcp::no_delay(true), ignored);
      std::make_shared<HttpConnection>(std::move(socket), std::move(peer), shared, *loop.dispatch)->start();
      accept();
    });
  }

  void pause_accepting() {
    accept_timer.expires_after(kAcceptPause);
    accept_timer.async_wait([this](beast::error_code ec) {
      if (!ec) accept();
    });
  }

  bool any_idle() {
    // A connection whose last owner is dropped here ends after the lock is released.
    std::vector<std::shared_ptr<HttpConnection>> seen;
    std::lock_guard<std::mutex> guard(shared->mutex);
    for (auto& weak : shared->connections) {
      auto c = weak.lock();
      if (!c) continue;
      const bool idle = c->is_idle();
      seen.push_back(std::move(c));
      if (idle) return true;
    }
    return false;
  }

  // Counts a new connection from `peer` against the per-address limit; false
  // when the address is at its limit and none of its connections is idle.
  // At the limit the address's connection idle the longest is closed to make
  // room. Trusted proxies, which bring many clients, have no limit.
  bool admit(const std::string& peer) {
    const size_t limit = shared->options.max_connections_per_address;
    std::vector<std::shared_ptr<HttpConnection>> seen;  // released after the lock
    std::lock_guard<std::mutex> guard(shared->mutex);
    size_t& count = shared->per_address[peer];
    if (limit != 0 && count >= limit && !shared->options.trusted_proxies.trusts(peer)) {
      bool made_room = false;
      for (auto& weak : shared->connections) {
        auto c = weak.lock();
        if (!c) continue;
        made_room = c->peer() == peer && c->evict();
        seen.push_back(std::move(c));
        if (made_room) break;
      }
      if (!made_room) return false;
    }
    ++count;
    return true;
  }

  // Closes the connection idle the longest; false when none is idle.
  bool evict_oldest_idle() {
    std::vector<std::shared_ptr<HttpConnection>> victims;  // released after the lock
    std::lock_guard<std::mutex> guard(shared->mutex);
    for (auto& weak : shared->connections) {
      auto c = weak.lock();
      if (!c) continue;
      const bool evicted = c->evict();
      victims.push_back(std::move(c));
      if (evicted) return true;
    }
    return false;
  }

  void schedule_sweep() {
    sweep_timer.expires_after(std::chrono::seconds(30));
    sweep_timer.async_wait([this](beast::error_code ec) {
      if (ec || shared->stopping) return;
      app->sweep_sessions();
      schedule_sweep();
    });
  }

  // Removes what the node history and the audit log hold beyond the days
  // the setting keeps, at the start and then once a day, on a page thread:
  // the control strand never waits on the database. When the page threads
  // are full it is tried again a minute later.
  void schedule_prune(std::chrono::steady_clock::duration after) {
    prune_timer.expires_after(after);
    prune_timer.async_wait([this](beast::error_code ec) {
      if (ec || shared->stopping) return;
      const bool posted = workers->try_post([database = app->options().database,
                                             days = app->options().retention_days] { prune(database, days); });
      schedule_prune(posted ? std::chrono::hours(24) : std::chrono::minutes(1));
    });
  }

  // One periodic look at every connection closes those whose read or write
  // has outlasted its time-out, rather than a timer armed for each operation.
  void schedule_timeouts() {
    timeout_timer.expires_after(kTimeoutSweep);
    timeout_timer.async_wait([this](beast::error_code ec) {
      if (ec || timeouts_off) return;
      std::vector<std::shared_ptr<HttpConnection>> live;  // released after the lock
      const auto now = Clock::now();
      {
        std::lock_guard<std::mutex> guard(shared->mutex);
        live.reserve(shared->connections.size());
        for (auto& weak : shared->connections) {
          if (auto c = weak.lock()) {
            c->check_deadline(now);
            live.push_back(std::move(c));
          }
        }
      }
      schedule_timeouts();
    });
  }

  // Runs on the control strand.
  void begin_stop() {
    if (shared->stopping.exchange(true)) return;
    beast::error_code ec;
    acceptor.close(ec);
    accept_timer.cancel();
    sweep_timer.cancel();
    prune_timer.cancel();
    signals.cancel(ec);
    // The loops end once the connections have.
    for (auto& loop : loops) loop->keep.reset();
    std::vector<std::shared_ptr<HttpConnection>> live;
    {
      std::lock_guard<std::mutex> guard(shared->mutex);
      for (auto& weak : shared->connections) {
        if (auto c = weak.lock()) live.push_back(std::move(c));
      }
    }
    // Requests still running after the grace are abandoned; the grace timer
    // (and the time-out sweep) are cancelled as soon as the last connection
    // has ended.
    grace_timer.expires_after(shared->options.stop_grace);
    grace_timer.async_wait([this](beast::error_code ec) {
      timeouts_off = true;
      timeout_timer.cancel();
      if (ec) return;
      for (auto& loop : loops) loop->ioc.stop();
    });
    if (live.empty()) grace_timer.cancel();
    for (auto& c : live) c->shut_down();
  }

  void run_threads(int from) {
    for (int i = from; i < thread_count; ++i) {
      io_threads.emplace_back([this, i] { run_loop(i); });
    }
  }

  void run_loop(int i) {
    if (!loops[i]->running && pthread_getcpuclockid(pthread_self(), &loops[i]->cpu_clock) == 0) {
      loops[i]->running.store(true, std::memory_order_release);
    }
    for (;;) {
      try {
        loops[i]->ioc.run();
        return;
      } catch (const std::exception& e) {
        // Nothing should get here; if it does, log it and keep serving.
        event_log().write(kEventError, std::string("oapx1 serve: ") + e.what());
      }
    }
  }

  void join() {
    for (auto& t : io_threads) {
      if (t.joinable()) t.join();
    }
    io_threads.clear();
  }

  // Once the last connection is gone nothing but the grace timer is left.
  std::shared_ptr<ConnectionSet> shared;
  std::unique_ptr<WebApplication> app;
  int thread_count;
  size_t max_connections = 0;
  // An event loop per connection thread. A connection belongs to one loop,
  // whose thread runs all its handlers: no lock and no other thread woken to
  // serve it. A loop's thread never runs a page (pages run on the page
  // threads; it answers only from kept views), so it is never held up long
  // and never strands the connections of its loop.
  std::vector<std::unique_ptr<Loop>> loops;
  // Runs the server's own handlers one at a time, on the first loop:
  // accepting, the timers, signals and the stop.
  net::strand<net::io_context::executor_type> control;
  tcp::acceptor acceptor;
  net::steady_timer accept_timer;  // the pause of the accept loop
  net::steady_timer sweep_timer;
  net::steady_timer prune_timer;  // the daily removal of old history and audit lines
  net::steady_timer timeout_timer;
  bool timeouts_off = false;  // the stop has ended the time-out sweep
  net::steady_timer grace_timer;
  net::signal_set signals;
  std::vector<std::thread> io_threads;
  // Hands the connections' requests to the application; outlives the page
  // work that refers to it.
  std::unique_ptr<Dispatch> dispatch;
  // Destroyed before the event loop: page work still running posts its reply there.
  std::unique_ptr<PageWorkers> workers;
};

HttpServer::HttpServer(ServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

HttpServer::~HttpServer() {
  stop();
  wait();
  // Handlers still queued (after a stop that outlasted its grace) hold
  // connections; destroying the io_context releases them.
}

uint16_t HttpServer::port() const {
  beast::error_code ec;
  return impl_->acceptor.is_open() ? impl_->acceptor.local_endpoint(ec).port() : 0;
}

std::string HttpServer::address() const { return impl_->shared->options.address; }
int HttpServer::threads() const { return impl_->thread_count; }
int HttpServer::page_threads() const { return impl_->workers->threads(); }
size_t HttpServer::max_connections() const { return impl_->max_connections; }
size_t HttpServer::open_connections() const { return impl_->shared->open; }
size_t HttpServer::page_work_running() const { return impl_->workers->running(); }
size_t HttpServer::page_work_waiting() const { return impl_->workers->waiting(); }

void HttpServer::start() { impl_->run_threads(0); }

void HttpServer::run() {
  impl_->run_threads(1);
  impl_->run_loop(0);
  impl_->join();
}

void HttpServer::stop() {
  net::post(impl_->control, [impl = impl_.get()] { impl->begin_stop(); });
}

void HttpServer::wait() { impl_->join(); }

WebApplication& HttpServer::application() { return *impl_->app; }

}  // namespace oapx1
