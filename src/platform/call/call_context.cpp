#include "platform/call/call_context.h"

#include <atomic>

namespace oapx1 {
namespace {

// The call under way on one thread.
struct ThisCall {
  bool reads_only = false;          // see call_may_write()
  CallWatch* innermost = nullptr;   // the newest watch; null when none
  int reads_depth = 0;              // RequestReads scopes open
  uint64_t reads = 0;               // the reads under way; 0 outside any scope
  // The version last noted, the reads it was noted for and its server.
  uint64_t version_reads = 0;
  uint64_t version_server = 0;
  int64_t version = 0;
};

// Per thread: the host opens a call's scopes on the thread that runs the
// call, and the layers below find them there, under page code that passes
// nothing along.
constinit thread_local ThisCall t_call;

std::atomic<uint64_t> next_reads{1};

uint64_t fresh_reads() { return next_reads.fetch_add(1, std::memory_order_relaxed); }

}  // namespace

bool call_may_write() { return !t_call.reads_only; }

void set_call_reads_only(bool reads_only) { t_call.reads_only = reads_only; }

CallWatch::CallWatch() : outer_(t_call.innermost) { t_call.innermost = this; }

CallWatch::~CallWatch() { t_call.innermost = outer_; }

void CallWatch::unrepeatable() {
  for (CallWatch* w = t_call.innermost; w != nullptr; w = w->outer_) w->repeatable_ = false;
}

void CallWatch::read_data(const DataStamp& stamp) {
  for (CallWatch* w = t_call.innermost; w != nullptr; w = w->outer_) {
    if (!w->data_) {
      w->data_ = stamp;
    } else if (*w->data_ != stamp) {
      w->repeatable_ = false;
    }
  }
}

RequestReads::RequestReads() {
  if (t_call.reads_depth++ == 0) t_call.reads = fresh_reads();
}

RequestReads::~RequestReads() {
  if (--t_call.reads_depth == 0) t_call.reads = 0;
}

uint64_t RequestReads::current() { return t_call.reads; }

void RequestReads::changed() {
  if (t_call.reads_depth > 0) t_call.reads = fresh_reads();
}

std::optional<int64_t> RequestReads::noted_version(uint64_t server) {
  if (t_call.reads == 0 || t_call.version_reads != t_call.reads || t_call.version_server != server) {
    return std::nullopt;
  }
  return t_call.version;
}

void RequestReads::note_version(uint64_t server, int64_t version) {
  if (t_call.reads == 0) return;
  t_call.version_reads = t_call.reads;
  t_call.version_server = server;
  t_call.version = version;
}

}  // namespace oapx1
