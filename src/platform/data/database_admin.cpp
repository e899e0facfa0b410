#include "platform/data/database_admin.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

}  // namespace oapx1
