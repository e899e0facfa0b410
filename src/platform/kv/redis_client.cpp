#include "platform/kv/redis_client.h"

#include <hiredis/hiredis.h>

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace oapx1 {
namespace {

// Idle connections kept beyond this many are closed.
constexpr size_t kMaxIdle = 64;

RedisReply convert(const redisReply* r) {
  RedisReply out;
  switch (r->type) {
    case REDIS_REPLY_STRING:
      out.kind = RedisReply::Kind::kString;
      out.text.assign(r->str, r->len);
      break;
    case REDIS_REPLY_STATUS:
      out.kind = RedisReply::Kind::kStatus;
      out.text.assign(r->str, r->len);
      break;
    case REDIS_REPLY_ERROR:
      out.kind = RedisReply::Kind::kError;
      out.text.assign(r->str, r->len);
      break;
    case REDIS_REPLY_INTEGER:
      out.kind = RedisReply::Kind::kInteger;
      out.integer = r->integer;
      break;
    case REDIS_REPLY_ARRAY:
      out.kind = RedisReply::Kind::kArray;
      for (size_t i = 0; i < r->elements; ++i) out.items.push_back(convert(r->element[i]));
      break;
    default:
      break;
  }
  return out;
}

// A command's arguments as hiredis takes them.
struct Argv {
  explicit Argv(const std::vector<std::string>& args) {
    pointers.reserve(args.size());
    lengths.reserve(args.size());
    for (const std::string& a : args) {
      pointers.push_back(a.data());
      lengths.push_back(a.size());
    }
  }
  int count() const { return static_cast<int>(pointers.size()); }
  std::vector<const char*> pointers;
  std::vector<size_t> lengths;
};

int port_of(std::string_view text) {
  int port = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), port);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size() || port <= 0 || port > 65535) {
    throw std::invalid_argument("bad port in the Redis address");
  }
  return port;
}

struct ContextCloser {
  void operator()(redisContext* c) const { redisFree(c); }
};
using ContextPtr = std::unique_ptr<redisContext, ContextCloser>;

std::string where(const RedisAddress& address) {
  return "Redis at " + address.host + ":" + std::to_string(address.port);
}

// A connection to the server with its database selected; no wait for it or
// for any later answer is longer than `timeout`. Throws RedisUnavailable.
ContextPtr connect_to(const RedisAddress& address, std::chrono::milliseconds timeout) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
  ContextPtr c(redisConnectWithTimeout(address.host.c_str(), address.port, tv));
  if (!c) throw RedisUnavailable("Redis: out of memory");
  if (c->err) throw RedisUnavailable(where(address) + ": " + c->errstr);
  // A server that stops answering fails the command instead of holding the request.
  if (redisSetTimeout(c.get(), tv) != REDIS_OK) throw RedisUnavailable(std::string("Redis: ") + c->errstr);
  if (address.database != 0) {
    auto* r = static_cast<redisReply*>(redisCommand(c.get(), "SELECT %d", address.database));
    const bool ok = r && r->type == REDIS_REPLY_STATUS;
    const std::string error = r && r->type == REDIS_REPLY_ERROR ? std::string(r->str, r->len)
                                                                : std::string(c->errstr);
    if (r) freeReplyObject(r);
    if (!ok) throw RedisUnavailable("Redis: SELECT " + std::to_string(address.database) + ": " + error);
  }
  return c;
}

}  // namespace

struct RedisClient::Connection {
  ContextPtr context;
};

RedisAddress parse_redis_url(const std::string& url) {
  constexpr std::string_view kScheme = "redis://";
  if (url.rfind(kScheme, 0) != 0) throw std::invalid_argument("not a redis:// address: " + url);
  std::string_view rest = std::string_view(url).substr(kScheme.size());
  RedisAddress address;
  const size_t slash = rest.find('/');
  std::string_view host_port = rest.substr(0, slash);
  if (slash != std::string_view::npos) {
    std::string_view db = rest.substr(slash + 1);
    if (!db.empty()) {
      auto r = std::from_chars(db.data(), db.data() + db.size(), address.database);
      if (r.ec != std::errc() || r.ptr != db.data() + db.size() || address.database < 0) {
        throw std::invalid_argument("bad database number in the Redis address");
      }
    }
  }
  const size_t colon = host_port.rfind(':');
  if (colon != std::string_view::npos && host_port.find(']', colon) == std::string_view::npos) {
    address.port = port_of(host_port.substr(colon + 1));
    host_port = host_port.substr(0, colon);
  }
  if (host_port.size() > 1 && host_port.front() == '[' && host_port.back() == ']') {
    host_port = host_port.substr(1, host_port.size() - 2);
  }
  if (!host_port.empty()) address.host = std::string(host_port);
  return address;
}

RedisClient::RedisClient(RedisAddress address, std::chrono::milliseconds timeout)
    : address_(std::move(address)), timeout_(timeout) {}

RedisClient::~RedisClient() = default;

std::unique_ptr<RedisClient::Connection> RedisClient::take(bool& reused) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!idle_.empty()) {
      auto c = std::move(idle_.back());
      idle_.pop_back();
      reused = true;
      return c;
    }
  }
  reused = false;
  auto c = std::make_unique<Connection>();
  c->context = connect_to(address_, timeout_);
  return c;
}

void RedisClient::give_back(std::unique_ptr<Connection> connection) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (idle_.size() < kMaxIdle) idle_.push_back(std::move(connection));
}

RedisReply RedisClient::run(const std::vector<std::string>& args) {
  Argv argv(args);
  for (int attempt = 0;; ++attempt) {
    bool reused = false;
    std::unique_ptr<Connection> c = take(reused);
    errno = 0;
    auto* r = static_cast<redisReply*>(redisCommandArgv(
        c->context.get(), argv.count(), argv.pointers.data(), argv.lengths.data()));
    const int io_errno = errno;
    if (r) {
      RedisReply out = convert(r);
      freeReplyObject(r);
      give_back(std::move(c));
      return out;
    }
    // The connection is broken (or timed out mid-answer) and is dropped here.
    // After a server restart every idle connection is as dead as this one:
    // they go too, and a command that failed on an old connection is sent
    // once more on a new one.
    const std::string error = c->context->errstr;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      idle_.clear();
    }
    // Only a connection the server closed is worth a second try: a command
    // that timed out may have run, and must not run twice.
    const bool closed = c->context->err == REDIS_ERR_EOF ||
                        (c->context->err == REDIS_ERR_IO && (io_errno == ECONNRESET || io_errno == EPIPE));
    if (!reused || attempt > 0 || !closed) {
      throw RedisUnavailable(where(address_) + ": " + error);
    }
  }
}

struct RedisPipe::Context {
  ContextPtr context;
};

RedisPipe::RedisPipe(const RedisAddress& address, std::chrono::milliseconds timeout)
    : context_(std::make_unique<Context>()), where_(where(address)) {
  context_->context = connect_to(address, timeout);
  redisContext* c = context_->context.get();
  // From here the pipe does its own reading and writing, never waiting.
  const int flags = fcntl(c->fd, F_GETFL);
  if (flags < 0 || fcntl(c->fd, F_SETFL, flags | O_NONBLOCK) != 0) {
    throw RedisUnavailable(where_ + ": cannot stop the socket from waiting");
  }
}

RedisPipe::~RedisPipe() = default;

int RedisPipe::socket() const { return context_->context->fd; }

void RedisPipe::queue(const std::vector<std::string>& args) {
  Argv argv(args);
  char* command = nullptr;
  const long long length = redisFormatCommandArgv(&command, argv.count(), argv.pointers.data(), argv.lengths.data());
  if (length < 0 || !command) throw RedisUnavailable("Redis: out of memory");
  if (sent_ == unsent_.size()) {
    unsent_.clear();
    sent_ = 0;
  }
  unsent_.append(command, static_cast<size_t>(length));
  redisFreeCommand(command);
}

bool RedisPipe::flush() {
  while (sent_ < unsent_.size()) {
    const ssize_t n = ::send(socket(), unsent_.data() + sent_, unsent_.size() - sent_, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
    if (n <= 0) throw RedisUnavailable(where_ + ": the connection broke");
    sent_ += static_cast<size_t>(n);
  }
  unsent_.clear();
  sent_ = 0;
  return true;
}

std::optional<RedisReply> RedisPipe::next() {
  redisContext* c = context_->context.get();
  auto take = [&]() -> std::optional<RedisReply> {
    void* reply = nullptr;
    if (redisReaderGetReply(c->reader, &reply) != REDIS_OK) {
      throw RedisUnavailable(where_ + ": not a reply: " + c->reader->errstr);
    }
    if (!reply) return std::nullopt;
    RedisReply out = convert(static_cast<redisReply*>(reply));
    freeReplyObject(reply);
    return out;
  };
  if (std::optional<RedisReply> reply = take()) return reply;
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::recv(socket(), buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return std::nullopt;
    if (n == 0) throw RedisUnavailable(where_ + ": the server closed the connection");
    if (n < 0) throw RedisUnavailable(where_ + ": the connection broke");
    if (redisReaderFeed(c->reader, buffer, static_cast<size_t>(n)) != REDIS_OK) {
      throw RedisUnavailable(where_ + ": not a reply");
    }
    if (std::optional<RedisReply> reply = take()) return reply;
  }
}

}  // namespace oapx1
