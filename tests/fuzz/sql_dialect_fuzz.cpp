// The SQL dialect translator: any text, for both engines, with and without
// lifting literals. The placeholders written match the values lifted.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "platform/data/sql_dialect.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace oapx1;
  const std::string_view sql(reinterpret_cast<const char*>(data), size);
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
