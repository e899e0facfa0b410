// Password checks on the hashing threads.
#include <gtest/gtest.h>

#include <future>
#include <string>

#include "platform/crypto/password_hash.h"
#include "platform/crypto/password_hash_pool.h"

namespace oapx1 {
namespace {

// What a check finds: only a hash of exactly the password matches; an
// account without a hash (unknown, or a plain-text password) never does,
// though it is checked all the same.
TEST(PasswordHashPool, a_check_matches_only_a_hash_of_the_password) {
  const std::string hash = hash_password("demo");
  struct Case {
    std::string stored;
    std::string password;
    bool matches;
  };
  const Case cases[] = {
      {hash, "demo", true},
      {hash, "Demo", false},
      {hash, "", false},
      {"", "demo", false},          // no account: the stand-in hash
      {"demo", "demo", false},      // plain text is compared by the caller
      {hash.substr(0, 40), "demo", false},  // a damaged hash
  };
  PasswordHashPool pool(2, 16);
  for (const Case& c : cases) {
    std::promise<bool> found;
    ASSERT_TRUE(pool.try_check(c.stored, c.password, [&](bool matches) { found.set_value(matches); }));
    EXPECT_EQ(found.get_future().get(), c.matches) << c.stored << " / " << c.password;
  }
}

// Checks wait up to the queue's limit; beyond it they are refused, not run.
TEST(PasswordHashPool, checks_beyond_the_queue_are_refused) {
  PasswordHashPool pool(1, 0);  // no place to wait
  EXPECT_FALSE(pool.try_check("", "x", [](bool) { ADD_FAILURE() << "a refused check ran"; }));
}

}  // namespace
}  // namespace oapx1
