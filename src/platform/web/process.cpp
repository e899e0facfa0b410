#include "platform/web/process.h"

#include <malloc.h>

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
