// The SQL dialect translator of the data layer. The application's statements
// are written for its original engine ("select top 1 ...", "[OA_Log]",
// "Insert T(...) values (...)", N'...', getdate(), isnull(, len(); the
// translator turns them into the dialect of the engine that runs them and lifts
// their literals out as bound parameters, so that statements differing only in
// their values share one prepared statement.
#ifndef OAPX1_PLATFORM_DATA_SQL_DIALECT_H_
#define OAPX1_PLATFORM_DATA_SQL_DIALECT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace oapx1 {

enum class SqlDialect : uint8_t { kSqlite, kPostgres };

// The placeholder of the `number`th (from 1) bound value in an engine's SQL:
// "?" for SQLite, "$1", "$2", ... for PostgreSQL.
std::string placeholder(SqlDialect dialect, size_t number);

// A value bound to a placeholder of a statement.
struct DbParam {
  enum class Kind : uint8_t { kNull, kInteger, kReal, kText, kDateTime };
  Kind kind = Kind::kNull;
  int64_t integer = 0;  // kInteger
  double real = 0;      // kReal
  // kText: the text; kReal: its decimal form (for a lifted literal, the
  // literal as written); kDateTime: "YYYY-MM-DD HH:MM:SS".
  std::string text;
  // True for a literal lifted out of a statement: an engine that types its
  // parameters gives it the literal's type. False for a value written to a
  // column: the engine converts it to the column's type.
  bool typed = false;

  static DbParam null() { return {}; }
  static DbParam of_integer(int64_t v, bool typed = false);
  static DbParam of_real(double v, bool typed = false);
  static DbParam of_text(std::string v, bool typed = false);
  static DbParam of_datetime(std::string iso);
};

// A statement ready for an engine.
struct TranslatedSql {
  std::string text;             // the engine's SQL, with placeholders for `params`
  std::vector<DbParam> params;  // the lifted literals, in placeholder order
  // True when the text holds more than one statement; such a script is run
  // as it is, without lifted literals or the statement cache.
  bool multiple_statements = false;
};

// Translates a statement (or a script of statements separated by ";") of the
// application's dialect into `dialect`. With `lift_literals`, string literals
// of reading and writing statements (select, insert, update, delete, with) and
// numeric literals in value positions (after a comparison operator, as an item
// of an "in (...)" or "values (...)" list) become placeholders ("?" for SQLite,
// "$n" for PostgreSQL); numbers that shape the statement (top N, limit, order
// by 2) never do. Text inside string literals and comments is never changed.
TranslatedSql translate_sql(std::string_view sql, SqlDialect dialect, bool lift_literals = true);

// An identifier quoted for the engine: "name", with embedded quotes doubled.
std::string quote_identifier(std::string_view name);

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_DATA_SQL_DIALECT_H_
