// CSV files as spreadsheets save them: the encoding detected, RFC 4180
// records with the line each is on, and every fault with its line.
#include "platform/text/csv_reader.h"

#include <gtest/gtest.h>

#include "platform/text/codepage.h"

namespace oapx1 {
namespace {

// The records as "LINE:field|field" lines.
std::string shown(const CsvText& text) {
  std::string out;
  for (const CsvRecord& r : text.records) {
    out += std::to_string(r.line) + ":";
    for (size_t i = 0; i < r.fields.size(); ++i) out += (i ? "|" : "") + r.fields[i];
    out += "\n";
  }
  return out;
}

TEST(CsvReader, reads_records_with_their_lines_and_detects_the_encoding) {
  struct Case {
    std::string bytes, encoding, records;
  } cases[] = {
      {"a,b\r\nc,d\r\n", "UTF-8", "1:a|b\n2:c|d\n"},
      {"\xEF\xBB\xBFlogin,name\n张三,\"李, \"\"四\"\"\"\n", "UTF-8", "1:login|name\n2:张三|李, \"四\"\n"},
      {"a, b ,\" c \"\n\n\nd,e", "UTF-8", "1:a|b| c \n4:d|e\n"},
      {"a,\"x\ny\"\nb,c\n", "UTF-8", "1:a|x\ny\n3:b|c\n"},
      {utf8_to_gbk("部门,总部/财务部\n"), "GBK", "1:部门|总部/财务部\n"},
      {"=cmd|' /C calc'!A0,@SUM(1)\n", "UTF-8", "1:=cmd|' /C calc'!A0|@SUM(1)\n"},
  };
  for (const Case& c : cases) {
    const CsvText text = read_csv(c.bytes, 10);
    EXPECT_EQ(text.encoding, c.encoding) << c.bytes;
    EXPECT_EQ(shown(text), c.records) << c.bytes;
    EXPECT_FALSE(text.truncated);
  }
}

TEST(CsvReader, refuses_a_file_it_cannot_read_naming_the_line) {
  struct Case {
    std::string bytes;
    size_t line;
    std::string says;
  } cases[] = {
      {"\xFF\xFEl\0", 0, "UTF-16"},
      {std::string("a\nb\0c\n", 6), 2, "NUL"},
      {"a\nb\n\xFF\xFE,b\n", 3, "neither UTF-8 nor GBK"},
      {"a,b\nc,\"d\"e\n", 2, "a quote out of place"},
      {"a,b\nc,\"d\n\n", 2, "never closed"},
  };
  for (const Case& c : cases) {
    try {
      read_csv(c.bytes, 10);
      ADD_FAILURE() << "read: " << c.bytes;
    } catch (const CsvError& e) {
      EXPECT_EQ(e.line, c.line) << c.bytes << ": " << e.what();
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
    }
  }
}

TEST(CsvReader, stops_after_the_records_asked_for) {
  const CsvText text = read_csv("a\nb\nc\nd\n", 2);
  EXPECT_TRUE(text.truncated);
  EXPECT_EQ(shown(text), "1:a\n2:b\n");
  EXPECT_FALSE(read_csv("a\nb\n", 2).truncated);
}

TEST(CsvReader, valid_utf8_refuses_overlong_forms_surrogates_and_code_points_past_the_last) {
  struct Case {
    std::string bytes;
    bool valid;
  } cases[] = {
      {"plain", true}, {"张三", true}, {"\xF0\x9F\x98\x80", true}, {"\xC0\x80", false}, {"\xE0\x80\xAF", false},
      {"\xED\xA0\x80", false}, {"\xF4\x90\x80\x80", false}, {"\xE5\xBC", false}, {"\x80", false},
  };
  for (const Case& c : cases) EXPECT_EQ(valid_utf8(c.bytes), c.valid) << c.bytes;
}

}  // namespace
}  // namespace oapx1
