#include "server/form.h"

#include <gtest/gtest.h>

#include "server/static_files.h"

namespace oapx1 {
namespace {

TEST(Form, percent_decode_handles_escapes_plus_and_broken_escapes) {
  struct Case {
    std::string in;
    bool plus;
    std::string out;
  } cases[] = {
      {"a%20b", false, "a b"},   {"a+b", true, "a b"},    {"a+b", false, "a+b"},
      {"%2B", true, "+"},        {"%zz", true, "%zz"},    {"100%", true, "100%"},
      {"%4", true, "%4"},        {"%c1%F7", true, "\xC1\xF7"}, {"%00", false, std::string(1, '\0')},
  };
  for (const auto& c : cases) EXPECT_EQ(percent_decode(c.in, c.plus), c.out) << c.in;
}

TEST(Form, parse_form_decodes_gbk_names_and_values_in_order) {
  const FormPairs pairs =
      parse_form("OAID=7&JieDianName=%B8%B4%BA%CB&&a=1+2&a=3&flag&%C3%FB=%D6%B5&bad=%FF");
  const FormPairs expected = {{"OAID", "7"}, {"JieDianName", "复核"}, {"a", "1 2"}, {"a", "3"},
                              {"flag", ""},  {"名", "值"},          {"bad", "\xEF\xBF\xBD"}};
  EXPECT_EQ(pairs, expected);
}

TEST(Form, parse_form_reads_a_long_run_of_bad_bytes_whole) {
  // A login form whose user name is a megabyte of bytes no code page 936
  // character starts with: one replacement character per byte, and the pair
  // after it still read.
  const size_t n = 1 << 20;
  const FormPairs pairs = parse_form("username=" + std::string(n, '\xFF') + "&password=x");
  std::string replacements;
  for (size_t i = 0; i < n; ++i) replacements += "\xEF\xBF\xBD";
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_TRUE(pairs[0].second == replacements);
  EXPECT_EQ(pairs[1], (std::pair<std::string, std::string>("password", "x")));
}

TEST(Form, media_type_ignores_case_and_parameters) {
  EXPECT_TRUE(has_media_type("application/x-www-form-urlencoded", "application/x-www-form-urlencoded"));
  EXPECT_TRUE(has_media_type("Application/X-WWW-Form-URLEncoded; charset=GBK",
                             "application/x-www-form-urlencoded"));
  EXPECT_FALSE(has_media_type("multipart/form-data; boundary=x", "application/x-www-form-urlencoded"));
  EXPECT_FALSE(has_media_type("", "application/x-www-form-urlencoded"));
}

TEST(Form, charset_parameter_chooses_utf8_else_gb18030) {
  const std::pair<const char*, FormCharset> cases[] = {
      {"application/x-www-form-urlencoded", FormCharset::kGb18030},
      {"application/x-www-form-urlencoded; charset=utf-8", FormCharset::kUtf8},
      {"application/x-www-form-urlencoded;charset=\"UTF-8\"", FormCharset::kUtf8},
      {"application/x-www-form-urlencoded; foo=bar; Charset=UTF8", FormCharset::kUtf8},
      {"application/x-www-form-urlencoded; charset=GBK", FormCharset::kGb18030},
      {"application/x-www-form-urlencoded; name=utf-8", FormCharset::kGb18030},
  };
  for (const auto& [type, charset] : cases) EXPECT_EQ(form_charset(type), charset) << type;
  // The same bytes, read both ways: 归档 in UTF-8.
  const std::string utf8 = "a=%E5%BD%92%E6%A1%A3";
  EXPECT_EQ(parse_form(utf8, FormCharset::kUtf8)[0].second, "归档");
  EXPECT_NE(parse_form(utf8)[0].second, "归档");
  // Invalid UTF-8 (a lone continuation byte, an overlong "/", a surrogate) is replaced.
  EXPECT_EQ(parse_form("a=x%80y%C0%AFz%ED%A0%80", FormCharset::kUtf8)[0].second,
            "x\xEF\xBF\xBDy\xEF\xBF\xBD\xEF\xBF\xBDz\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Form, references_of_characters_gbk_cannot_hold_become_the_characters) {
  const std::pair<const char*, const char*> cases[] = {
      {"&#128512;", "\xF0\x9F\x98\x80"},     // an emoji: a browser's reference
      {"a&#x1F600;b", "a\xF0\x9F\x98\x80" "b"},
      {"&#60;b&#62;", "&#60;b&#62;"},          // "<" GBK holds: typed as text
      {"&#20013;", "&#20013;"},                // 中, likewise
      {"&#128512", "&#128512"},                // no ";"
      {"&#55357;&#0;&#1114112;", "&#55357;&#0;&#1114112;"},  // no characters
      {"&#;&#x;&", "&#;&#x;&"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(decode_character_references(in), out) << in;
  EXPECT_EQ(parse_form("a=%26%23128512%3B")[0].second, "\xF0\x9F\x98\x80");
  EXPECT_EQ(parse_form("a=%26%23128512%3B", FormCharset::kUtf8)[0].second, "&#128512;");
}

TEST(StaticPaths, split_collapses_slashes_and_refuses_parent_segments) {
  using Segments = std::vector<std::string>;
  EXPECT_EQ(split_url_path("/oa//Include/imagesV10/k7.gif"), (Segments{"oa", "Include", "imagesV10", "k7.gif"}));
  EXPECT_EQ(split_url_path("/./oa/"), (Segments{"oa"}));
  EXPECT_EQ(split_url_path("/"), Segments{});
  for (const std::string& bad : std::vector<std::string>{"/oa/../etc/passwd", "/..", "/oa/x/../../y", "/oa\\..\\x", std::string("/a\0b", 4)}) {
    EXPECT_FALSE(split_url_path(bad).has_value()) << bad;
  }
}

}  // namespace
}  // namespace oapx1
