// The store in this process's memory: its caps, and the ids every store
// keeps sessions under.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sessions/session_store.h"
#include "store_rules.h"

namespace oapx1 {
namespace {

TEST(MemorySessions, an_account_keeps_its_newest_sessions) {
  MemorySessionStore store(std::chrono::steady_clock::now, SessionLimits{2, 0});
  expect_account_cap(store);
}

TEST(MemorySessions, beyond_the_total_cap_the_least_recently_used_goes) {
  MemorySessionStore store(std::chrono::steady_clock::now, SessionLimits{0, 3});
  std::vector<std::shared_ptr<SessionEntry>> entries;
  std::vector<std::string> ids;
  auto add = [&] {
    entries.push_back(std::make_shared<SessionEntry>());
    ids.push_back(store.add(entries.back()));
  };
  add(), add(), add();
  ASSERT_TRUE(store.find(ids[0]));  // used: 0, then 2, 1
  add();                            // 1 goes
  store.touch(*entries[2]);         // a request of 2 ends: 2, 3, 0
  add();                            // 0 goes
  EXPECT_EQ(store.size(), 3u);
  const bool kept[] = {false, false, true, true, true};
  for (size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(store.find(ids[i]) != nullptr, kept[i]) << i;
  // A session the cap dropped while its request ran is not brought back.
  store.touch(*entries[0]);
  EXPECT_FALSE(store.find(ids[0]));
}

TEST(SessionIds, are_32_lower_case_hex_digits_and_never_repeat) {
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string id = new_session_id();
    ASSERT_EQ(id.size(), 32u) << id;
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos) << id;
    EXPECT_TRUE(seen.insert(id).second) << id;
  }
}

}  // namespace
}  // namespace oapx1
