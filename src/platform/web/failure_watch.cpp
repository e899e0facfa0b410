#include "platform/web/failure_watch.h"

namespace oapx1 {
namespace {

constinit thread_local FailureWatch* t_watch = nullptr;  // the innermost watch of this thread

}  // namespace

FailureWatch::FailureWatch() : outer_(t_watch) { t_watch = this; }

FailureWatch::~FailureWatch() { t_watch = outer_; }

void FailureWatch::note() {
  if (t_watch) ++t_watch->failures_;
}

}  // namespace oapx1
