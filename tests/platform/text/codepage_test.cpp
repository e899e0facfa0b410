#include "platform/text/codepage.h"

#include <gtest/gtest.h>

namespace oapx1 {
namespace {

TEST(Codepage, utf8_to_gbk_encodes_chinese_and_references_what_gbk_lacks) {
  struct Case {
    std::string utf8, gbk;
  } cases[] = {
      {"", ""},
      {"plain <b>ASCII</b>\r\n\t", "plain <b>ASCII</b>\r\n\t"},
      {"流程节点", "\xC1\xF7\xB3\xCC\xBD\xDA\xB5\xE3"},
      {"a复核b", "a\xB8\xB4\xBA\xCB" "b"},
      {"丂", "\x81\x40"},                   // trail byte in the ASCII range
      {"·", "\xA1\xA4"},                    // in GBK
      {"•", "&#8226;"},                     // not in GBK: a numeric reference, not "?"
      {"节•点", "\xBD\xDA&#8226;\xB5\xE3"},  // the characters around it survive
      {"😀x", "&#128512;x"},                // outside the basic plane
      {"a\xFF" "b", "a&#65533;b"},          // invalid UTF-8
      {"\xE6\xB5", "&#65533;&#65533;"},     // truncated sequence
  };
  for (const auto& c : cases) EXPECT_EQ(utf8_to_gbk(c.utf8), c.gbk) << c.utf8;
}

// However a text is cut into pieces, even inside a character, the writer
// makes of them exactly what utf8_to_gbk makes of the whole.
TEST(Codepage, gbk_writer_pieces_make_the_bytes_of_the_whole_text) {
  const std::string texts[] = {
      "plain <b>ASCII</b> longer than a word\r\n\t",
      "<td>流程节点名称：</td><input value=\"复核\">",
      "丂·•😀 节•点 a\xFF" "b \xE6\xB5 c\xE6\xB5\xE6\xB5\xE6",  // references, bad and cut bytes
      "\xF0\x9F\x98",                                           // ends inside a four-byte character
      std::string(40, '\xFF') + "流" + std::string(20, 'x'),
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    const std::string whole = utf8_to_gbk(text);
    for (size_t cut = 0; cut <= text.size(); ++cut) {
      for (size_t second = cut; second <= text.size(); ++second) {
        GbkWriter writer(cut);  // room for less than the text, often
        writer.write(std::string_view(text).substr(0, cut));
        writer.write(std::string_view(text).substr(cut, second - cut));
        writer.write(std::string_view(text).substr(second));
        ASSERT_EQ(writer.finish(), whole) << "cut at " << cut << " and " << second;
      }
    }
    GbkWriter bytes;
    for (char c : text) bytes.write(std::string_view(&c, 1));
    EXPECT_EQ(bytes.finish(), whole);
  }
  // A megabyte of bad bytes in one piece grows the room as it goes.
  GbkWriter writer(16);
  writer.write(std::string(1 << 20, '\xFF'));
  EXPECT_TRUE(writer.finish() == utf8_to_gbk(std::string(1 << 20, '\xFF')));
}

TEST(Codepage, gb18030_to_utf8_decodes_and_replaces_bad_bytes) {
  struct Case {
    std::string bytes, utf8;
  } cases[] = {
      {"", ""},
      {"OAID=1&save=true", "OAID=1&save=true"},
      {"\xB8\xB4\xBA\xCB", "复核"},
      {"\x81\x40", "丂"},
      {"x\x81\x40y", "x丂y"},
      {"\x94\x39\xFC\x36", "😀"},          // four-byte GB18030, beyond GBK
      {"\x81\x36\xA6\x31", "•"},
      {"\xFF", "\xEF\xBF\xBD"},             // not a lead byte
      {"\x80", "€"},                       // the euro sign of code page 936
      {"5\x80\xA2\xE3", "5€€"},
      {"a\x81", "a\xEF\xBF\xBD"},           // truncated at the end
      {"\x81 b", "\xEF\xBF\xBD b"},         // lead byte followed by a space
      {"\xB8\xB4\xFF\xBA\xCB", "复\xEF\xBF\xBD核"},
  };
  for (const auto& c : cases) EXPECT_EQ(gb18030_to_utf8(c.bytes), c.utf8) << c.utf8;
}

TEST(Codepage, long_inputs_of_bad_bytes_convert_whole_and_in_order) {
  // Each unit decodes the same wherever it stands, so a long input of them
  // decodes to their outputs in a row. A megabyte of bad bytes must come back
  // whole; a converter that rescanned the rest of its input after each bad
  // byte would take many minutes over it.
  const std::string r = "\xEF\xBF\xBD";
  struct Unit {
    std::string bytes, utf8;
  } units[] = {
      {"\xFF", r},                            // never a lead byte
      {"\x81\x7F", r + "\x7F"},               // lead byte, then a byte no code has
      {"\x81 ", r + " "},                      // lead byte, then ASCII
      {"\xFE\x39\xFE\x39", r + "9" + r + "9"},  // four-byte code beyond the last character
      {"\x80", "€"},
      {"\xB8\xB4", "复"},
  };
  for (const Unit& u : units) {
    EXPECT_EQ(gb18030_to_utf8(u.bytes), u.utf8);
    std::string bytes, expected;
    for (int i = 0; i < 1 << 20; i += static_cast<int>(u.bytes.size())) {
      bytes += u.bytes;
      expected += u.utf8;
    }
    EXPECT_TRUE(gb18030_to_utf8(bytes) == expected) << u.utf8;
  }
  std::string mixed, expected;
  for (int i = 0; i < 1 << 18; ++i) {
    const Unit& u = units[i % std::size(units)];
    mixed += u.bytes;
    expected += u.utf8;
  }
  EXPECT_TRUE(gb18030_to_utf8(mixed) == expected);
  // The other way: invalid UTF-8, one reference per bad byte.
  std::string references;
  for (int i = 0; i < 1 << 20; ++i) references += "&#65533;";
  EXPECT_TRUE(utf8_to_gbk(std::string(1 << 20, '\xFF')) == references);
}

TEST(Codepage, round_trip_keeps_every_character_of_the_code_page) {
  // Every two-byte code decodes to one character; encoding that character
  // gives bytes that decode to it again (mostly the same code), or, where GBK
  // lacks it, a reference to exactly that character. Nothing is lost.
  int same_bytes = 0;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const std::string code{static_cast<char>(lead), static_cast<char>(trail)};
      const std::string utf8 = gb18030_to_utf8(code);
      const std::string back = utf8_to_gbk(utf8);
      if (back == code) {
        ++same_bytes;
      } else if (back.rfind("&#", 0) == 0) {
        char32_t cp = 0;
        // Decode the one UTF-8 character to compare with the reference.
        const auto b = [&](size_t i) { return static_cast<unsigned char>(utf8[i]); };
        if (utf8.size() == 2) cp = ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
        if (utf8.size() == 3) cp = ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
        if (utf8.size() == 4) {
          cp = ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
        }
        EXPECT_EQ(back, "&#" + std::to_string(static_cast<unsigned long>(cp)) + ";") << std::hex << lead << trail;
      } else {
        EXPECT_EQ(gb18030_to_utf8(back), utf8) << std::hex << lead << trail;
      }
    }
  }
  EXPECT_GT(same_bytes, 21000);
  // A long mixed text with a character outside GBK survives the trip with the
  // character as a reference the browser shows as the same character.
  std::string text;
  for (int i = 0; i < 500; ++i) text += "节点 node • ";
  std::string expected;
  for (int i = 0; i < 500; ++i) expected += "节点 node &#8226; ";
  EXPECT_EQ(gb18030_to_utf8(utf8_to_gbk(text)), expected);
}

}  // namespace
}  // namespace oapx1
