// The queue of one process's writers to one database file. SQLite lets one
// connection write at a time; a connection that finds the write lock taken
// is left to poll for it in the busy handler, sleeping for longer and longer,
// so that among many writers some wait far longer than the others. Writers
// that pass the gate first instead wait their turn here, in the order they
// came, and are woken the moment the writer before them is done.
#ifndef OAPX1_PLATFORM_DATA_WRITER_GATE_H_
#define OAPX1_PLATFORM_DATA_WRITER_GATE_H_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace oapx1 {

// Thread-safe. One holder at a time; the gate passes from a holder straight
// to the writer that has waited the longest, so no newcomer overtakes a
// waiter.
class WriterGate {
 public:
  WriterGate() = default;
  WriterGate(const WriterGate&) = delete;
  WriterGate& operator=(const WriterGate&) = delete;

  // Waits until the calling thread holds the gate, in arrival order, for at
  // most `patience`; false when the time ran out (the gate is not held), or
  // at once when the calling thread holds it already (through another
  // connection: waiting for itself would never end).
  bool enter(std::chrono::milliseconds patience);
  // Hands the gate to the writer that has waited the longest, or leaves it
  // free. Only its holder may call it.
  void leave();

  // Writers waiting for the gate now.
  size_t waiting() const;
  // Whether a writer holds the gate now.
  bool held() const;

 private:
  struct Waiter {
    std::thread::id thread;
    std::condition_variable wake;
    bool granted = false;
  };

  mutable std::mutex mutex_;  // guards everything below
  bool held_ = false;
  std::thread::id holder_;
  std::list<Waiter*> queue_;  // longest waiting first; each lives on its waiter's stack
};

// The gate of the database file at `path` in this process: the same gate for
// every connection to that file, by whatever name. An empty name (a database
// in memory, private to its connection) has none: null.
std::shared_ptr<WriterGate> writer_gate_for(const std::string& path);

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_DATA_WRITER_GATE_H_
