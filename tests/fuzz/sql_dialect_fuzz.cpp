// The SQL dialect translator: any text, for both engines, with and without
// lifting literals. The placeholders written match the values lifted, and
// the scanner's tokens make up the text again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "platform/data/sql_dialect.h"
#include "platform/data/sql_scanner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace oapx1;
  const std::string_view sql(reinterpret_cast<const char*>(data), size);
  size_t scanned = 0;
  for (const SqlToken& t : scan_sql(sql)) {
    if (t.text.empty() || t.text.data() != sql.data() + scanned) fuzz::fail("a token out of place");
    scanned += t.text.size();
  }
  if (scanned != sql.size()) fuzz::fail("the tokens do not cover the text");
  for (const SqlDialect dialect : {SqlDialect::kSqlite, SqlDialect::kPostgres}) {
    for (const bool lift : {false, true}) {
      const TranslatedSql t = translate_sql(sql, dialect, lift);
      if (!lift && !t.params.empty()) fuzz::fail("values lifted when asked not to");
      if (dialect == SqlDialect::kPostgres && !t.params.empty() &&
          t.text.find(placeholder(dialect, t.params.size())) == std::string::npos) {
        fuzz::fail("a lifted value without its placeholder");
      }
    }
  }
  (void)quote_identifier(sql);
  return 0;
}
