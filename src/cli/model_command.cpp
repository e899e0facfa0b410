// `oapx1 model export|import`: workflow models written to a file and brought
// in from one, between installations.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>

#include "cli/commands.h"
#include "cli/options.h"
#include "editing/model_transfer.h"
#include "util/ids_and_lists.h"
#include "platform/data/connection.h"
#include "platform/data/database_admin.h"
#include "platform/script/script_error.h"
#include "platform/web/process.h"

namespace oapx1 {
namespace {

// The flags of model besides the common ones.
constexpr Flag kModelFlags[] = {
    {"--all", "", false, "export: every model"},
    {"--deleted", "", false, "export: the file the history kept of deleted model MODEL (its id)"},
    {"--out", "FILE", false, "export: write the file here (else to stdout)"},
    {"--dry-run", "", false, "import: print what would change, change nothing"},
    {"--map-logins", "FILE", false,
     "import: lines OLD,NEW mapping the file's logins, and\ndept:OLD PATH,NEW PATH its departments"},
};

// The whole of a file ("-": stdin), up to `most` bytes and one more.
std::string read_input(const std::string& path, size_t most) {
  std::unique_ptr<std::ifstream> file;
  if (path != "-") {
    file = std::make_unique<std::ifstream>(path, std::ios::binary);
    if (!*file) throw TransferError("cannot read " + path);
  }
  std::istream& in = file ? *file : std::cin;
  std::string text(most + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  return text;
}

// Writes `text` to `path` whole or not at all (through a file beside it).
void write_output(const std::string& path, const std::string& text) {
  const std::string part = path + ".part";
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) {
      std::filesystem::remove(part);
      throw TransferError("cannot write " + path);
    }
  }
  std::filesystem::rename(part, path);
}

// A connection to the database the options name.
std::shared_ptr<Connection> open_database(const CommandLine& line) {
  const std::string url = resolve_database(line.database());
  if (const auto problem = check_database(url)) throw TransferError(problem->message);
  auto connection = std::make_shared<Connection>();
  connection->Open(Variant(url));
  return connection;
}

// Writes the model file the history kept of a deleted model.
int export_deleted(const CommandLine& line, const Variant& conn, Connection& connection) {
  const std::optional<int64_t> id = whole_number(line.words()[1]);
  if (!id || line.has("--all")) throw UsageError{"--deleted takes the id the model had"};
  const std::string text = deleted_model_file(conn, *id);
  connection.Close();
  if (line.has("--out"))
    write_output(line.value("--out"), text);
  else
    std::cout << text;
  std::cerr << "model: the file kept when model " << *id << " was deleted"
            << (line.has("--out") ? " written to " + line.value("--out") : "") << "; model import brings it back\n";
  return 0;
}

int run_export(const CommandLine& line) {
  const size_t words = line.words().size();
  if (line.has("--all") ? words != 1 : words != 2)
    throw UsageError{"usage: oapx1 model export MODEL|--all [--out FILE]"};
  if (line.has("--dry-run") || line.has("--map-logins"))
    throw UsageError{"--dry-run and --map-logins go with model import"};
  const std::shared_ptr<Connection> connection = open_database(line);
  const Variant conn(std::static_pointer_cast<Object>(connection));
  if (line.has("--deleted")) return export_deleted(line, conn, *connection);
  const std::vector<int64_t> ids =
      line.has("--all") ? all_models(conn) : std::vector{find_model(conn, line.words()[1])};
  std::vector<PortableModel> models;
  size_t nodes = 0;
  for (int64_t id : ids) {
    models.push_back(export_model(conn, id));
    nodes += models.back().nodes.size();
  }
  connection->Close();
  const std::string text = write_model_file(models);
  if (line.has("--out"))
    write_output(line.value("--out"), text);
  else
    std::cout << text;
  std::cerr << "model: exported " << models.size() << (models.size() == 1 ? " model" : " models") << " (" << nodes
            << " nodes)" << (line.has("--out") ? " to " + line.value("--out") : "") << "\n";
  return 0;
}

int run_import(const CommandLine& line) {
  if (line.words().size() != 2) throw UsageError{"usage: oapx1 model import FILE [--dry-run] [--map-logins FILE]"};
  if (line.has("--all") || line.has("--out") || line.has("--deleted")) {
    throw UsageError{"--all, --deleted and --out go with model export"};
  }
  const std::string text = read_input(line.words()[1], kMostModelFileBytes);
  TransferMap map;
  if (line.has("--map-logins")) map = read_transfer_map(read_input(line.value("--map-logins"), 1024 * 1024));
  const char* user = std::getenv("USER");
  const ImportActor actor{user && *user ? user : "oapx1", "命令行导入", "命令行"};
  const std::shared_ptr<Connection> connection = open_database(line);
  const Variant conn(std::static_pointer_cast<Object>(connection));
  bool applied = false;
  const ImportMode mode = line.has("--dry-run") ? ImportMode::kDryRun : ImportMode::kApply;
  const ImportPlan plan = oapx1::import_models(conn, text, map, actor, mode, &applied);
  connection->Close();
  for (const std::string& difference : plan.lines) std::cout << difference << "\n";
  if (const std::string refusal = plan.refusal(); !refusal.empty()) {
    std::cerr << "model: " << refusal << "\n";
    return 1;
  }
  if (mode == ImportMode::kDryRun) {
    std::cerr << "model: dry run, nothing was changed\n";
  } else {
    std::cerr << "model: " << (plan.changes ? "imported " : "nothing to change in ") << plan.models.size()
              << (plan.models.size() == 1 ? " model" : " models") << "\n";
  }
  return 0;
}

}  // namespace

std::string model_usage() {
  return "usage: oapx1 model export MODEL|--all [--out FILE]\n"
         "       oapx1 model export --deleted ID [--out FILE]\n"
         "       oapx1 model import FILE [--dry-run] [--map-logins FILE]\n"
         "  (each also takes [--db URL] [--config FILE], as oapx1 db does)\n"
         "  export  writes a workflow model (by id, key or name), or every model, as a model\n"
         "          file: JSON with the format version, each model's stable key, its nodes in\n"
         "          order with all their settings, accounts by login and departments by path\n"
         "  import  brings the models of FILE (\"-\": stdin) in: a model with the same key is\n"
         "          updated (its nodes matched by name, in order; nodes the file lacks are\n"
         "          kept), another is added. It first prints what changes, in the editor's\n"
         "          words; logins or departments this installation does not know refuse the\n"
         "          whole import unless --map-logins maps them. All of it or nothing; each\n"
         "          node changed is recorded in its history as imported.\n"
         "A refusal (an unknown model, a file that cannot be read, unknown logins) exits with\n"
         "status 1 and changes nothing.\n"
         "options:\n" +
         flag_lines(common_flags()) + flag_lines(kModelFlags);
}

int model_command(const std::vector<std::string>& args) {
  const std::string sub = args.empty() ? std::string() : args[0];
  if (sub != "export" && sub != "import") throw UsageError{"model takes the subcommand export or import"};
  const CommandLine line(args, {kModelFlags}, Words::kNotDoubleDashed);
  try {
    return sub == "export" ? run_export(line) : run_import(line);
  } catch (const TransferError& e) {
    std::cerr << "model: " << e.what() << "\n";
    return 1;
  } catch (const ScriptError& e) {
    std::cerr << "model: the database failed, nothing was changed: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace oapx1
