#include "server/page_workers.h"

#include <exception>
#include <string>

#include "platform/web/event_log.h"

namespace oapx1 {

PageWorkers::PageWorkers(int threads, size_t queue_limit) : queue_limit_(queue_limit) {
  for (int i = 0; i < std::max(1, threads); ++i) threads_.emplace_back([this] { run(); });
}

PageWorkers::~PageWorkers() {
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stopping_ = true;
    dropped.swap(jobs_);
  }
  ready_.notify_all();
  for (std::thread& t : threads_) t.join();
}

bool PageWorkers::try_post(std::function<void()> job) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (stopping_ || jobs_.size() >= queue_limit_) return false;
    jobs_.push_back(std::move(job));
  }
  ready_.notify_one();
  return true;
}

size_t PageWorkers::waiting() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return jobs_.size();
}

size_t PageWorkers::running() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return running_;
}

void PageWorkers::run() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
      ++running_;
    }
    try {
      job();
    } catch (const std::exception& e) {
      event_log().write(kEventError, std::string("oapx1 serve: page worker: ") + e.what());
    } catch (...) {
      event_log().write(kEventError, "oapx1 serve: page worker: unknown failure");
    }
    job = nullptr;  // what the job holds goes before it counts as done
    std::lock_guard<std::mutex> guard(mutex_);
    --running_;
  }
}

}  // namespace oapx1
