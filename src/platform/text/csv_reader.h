// Comma-separated files as spreadsheets save them: the text's encoding
// detected (UTF-8, else code page 936), then the records read by the RFC 4180
// rules of libcsv (quoted fields with commas, doubled quotes and line breaks).
#ifndef OAPX1_PLATFORM_TEXT_CSV_READER_H_
#define OAPX1_PLATFORM_TEXT_CSV_READER_H_

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace oapx1 {

// A file that cannot be read as CSV; `line` is the line of the file the fault
// is on (1 for the first), 0 when it concerns the whole file.
struct CsvError : std::runtime_error {
  CsvError(size_t at, const std::string& message) : std::runtime_error(message), line(at) {}
  size_t line;
};

// One record of the file.
struct CsvRecord {
  size_t line = 0;                  // the line its first field ends on (1 for the first)
  std::vector<std::string> fields;  // UTF-8, spaces and tabs around an unquoted field dropped
};

// What read_csv made of a file.
struct CsvText {
  std::string encoding;             // "UTF-8" or "GBK": what the bytes were read as
  std::vector<CsvRecord> records;   // in file order; blank lines give none
  bool truncated = false;           // the file has more records than asked for; `records` holds the first
};

// True when `bytes` are UTF-8 throughout (no overlong form, no surrogate, no
// code point past U+10FFFF).
bool valid_utf8(std::string_view bytes);

// Reads the records of a CSV file's bytes. The text is UTF-8 (a leading byte
// order mark dropped) when it is valid UTF-8 throughout, else code page 936
// (GBK, read as GB18030) when it is valid as that. Fails with CsvError for a
// UTF-16 file, a NUL byte, a line that is neither UTF-8 nor GBK (its
// number), a quote out of place or never closed (the line). Reads no more
// than `max_records` records: past them it stops and sets `truncated`.
CsvText read_csv(std::string_view bytes, size_t max_records);

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_TEXT_CSV_READER_H_
