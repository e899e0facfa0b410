// Work that should not wait for another connection's database lock: a
// request run on a thread that serves other connections too, say. While a
// LockWaitsRefused lives on a thread, a statement of that thread that would
// wait for a lock before any statement of the thread has written fails at
// once instead, and so does every statement after it; refused() then tells
// the owner to run the work again where waiting harms nobody. Once a
// statement has written, later ones wait as usual, so a refused piece of
// work has changed nothing in the database and running it again repeats no
// write.
#ifndef OAPX1_PLATFORM_DATA_LOCK_WAITS_H_
#define OAPX1_PLATFORM_DATA_LOCK_WAITS_H_

namespace oapx1 {

class LockWaitsRefused {
 public:
  LockWaitsRefused();
  ~LockWaitsRefused();
  LockWaitsRefused(const LockWaitsRefused&) = delete;
  LockWaitsRefused& operator=(const LockWaitsRefused&) = delete;

  // True once a statement of the thread was refused its wait.
  bool refused() const { return refused_; }

  // For the engines. True when a statement of this thread, about to wait for
  // a lock, must fail instead (and the scope is then refused).
  static bool refuse_wait();
  // Fails with the engine's "database is locked" failure when this thread's
  // scope was refused: nothing more of its work may run.
  static void check();
  // A statement of this thread has written.
  static void wrote();

 private:
  bool refused_ = false;
  bool wrote_ = false;
  LockWaitsRefused* outer_;
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_DATA_LOCK_WAITS_H_
