#include "platform/data/request_reads.h"

#include <atomic>

namespace oapx1 {
namespace {

std::atomic<uint64_t> next_number{1};
thread_local int depth = 0;            // scopes open on this thread
thread_local uint64_t number = 0;      // the reads under way; 0 outside

uint64_t fresh_number() { return next_number.fetch_add(1, std::memory_order_relaxed); }

}  // namespace

RequestReads::RequestReads() {
  if (depth++ == 0) number = fresh_number();
}

RequestReads::~RequestReads() {
  if (--depth == 0) number = 0;
}

uint64_t RequestReads::current() { return number; }

void RequestReads::changed() {
  if (depth > 0) number = fresh_number();
}

}  // namespace oapx1
