#include "platform/data/writer_gate.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <unordered_map>

namespace oapx1 {

bool WriterGate::enter(std::chrono::milliseconds patience) {
  const std::thread::id me = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(mutex_);
  if (!held_) {
    held_ = true;
    holder_ = me;
    return true;
  }
  if (holder_ == me) return false;
  Waiter waiter;
  waiter.thread = me;
  queue_.push_back(&waiter);
  const auto deadline = std::chrono::steady_clock::now() + patience;
  const bool granted = waiter.wake.wait_until(lock, deadline, [&] { return waiter.granted; });
  if (!granted) queue_.erase(std::find(queue_.begin(), queue_.end(), &waiter));
  return granted;
}

void WriterGate::leave() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (queue_.empty()) {
    held_ = false;
    holder_ = {};
    return;
  }
  // Handed over, never set free: a writer arriving now queues behind.
  Waiter* next = queue_.front();
  queue_.pop_front();
  holder_ = next->thread;
  next->granted = true;
  next->wake.notify_one();
}

size_t WriterGate::waiting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

bool WriterGate::held() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return held_;
}

std::shared_ptr<WriterGate> writer_gate_for(const std::string& path) {
  if (path.empty()) return nullptr;
  // Every name of one file (through a link, or relative) leads to one gate.
  std::error_code ec;
  std::string file = std::filesystem::weakly_canonical(path, ec).string();
  if (ec || file.empty()) file = path;
  static std::mutex mutex;
  // Gates of files no connection has open any more are dropped as others are made.
  static std::unordered_map<std::string, std::weak_ptr<WriterGate>> gates;
  std::lock_guard<std::mutex> lock(mutex);
  std::erase_if(gates, [](const auto& entry) { return entry.second.expired(); });
  std::weak_ptr<WriterGate>& slot = gates[file];
  std::shared_ptr<WriterGate> gate = slot.lock();
  if (!gate) {
    gate = std::make_shared<WriterGate>();
    slot = gate;
  }
  return gate;
}

}  // namespace oapx1
