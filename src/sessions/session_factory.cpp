#include "sessions/session_factory.h"

#include <exception>
#include <stdexcept>
#include <utility>

namespace oapx1 {

namespace {

// Whether a setting names this process's memory.
bool names_memory(const std::string& setting) { return setting.empty() || setting == "memory"; }

}  // namespace

ConfiguredSessionStore::ConfiguredSessionStore(std::unique_ptr<MemorySessionStore> store)
    : store_(std::move(store)) {}

ConfiguredSessionStore::ConfiguredSessionStore(std::unique_ptr<RedisSessionStore> store)
    : redis_(store.get()) {
  store_ = std::move(store);
}

ConfiguredSessionStore make_session_store(const std::string& setting, SteadyClock clock,
                                          SharedSessionTimes times, SessionLimits limits) {
  if (names_memory(setting)) {
    return ConfiguredSessionStore(std::make_unique<MemorySessionStore>(std::move(clock), limits));
  }
  if (setting.rfind("redis://", 0) == 0) {
    return ConfiguredSessionStore(std::make_unique<RedisSessionStore>(parse_redis_url(setting), times, limits));
  }
  throw std::invalid_argument("session_store: expected memory or redis://host:port/db, not " + setting);
}

std::optional<std::string> session_store_problem(const std::string& setting, SharedSessionTimes times) {
  if (names_memory(setting)) return std::nullopt;
  try {
    return redis_session_store_problem(parse_redis_url(setting), times);
  } catch (const std::exception& e) {
    return std::string(e.what());
  }
}

}  // namespace oapx1
