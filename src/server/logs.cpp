#include "server/logs.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "platform/web/intrinsics.h"
#include "server/web_application.h"

namespace oapx1 {
namespace {

// Per thread: the request a thread is answering, which the event log names
// from wherever a failure is written (page code deep below passes no request).
thread_local RequestLogContext* t_request = nullptr;

std::tm local_time(std::chrono::system_clock::time_point when) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

std::string format_time(std::chrono::system_clock::time_point when, const char* format) {
  const std::tm tm = local_time(when);
  char buf[64];
  const size_t n = std::strftime(buf, sizeof buf, format, &tm);
  return std::string(buf, n);
}

// A part of an event line: control characters become spaces.
std::string plain(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  return out;
}

// A field of an access line: "-" when empty, else as it is with quotes,
// backslashes, spaces (unquoted fields only) and control characters escaped.
std::string field(std::string_view text, bool quoted) {
  if (text.empty()) return "-";
  std::string out;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u == 0x7f || (!quoted && c == ' ')) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out;
}

const char* level_name(int type) {
  if (type == kEventError) return "error";
  if (type == 2) return "warning";
  return "information";
}

// The user of the session bound on this thread, when a page is running;
// else the one the request recorded.
std::string current_user(const RequestLogContext* request) {
  if (ObjectContext* context = current_object_context(); context && context->session) {
    try {
      return context->session->item("UserName").str();
    } catch (...) {
    }
  }
  return request ? request->user : std::string();
}

std::string request_part(const RequestLogContext* request, const std::string& user) {
  if (!request) return "- - user=-";
  return field(request->method, false) + " " + field(request->target, false) +
         " user=" + field(user, false);
}

}  // namespace

RequestLogScope::RequestLogScope(RequestLogContext& context) : saved_(t_request) {
  t_request = &context;
}

RequestLogScope::~RequestLogScope() { t_request = saved_; }

RequestLogContext* RequestLogScope::current() { return t_request; }

std::string format_event_line(std::chrono::system_clock::time_point when, int type,
                              std::string_view text, const RequestLogContext* request) {
  return format_time(when, "%Y-%m-%dT%H:%M:%S%z") + " " + level_name(type) + " " +
         request_part(request, request ? request->user : std::string()) + ": " + plain(text);
}

void ServerEventLog::write(int type, std::string_view text) {
  RequestLogContext* request = RequestLogScope::current();
  std::optional<RequestLogContext> with_user;
  if (request) {
    with_user = *request;
    with_user->user = current_user(request);
  }
  const RequestLogContext* shown = with_user ? &*with_user : nullptr;
  const std::string line = format_event_line(std::chrono::system_clock::now(), type, text, shown);
  // The system log stamps its own time and level.
  syslog_.write(type,
                request_part(shown, shown ? shown->user : std::string()) + ": " + plain(text));
  std::lock_guard<std::mutex> guard(mutex_);
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

void ServerEventLog::write_failure(long number, std::string_view text) {
  // The entry is " " NUMBER DESCRIPTION ...: the number is set apart from the
  // description that follows it without a space.
  const std::string prefix = " " + std::to_string(number);
  if (!text.starts_with(prefix)) return write(kEventError, text);
  write(kEventError, std::to_string(number) + ": " + std::string(text.substr(prefix.size())));
}

void ServerEventLog::reopen() { syslog_.reopen(); }

std::string format_access_line(std::chrono::system_clock::time_point when,
                               const HttpRequest& request, const HttpReply& reply,
                               std::string_view user) {
  const size_t bytes = request.method == "HEAD" ? 0 : reply.bytes().size();
  std::string line = field(request.peer_address, false) + " - " + field(user, false) + " [" +
                     format_time(when, "%d/%b/%Y:%H:%M:%S %z") + "] \"";
  line += field(request.method + " " + request.target + " " +
                    (request.version.empty() ? std::string("HTTP/1.1") : request.version),
                true);
  line += "\" " + std::to_string(reply.status) + " " + (bytes ? std::to_string(bytes) : "-");
  line += " \"" + field(request.referer, true) + "\" \"" + field(request.user_agent, true) + "\"";
  return line;
}

AccessLog::AccessLog(const std::string& target) : target_(target), file_(stdout), owned_(false) {
  if (target == "-") return;
  file_ = std::fopen(target.c_str(), "a");
  if (!file_) {
    throw std::runtime_error("cannot open the access log " + target + ": " + std::strerror(errno));
  }
  owned_ = true;
}

void AccessLog::reopen() {
  if (!owned_) return;
  std::FILE* fresh = std::fopen(target_.c_str(), "a");
  if (!fresh) {
    throw std::runtime_error("cannot reopen the access log " + target_ + ": " + std::strerror(errno));
  }
  std::lock_guard<std::mutex> guard(mutex_);
  std::fclose(file_);
  file_ = fresh;
}

AccessLog::~AccessLog() {
  if (owned_) std::fclose(file_);
}

void AccessLog::write(const HttpRequest& request, const HttpReply& reply,
                      std::string_view user) noexcept {
  try {
    const std::string line =
        format_access_line(std::chrono::system_clock::now(), request, reply, user) + "\n";
    std::lock_guard<std::mutex> guard(mutex_);
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
  } catch (...) {
    // A log that cannot be written does not fail the request.
  }
}

}  // namespace oapx1
