// The threads that run page work (anything that may wait on the database),
// apart from the threads that read and write connections, with a bounded
// queue: when the pages are slow, requests wait here up to a limit instead of
// holding the connection threads. Jobs of one key (a session) run one after
// the other, in the order posted: a job whose key is busy waits behind it
// without holding a thread, so one session sending requests at once never
// stalls the other sessions.
#ifndef OAPX1_SERVER_PAGE_WORKERS_H_
#define OAPX1_SERVER_PAGE_WORKERS_H_

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace oapx1 {

class PageWorkers {
 public:
  // Starts `threads` workers (at least one); at most `queue_limit` jobs wait
  // (for a worker or behind a job of their key).
  PageWorkers(int threads, size_t queue_limit);
  // Drops the jobs still waiting and waits for the running ones to end.
  ~PageWorkers();
  PageWorkers(const PageWorkers&) = delete;
  PageWorkers& operator=(const PageWorkers&) = delete;

  // Queues a job; false (and the job is not run) when the queue is full or the
  // workers are stopping. A job runs only once every job posted before it
  // with the same non-empty `key` has ended; jobs of an empty key run in any
  // order. A job must not throw; if it does, the failure is written to the
  // event log and the worker goes on. `then`, when set, runs after the job
  // once its key counts as free (or has passed to the key's next job): a
  // reply sent from there finds the key free when its client's next request
  // comes.
  bool try_post(std::string key, std::function<void()> job, std::function<void()> then = {});
  bool try_post(std::function<void()> job) { return try_post({}, std::move(job)); }

  // Runs a job on the calling thread at once when no job of `key` runs or
  // waits, holding the key as a worker would (later jobs of the key wait
  // behind it); false, with the job not run, when the key is busy or the
  // workers are stopping. The job must not throw.
  bool try_run_here(const std::string& key, const std::function<void()>& job);

  int threads() const { return static_cast<int>(threads_.size()); }
  // Jobs waiting (for a worker or behind their key), and jobs running.
  size_t waiting() const;
  size_t running() const;

 private:
  struct Work {
    std::function<void()> run;
    std::function<void()> then;
  };
  struct Job {
    std::string key;
    Work work;
  };
  void run();
  // Counts `job` as ended: its key's next job, if any, is ready. With
  // `take_next`, when no other job waits for a thread, that next job's work
  // is put in `job` instead, to run on the same thread, and true is returned.
  bool finish(Job& job, bool take_next);

  const size_t queue_limit_;
  mutable std::mutex mutex_;  // guards everything below but threads_
  std::condition_variable ready_;
  std::deque<Job> jobs_;      // ready to run
  // Keys with a job running or ready, and the jobs of that key posted since,
  // in order.
  std::unordered_map<std::string, std::deque<Work>> busy_;
  size_t held_ = 0;  // jobs in busy_'s queues
  size_t running_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace oapx1

#endif  // OAPX1_SERVER_PAGE_WORKERS_H_
