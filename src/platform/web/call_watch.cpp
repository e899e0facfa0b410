#include "platform/web/call_watch.h"

namespace oapx1 {
namespace {

thread_local CallWatch* innermost = nullptr;  // the newest watch on this thread

}  // namespace

CallWatch::CallWatch() : outer_(innermost) { innermost = this; }

CallWatch::~CallWatch() { innermost = outer_; }

void CallWatch::unrepeatable() {
  for (CallWatch* w = innermost; w != nullptr; w = w->outer_) w->repeatable_ = false;
}

void CallWatch::read_data(const DataStamp& stamp) {
  for (CallWatch* w = innermost; w != nullptr; w = w->outer_) {
    if (!w->data_) {
      w->data_ = stamp;
    } else if (*w->data_ != stamp) {
      w->repeatable_ = false;
    }
  }
}

}  // namespace oapx1
