// The context of the call under way on this thread, as the layers below the
// host need it: whether the call may write to a database, where what it reads
// and does is reported (its watches), and the request's reads, under which an
// engine asks for the database's version once and shares the answer among its
// connections. The host sets it up through scopes on the thread that runs the
// call (HostCall, CallWatch, RequestReads); the data layer, the components and
// the event log ask it. It lies below platform/data and platform/web, so that
// neither reaches into the other for it.
#ifndef OAPX1_PLATFORM_CALL_CALL_CONTEXT_H_
#define OAPX1_PLATFORM_CALL_CALL_CONTEXT_H_

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

// Whether the call under way on this thread may write to a database: false
// while the host's call has promised that its page only reads (set through
// set_call_reads_only; the web host does so from ObjectContext::reads_only).
bool call_may_write();
// Makes the calls on this thread from now on promise to only read (`true`) or
// not; stays until set again. Cheap.
void set_call_reads_only(bool reads_only);

// What the output of one host call depends on beyond the inputs the host
// hands it (request, session and application items): the data it read, and
// whether it touched anything that a later call could find changed without
// the host being able to tell (the clock, random numbers, files, mail, the
// event log, a write, a read that was not kept). A host that would answer a
// later call with the output of an earlier one watches the earlier call, and
// does so only when the watch finds it repeatable.
//
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
  // two different stamps make it unrepeatable. A no-op when none watches.
  static void read_data(const DataStamp& stamp);

 private:
  CallWatch* outer_;                // the watch this one is nested in; null when none
  bool repeatable_ = true;          // see repeatable()
  std::optional<DataStamp> data_;   // see data()
};

// The reads of one request on this thread. An engine that has to ask its
// server for the database's version before it may hand out a kept result
// (PostgreSQL) asks once in a request, not once per statement, and shares
// the answer among the request's engine connections (note_version). A
// request still never sees data older than the last commit made before it
// began: the version is read after the request began, and anything on this
// thread that may write asks for it again.
//
// Marks a request's work on this thread for as long as it lives. Scopes
// nest: an inner one joins the outer one. Not copyable.
class RequestReads {
 public:
  RequestReads();
  ~RequestReads();
  RequestReads(const RequestReads&) = delete;
  RequestReads& operator=(const RequestReads&) = delete;

  // The number of the reads under way on this thread: unique in the process
  // and changed by changed(); 0 outside any scope, where nothing is shared.
  static uint64_t current();

  // Something on this thread may have written to a database: a version read
  // before no longer holds for the rest of the request. Cheap; a no-op
  // outside any scope.
  static void changed();

  // The version of the database of `server` (a number naming the server,
  // unique in the process) noted for the reads under way; none when none was
  // noted since they began, or a version of another server was noted since.
  static std::optional<int64_t> noted_version(uint64_t server);
  // Notes `version` of the database of `server` for the reads under way, in
  // place of any version noted before. A no-op outside any scope.
  static void note_version(uint64_t server, int64_t version);
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_CALL_CALL_CONTEXT_H_
