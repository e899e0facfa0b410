#include "server/page_workers.h"

#include <exception>
#include <string>

#include "platform/web/event_log.h"

namespace oapx1 {
namespace {

// Runs a job; a failure it lets out goes to the event log.
void run_logged(const std::function<void()>& job) {
  try {
    job();
  } catch (const std::exception& e) {
    event_log().write(kEventError, std::string("oapx1 serve: page worker: ") + e.what());
  } catch (...) {
    event_log().write(kEventError, "oapx1 serve: page worker: unknown failure");
  }
}

}  // namespace

PageWorkers::PageWorkers(int threads, size_t queue_limit) : queue_limit_(queue_limit) {
  for (int i = 0; i < std::max(1, threads); ++i) threads_.emplace_back([this] { run(); });
}

PageWorkers::~PageWorkers() {
  std::deque<Job> dropped;
  std::unordered_map<std::string, std::deque<Work>> dropped_held;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stopping_ = true;
    dropped.swap(jobs_);
    dropped_held.swap(busy_);
    held_ = 0;
  }
  ready_.notify_all();
  for (std::thread& t : threads_) t.join();
}

bool PageWorkers::try_post(std::string key, std::function<void()> job, std::function<void()> then) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (stopping_ || jobs_.size() + held_ >= queue_limit_) return false;
    if (!key.empty()) {
      auto [it, fresh] = busy_.try_emplace(key);
      if (!fresh) {
        // A job of this session runs or waits: this one follows it.
        it->second.push_back(Work{std::move(job), std::move(then)});
        ++held_;
        return true;
      }
    }
    jobs_.push_back(Job{std::move(key), Work{std::move(job), std::move(then)}});
  }
  ready_.notify_one();
  return true;
}

size_t PageWorkers::waiting() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return jobs_.size() + held_;
}

size_t PageWorkers::running() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return running_;
}

void PageWorkers::run() {
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
      ++running_;
    }
    for (;;) {
      run_logged(job.work.run);
      job.work.run = nullptr;  // what the job holds goes before it counts as done
      std::function<void()> then = std::move(job.work.then);
      job.work.then = nullptr;
      const bool more = finish(job, true);
      if (then) run_logged(then);
      if (!more) break;
    }
  }
}

bool PageWorkers::finish(Job& job, bool take_next) {
  bool next = false;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!job.key.empty() && !stopping_) {
      // The key's next job, if any, is ready now; else the key is free.
      auto it = busy_.find(job.key);
      if (it != busy_.end()) {
        if (it->second.empty()) {
          busy_.erase(it);
        } else {
          Work following = std::move(it->second.front());
          it->second.pop_front();
          --held_;
          if (take_next && jobs_.empty()) {
            // Nothing else waits: this thread goes on with it, sparing the
            // wake of another.
            job.work = std::move(following);
            return true;
          }
          jobs_.push_back(Job{job.key, std::move(following)});
          next = true;
        }
      }
    }
    --running_;
  }
  if (next) ready_.notify_one();
  return false;
}

bool PageWorkers::try_run_here(const std::string& key, const std::function<void()>& job) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (stopping_) return false;
    if (!key.empty() && !busy_.try_emplace(key).second) return false;
    ++running_;
  }
  run_logged(job);
  Job ended{key, {}};
  finish(ended, false);
  return true;
}

}  // namespace oapx1
