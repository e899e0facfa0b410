#include "platform/process/process.h"

#include <fcntl.h>
#include <malloc.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace oapx1 {
namespace {

std::atomic<std::shared_ptr<const ProcessSettings>>& current() {
  static std::atomic<std::shared_ptr<const ProcessSettings>> settings{
      std::make_shared<const ProcessSettings>()};
  return settings;
}

}  // namespace

std::string resolve_database(std::string_view configured) {
  if (!configured.empty()) return std::string(configured);
  if (const char* env = std::getenv("OAPX1_DB"); env && *env) return env;
  return kDefaultDatabase;
}

std::optional<std::string> read_secret_from_terminal(std::string_view prompt) {
  const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (tty < 0) return std::nullopt;
  termios before{};
  const bool is_terminal = ::tcgetattr(tty, &before) == 0;
  if (is_terminal) {
    termios quiet = before;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;  // the typed line end still moves to the next line
    ::tcsetattr(tty, TCSAFLUSH, &quiet);
  }
  (void)!::write(tty, prompt.data(), prompt.size());
  std::string line;
  bool ended = false;
  for (char c; ;) {
    const ssize_t n = ::read(tty, &c, 1);
    if (n <= 0) break;
    if (c == '\n') {
      ended = true;
      break;
    }
    line.push_back(c);
  }
  if (is_terminal) ::tcsetattr(tty, TCSAFLUSH, &before);
  ::close(tty);
  if (!ended) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::shared_ptr<const ProcessSettings> process_settings() { return current().load(); }

void update_process_settings(const std::function<void(ProcessSettings&)>& change) {
  auto& slot = current();
  std::shared_ptr<const ProcessSettings> before = slot.load();
  for (;;) {
    auto next = std::make_shared<ProcessSettings>(*before);
    change(*next);
    if (slot.compare_exchange_weak(before, std::shared_ptr<const ProcessSettings>(std::move(next))))
      return;
  }
}

ScopedProcessSettings::ScopedProcessSettings(const std::function<void(ProcessSettings&)>& change)
    : saved_(process_settings()) {
  update_process_settings(change);
}

ScopedProcessSettings::~ScopedProcessSettings() { current().store(saved_); }

void keep_freed_memory() {
  mallopt(M_TRIM_THRESHOLD, 128 << 20);
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
}

}  // namespace oapx1
