#include "platform/data/database_admin.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include <filesystem>
#include <memory>
#include <stdexcept>

#include "platform/data/db_backend.h"
#include "platform/script/script_error.h"

namespace oapx1 {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSqlite = "sqlite:";

bool is_postgres(const std::string& url) {
  return url.starts_with("postgresql://") || url.starts_with("postgres://");
}

// Engine messages may run over several lines (libpq's do); a problem is one line.
std::string one_line(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using DbPtr = std::unique_ptr<sqlite3, DbCloser>;

DbPtr open_sqlite(const std::string& path, int flags) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  DbPtr db(raw);
  if (rc != SQLITE_OK) {
    throw std::runtime_error(path + ": " + (db ? sqlite3_errmsg(db.get()) : "out of memory"));
  }
  sqlite3_busy_timeout(db.get(), 30 * 1000);
  return db;
}

// Why this process cannot write the SQLite file `path` or create files in
// its folder, or nullopt when it can. access() with the effective ids tells a
// read-only file system apart even for root, who passes every rights check.
std::optional<std::string> unwritable_reason(const std::string& path) {
  const auto refused = [](const fs::path& p) -> std::optional<std::string> {
    if (::faccessat(AT_FDCWD, p.c_str(), W_OK, AT_EACCESS) == 0) return std::nullopt;
    const int err = errno;
    if (err == ENOENT) return std::nullopt;  // told as a missing file elsewhere
    return std::string(std::strerror(err));
  };
  fs::path folder = fs::path(path).parent_path();
  if (folder.empty()) folder = ".";
  if (auto why = refused(folder)) {
    return "the folder " + folder.string() + " of the database file " + path +
           " cannot be written (" + *why + "); SQLite keeps its journal files beside the database";
  }
  if (auto why = refused(path)) return "the database file " + path + " cannot be written (" + *why + ")";
  return std::nullopt;
}

}  // namespace

std::string printable_database_url(const std::string& url) {
  const size_t scheme = url.find("://");
  const size_t at = url.rfind('@');
  if (scheme == std::string::npos || at == std::string::npos || at < scheme) return url;
  const size_t colon = url.find(':', scheme + 3);
  if (colon == std::string::npos || colon > at) return url;
  return url.substr(0, colon + 1) + "***" + url.substr(at);
}

std::optional<DatabaseProblem> check_database(const std::string& url) {
  using Kind = DatabaseProblem::Kind;
  const std::string shown = printable_database_url(url);
  if (url.starts_with(kSqlite)) {
    const std::string path = url.substr(kSqlite.size());
    if (path.empty()) return DatabaseProblem{Kind::kUnsupported, "the URL sqlite: names no file"};
    std::error_code ec;
    if (path != ":memory:" && !fs::exists(path, ec)) {
      return DatabaseProblem{Kind::kMissing, "the database file " + path + " does not exist"};
    }
    if (path != ":memory:" && fs::is_directory(path, ec)) {
      return DatabaseProblem{Kind::kUnreachable, path + " is a folder, not a database file"};
    }
    if (path != ":memory:") {
      if (auto why = unwritable_reason(path)) return DatabaseProblem{Kind::kUnwritable, *why};
    }
  } else if (!is_postgres(url)) {
    return DatabaseProblem{Kind::kUnsupported,
                           "unsupported database URL \"" + shown +
                               "\": expected sqlite:PATH or postgresql://USER@HOST:PORT/DB"};
  }
  std::unique_ptr<DbSession> session;
  try {
    session = open_db_session(url);
  } catch (const std::exception& e) {
    return DatabaseProblem{Kind::kUnreachable, "cannot open " + shown + ": " + one_line(e.what())};
  }
  try {
    session->run("select 1 from OA_Flow_Model_JieDian where 1 = 0", {});
  } catch (const std::exception& e) {
    return DatabaseProblem{
        Kind::kNoSchema,
        "the database " + shown + " has no application schema (" + one_line(e.what()) + ")"};
  }
  return std::nullopt;
}

void backup_sqlite_database(const std::string& url, const std::string& target) {
  if (!url.starts_with(kSqlite)) {
    throw std::runtime_error(
        is_postgres(url) ? "db backup copies SQLite databases; back up PostgreSQL with pg_dump"
                         : "unsupported database URL \"" + printable_database_url(url) + "\"");
  }
  const std::string path = url.substr(kSqlite.size());
  std::error_code ec;
  if (path.empty() || path == ":memory:" || !fs::is_regular_file(path, ec)) {
    throw std::runtime_error("the database file " + path + " does not exist");
  }
  if (fs::exists(target, ec) && fs::equivalent(path, target, ec)) {
    throw std::runtime_error("the backup file " + target + " is the database itself");
  }
  const std::string part = target + ".part-" + std::to_string(::getpid());
  fs::remove(part, ec);
  try {
    create_owner_only_file(part);
    DbPtr source = open_sqlite(path, SQLITE_OPEN_READONLY);
    DbPtr copy = open_sqlite(part, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    sqlite3_backup* backup = sqlite3_backup_init(copy.get(), "main", source.get(), "main");
    if (!backup) throw std::runtime_error(target + ": " + sqlite3_errmsg(copy.get()));
    // One step copies every page under one read transaction: a snapshot. In
    // WAL mode the server's writers go on meanwhile; a busy source is retried.
    int rc = SQLITE_OK;
    for (int tries = 0; tries < 600; ++tries) {
      rc = sqlite3_backup_step(backup, -1);
      if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED) break;
      sqlite3_sleep(50);
    }
    sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE) throw std::runtime_error(target + ": " + sqlite3_errstr(rc));
    // The copy keeps the source's journal mode only as a header flag; make it a
    // plain self-contained file.
    sqlite3_exec(copy.get(), "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    copy.reset();
    fs::rename(part, target);
  } catch (...) {
    fs::remove(part, ec);
    throw;
  }
}

void create_owner_only_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd < 0) {
    if (errno == EEXIST) return;
    throw std::runtime_error(path + ": " + std::strerror(errno));
  }
  // The umask may have taken bits away, never added any; set the mode exactly.
  ::fchmod(fd, S_IRUSR | S_IWUSR);
  ::close(fd);
}

}  // namespace oapx1

namespace oapx1 {
namespace {

// A column as a schema declares it.
struct ColumnInfo {
  std::string table, name, type, collation, default_value;
};

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The version a database records; 0 when none. A newer one than `version`
// is refused.
int recorded_version(const std::string& text, int version) {
  int found = 0;
  try {
    found = text.empty() ? 0 : std::stoi(text);
  } catch (const std::exception&) {
    found = 0;
  }
  if (found > version) {
    throw std::runtime_error("the database has schema version " + std::to_string(found) +
                             ", made by a later release than this one (" + std::to_string(version) +
                             "); upgrade oapx1 instead");
  }
  return found;
}

void sqlite_exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string message = error ? error : sqlite3_errmsg(db);
    sqlite3_free(error);
    throw std::runtime_error(message);
  }
}

// The rows of a query, every column as text ("" for null).
std::vector<std::vector<std::string>> sqlite_rows(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    throw std::runtime_error(sqlite3_errmsg(db));
  }
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw, sqlite3_finalize);
  std::vector<std::vector<std::string>> rows;
  int rc;
  while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
    std::vector<std::string>& row = rows.emplace_back();
    for (int i = 0; i < sqlite3_column_count(raw); ++i) {
      const auto* text = sqlite3_column_text(raw, i);
      row.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
    }
  }
  if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
  return rows;
}

// Tables and indexes by lower-case name, each as "table NAME" / "index NAME".
std::set<std::string> sqlite_objects(sqlite3* db) {
  std::set<std::string> names;
  for (const auto& row : sqlite_rows(
           db, "SELECT type, name FROM sqlite_master WHERE type IN ('table', 'index') AND name NOT LIKE 'sqlite_%'")) {
    names.insert(row[0] + " " + row[1]);
  }
  return names;
}

std::vector<ColumnInfo> sqlite_columns(sqlite3* db, const std::string& table) {
  std::vector<ColumnInfo> columns;
  for (const auto& row : sqlite_rows(db, "PRAGMA table_info(" + quote_identifier(table) + ")")) {
    ColumnInfo c{table, row[1], row[2], "", row[4]};
    const char* collation = nullptr;
    if (sqlite3_table_column_metadata(db, "main", table.c_str(), c.name.c_str(), nullptr, &collation, nullptr,
                                      nullptr, nullptr) == SQLITE_OK &&
        collation) {
      c.collation = collation;
    }
    columns.push_back(std::move(c));
  }
  return columns;
}

SchemaUpgrade upgrade_sqlite(const std::string& path, std::string_view schema_script, int version) {
  SchemaUpgrade upgrade;
  DbPtr reference = open_sqlite(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  sqlite_exec(reference.get(), std::string(schema_script));
  DbPtr db = open_sqlite(path, SQLITE_OPEN_READWRITE);
  sqlite_exec(db.get(), "BEGIN IMMEDIATE");
  try {
    const std::set<std::string> before = sqlite_objects(db.get());
    std::set<std::string> existing;  // SQLite's names ignore letter case
    for (const std::string& object : before) existing.insert(lower(object));
    if (existing.contains("table oapx1_setup")) {
      const auto rows = sqlite_rows(db.get(), "SELECT Value FROM OAPX1_Setup WHERE Name = 'schema'");
      upgrade.from_version = recorded_version(rows.empty() ? "" : rows[0][0], version);
    }
    for (const auto& row : sqlite_rows(reference.get(), "SELECT name FROM sqlite_master WHERE type = 'table'")) {
      const std::string& table = row[0];
      if (!existing.contains(lower("table " + table))) continue;
      std::set<std::string> have;
      for (const ColumnInfo& c : sqlite_columns(db.get(), table)) have.insert(lower(c.name));
      std::vector<std::string> kept, added;
      for (const ColumnInfo& c : sqlite_columns(reference.get(), table)) {
        (have.contains(lower(c.name)) ? kept : added).push_back(c.name);
      }
      if (added.empty()) continue;
      // SQLite adds no column whose default is an expression (a time stamp,
      // say): the table is made anew as the schema has it and its rows are
      // copied over. References from views and triggers keep the table's name.
      const auto created = sqlite_rows(reference.get(),
                                       "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = '" +
                                           table + "'");
      const std::string old_name = table + "_oapx1_upgrade";
      std::string columns;
      for (const std::string& c : kept) columns += (columns.empty() ? "" : ", ") + quote_identifier(c);
      sqlite_exec(db.get(), "PRAGMA legacy_alter_table = ON");
      sqlite_exec(db.get(), "ALTER TABLE " + quote_identifier(table) + " RENAME TO " + quote_identifier(old_name));
      sqlite_exec(db.get(), created.at(0).at(0));
      sqlite_exec(db.get(), "INSERT INTO " + quote_identifier(table) + " (" + columns + ") SELECT " + columns +
                                " FROM " + quote_identifier(old_name));
      sqlite_exec(db.get(), "DROP TABLE " + quote_identifier(old_name));
      sqlite_exec(db.get(), "PRAGMA legacy_alter_table = OFF");
      for (const std::string& c : added) upgrade.changes.push_back("added column " + table + "." + c);
    }
    sqlite_exec(db.get(), std::string(schema_script));
    for (const std::string& object : sqlite_objects(db.get())) {
      if (!before.contains(object)) upgrade.changes.push_back("created " + object);
    }
    sqlite_exec(db.get(), "INSERT INTO OAPX1_Setup (Name, Value) VALUES ('schema', '" + std::to_string(version) +
                              "') ON CONFLICT (Name) DO UPDATE SET Value = excluded.Value");
    sqlite_exec(db.get(), "COMMIT");
  } catch (...) {
    sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  return upgrade;
}

// The first column of each row, as text.
std::vector<std::string> first_column(const DbResult& result) {
  std::vector<std::string> values;
  for (const auto& row : result.rows) values.push_back(row[0].is_null() ? "" : row[0].str());
  return values;
}

std::vector<ColumnInfo> postgres_columns(DbSession& session, const std::string& schema) {
  const DbResult r = session.run(
      "SELECT c.relname::text, a.attname::text, format_type(a.atttypid, a.atttypmod), "
      "CASE WHEN a.attcollation = 0 THEN '' WHEN cn.nspname = $1 THEN co.collname::text "
      "ELSE quote_ident(cn.nspname) || '.' || quote_ident(co.collname) END, "
      "CASE WHEN a.attidentity = '' THEN pg_get_expr(d.adbin, d.adrelid) END "
      "FROM pg_attribute a JOIN pg_class c ON c.oid = a.attrelid "
      "JOIN pg_namespace n ON n.oid = c.relnamespace "
      "LEFT JOIN pg_collation co ON co.oid = a.attcollation "
      "LEFT JOIN pg_namespace cn ON cn.oid = co.collnamespace "
      "LEFT JOIN pg_attrdef d ON d.adrelid = a.attrelid AND d.adnum = a.attnum "
      "WHERE n.nspname = $1 AND c.relkind = 'r' AND a.attnum > 0 AND NOT a.attisdropped "
      "ORDER BY c.relname, a.attnum",
      {DbParam::of_text(schema)});
  std::vector<ColumnInfo> columns;
  for (const auto& row : r.rows) {
    ColumnInfo& c = columns.emplace_back();
    std::string* fields[] = {&c.table, &c.name, &c.type, &c.collation, &c.default_value};
    for (size_t i = 0; i < 5; ++i) *fields[i] = row[i].is_null() ? "" : row[i].str();
  }
  return columns;
}

std::set<std::string> postgres_objects(DbSession& session, const std::string& schema) {
  std::set<std::string> names;
  for (const auto& row : session
                             .run("SELECT CASE c.relkind WHEN 'r' THEN 'table ' ELSE 'index ' END || c.relname "
                                  "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                                  "WHERE n.nspname = $1 AND c.relkind IN ('r', 'i')",
                                  {DbParam::of_text(schema)})
                             .rows) {
    names.insert(row[0].str());
  }
  return names;
}

SchemaUpgrade upgrade_postgres(const std::string& url, std::string_view schema_script, int version) {
  constexpr char kReference[] = "oapx1_upgrade_reference";
  SchemaUpgrade upgrade;
  std::unique_ptr<DbSession> session = open_db_session(url);
  DbSession& s = *session;
  s.run_script("BEGIN");
  try {
    const std::string target = s.run("SELECT current_schema()::text", {}).rows.at(0).at(0).str();
    const std::string search_path = s.run("SELECT current_setting('search_path')", {}).rows.at(0).at(0).str();
    const std::set<std::string> before = postgres_objects(s, target);
    if (before.contains("table oapx1_setup")) {
      const auto values = first_column(s.run("SELECT Value FROM OAPX1_Setup WHERE Name = 'schema'", {}));
      upgrade.from_version = recorded_version(values.empty() ? "" : values[0], version);
    }
    // The current schema, built beside the database's own to compare with.
    const std::string reference = quote_identifier(kReference);
    s.run_script("DROP SCHEMA IF EXISTS " + reference + " CASCADE; CREATE SCHEMA " + reference +
                 "; SET LOCAL search_path = " + reference);
    s.run_script(std::string(schema_script));
    s.run_script("SET LOCAL search_path = " + search_path);
    for (const std::string& collation : first_column(
             s.run("SELECT collname::text FROM pg_collation WHERE collnamespace = $1::regnamespace",
                   {DbParam::of_text(reference)}))) {
      s.run_script("CREATE COLLATION IF NOT EXISTS " + quote_identifier(target) + "." + quote_identifier(collation) +
                   " FROM " + reference + "." + quote_identifier(collation));
    }
    std::map<std::string, ColumnInfo> have;
    std::set<std::string> tables;
    for (ColumnInfo& c : postgres_columns(s, target)) {
      tables.insert(c.table);
      have[c.table + "." + c.name] = std::move(c);
    }
    for (const ColumnInfo& c : postgres_columns(s, kReference)) {
      if (!tables.contains(c.table)) continue;
      const std::string table = quote_identifier(target) + "." + quote_identifier(c.table);
      const std::string collate =
          c.collation.empty() ? "" : " COLLATE " + (c.collation.find('.') == std::string::npos
                                                        ? quote_identifier(target) + "." + quote_identifier(c.collation)
                                                        : c.collation);
      const auto found = have.find(c.table + "." + c.name);
      if (found == have.end()) {
        s.run_script("ALTER TABLE " + table + " ADD COLUMN " + quote_identifier(c.name) + " " + c.type + collate +
                     (c.default_value.empty() ? "" : " DEFAULT " + c.default_value));
        upgrade.changes.push_back("added column " + c.table + "." + c.name);
      } else if (found->second.collation != c.collation && found->second.type == c.type) {
        s.run_script("ALTER TABLE " + table + " ALTER COLUMN " + quote_identifier(c.name) + " TYPE " + c.type +
                     collate);
        upgrade.changes.push_back("collation of " + c.table + "." + c.name + " set to " +
                                  (c.collation.empty() ? "none" : c.collation));
      }
    }
    s.run_script("DROP SCHEMA " + reference + " CASCADE");
    s.run_script(std::string(schema_script));
    for (const std::string& object : postgres_objects(s, target)) {
      if (!before.contains(object)) upgrade.changes.push_back("created " + object);
    }
    s.run("INSERT INTO OAPX1_Setup (Name, Value) VALUES ('schema', $1) "
          "ON CONFLICT (Name) DO UPDATE SET Value = EXCLUDED.Value",
          {DbParam::of_text(std::to_string(version))});
    s.run_script("COMMIT");
  } catch (...) {
    try {
      s.run_script("ROLLBACK");
    } catch (...) {
    }
    throw;
  }
  return upgrade;
}

}  // namespace

SchemaUpgrade upgrade_database(const std::string& url, std::string_view schema_script, int version) {
  if (url.starts_with(kSqlite)) {
    const std::string path = url.substr(kSqlite.size());
    std::error_code ec;
    if (path.empty() || !fs::is_regular_file(path, ec)) {
      throw std::runtime_error("the database file " + path + " does not exist");
    }
    return upgrade_sqlite(path, schema_script, version);
  }
  if (!is_postgres(url)) throw std::runtime_error("unsupported database URL \"" + printable_database_url(url) + "\"");
  return upgrade_postgres(url, schema_script, version);
}

}  // namespace oapx1
