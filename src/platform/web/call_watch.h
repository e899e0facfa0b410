// What the output of one host call depends on beyond the inputs the host
// hands it (request, session and application items): the data it read, and
// whether it touched anything that a later call could find changed without
// the host being able to tell (the clock, random numbers, files, mail, the
// event log, a write, a read that was not kept). A host that would answer a
// later call with the output of an earlier one watches the earlier call, and
// does so only when the watch finds it repeatable.
#ifndef OAPX1_PLATFORM_WEB_CALL_WATCH_H_
#define OAPX1_PLATFORM_WEB_CALL_WATCH_H_

#include <cstdint>
#include <optional>

namespace oapx1 {

// The state of one engine connection's kept results: equal stamps mean that
// every result kept at the first is still handed out at the second.
struct DataStamp {
  uint64_t source = 0;  // the kept results, numbered uniquely in the process
  uint64_t epoch = 0;   // changes whenever any kept result may no longer hold
  friend bool operator==(const DataStamp&, const DataStamp&) = default;
};

// Watches the calls on this thread while it lives. Watches nest: what the
// inner one sees, the outer ones see too. Not copyable.
class CallWatch {
 public:
  CallWatch();
  ~CallWatch();
  CallWatch(const CallWatch&) = delete;
  CallWatch& operator=(const CallWatch&) = delete;

  // True while the output depends on nothing but the host's inputs and on
  // data read at one stamp (or none).
  bool repeatable() const { return repeatable_; }
  // The stamp of the data read; none when nothing was read.
  const std::optional<DataStamp>& data() const { return data_; }

  // The call did something whose outcome may differ next time unseen: every
  // watch on this thread now finds it unrepeatable. A no-op when none watches.
  static void unrepeatable();
  // The call read a kept result of the engine connection at `stamp`; reads at
  // two different stamps make it unrepeatable.
  static void read_data(const DataStamp& stamp);

 private:
  CallWatch* outer_;                // the watch this one is nested in; null when none
  bool repeatable_ = true;          // see repeatable()
  std::optional<DataStamp> data_;   // see data()
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_WEB_CALL_WATCH_H_
