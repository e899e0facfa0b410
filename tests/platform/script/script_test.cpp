// String builtins counting characters, the encoders and SQL literal helpers.
#include <gtest/gtest.h>

#include "platform/script/script.h"

namespace oapx1 {
namespace {

TEST(Builtins, count_characters_not_bytes) {
  const std::string s = "节点ab名";
  EXPECT_EQ(vb::Len(s), 5);
  EXPECT_EQ(vb::Left(s, 2), "节点");
  EXPECT_EQ(vb::Right(s, 2), "b名");
  EXPECT_EQ(vb::Mid(s, 3), "ab名");
  EXPECT_EQ(vb::Mid(s, 2, 2), "点a");
  EXPECT_EQ(vb::Mid(s, 9), "");
  EXPECT_EQ(vb::InStr(s, "名"), 5);
  EXPECT_EQ(vb::InStr(s, "x"), 0);
  EXPECT_EQ(vb::InStr("a;b;c", ";", 3), 4);
  EXPECT_THROW(vb::Mid(s, 0), ScriptError);
  EXPECT_EQ(vb::Len("\xff\xfe"), 2);  // invalid bytes count one each, nothing is lost
}

TEST(Builtins, replace_split_trim_case) {
  EXPECT_EQ(vb::Replace("a;b;;c", ";", "','"), "a','b','','c");
  EXPECT_EQ(vb::Replace("aaa", "aa", "b"), "ba");
  EXPECT_EQ(vb::Replace("abc", "", "x"), "abc");
  EXPECT_EQ(vb::Split("", ",").size(), 0u);
  EXPECT_EQ(vb::Split("a,,b", ","), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(vb::Split(",", ","), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(vb::Trim("  a b \t"), "a b \t");  // spaces only
  EXPECT_EQ(vb::LCase("AbC节"), "abc节");
  EXPECT_EQ(vb::UCase("AbC节"), "ABC节");
}

TEST(Encoding, html_encoders_differ_only_in_the_apostrophe) {
  EXPECT_EQ(html_encode("<a href=\"x\">&'</a>"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;&lt;/a&gt;");
  EXPECT_EQ(server_html_encode("<'&\">"), "&lt;'&amp;&quot;&gt;");
  EXPECT_EQ(html_encode("节点"), "节点");
}

TEST(Encoding, script_strings_and_url_values_cannot_leave_their_context) {
  struct Case {
    const char* in;
    const char* script;
    const char* url;
  } cases[] = {
      {"张三", "张三", "张三"},
      {"O'Neil \\ \"x\"", "O\\'Neil \\\\ \\\"x\\\"", "O%27Neil%20%5C%20%22x%22"},
      {"a\r\nb</script>", "a\\r\\nb\\x3C/script>", "a%0D%0Ab%3C%2Fscript%3E"},
      {"x onmouseover=alert(1)", "x onmouseover=alert(1)", "x%20onmouseover%3Dalert%281%29"},
      {"a-b_c.d~", "a-b_c.d~", "a-b_c.d~"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(script_string(c.in), c.script) << c.in;
    EXPECT_EQ(url_query_text(c.in), c.url) << c.in;
  }
}

TEST(SqlLiterals, text_doubles_apostrophes_and_numbers_are_checked) {
  EXPECT_EQ(sql_text(Variant("O'Neil''s")), "O''Neil''''s");
  EXPECT_EQ(sql_text(Variant::null()), "");
  EXPECT_EQ(sql_like_text(Variant("100%_o'k\\")), "100\\%\\_o''k\\\\");
  EXPECT_EQ(sql_integer(Variant(" 12 ")), "12");
  EXPECT_EQ(sql_integer(Variant(7)), "7");
  EXPECT_EQ(sql_integer(Variant("-3")), "-3");
  EXPECT_EQ(sql_number(Variant("2.5")), "2.5");
  for (const char* bad : {"", "1 or 1=1", "1;drop table x", "0x10", "1e3", "2.5", "abc"}) {
    EXPECT_THROW(sql_integer(Variant(bad)), ScriptError) << bad;
  }
  EXPECT_THROW(sql_integer(Variant()), ScriptError);
  EXPECT_THROW(sql_integer(Variant::null()), ScriptError);
  EXPECT_THROW(sql_number(Variant("1e3")), ScriptError);
}

}  // namespace
}  // namespace oapx1
