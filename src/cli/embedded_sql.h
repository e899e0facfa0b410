// The schema and demo data of db/, built into the program so `oapx1 db init`
// works from any folder.
#ifndef OAPX1_CLI_EMBEDDED_SQL_H_
#define OAPX1_CLI_EMBEDDED_SQL_H_

namespace oapx1::embedded_sql {

extern const char* const kSqliteSchema;
extern const char* const kSqliteDemo;
extern const char* const kPostgresSchema;
extern const char* const kPostgresDemo;

}  // namespace oapx1::embedded_sql

#endif  // OAPX1_CLI_EMBEDDED_SQL_H_
