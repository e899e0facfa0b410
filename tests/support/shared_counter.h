// A counter in memory shared with the processes this one forks, for tests in
// which a child process reports how far it has come.
#ifndef OAPX1_TESTS_SUPPORT_SHARED_COUNTER_H_
#define OAPX1_TESTS_SUPPORT_SHARED_COUNTER_H_

#include <sys/mman.h>

#include <atomic>
#include <new>
#include <stdexcept>

namespace oapx1::testing {

class SharedCounter {
 public:
  // Starts at 0; fails with std::runtime_error when no memory can be shared.
  SharedCounter() {
    void* memory = mmap(nullptr, sizeof(std::atomic<long>), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) throw std::runtime_error("no shared memory for a counter");
    value_ = new (memory) std::atomic<long>(0);
  }
  ~SharedCounter() { munmap(value_, sizeof(std::atomic<long>)); }
  SharedCounter(const SharedCounter&) = delete;
  SharedCounter& operator=(const SharedCounter&) = delete;

  std::atomic<long>* operator->() const { return value_; }

 private:
  std::atomic<long>* value_;
};

}  // namespace oapx1::testing

#endif  // OAPX1_TESTS_SUPPORT_SHARED_COUNTER_H_
