// What an operator does to the application database as a whole, apart from
// the page's requests: check before serving that it can be used, and copy a
// SQLite database while the server writes to it.
#ifndef OAPX1_PLATFORM_DATA_DATABASE_ADMIN_H_
#define OAPX1_PLATFORM_DATA_DATABASE_ADMIN_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oapx1 {

// Why a database cannot serve the application.
struct DatabaseProblem {
  enum class Kind : uint8_t {
    kUnsupported,  // the URL is neither sqlite:PATH nor postgresql://...
    kMissing,      // the SQLite file does not exist
    kUnreachable,  // the engine refused the connection (server down, no access, not a database)
    kNoSchema,     // connected, but the application's tables are not there
    kUnwritable,   // the SQLite file or its folder cannot be written (read-only file system, rights)
  };
  Kind kind;
  std::string
      message;  // one line saying what is wrong, with the URL as printable_database_url gives it
};

// Checks, without creating or changing anything, that `url` names a database
// the application can use: a supported URL, an existing SQLite file, an
// engine that accepts the connection, and the application's node table.
// A SQLite file must be writable by this process, and so must its folder
// (SQLite writes its journal and shared-memory files beside the database):
// a read-only file system or missing rights is kUnwritable, told before any
// attempt to open it. Nullopt when it can. Never throws.
std::optional<DatabaseProblem> check_database(const std::string& url);

// The URL as it may be printed or logged: a password in it becomes "***".
std::string printable_database_url(const std::string& url);

// Copies the SQLite database of `url` ("sqlite:PATH") into the file `target`
// with SQLite's online backup, a consistent snapshot taken while other
// connections go on reading and writing. The copy is written beside `target`
// and renamed over it only when complete, so a failed backup leaves any
// earlier file there as it was. Fails with std::runtime_error saying why: a
// URL of another engine, a missing source, a target that is the source, or
// the engine's message.
void backup_sqlite_database(const std::string& url, const std::string& target);

// What upgrade_database did.
struct SchemaUpgrade {
  int from_version = 0;              // the version the database held; 0 when it held none
  std::vector<std::string> changes;  // one line per table, index or column added or changed
};

// Brings the existing database at `url` to the schema of `schema_script` (the
// engine's own schema file, which creates only what is missing when run
// again) and records `version` as its schema version (OAPX1_Setup 'schema'),
// all in one transaction: columns the script declares and a table lacks are
// added (with their type, collation and default); on PostgreSQL a column
// whose collation differs takes the script's; then the script runs, creating
// the missing tables and indexes. Rows are kept. Running it again changes
// nothing. Fails with std::runtime_error, leaving the database as it was, on
// an engine error or when the database records a newer version than
// `version` (made by a later release).
SchemaUpgrade upgrade_database(const std::string& url, std::string_view schema_script, int version);

// Creates `path` as an empty file readable and writable by its owner only
// (mode 0600, whatever the umask), for a database or a copy that holds
// password hashes; SQLite gives the journal files it makes beside a database
// the database file's mode. Does nothing when the file exists. Fails with
// std::runtime_error saying why.
void create_owner_only_file(const std::string& path);

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_DATA_DATABASE_ADMIN_H_
