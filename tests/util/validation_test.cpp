#include <set>
#include <string>

#include "support/page_fixture.h"
#include "platform/components/components.h"
#include "platform/files/type_lib.h"

namespace oapx1::testing {
namespace {

using ValidationTest = PageFixture<>;

TEST_F(ValidationTest, replacebadchar_removes_the_sixteen_characters_and_nothing_else) {
  const std::string all_bad = std::string("'%^&?()<>[]/\\;\"") + '\0';
  struct Case {
    Variant input;
    const char* expected;
  } cases[] = {
      {Variant(all_bad), "text:"},
      {Variant(all_bad + "x" + all_bad), "text:x"},
      {Variant("a'b<c>d\"e"), "text:abcde"},
      {Variant("100% & 50%"), "text:100  50"},
      {Variant("C:\\dir/file;x"), "text:C:dirfilex"},
      {Variant("!@#$*-+=_{}|:`~,.中文"), "text:!@#$*-+=_{}|:`~,.中文"},
      {Variant::null(), "text:"},
      {Variant(""), "text:"},
      {Variant(), "text:"},
      {Variant(42), "text:42"},
  };
  for (Case& c : cases) EXPECT_EQ(describe(page->replacebadchar(c.input)), c.expected);
}

TEST_F(ValidationTest, checkstring_doubles_apostrophes_and_leaves_the_argument) {
  struct Case {
    Variant input;
    const char* expected;
  } cases[] = {
      {Variant("O'Neil"), "text:O''Neil"}, {Variant("''"), "text:''''"}, {Variant(""), "text:"},
      {Variant::null(), "text:"},          {Variant(7), "text:7"},
  };
  for (Case& c : cases) {
    const std::string before = describe(c.input);
    Variant unused;
    EXPECT_EQ(describe(page->checkstring(c.input, unused, unused, unused)), c.expected);
    EXPECT_EQ(describe(c.input), before);
  }
}

TEST_F(ValidationTest, isvalidemail_applies_each_rule) {
  struct Case {
    const char* address;
    bool valid;
  } cases[] = {
      {"john.smith@mail.example.cn", true},
      {"A_b-9@Example.COM", true},
      {"x@y.org", true},
      {"x@example", false},        // domain without a dot
      {"a@b@example.com", false},  // two "@"
      {"a@@example.com", false},
      {"example.com", false},       // no "@"
      {"@example.com", false},      // empty local part
      {"a@", false},                // empty domain
      {".a@example.com", false},    // local part begins with a dot
      {"a.@example.com", false},    // ... or ends with one
      {"a@.example.com", false},    // domain begins with a dot
      {"a@example.com.", false},    // ... or ends with one
      {"a..b@example.com", false},  // two adjacent dots
      {"a@example..com", false},
      {"a b@example.com", false},   // space
      {"a+b@example.com", false},   // plus
      {"张三@example.com", false},  // non-ASCII
      {"a@example.c", false},       // last label of one letter
      {"a@example.info", false},    // ... of four
      {"a@example.123", true},      // digits count as characters of the label
      {"", false},
  };
  for (const Case& c : cases) {
    Variant address = c.address;
    EXPECT_EQ(describe(page->isvalidemail(address)), c.valid ? "bool:True" : "bool:False")
        << c.address;
  }
  EXPECT_TRUE(events().empty());
}

TEST_F(ValidationTest, isvalidemail_of_null_is_false_without_a_report) {
  Variant address = Variant::null();
  EXPECT_EQ(describe(page->isvalidemail(address)), "bool:False");
  EXPECT_TRUE(events().empty());
  EXPECT_EQ(output(), "");
}

TEST_F(ValidationTest, to_number_trims_the_argument_in_place_and_reads_digits_only) {
  struct Case {
    Variant input;
    const char* result;
    const char* argument_after;
  } cases[] = {
      {Variant("  42  "), "number:42", "text:42"},
      {Variant("007"), "number:7", "text:007"},
      {Variant("4 2"), "number:0", "text:4 2"},
      {Variant(" -5"), "number:0", "text:-5"},
      {Variant("1.5"), "number:0", "text:1.5"},
      {Variant("+1"), "number:0", "text:+1"},
      {Variant("４２"), "number:0", "text:４２"},
      {Variant("   "), "number:0", "text:"},
      {Variant(""), "number:0", "text:"},
      {Variant::null(), "number:0", "null"},
      {Variant(42), "number:42", "text:42"},
      {Variant("12345678901234567890"), "number:1.23456789012346E+19", "text:12345678901234567890"},
  };
  for (Case& c : cases) {
    EXPECT_EQ(describe(page->to_number(c.input)), c.result);
    EXPECT_EQ(describe(c.input), c.argument_after);
  }
}

TEST_F(ValidationTest, to_number_of_digits_beyond_a_double_is_an_overflow) {
  Variant huge = std::string(400, '9');
  EXPECT_TRUE(page->to_number(huge).is_empty());
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(events()[0].second, " 6Overflow LINE #0 Routine : tvwortqflowjiedia.to_number");
}

TEST_F(ValidationTest, to_number_leaves_the_shared_counter_where_the_walk_ended) {
  Variant digits = "123";
  page->to_number(digits);
  EXPECT_EQ(describe(page->i), "number:4");
  Variant mixed = "12x4";
  page->to_number(mixed);
  EXPECT_EQ(describe(page->i), "number:3");
}

TEST_F(ValidationTest, iif_chooses_by_the_condition_and_null_counts_as_false) {
  struct Case {
    Variant condition;
    const char* expected;
  } cases[] = {
      {Variant(true), "text:yes"},   {Variant(false), "text:no"}, {Variant::null(), "text:no"},
      {Variant(), "text:no"},        {Variant(0), "text:no"},     {Variant(-1), "text:yes"},
      {Variant("True"), "text:yes"}, {Variant("0"), "text:no"},
  };
  for (Case& c : cases) {
    Variant yes = "yes", no = "no";
    EXPECT_EQ(describe(page->iif(c.condition, yes, no)), c.expected);
  }
}

TEST_F(ValidationTest, gernd_draws_letters_and_digits_of_the_asked_length) {
  const std::string alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  std::set<char> seen;
  for (int round = 0; round < 50; ++round) {
    Variant length = 8;
    const Variant key = page->gernd(length);
    ASSERT_TRUE(key.is_text());
    ASSERT_EQ(key.text().size(), 8u);
    for (char ch : key.text()) {
      EXPECT_NE(alphabet.find(ch), std::string::npos) << ch;
      seen.insert(ch);
    }
  }
  // 400 draws from 62 characters reach both ends of the table.
  EXPECT_GT(seen.size(), 40u);
  Variant length = 16;
  EXPECT_NE(page->gernd(length).text(), page->gernd(length).text());
}

TEST_F(ValidationTest, gernd_of_no_length_is_empty_and_of_a_non_number_fails) {
  for (Variant length : {Variant(0), Variant(-3), Variant::null()})
    EXPECT_EQ(describe(page->gernd(length)), "empty");
  EXPECT_TRUE(events().empty());
  Variant text = "abc";
  EXPECT_EQ(describe(page->gernd(text)), "empty");
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(output(), " Error Type mismatch LINE0 Routine : tvwortqflowjiedia.gernd");
}

TEST_F(ValidationTest, getuid_gives_32_upper_case_hex_digits_of_a_random_uuid) {
  const std::string first = page->getuid().text();
  const std::string second = page->getuid().text();
  for (const std::string& id : {first, second}) {
    ASSERT_EQ(id.size(), 32u) << id;
    EXPECT_EQ(id.find_first_not_of("0123456789ABCDEF"), std::string::npos) << id;
    EXPECT_EQ(id[12], '4') << id;                                          // version 4
    EXPECT_NE(std::string("89AB").find(id[16]), std::string::npos) << id;  // variant
  }
  EXPECT_NE(first, second);

  const std::string guid = CreateObject("Scriptlet.TypeLib").as<TypeLib>().Guid();
  ASSERT_EQ(guid.size(), 38u);
  EXPECT_EQ(guid.front(), '{');
  EXPECT_EQ(guid.back(), '}');
  for (size_t at : {9u, 14u, 19u, 24u}) EXPECT_EQ(guid[at], '-');
}

TEST_F(ValidationTest, getuid_without_the_type_library_reports_and_returns_empty) {
  unregister_component("Scriptlet.TypeLib");
  EXPECT_EQ(describe(page->getuid()), "empty");
  register_component("Scriptlet.TypeLib", [] { return std::make_shared<TypeLib>(); });
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(events()[0].second,
            " 429ActiveX component can't create object LINE #0 Routine : "
            "tvwortqflowjiedia.getuid");
}

}  // namespace
}  // namespace oapx1::testing
