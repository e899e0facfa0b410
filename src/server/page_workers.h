// The threads that run page work (anything that may wait on the database),
// apart from the threads that read and write connections, with a bounded
// queue: when the pages are slow, requests wait here up to a limit instead of
// holding the connection threads.
#ifndef OAPX1_SERVER_PAGE_WORKERS_H_
#define OAPX1_SERVER_PAGE_WORKERS_H_

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace oapx1 {

class PageWorkers {
 public:
  // Starts `threads` workers (at least one); at most `queue_limit` jobs wait
  // for a worker.
  PageWorkers(int threads, size_t queue_limit);
  // Drops the jobs still waiting and waits for the running ones to end.
  ~PageWorkers();
  PageWorkers(const PageWorkers&) = delete;
  PageWorkers& operator=(const PageWorkers&) = delete;

  // Queues a job; false (and the job is not run) when the queue is full or the
  // workers are stopping. A job must not throw; if it does, the failure is
  // written to the event log and the worker goes on.
  bool try_post(std::function<void()> job);

  int threads() const { return static_cast<int>(threads_.size()); }
  // Jobs waiting for a worker (not those running), and jobs running.
  size_t waiting() const;
  size_t running() const;

 private:
  void run();

  const size_t queue_limit_;
  mutable std::mutex mutex_;                  // guards jobs_, running_ and stopping_
  std::condition_variable ready_;
  std::deque<std::function<void()>> jobs_;
  size_t running_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace oapx1

#endif  // OAPX1_SERVER_PAGE_WORKERS_H_
