// `oapx1 dept`: the department tree without SQL. Departments are named by id
// or by path ("总部/财务部") wherever one is asked for.
#include <algorithm>
#include <iostream>
#include <map>
#include <optional>

#include "cli/commands.h"
#include "cli/directory_reports.h"
#include "cli/options.h"
#include "organisation/departments.h"
#include "organisation/names.h"
#include "platform/data/database_admin.h"
#include "platform/web/process.h"
#include "util/ids_and_lists.h"

namespace oapx1 {
namespace {

void check_not_empty(std::string_view flag, const std::string& value) {
  if (value.empty()) throw UsageError{std::string(flag) + " takes a department id or path"};
}

// The flags of the dept subcommands besides the common ones.
constexpr Flag kDeptFlags[] = {
    {"--parent", "ID|PATH", false, "add, move: the department it goes under (else the top)", check_not_empty},
    {"--top", "", false, "move: to the top level"},
    {"--tree", "", false, "list: the tree, indented, instead of one path a line"},
    {"--force", "", false, "remove: even while workflow nodes name it"},
};

struct Shape {
  std::string_view sub;    // the subcommand
  size_t words;            // the words after it
  std::string_view usage;  // its usage line after "oapx1 dept "
};

constexpr Shape kShapes[] = {
    {"add", 1, "add NAME [--parent ID|PATH]"},
    {"rename", 2, "rename ID|PATH NAME"},
    {"move", 1, "move ID|PATH --parent ID|PATH | --top"},
    {"list", 0, "list [--tree]"},
    {"remove", 1, "remove ID|PATH [--force]"},
    {"where", 1, "where ID|PATH"},
};

int list_departments(DirectoryStore& store, bool as_tree) {
  const DepartmentTree tree = store.departments();
  std::map<int64_t, size_t> members;
  for (const Person& p : store.people()) {
    if (p.department) ++members[*p.department];
  }
  if (!as_tree) std::cout << "ID\tPATH\tUSERS\n";
  for (const auto& [id, level] : tree.walk()) {
    if (as_tree) {
      std::cout << std::string(2 * (level - 1), ' ') << tree.find(id)->name << " [" << id << "]\n";
    } else {
      std::cout << id << '\t' << tree.path(id) << '\t' << members[id] << '\n';
    }
  }
  return 0;
}

int where_department(DirectoryStore& store, const std::string& which) {
  const DepartmentTree tree = store.departments();
  // An id no department has any more may still be named by nodes.
  const std::optional<int64_t> id = whole_number(which);
  const int64_t department = id ? *id : tree.resolve(which);
  const std::vector<NodeLists> nodes = store.nodes();
  const std::vector<NodeMention> mentions = nodes_naming_department(nodes, department);
  print_mentions(std::cout, mentions);
  std::cerr << "dept: " << mentions.size() << (mentions.size() == 1 ? " node names " : " nodes name ")
            << "department " << department
            << (tree.find(department) ? " " + tree.path(department) : " (no such department)")
            << "\n";
  return 0;
}

int remove(DirectoryStore& store, const std::string& which, bool force) {
  const DepartmentRemoval r = remove_department(store, which, force);
  if (!r.mentions.empty()) {
    std::cerr << "dept: " << r.mentions.size() << (r.mentions.size() == 1 ? " node names \"" : " nodes name \"")
              << r.path << "\":\n";
    for (const NodeMention& m : r.mentions) std::cerr << "dept:   " << node_label(*m.node) << " (" << m.list << ")\n";
    if (!r.stranded.empty()) {
      std::cerr << "dept: removing it leaves " << r.stranded.size() << " with no one to handle them:\n";
      print_stranded(std::cerr, "dept", r.stranded);
    }
  }
  if (!r.removed) {
    std::cerr << "dept: nothing was changed; with --force it is removed all the same and the nodes keep its id\n";
    return 1;
  }
  std::cerr << "dept: removed " << r.path << "\n";
  return 0;
}

int run(DirectoryStore& store, const std::string& sub, const CommandLine& line) {
  const std::vector<std::string>& w = line.words();
  const std::optional<std::string> parent =
      line.has("--parent") ? std::optional<std::string>(line.value("--parent")) : std::nullopt;
  if (sub == "list") return list_departments(store, line.has("--tree"));
  if (sub == "where") return where_department(store, w[0]);
  if (sub == "remove") return remove(store, w[0], line.has("--force"));
  if (sub == "add") {
    const int64_t id = add_department(store, w[0], parent);
    std::cout << id << "\n";
    std::cerr << "dept: added " << store.departments().path(id) << " (id " << id << ")\n";
  } else if (sub == "rename") {
    const int64_t id = rename_department(store, w[0], w[1]);
    std::cerr << "dept: renamed " << w[0] << " to " << store.departments().path(id) << " (id " << id << ")\n";
  } else {
    const int64_t id = move_department(store, w[0], parent);
    std::cerr << "dept: moved " << w[0] << " to " << store.departments().path(id) << " (id " << id << ")\n";
  }
  return 0;
}

}  // namespace

std::string dept_usage() {
  std::string text = "usage:";
  for (const Shape& s : kShapes) {
    text += (text == "usage:" ? " oapx1 dept " : "       oapx1 dept ") + std::string(s.usage) + "\n";
  }
  return text +
         "  (each also takes [--db URL] [--config FILE], as oapx1 db does)\n"
         "  add      adds a department, last under its parent; prints its id\n"
         "  rename   gives a department a new name (unique among its siblings)\n"
         "  move     puts a department, with everything under it, under another or at the top\n"
         "  list     prints every department: ID, PATH and number of USERS, tab-separated;\n"
         "           with --tree, the names indented under their parents\n"
         "  remove   removes a department with no departments and no accounts in it; while\n"
         "           workflow nodes name it (FenFaBuMen) only with --force\n"
         "  where    prints the workflow nodes that name the department\n"
         "A department is named by its id (KX_Department.DepartMentID) or by its path, the\n"
         "names from the top down joined by \"/\" (总部/财务部). Names are unique among\n"
         "siblings, hold no \"/\" and are not a number alone; departments nest at most " +
         std::to_string(kMaxDepartmentDepth) +
         " deep.\n"
         "A refusal (an unknown department, a name taken, a move under itself) exits with\n"
         "status 1 and changes nothing.\n"
         "options:\n" +
         flag_lines(common_flags()) + flag_lines(kDeptFlags);
}

int dept_command(const std::vector<std::string>& args) {
  const std::string sub = args.empty() ? std::string() : args[0];
  const auto shape = std::find_if(std::begin(kShapes), std::end(kShapes), [&](const Shape& s) { return s.sub == sub; });
  if (shape == std::end(kShapes)) throw UsageError{"dept takes the subcommand add, rename, move, list, remove or where"};
  const std::span<const std::string> rest = std::span(args).subspan(1);
  const CommandLine line(rest, {kDeptFlags}, Words::kNotDashed);
  if (line.words().size() != shape->words) throw UsageError{"usage: oapx1 dept " + std::string(shape->usage)};
  if (line.has("--parent") && sub != "add" && sub != "move") throw UsageError{"--parent goes with dept add or move"};
  if (line.has("--top") && sub != "move") throw UsageError{"--top goes with dept move"};
  if (line.has("--tree") && sub != "list") throw UsageError{"--tree goes with dept list"};
  if (line.has("--force") && sub != "remove") throw UsageError{"--force goes with dept remove"};
  if (sub == "move" && line.has("--parent") == line.has("--top")) {
    throw UsageError{"dept move needs either --parent ID|PATH or --top"};
  }
  const std::string url = resolve_database(line.database());
  if (const auto problem = check_database(url)) {
    std::cerr << "dept: " << problem->message << "\n";
    return 1;
  }
  try {
    DirectoryStore store(url);
    return run(store, sub, line);
  } catch (const OrganisationError& e) {
    std::cerr << "dept: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace oapx1
