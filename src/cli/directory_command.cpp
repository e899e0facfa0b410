// `oapx1 directory import FILE.csv`: departments and accounts from one CSV
// file, shown first with --dry-run, applied all together or not at all.
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>

#include "cli/commands.h"
#include "cli/directory_reports.h"
#include "cli/options.h"
#include "organisation/departments.h"
#include "organisation/directory_import.h"
#include "platform/data/database_admin.h"
#include "platform/web/process.h"

namespace oapx1 {
namespace {

// The flags of directory import besides the common ones.
constexpr Flag kDirectoryFlags[] = {
    {"--dry-run", "", false, "print what the import would do, and every fault; change nothing"},
    {"--deactivate-missing", "", false, "disable the active accounts the file does not name"},
    {"--force", "", false, "apply even when workflow nodes are left with no one to handle them"},
};

// The bytes of FILE, at most one past the import's limit; nullopt when it
// cannot be read.
std::optional<std::string> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes(kMaxImportBytes + 1, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

// "2 departments", "1 user": a count and its noun.
std::string counted(size_t n, const std::string& noun) { return std::to_string(n) + " " + noun + (n == 1 ? "" : "s"); }

void print_report(const ImportOutcome& out) {
  for (const ImportLine& l : out.report) {
    std::cout << (l.line ? "line " + std::to_string(l.line) : std::string("missing")) << ": " << l.text << "\n";
  }
  for (const ImportLine& e : out.errors) {
    std::cerr << "directory: " << (e.line ? "line " + std::to_string(e.line) + ": " : "") << e.text << "\n";
  }
}

int finish(const ImportOutcome& out, const std::string& file, const ImportOptions& options) {
  print_report(out);
  if (!out.stranded.empty()) {
    std::cerr << "directory: the accounts it disables leave " << counted(out.stranded.size(), "node")
              << " with no one to handle them:\n";
    print_stranded(std::cerr, "directory", out.stranded);
  }
  // "add 2 departments and 3 users, change 1 user, leave 4, disable 0 for missing", in the
  // words of a plan or, with `done`, of what was done.
  const auto counts = [&](bool done) {
    const std::string add = done ? "added " : "would add ", change = done ? "changed " : "change ",
                      leave = done ? "left " : "leave ", disable = done ? "disabled " : "disable ";
    return add + counted(out.departments_added, "department") + " and " + counted(out.users_added, "user") +
           ", " + change + counted(out.users_changed, "user") + ", " + leave + std::to_string(out.users_left) +
           " as they are, " + disable + std::to_string(out.users_deactivated) + " for missing";
  };
  if (!out.errors.empty()) {
    std::cerr << "directory: " << counted(out.errors.size(), "error") << " in " << file << "; nothing was changed\n";
    return 1;
  }
  if (!out.stranded.empty() && !options.force) {
    std::cerr << "directory: nothing was changed; with --force the file is imported all the same\n";
    return 1;
  }
  if (options.dry_run) {
    std::cerr << "directory: dry run of " << file << " (" << out.encoding << "): " << counts(false)
              << "; nothing was changed\n";
  } else {
    std::cerr << "directory: imported " << file << " (" << out.encoding << "): " << counts(true) << "\n";
  }
  return 0;
}

}  // namespace

std::string directory_usage() {
  return "usage: oapx1 directory import FILE.csv [--dry-run] [--deactivate-missing] [--force]\n"
         "  (also takes [--db URL] [--config FILE], as oapx1 db does)\n"
         "Brings departments and accounts in from one CSV file (UTF-8, or GBK as spreadsheets\n"
         "save it; the encoding is detected) whose first line is the header\n"
         "  login,name,department,mobile,state\n"
         "department: a path such as 总部/财务部, each department on it added when missing;\n"
         "state: 1 active, 0 disabled. A row with an empty login only adds its department.\n"
         "An empty cell leaves what the account has (a new account: no department, no mobile,\n"
         "active); a new account needs a name and has no password: it cannot sign in before\n"
         "oapx1 user passwd sets one. Text such as =cmd is stored as it is, never evaluated.\n"
         "Each row prints what it adds, changes or leaves (\"line N: ...\") and each fault its\n"
         "line on stderr. Any fault, and a change that leaves workflow nodes with no one to\n"
         "handle them (unless --force), changes nothing and exits with status 1; otherwise\n"
         "every row is applied in one transaction. Accounts the file does not name are left\n"
         "alone unless --deactivate-missing; nothing is ever deleted, and importing the same\n"
         "file again changes nothing.\n"
         "options:\n" +
         flag_lines(common_flags()) + flag_lines(kDirectoryFlags);
}

int directory_command(const std::vector<std::string>& args) {
  if (args.empty() || args[0] != "import") throw UsageError{"directory takes the subcommand import"};
  const std::span<const std::string> rest = std::span(args).subspan(1);
  const CommandLine line(rest, {kDirectoryFlags}, Words::kNotDashed);
  if (line.words().size() != 1) throw UsageError{"usage: oapx1 directory import FILE.csv [--dry-run]"};
  const std::string& file = line.words()[0];
  ImportOptions options;
  options.dry_run = line.has("--dry-run");
  options.deactivate_missing = line.has("--deactivate-missing");
  options.force = line.has("--force");
  const std::optional<std::string> bytes = read_file(file);
  if (!bytes) {
    std::cerr << "directory: cannot read " << file << "\n";
    return 1;
  }
  const std::string url = resolve_database(line.database());
  if (const auto problem = check_database(url)) {
    std::cerr << "directory: " << problem->message << "\n";
    return 1;
  }
  DirectoryStore store(url);
  return finish(import_directory(store, *bytes, options), file, options);
}

}  // namespace oapx1
