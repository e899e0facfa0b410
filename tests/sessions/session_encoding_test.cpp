// A session's state as text and back, and the merging of two requests'
// changes of one session.
#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

#include "platform/script/variant.h"
#include "sessions/session_encoding.h"

namespace oapx1 {
namespace {

// A request's change applied over what another request wrote meanwhile.
TEST(SessionMerge, a_change_keeps_what_another_request_wrote_meanwhile) {
  auto text = [](int minutes, std::initializer_list<std::pair<const char*, long long>> items) {
    MemorySession s;
    s.set_timeout(minutes);
    for (const auto& [name, value] : items) s.set_item(name, Variant(value));
    return encode_session(s);
  };
  struct Case {
    const char* what;
    std::string before, mine, current, merged;
  } cases[] = {
      {"different items both kept", text(20, {{"n", 1}}), text(20, {{"n", 1}, {"a", 1}}),
       text(20, {{"n", 2}}), text(20, {{"n", 2}, {"a", 1}})},
      {"the same item: this request's value", text(20, {{"n", 1}}), text(20, {{"n", 3}}),
       text(20, {{"n", 2}}), text(20, {{"n", 3}})},
      {"names in another letter case are the same item", text(20, {{"N", 1}}), text(20, {{"N", 3}}),
       text(20, {{"n", 2}, {"b", 1}}), text(20, {{"N", 3}, {"b", 1}})},
      {"an unchanged time-out keeps the other's", text(20, {}), text(20, {{"a", 1}}), text(45, {}),
       text(45, {{"a", 1}})},
      {"a changed time-out wins", text(20, {}), text(30, {}), text(45, {}), text(30, {})},
  };
  for (const Case& c : cases) {
    MemorySession want, got;
    ASSERT_TRUE(decode_session(c.merged, want));
    const std::optional<std::string> merged = merge_session_change(c.before, c.mine, c.current);
    ASSERT_TRUE(merged) << c.what;
    ASSERT_TRUE(decode_session(*merged, got)) << c.what;
    EXPECT_EQ(got.timeout(), want.timeout()) << c.what;
    EXPECT_EQ(got.items().size(), want.items().size()) << c.what;
    for (const auto& [name, value] : want.items()) EXPECT_EQ(got.item(name).str(), value.str()) << c.what << " " << name;
  }
  EXPECT_FALSE(merge_session_change(text(20, {}), text(20, {}), "not a session"));
}

TEST(SessionEncoding, every_item_keeps_its_type_and_value_objects_are_left_out) {
  MemorySession state;
  state.set_timeout(45);
  state.set_code_page(65001);
  state.set_item("UserName", Variant("管理员 \"x\"\n"));
  state.set_item("n", Variant(42LL));
  state.set_item("r", Variant(0.1));
  state.set_item("b", Variant(true));
  state.set_item("d", Variant(make_datetime(2024, 3, 5, 8, 9, 10)));
  state.set_item("nul", Variant::null());
  state.set_item("empty", Variant());
  state.set_item("obj", Variant::nothing());
  MemorySession back;
  ASSERT_TRUE(decode_session(encode_session(state), back));
  EXPECT_EQ(back.timeout(), 45);
  EXPECT_EQ(back.code_page(), 65001);
  EXPECT_EQ(back.items().size(), 7u);
  for (const auto& [name, value] : state.items()) {
    if (value.is_object()) continue;
    const Variant got = back.item(name);
    EXPECT_EQ(got.type(), value.type()) << name;
    EXPECT_EQ(got.str(), value.str()) << name;
  }
  EXPECT_FALSE(decode_session("20\n{not json", back));
  EXPECT_FALSE(decode_session("no minutes", back));
}

}  // namespace
}  // namespace oapx1
