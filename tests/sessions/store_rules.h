// Rules every session store keeps, checked against each store by its own test.
#ifndef OAPX1_TESTS_SESSIONS_STORE_RULES_H_
#define OAPX1_TESTS_SESSIONS_STORE_RULES_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sessions/session_store.h"

namespace oapx1 {

// A sign-in beyond an account's cap of two ends the account's oldest session
// (names in any letter case); a renewed session counts once; a session
// without an account is not counted. `store` has a per-account cap of 2.
inline void expect_account_cap(SessionStore& store) {
  auto signed_in = [&](const char* account) {
    auto entry = std::make_shared<SessionEntry>();
    if (*account) entry->state.set_item("UserName", Variant(account));
    return entry;
  };
  const std::string a = store.add(signed_in("lisi"));
  const std::string b = store.add(signed_in("wangwu"));
  auto c_entry = signed_in("LiSi");
  const std::string c = store.add(c_entry);
  const std::string d = store.add(signed_in("lisi"));
  const std::string e = store.add(signed_in(""));
  const std::string c2 = store.renew(c, c_entry);  // a sign-in again in the same session
  struct Case {
    const std::string& id;
    bool kept;
  } cases[] = {{a, false}, {b, true}, {c, false}, {c2, true}, {d, true}, {e, true}};
  int n = 0;
  for (const Case& x : cases) EXPECT_EQ(store.find(x.id) != nullptr, x.kept) << "session " << n++;
}

}  // namespace oapx1

#endif  // OAPX1_TESTS_SESSIONS_STORE_RULES_H_
