// The regular-expression stand-in, through the class id the page creates it by.
#include "platform/script/regexp.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/components/components.h"

namespace oapx1 {
namespace {

struct Options {
  bool global = true;
  bool ignore_case = false;
  bool multiline = false;
};

std::string replace(std::string_view pattern, std::string_view subject,
                    std::string_view replacement, Options o = {}) {
  Variant object = CreateObject("VBScript.RegExp");
  RegExp& re = object.as<RegExp>();
  re.Pattern(pattern);
  re.Global(o.global);
  re.IgnoreCase(o.ignore_case);
  re.MultiLine(o.multiline);
  return re.Replace(subject, replacement);
}

TEST(RegExp, replace_follows_the_platform_rules) {
  struct Case {
    const char* pattern;
    std::string subject;
    const char* replacement;
    Options options;
    std::string expected;
  } cases[] = {
      {"o", "foo boo", "0", {.global = false}, "f0o boo"},
      {"o", "foo boo", "0", {}, "f00 b00"},
      {"B", "abAB", "-", {.ignore_case = true}, "a-A-"},
      {"B", "abAB", "-", {}, "abA-"},
      {"(\\w+)@(\\w+)", "me@host", "$2 at $1", {}, "host at me"},
      {"b", "abc", "[$&|$`|$'|$$|$9]", {}, "a[b|a|c|$|$9]c"},
      {"(a)|(b)", "b", "<$1>", {}, "<>"},  // a group that took no part
      {"x*", "abc", "-", {}, "-a-b-c-"},   // empty matches step one character
      {"x*", "中文", "-", {}, "-中-文-"},
      {".", "a\rb\nc", "_", {}, "_\r_\n_"},  // "." matches no line break
      {"^.$", "中", "ok", {}, "ok"},         // "." is one character, not one byte
      {"\\u4e2d", "中文", "Z", {}, "Z文"},
      {"^b", "a\nb", "X", {.multiline = true}, "a\nX"},
      {"^b", "a\nb", "X", {}, "a\nb"},
      {"^b",
       "a\xff"
       "b",
       "X",
       {},
       "a\xff"
       "b"},  // invalid bytes do not start the text
      {"a$",
       "a\xff"
       "b",
       "X",
       {},
       "a\xff"
       "b"},  // ... nor end it
      {"a.*z", "xAbZ", "!", {.ignore_case = true}, "x!"},
      {"a.*k", "xa\u212A", "!", {.ignore_case = true}, "x!"},  // the Kelvin sign is a K
      {"é", "CAFÉ", "e", {.ignore_case = true}, "CAFe"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(replace(c.pattern, c.subject, c.replacement, c.options), c.expected) << c.pattern;
}

TEST(RegExp, test_finds_a_match_anywhere) {
  Variant object = CreateObject("vbscript.regexp");
  RegExp& re = object.as<RegExp>();
  re.Pattern("[0-9]{3}");
  EXPECT_TRUE(re.Test("ab123"));
  EXPECT_FALSE(re.Test("ab12"));
  re.Pattern("Z");
  EXPECT_FALSE(re.Test("z"));
  re.IgnoreCase(true);
  EXPECT_TRUE(re.Test("z"));
}

TEST(RegExp, a_pattern_that_does_not_compile_fails_with_5017) {
  RegExp re;
  re.Pattern("(a");
  try {
    re.Test("a");
    FAIL() << "no failure";
  } catch (const ScriptError& e) {
    EXPECT_EQ(e.number(), err::kRegExpSyntax);
  }
}

TEST(RegExp, a_runaway_pattern_fails_instead_of_running_on) {
  RegExp re;
  re.Pattern("^(a+)+$");
  try {
    re.Replace(std::string(64, 'a') + "b", "");
    FAIL() << "no failure";
  } catch (const ScriptError& e) {
    EXPECT_EQ(e.number(), err::kRegExpWorkLimit);
  }
}

}  // namespace
}  // namespace oapx1
