#include <filesystem>
#include <iostream>
#include <stdexcept>

#include "cli/commands.h"
#include "cli/embedded_sql.h"
#include "cli/request_context.h"
#include "platform/data/connection.h"
#include "platform/data/database_admin.h"
#include "platform/web/process.h"
#include "server/serve.h"

namespace oapx1 {
namespace {

// Marks a database created with demo data, so the server may offer the demo login.
constexpr char kDemoMarker[] =
    "CREATE TABLE IF NOT EXISTS OAPX1_Setup (Name TEXT PRIMARY KEY, Value TEXT);\n"
    "INSERT INTO OAPX1_Setup (Name, Value) VALUES ('demo', '1') ON CONFLICT (Name) DO NOTHING;\n";

struct DbOptions {
  std::string database;           // --db, else the configuration file's db; may be empty
  bool demo = false;              // --demo
  bool if_missing = false;        // --if-missing
  std::vector<std::string> rest;  // the words that are no option
};

// Reads the options every db subcommand shares; --config names the serve
// configuration file, whose db setting applies unless --db is given.
DbOptions parse_db_options(const std::vector<std::string>& args, bool init) {
  DbOptions o;
  std::string flag_db, config;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError{a + " needs a value"};
      return args[++i];
    };
    if (a == "--db")
      flag_db = value();
    else if (a == "--config")
      config = value();
    else if (init && a == "--demo")
      o.demo = true;
    else if (init && a == "--if-missing")
      o.if_missing = true;
    else if (a.starts_with("-"))
      throw UsageError{"unknown option " + a};
    else
      o.rest.push_back(a);
  }
  if (!config.empty()) {
    try {
      o.database = parse_serve_args({"--config", config}).database;
    } catch (const std::invalid_argument& e) {
      throw UsageError{e.what()};
    }
  }
  if (!flag_db.empty()) o.database = flag_db;
  return o;
}

int init(const DbOptions& o) {
  if (!o.rest.empty()) throw UsageError{"unexpected argument \"" + o.rest[0] + "\""};
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
  const bool postgres = !url.starts_with("sqlite:");
  if (!postgres) {
    const std::filesystem::path file = url.substr(7);
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path());
  }
  try {
    Connection conn;
    conn.Open(url);
    std::cerr << "db: creating the schema in " << shown << "\n";
    conn.execute_script(postgres ? embedded_sql::kPostgresSchema : embedded_sql::kSqliteSchema);
    if (o.demo) {
      std::cerr << "db: loading the demo data\n";
      conn.execute_script(postgres ? embedded_sql::kPostgresDemo : embedded_sql::kSqliteDemo);
      conn.execute_script(kDemoMarker);
    }
    conn.Close();
  } catch (const ScriptError& e) {
    std::cerr << "db: " << shown << ": " << e.message() << "\n";
    return 1;
  }
  std::cerr << "db: ready\n";
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

}  // namespace

int db_command(const std::vector<std::string>& args) {
  const std::string sub = args.empty() ? std::string() : args[0];
  if (sub == "init") return init(parse_db_options(args, true));
  if (sub == "check") return check(parse_db_options(args, false));
  if (sub == "backup") return backup(parse_db_options(args, false));
  throw UsageError{"db takes the subcommand init, check or backup"};
}

}  // namespace oapx1
