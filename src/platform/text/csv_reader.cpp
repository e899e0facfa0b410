#include "platform/text/csv_reader.h"

#include <csv.h>

#include <algorithm>
#include <memory>

#include "platform/text/codepage.h"

namespace oapx1 {
namespace {

// The length of the UTF-8 sequence at s[pos] when it is a valid one, else 0.
size_t utf8_sequence(std::string_view s, size_t pos) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) return 1;
  size_t length = 0;
  char32_t c = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, c = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, c = lead & 0x07;
  } else {
    return 0;
  }
  if (pos + length > s.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (byte(pos + i) & 0x3F);
  }
  const bool overlong = (length == 3 && c < 0x800) || (length == 4 && c < 0x10000);
  if (overlong || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return 0;
  return length;
}

// The number of the first line of `bytes` that is not valid GB18030.
size_t first_bad_gbk_line(std::string_view bytes) {
  size_t line = 1;
  for (size_t start = 0; start < bytes.size(); ++line) {
    const size_t end = std::min(bytes.find('\n', start), bytes.size());
    if (gb18030_to_utf8(bytes.substr(start, end - start)).find("\xEF\xBF\xBD") != std::string::npos) return line;
    start = end + 1;
  }
  return 0;
}

// The text of the file in UTF-8, and what it was read as.
std::pair<std::string, std::string> to_utf8(std::string_view bytes) {
  if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
    throw CsvError(0, "the file is UTF-16; save it as CSV in UTF-8 (or GBK)");
  }
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  if (const size_t nul = bytes.find('\0'); nul != std::string_view::npos) {
    const size_t line = 1 + static_cast<size_t>(std::count(bytes.begin(), bytes.begin() + static_cast<long>(nul), '\n'));
    throw CsvError(line, "a NUL byte: this is no text file");
  }
  if (valid_utf8(bytes)) return {std::string(bytes), "UTF-8"};
  std::string text = gb18030_to_utf8(bytes);
  if (text.find("\xEF\xBF\xBD") != std::string::npos) {
    throw CsvError(first_bad_gbk_line(bytes), "bytes that are neither UTF-8 nor GBK");
  }
  return {std::move(text), "GBK"};
}

// What the parser's callbacks build.
struct Reading {
  CsvText text;
  CsvRecord current;       // the record whose fields are being read
  size_t line = 1;         // the line being fed to the parser
  size_t max_records = 0;  // records kept at most
  bool too_many = false;   // set when a record past max_records ended
};

void on_field(void* data, size_t size, void* reading) {
  auto& r = *static_cast<Reading*>(reading);
  if (r.current.fields.empty()) r.current.line = r.line;
  r.current.fields.emplace_back(data ? static_cast<const char*>(data) : "", data ? size : 0);
}

void on_record_end(int, void* reading) {
  auto& r = *static_cast<Reading*>(reading);
  if (r.current.fields.empty()) r.current.line = r.line;
  if (r.text.records.size() == r.max_records) {
    r.too_many = true;
  } else {
    r.text.records.push_back(std::move(r.current));
  }
  r.current = CsvRecord{};
}

struct ParserFree {
  void operator()(csv_parser* p) const {
    csv_free(p);
    delete p;
  }
};

}  // namespace

bool valid_utf8(std::string_view bytes) {
  for (size_t pos = 0; pos < bytes.size();) {
    const size_t n = utf8_sequence(bytes, pos);
    if (n == 0) return false;
    pos += n;
  }
  return true;
}

CsvText read_csv(std::string_view bytes, size_t max_records) {
  Reading r;
  r.max_records = max_records;
  auto [text, encoding] = to_utf8(bytes);
  r.text.encoding = encoding;
  std::unique_ptr<csv_parser, ParserFree> parser(new csv_parser);
  if (csv_init(parser.get(), CSV_STRICT | CSV_STRICT_FINI) != 0) throw std::bad_alloc();
  const std::string_view all = text;
  // One line at a time, so that each record knows the line it is on.
  for (size_t start = 0; start < all.size() && !r.too_many; ++r.line) {
    const size_t end = std::min(all.find('\n', start), all.size() - 1) + 1;
    const std::string_view piece = all.substr(start, end - start);
    if (csv_parse(parser.get(), piece.data(), piece.size(), on_field, on_record_end, &r) != piece.size()) {
      throw CsvError(r.line, std::string("a quote out of place (") + csv_strerror(csv_error(parser.get())) +
                                 "): a quoted field ends at its closing quote, and a quote inside one is doubled");
    }
    start = end;
  }
  if (!r.too_many && csv_fini(parser.get(), on_field, on_record_end, &r) != 0) {
    throw CsvError(r.current.line ? r.current.line : r.line - 1, "a quoted field that is never closed");
  }
  r.text.truncated = r.too_many;
  return std::move(r.text);
}

}  // namespace oapx1
