// Whether the page run on this thread reported a failure: the failure handler
// notes each one it reports, and the host, which watches a page it runs,
// answers a failed page of its own with a page that says so instead of the
// page's partial output.
#ifndef OAPX1_PLATFORM_WEB_FAILURE_WATCH_H_
#define OAPX1_PLATFORM_WEB_FAILURE_WATCH_H_

namespace oapx1 {

// Counts the failures reported on this thread for as long as it lives.
// Watches nest: the innermost one counts. Not copyable.
class FailureWatch {
 public:
  FailureWatch();
  ~FailureWatch();
  FailureWatch(const FailureWatch&) = delete;
  FailureWatch& operator=(const FailureWatch&) = delete;

  // A failure was reported on this thread; a no-op when none watches.
  static void note();
  // True when a failure was noted since the watch began.
  bool failed() const { return failures_ > 0; }

 private:
  FailureWatch* outer_;  // the watch this one is nested in; null when none
  int failures_ = 0;     // failures noted while this one is innermost
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_WEB_FAILURE_WATCH_H_
