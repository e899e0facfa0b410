#include <filesystem>
#include <iostream>
#include <stdexcept>

#include "cli/accounts.h"
#include "cli/commands.h"
#include "cli/embedded_sql.h"
#include "cli/options.h"
#include "editing/node_history.h"
#include "platform/data/connection.h"
#include "platform/data/database_admin.h"
#include "platform/web/process.h"
#include "server/serve.h"
#include "util/ids_and_lists.h"

namespace oapx1 {
namespace {

// Marks a database created with demo data, so the server may offer the demo login.
constexpr char kDemoMarker[] =
    "INSERT INTO OAPX1_Setup (Name, Value) VALUES ('demo', '1') ON CONFLICT (Name) DO NOTHING;\n";

// The version of the schema in db/*/schema.sql, recorded in OAPX1_Setup. Raise
// it with every change there: an older program then refuses to upgrade a
// database a newer one has made. Databases of the releases before it have none.
constexpr int kSchemaVersion = 3;

struct DbOptions {
  std::string database;           // --db, else the configuration file's db; may be empty
  int days = 0;                   // prune: --days, else the configuration file's retention-days
  bool demo = false;              // --demo
  bool if_missing = false;        // --if-missing
  std::string admin;              // --admin LOGIN
  bool password_stdin = false;    // --password-stdin
  std::vector<std::string> rest;  // the words that are no option
};

// The flags of db init besides the common ones.
constexpr Flag kInitFlags[] = {
    {"--demo", "", false, "init: load the demo data"},
    {"--if-missing", "", false, "init: only when the database has no schema yet"},
    {"--admin", "LOGIN", false, "init: add the first administrator, holding FLOWSET"},
    {"--password-stdin", "", false, "init --admin: read the password from the first line of stdin"},
};

void check_days(std::string_view, const std::string& text) {
  const std::optional<int64_t> days = whole_number(text);
  if (!days || *days < 1 || *days > 100000) throw UsageError{"--days needs a number of days from 1"};
}

// The flags of db prune besides the common ones.
constexpr Flag kPruneFlags[] = {
    {"--days", "N", false, "prune: keep the last N days (default: retention-days of --config)",
     check_days},
};

// Reads the options of a db subcommand (after its name) against its own flags.
DbOptions parse_db_options(std::span<const std::string> args, std::span<const Flag> flags) {
  const CommandLine line(args, {flags}, Words::kNotDashed);
  DbOptions o;
  o.demo = line.has("--demo");
  o.if_missing = line.has("--if-missing");
  o.admin = line.value("--admin");
  o.password_stdin = line.has("--password-stdin");
  o.rest = line.words();
  o.database = line.database();
  if (line.has("--days")) {
    o.days = static_cast<int>(*whole_number(line.value("--days")));
  } else if (line.has("--config")) {
    try {
      o.days = parse_serve_args({"--config", line.value("--config")}).retention_days;
    } catch (const std::invalid_argument& e) {
      throw UsageError{e.what(), false};
    }
  }
  if (o.password_stdin && o.admin.empty()) throw UsageError{"--password-stdin goes with --admin"};
  return o;
}

// Brings the database to the current schema and says what changed.
void upgrade_schema(const std::string& url, bool postgres, bool list_changes) {
  const SchemaUpgrade done = upgrade_database(
      url, postgres ? embedded_sql::kPostgresSchema : embedded_sql::kSqliteSchema, kSchemaVersion);
  if (!list_changes) return;
  for (const std::string& change : done.changes) std::cerr << "db: " << change << "\n";
  std::cerr << "db: schema version " << done.from_version << " -> " << kSchemaVersion
            << (done.changes.empty() ? ", nothing else to change" : "") << "\n";
}

int init(const DbOptions& o) {
  if (!o.rest.empty()) throw UsageError{"unexpected argument \"" + o.rest[0] + "\""};
  if (!o.admin.empty() && !Accounts::valid_login(o.admin)) throw UsageError{"--admin: \"" + o.admin + "\" is no valid login"};
  const std::string url = resolve_database(o.database);
  const std::string shown = printable_database_url(url);
  const auto problem = check_database(url);
  if (problem && problem->kind == DatabaseProblem::Kind::kUnsupported) {
    std::cerr << "db: " << problem->message << "\n";
    return 1;
  }
  if (!problem && o.if_missing) {
    std::cerr << "db: " << shown << " has its schema already\n";
    return 0;
  }
  // Asked before anything is written, so a mistyped password leaves no half-made database.
  const std::string admin_password = o.admin.empty() ? "" : read_new_password(o.password_stdin);
  const bool postgres = !url.starts_with("sqlite:");
  try {
    if (!postgres) {
      // The database holds password hashes: readable by its owner only.
      const std::filesystem::path file = url.substr(7);
      if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path());
      create_owner_only_file(file.string());
    }
    std::cerr << "db: " << (problem ? "creating the schema in " : "upgrading the schema of ") << shown << "\n";
    upgrade_schema(url, postgres, !problem);
    if (o.demo) {
      Connection conn;
      conn.Open(url);
      std::cerr << "db: loading the demo data\n";
      conn.execute_script(postgres ? embedded_sql::kPostgresDemo : embedded_sql::kSqliteDemo);
      conn.execute_script(kDemoMarker);
      conn.Close();
    }
    if (!o.admin.empty()) {
      Accounts accounts(url);
      accounts.ensure_editing_function();
      try {
        accounts.add(o.admin, o.admin, std::nullopt, admin_password);
        std::cerr << "db: added the administrator " << o.admin << "\n";
      } catch (const AccountError& e) {
        // An existing account keeps its password; it is only granted the permission.
        std::cerr << "db: " << e.what() << "; its password is kept\n";
      }
      accounts.grant(o.admin, kDefaultEditPermission);
      std::cerr << "db: " << o.admin << " holds " << kDefaultEditPermission << " (流程设置)\n";
    }
  } catch (const std::exception& e) {
    std::cerr << "db: " << shown << ": " << e.what() << "\n";
    return 1;
  }
  std::cerr << "db: ready\n";
  return 0;
}

int upgrade(const DbOptions& o) {
  if (!o.rest.empty()) throw UsageError{"unexpected argument \"" + o.rest[0] + "\""};
  const std::string url = resolve_database(o.database);
  const auto problem = check_database(url);
  if (problem && problem->kind != DatabaseProblem::Kind::kNoSchema) {
    std::cerr << "db: " << problem->message << "\n";
    return 1;
  }
  if (problem) {
    std::cerr << "db: " << problem->message << "; create it with: oapx1 db init\n";
    return 1;
  }
  try {
    std::cerr << "db: upgrading the schema of " << printable_database_url(url) << "\n";
    upgrade_schema(url, !url.starts_with("sqlite:"), true);
  } catch (const std::exception& e) {
    std::cerr << "db: " << printable_database_url(url) << ": " << e.what() << "; nothing was changed\n";
    return 1;
  }
  return 0;
}

int check(const DbOptions& o) {
  if (!o.rest.empty()) throw UsageError{"unexpected argument \"" + o.rest[0] + "\""};
  const std::string url = resolve_database(o.database);
  if (const auto problem = check_database(url)) {
    // What to do about it, as serve says it.
    std::cerr << "db: " << problem->message << "; " << database_advice(*problem, url, o.database) << "\n";
    return 1;
  }
  std::cout << printable_database_url(url) << ": ready\n";
  return 0;
}

int backup(const DbOptions& o) {
  if (o.rest.size() != 1) throw UsageError{"db backup takes one FILE"};
  const std::string url = resolve_database(o.database);
  try {
    backup_sqlite_database(url, o.rest[0]);
  } catch (const std::exception& e) {
    std::cerr << "db: " << e.what() << "\n";
    return 1;
  }
  std::cerr << "db: " << printable_database_url(url) << " copied to " << o.rest[0] << "\n";
  return 0;
}

int prune(const DbOptions& o) {
  if (!o.rest.empty()) throw UsageError{"unexpected argument \"" + o.rest[0] + "\""};
  if (o.days <= 0) {
    std::cerr << "db: nothing to remove: give --days N, or retention-days in the --config file\n";
    return 0;
  }
  const std::string url = resolve_database(o.database);
  refuse_missing_database(url, o.database);
  try {
    const PrunedRecords pruned = prune_records(url, o.days);
    std::cout << "removed " << pruned.history << " node history lines and " << pruned.audit
              << " audit log lines older than " << o.days << " days\n";
  } catch (const std::exception& e) {
    std::cerr << "db: " << printable_database_url(url) << ": " << e.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace

std::string db_usage() {
  return "usage: oapx1 db init [--db URL] [--config FILE] [--demo] [--if-missing]\n"
         "                     [--admin LOGIN [--password-stdin]]\n"
         "       oapx1 db upgrade [--db URL] [--config FILE]\n"
         "       oapx1 db check [--db URL] [--config FILE]\n"
         "       oapx1 db backup FILE [--db URL] [--config FILE]\n"
         "       oapx1 db prune [--days N] [--db URL] [--config FILE]\n"
         "  init    creates the schema, or upgrades an existing one; with the demo data on\n"
         "          --demo; with --if-missing only when the database has no schema yet; with\n"
         "          --admin the first administrator, holding the editing permission FLOWSET\n"
         "          (password from stdin with --password-stdin, else asked twice)\n"
         "  upgrade brings a database of an earlier release to the current schema, in one\n"
         "          transaction, keeping its rows; running it again changes nothing\n"
         "  check   exits 0 when serve can use the database, else 1 with the reason\n"
         "  backup  copies a SQLite database into FILE while the server keeps running\n"
         "  prune   removes the node history and audit log lines older than N days (--days,\n"
         "          else the retention-days setting of --config) and prints how many\n"
         "A SQLite database and its backups are created readable by their owner only.\n"
         "The database is --db, else the db of the serve configuration FILE, else $OAPX1_DB,\n"
         "else sqlite:var/oa.db.\n"
         "options:\n" +
         flag_lines(common_flags()) + flag_lines(kInitFlags) + flag_lines(kPruneFlags);
}

int db_command(const std::vector<std::string>& args) {
  const std::string sub = args.empty() ? std::string() : args[0];
  // The arguments after the subcommand's name.
  auto options = [&](std::span<const Flag> flags = {}) {
    return parse_db_options(std::span(args).subspan(1), flags);
  };
  if (sub == "init") return init(options(kInitFlags));
  if (sub == "upgrade") return upgrade(options());
  if (sub == "check") return check(options());
  if (sub == "backup") return backup(options());
  if (sub == "prune") return prune(options(kPruneFlags));
  throw UsageError{"db takes the subcommand init, upgrade, check, backup or prune"};
}

}  // namespace oapx1
