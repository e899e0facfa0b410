#include <filesystem>
#include <iostream>

#include "cli/commands.h"
#include "cli/embedded_sql.h"
#include "cli/request_context.h"
#include "platform/web/components.h"
#include "platform/data/connection.h"

namespace oapx1 {
namespace {

// Marks a database created with demo data, so the server may offer the demo login.
constexpr char kDemoMarker[] =
    "CREATE TABLE IF NOT EXISTS OAPX1_Setup (Name TEXT PRIMARY KEY, Value TEXT);\n"
    "INSERT INTO OAPX1_Setup (Name, Value) VALUES ('demo', '1') ON CONFLICT (Name) DO NOTHING;\n";

}  // namespace

int db_command(const std::vector<std::string>& args) {
  if (args.empty() || args[0] != "init") throw UsageError{"db takes the subcommand \"init\""};
  std::string url;
  bool demo = false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--db" && i + 1 < args.size()) url = args[++i];
    else if (args[i] == "--demo") demo = true;
    else throw UsageError{"unknown option " + args[i]};
  }
  if (url.empty()) url = ConnectStringProvider().ConnectString();
  const bool postgres = !url.starts_with("sqlite:");
  if (!postgres) {
    const std::filesystem::path file = url.substr(7);
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path());
  }
  try {
    Connection conn;
    conn.Open(url);
    std::cerr << "db: creating the schema in " << url << "\n";
    conn.execute_script(postgres ? embedded_sql::kPostgresSchema : embedded_sql::kSqliteSchema);
    if (demo) {
      std::cerr << "db: loading the demo data\n";
      conn.execute_script(postgres ? embedded_sql::kPostgresDemo : embedded_sql::kSqliteDemo);
      conn.execute_script(kDemoMarker);
    }
    conn.Close();
  } catch (const ScriptError& e) {
    std::cerr << "db: " << url << ": " << e.message() << "\n";
    return 1;
  }
  std::cerr << "db: ready\n";
  return 0;
}

}  // namespace oapx1
