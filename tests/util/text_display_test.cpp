#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <string>
#include <utility>

#include "platform/script/script.h"
#include "platform/script/regexp.h"
#include "support/page_fixture.h"

namespace oapx1::testing {
namespace {

using TextDisplayTest = PageFixture<>;

TEST_F(TextDisplayTest, getlongtext_keeps_line_breaks_and_spacing_without_encoding) {
  struct Case {
    Variant input;
    const char* expected;
  } cases[] = {
      {Variant("a b\r\nc  d"), "text:a&nbsp;b<br>\nc&nbsp;&nbsp;d"},
      {Variant(" <b>x</b>"), "text:&nbsp;<b>x</b>"},
      {Variant("line\nfeed"), "text:line\nfeed"},
      {Variant("   "), "empty"},
      {Variant(""), "empty"},
      {Variant::null(), "empty"},
  };
  for (Case& c : cases) EXPECT_EQ(describe(page->getlongtext(c.input)), c.expected);
}

TEST_F(TextDisplayTest, displaytext_encodes_in_place_and_marks_script_and_comments) {
  struct Case {
    const char* input;
    const char* expected;
  } cases[] = {
      {"<b>x</b>", "&lt;b&gt;x&lt;/b&gt;"},
      {"a & \"b\" 'c'", "a&nbsp;&amp;&nbsp;&quot;b&quot;&nbsp;'c'"},
      {"1\r\n2", "1<br>\n2"},
      {"<% x %>",
       "<SPAN>&lt;%</SPAN><FONT COLOR=\"#000000\">&nbsp;x&nbsp;<SPAN>%</FONT>&gt;</SPAN>"},
      {"<!--c-->", "<I><FONT COLOR=\"#CC0033\">&lt;!--c--&gt;</I></FONT>"},
      // Each marking step works on the text the steps before it left.
      {"<%>", "<SPAN>&lt;%</SPAN><FONT COLOR=\"#000000\">&gt;"},
      {"<!-->", "<I><FONT COLOR=\"#CC0033\">&lt;!--&gt;</I></FONT>"},
      {"%%>", "%<SPAN>%</FONT>&gt;</SPAN>"},
      {"---->", "----&gt;</I></FONT>"},
      {"< %\r", "&lt;&nbsp;%<br>"},
  };
  for (const Case& c : cases) {
    Variant text = c.input;
    EXPECT_EQ(describe(page->displaytext(text)), std::string("text:") + c.expected);
    EXPECT_EQ(describe(text), std::string("text:") + c.expected);
  }
  for (Variant text : {Variant(""), Variant::null()}) {
    const std::string before = describe(text);
    EXPECT_EQ(describe(page->displaytext(text)), before);
    EXPECT_EQ(describe(text), before);
  }
}

TEST_F(TextDisplayTest, shrinklonginput_counts_chinese_characters_twice) {
  struct Case {
    const char* text;
    Variant limit;
    const char* expected;
  } cases[] = {
      {"abcde", 5, "text:abcde"},
      {"abcdef", 5, "text:abcde"},
      {"中文", 5, "text:中文"},
      {"中文字", 5, "text:中文"},
      {"中文a", 5, "text:中文a"},
      {"中文ab", 5, "text:中文a"},
      {"a中b", 3, "text:a中"},
      {"a中b", 2, "text:a"},
      {"中", 1, "empty"},
      {"", 5, "empty"},
      {"abc", Variant::null(), "empty"},
      {"abc", Variant("2"), "text:ab"},   // a text limit that reads as a number
      {"abc", Variant("x"), "text:abc"},  // a number never exceeds a text
  };
  for (Case& c : cases) {
    Variant text = c.text;
    EXPECT_EQ(describe(page->shrinklonginput(text, c.limit)), c.expected)
        << c.text << " / " << describe(c.limit);
  }
  EXPECT_TRUE(events().empty());
}

TEST_F(TextDisplayTest, RemoveHtml_removes_tags_left_to_right) {
  struct Case {
    Variant input;
    const char* expected;
  } cases[] = {
      {Variant("<p>Hello <B>world</B></p>"), "text:Hello world"},
      {Variant("<b\nclass=x>t</b>"), "text:t"},  // a tag across lines
      {Variant("<\nb>t"), "text:<\nb>t"},        // a line break right after "<"
      {Variant("<\r\nb>t"), "text:<\r\nb>t"},
      {Variant("a<>"), "text:a<>"},    // "<>" at the end stays
      {Variant("a<>b>c"), "text:ac"},  // ">" right after "<" is taken over
      {Variant("x<y"), "text:x<y"},    // an unclosed "<" stays
      {Variant("<<b>>"), "text:>"},
      {Variant("<中>文"), "text:文"},
      {Variant("a<\xff>b<i>c"), "text:a<\xff>bc"},  // invalid UTF-8 is kept, never matched
      {Variant(""), "text:"},
      {Variant(42), "text:42"},
      {Variant::null(), "null"},
  };
  for (const Case& c : cases) EXPECT_EQ(describe(page->RemoveHtml(c.input)), c.expected);
  EXPECT_TRUE(events().empty());
  EXPECT_EQ(output(), "");
}

TEST_F(TextDisplayTest, RemoveHtml_handles_large_and_hostile_texts) {
  const size_t kSize = 10 * 1024 * 1024;
  const std::string unclosed = "<" + std::string(kSize, 'a');
  EXPECT_EQ(page->RemoveHtml(unclosed).text(), unclosed);

  const std::string brackets(kSize, '<');
  EXPECT_EQ(page->RemoveHtml(brackets).text(), brackets);

  // Every "<" but the last is followed by a ">" much later.
  std::string late = std::string(kSize / 2, '<') + ">" + std::string(kSize / 2, '<');
  EXPECT_EQ(page->RemoveHtml(late).text(), std::string(kSize / 2, '<'));

  std::string nested, expected;
  for (size_t k = 0; k < kSize / 16; ++k) nested += "<div><b>x</b>";
  nested += "</div>";
  expected.assign(kSize / 16, 'x');
  EXPECT_EQ(page->RemoveHtml(nested).text(), expected);

  std::string broken;
  for (size_t k = 0; k < kSize / 8; ++k) broken += "<\xfe<a<\n";
  broken += ">";
  // Only the last piece, "<a<\n>", is a tag: invalid bytes end every other try.
  EXPECT_EQ(page->RemoveHtml(broken).text(), broken.substr(0, broken.size() - 5));
}

// Random texts of the characters the rules turn on, checked against the
// rules applied one at a time: the platform's regular expression for
// RemoveHtml, and encoding followed by the six replacements for displaytext.
TEST_F(TextDisplayTest, text_helpers_match_their_rules_step_by_step) {
  static const char* const kPieces[] = {"<", ">", "%", "!", "-", "--", "&", "\"", "'", " ",
                                        "\r", "\n", "a", "中", "\xff", "<!--", "-->", "<%", "%>"};
  uint32_t seed = 12345;
  auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7fff;
  };
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const int pieces = static_cast<int>(next() % 12);
    for (int k = 0; k < pieces; ++k) text += kPieces[next() % std::size(kPieces)];

    RegExp tags;
    tags.IgnoreCase(true);
    tags.Global(true);
    tags.Pattern("<(.[^>]*)>");
    EXPECT_EQ(page->RemoveHtml(text).text(), tags.Replace(text, "")) << text;

    std::string expected = server_html_encode(text);
    for (const auto& [find, with] : std::initializer_list<std::pair<const char*, const char*>>{
             {"\r", "<br>"},
             {" ", "&nbsp;"},
             {"&lt;%", "<SPAN>&lt;%</SPAN><FONT COLOR=\"#000000\">"},
             {"%&gt;", "<SPAN>%</FONT>&gt;</SPAN>"},
             {"&lt;!--", "<I><FONT COLOR=\"#CC0033\">&lt;!--"},
             {"--&gt;", "--&gt;</I></FONT>"}}) {
      expected = vb::Replace(expected, find, with);
    }
    Variant argument = text;
    if (!text.empty()) {
      EXPECT_EQ(page->displaytext(argument).text(), expected) << text;
    }
  }
  EXPECT_TRUE(events().empty());
}

TEST_F(TextDisplayTest, stringcount_repeats_the_text_count_plus_one_times) {
  struct Case {
    Variant count;
    const char* expected;
  } cases[] = {
      {2, "text:&nbsp;&nbsp;&nbsp;"},
      {1, "text:&nbsp;&nbsp;"},
      {0, "text:&nbsp;"},
      {-4, "text:&nbsp;"},
      {2.7, "text:&nbsp;&nbsp;&nbsp;"},
  };
  for (Case& c : cases) {
    Variant text = "&nbsp;";
    EXPECT_EQ(describe(page->stringcount(text, c.count)), c.expected);
  }
}

TEST_F(TextDisplayTest, writecountsign_and_writecountsigns_write_indentation) {
  Variant sign = "&nbsp;";
  for (Variant count : {Variant(3), Variant(0), Variant(-1)}) page->writecountsign(sign, count);
  EXPECT_EQ(output(), "&nbsp;&nbsp;&nbsp;");

  request.response.body().clear();
  for (Variant level : {Variant(3), Variant(1), Variant(0), Variant(-2), Variant::null()})
    page->writecountsigns(level);
  const std::string cell = "<td nowrap class=DepartLine height=20></td>";
  EXPECT_EQ(output(), cell + cell);
  EXPECT_TRUE(events().empty());
}

}  // namespace
}  // namespace oapx1::testing
