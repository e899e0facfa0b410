// Sessions in memory: the bytes one signed-in session holds (the allocator's
// count of bytes in use, divided over 100,000 sessions), and the cost of a
// sign-in once the store is at its total cap or an account at its own, where
// each sign-in ends another session. The cost must not grow with the cap.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "sessions/session_store.h"

namespace {

using oapx1::MemorySessionStore;
using oapx1::SessionEntry;
using oapx1::SessionLimits;
using oapx1::Variant;

// A session as a sign-in leaves it: the items the sign-in stores.
std::shared_ptr<SessionEntry> signed_in(const std::string& account) {
  auto entry = std::make_shared<SessionEntry>();
  entry->state.set_item("SystemURL", Variant(std::string("/oa/")));
  entry->state.set_item("UserName", Variant(account));
  entry->state.set_item("_LogUserName", Variant(account));
  entry->state.set_item("_LogUserIPAddress", Variant(std::string("192.0.2.17")));
  entry->state.set_timeout(45);
  return entry;
}

oapx1::SteadyClock now() { return std::chrono::steady_clock::now; }

void BM_BytesPerSession(benchmark::State& state) {
  const size_t sessions = static_cast<size_t>(state.range(0));
  double per_session = 0;
  for (auto _ : state) {
    const size_t before = mallinfo2().uordblks;
    {
      MemorySessionStore store(now(), SessionLimits{20, sessions});
      for (size_t i = 0; i < sessions; ++i) store.add(signed_in("user" + std::to_string(i % 5000)));
      per_session = static_cast<double>(mallinfo2().uordblks - before) / static_cast<double>(sessions);
      benchmark::DoNotOptimize(store.size());
    }
  }
  state.counters["bytes_per_session"] = per_session;
}
BENCHMARK(BM_BytesPerSession)->Arg(100'000)->Iterations(1)->Unit(benchmark::kMillisecond);

// Sign-ins into a store kept full: each one ends the least recently used session.
void BM_SignInAtTotalCap(benchmark::State& state) {
  const size_t cap = static_cast<size_t>(state.range(0));
  MemorySessionStore store(now(), SessionLimits{0, cap});
  size_t n = 0;
  for (size_t i = 0; i < cap; ++i) store.add(signed_in("user" + std::to_string(n++)));
  for (auto _ : state) store.add(signed_in("user" + std::to_string(n++)));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SignInAtTotalCap)->Arg(1'000)->Arg(100'000);

// Sign-ins of one account at its cap: each one ends the account's oldest session.
void BM_SignInAtAccountCap(benchmark::State& state) {
  MemorySessionStore store(now(), SessionLimits{static_cast<size_t>(state.range(0)), 0});
  for (auto _ : state) store.add(signed_in("admin"));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SignInAtAccountCap)->Arg(20)->Arg(1'000);

}  // namespace
