#include "organisation/directory_import.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <set>

#include "organisation/names.h"
#include "platform/text/ascii.h"
#include "platform/text/csv_reader.h"

namespace oapx1 {
namespace {

constexpr std::array<std::string_view, 5> kColumns = {"login", "name", "department", "mobile", "state"};
enum Column : size_t { kLogin, kName, kDepartment, kMobile, kState };

// One record of the file, its cells in the order of kColumns.
struct Row {
  size_t line = 0;
  std::array<std::string, kColumns.size()> cells;
};

// A department the import adds; `id` and `parent` are negative while it is
// not yet written (the plan's own numbers), else the database's.
struct NewDepartment {
  int64_t id = 0;
  int64_t parent = 0;
  std::string name;
};

// Why `mobile` is no telephone number, or "".
std::string mobile_fault(std::string_view mobile) {
  if (character_count(mobile) > 20) return "is longer than 20 characters";
  const bool plain = std::all_of(mobile.begin(), mobile.end(), [](char c) {
    return (c >= '0' && c <= '9') || std::string_view(" +-()").find(c) != std::string_view::npos;
  });
  return plain ? "" : "holds characters other than digits, spaces and + - ( )";
}

// The rows of the file under its header; faults go to `out.errors`.
std::vector<Row> read_rows(std::string_view bytes, ImportOutcome& out) {
  if (bytes.size() > kMaxImportBytes) {
    out.errors.push_back({0, "the file is larger than " + std::to_string(kMaxImportBytes >> 20) +
                                 " MiB; import it in parts"});
    return {};
  }
  CsvText text;
  try {
    text = read_csv(bytes, kMaxImportRows + 1);
  } catch (const CsvError& e) {
    out.errors.push_back({e.line, e.what()});
    return {};
  }
  if (text.truncated) {
    out.errors.push_back({0, "the file has more than " + std::to_string(kMaxImportRows) +
                                 " rows under its header; import it in parts"});
    return {};
  }
  out.encoding = text.encoding;
  if (text.records.empty()) {
    out.errors.push_back({1, "the file is empty; its first line must be the header login,name,department,mobile,state"});
    return {};
  }
  // Where each column of the header is in the records.
  std::array<size_t, kColumns.size()> at{};
  std::vector<std::string> header;
  for (const std::string& f : text.records[0].fields) header.push_back(ascii_lower(trim(f, " ")));
  bool good = header.size() == kColumns.size();
  for (size_t c = 0; good && c < kColumns.size(); ++c) {
    const auto it = std::find(header.begin(), header.end(), kColumns[c]);
    good = it != header.end();
    if (good) at[c] = static_cast<size_t>(it - header.begin());
  }
  if (!good) {
    out.errors.push_back({text.records[0].line, "the header must name the columns login,name,department,mobile,state"});
    return {};
  }
  std::vector<Row> rows;
  rows.reserve(text.records.size() - 1);
  for (size_t r = 1; r < text.records.size(); ++r) {
    const CsvRecord& record = text.records[r];
    if (record.fields.size() != kColumns.size()) {
      out.errors.push_back({record.line, std::to_string(record.fields.size()) + " fields; the header has 5"});
      continue;
    }
    Row row{record.line, {}};
    for (size_t c = 0; c < kColumns.size(); ++c) row.cells[c] = std::string(trim(record.fields[at[c]], " "));
    rows.push_back(std::move(row));
  }
  return rows;
}

class Planner {
 public:
  Planner(DirectoryStore& store, ImportOutcome& out) : tree_(store.departments()), people_(store.people()), out_(out) {
    for (size_t i = 0; i < people_.size(); ++i) by_login_.emplace(ascii_lower(people_[i].login), i);
  }

  // Plans one row: its department, then its account.
  void plan(const Row& row);
  // Plans the disabling of the active accounts the file did not name.
  void plan_missing();
  // Lists the nodes the accounts disabled leave with no one.
  void check_nodes(DirectoryStore& store);
  // Writes the plan.
  void apply(DirectoryStore& store);

 private:
  // The department `path` names, planned for adding where missing; nullopt
  // after a fault of the row.
  std::optional<int64_t> department(const Row& row);
  // The fault of the account's cells of a row with a login, or "".
  std::string account_fault(const Row& row) const;
  void plan_account(const Row& row, std::optional<int64_t> department);
  // "总部/财务部", "no department", or the id of a department that is missing.
  std::string department_text(const std::optional<int64_t>& id) const;
  void fault(const Row& row, const std::string& text) { out_.errors.push_back({row.line, text}); }

  DepartmentTree tree_;                       // the departments, those planned included
  std::vector<Person> people_;                // every account as stored
  std::map<std::string, size_t> by_login_;    // lower-case login -> index in people_
  std::map<std::string, size_t> named_;       // lower-case login -> the line of the file that names it
  std::vector<NewDepartment> new_departments_;  // in the order they are to be added
  std::vector<std::pair<Person, bool>> writes_;  // each account to write, and whether it is new
  Staffing before_, after_;                   // who is active, before and after
  ImportOutcome& out_;
};

std::string Planner::department_text(const std::optional<int64_t>& id) const {
  if (!id) return "no department";
  const std::string path = tree_.path(*id);
  return path.empty() ? "department " + std::to_string(*id) + " (missing)" : path;
}

std::optional<int64_t> Planner::department(const Row& row) {
  std::vector<std::string> names;
  try {
    names = split_department_path(row.cells[kDepartment]);
    int64_t at = 0;
    for (const std::string& name : names) {
      const std::vector<int64_t> ids = tree_.named(at, name);
      if (ids.size() > 1) {
        tree_.find_path(names);  // fails, naming the departments of that path
      } else if (!ids.empty()) {
        at = ids[0];
        continue;
      }
      NewDepartment d{-static_cast<int64_t>(new_departments_.size()) - 1, at, name};
      tree_.add({d.id, d.parent, d.name, 0});
      new_departments_.push_back(d);
      out_.report.push_back({row.line, "add department " + tree_.path(d.id)});
      ++out_.departments_added;
      at = d.id;
    }
    return at;
  } catch (const OrganisationError& e) {
    fault(row, e.what());
    return std::nullopt;
  }
}

std::string Planner::account_fault(const Row& row) const {
  const std::string& login = row.cells[kLogin];
  if (!valid_login(login)) {
    return "\"" + login + "\" is no valid login: 1 to 50 characters, no spaces and none of ; , * ' \" < > & %";
  }
  if (const auto seen = named_.find(ascii_lower(login)); seen != named_.end()) {
    return "the login " + login + " is on line " + std::to_string(seen->second) + " already";
  }
  const bool is_new = !by_login_.contains(ascii_lower(login));
  const std::string& name = row.cells[kName];
  if (is_new && name.empty()) return "a new account needs a name";
  if (const std::string f = name.empty() ? "" : person_name_fault(name); !f.empty()) return "the name " + f;
  if (const std::string f = mobile_fault(row.cells[kMobile]); !f.empty()) {
    return "the mobile \"" + row.cells[kMobile] + "\" " + f;
  }
  const std::string& state = row.cells[kState];
  if (!state.empty() && state != "1" && state != "0") {
    return "the state must be 1 (active) or 0 (disabled), not \"" + state + "\"";
  }
  return "";
}

void Planner::plan(const Row& row) {
  if (row.cells[kLogin].empty()) {
    if (!row.cells[kName].empty() || !row.cells[kMobile].empty() || !row.cells[kState].empty()) {
      return fault(row, "a row without a login only makes its department; its name, mobile and state need a login");
    }
    if (row.cells[kDepartment].empty()) return;  // a row of empty cells
    const size_t added = out_.departments_added;
    const std::optional<int64_t> id = department(row);
    if (id && added == out_.departments_added) out_.report.push_back({row.line, "leave department " + tree_.path(*id)});
    return;
  }
  if (const std::string f = account_fault(row); !f.empty()) return fault(row, f);
  named_.emplace(ascii_lower(row.cells[kLogin]), row.line);
  std::optional<int64_t> in;
  if (!row.cells[kDepartment].empty()) {
    in = department(row);
    if (!in) return;
  }
  plan_account(row, in);
}

void Planner::plan_account(const Row& row, std::optional<int64_t> department) {
  const auto found = by_login_.find(ascii_lower(row.cells[kLogin]));
  Person want = found == by_login_.end() ? Person{} : people_[found->second];
  const Person had = want;
  if (found == by_login_.end()) want.login = row.cells[kLogin];
  if (!row.cells[kName].empty()) want.name = row.cells[kName];
  if (department) want.department = department;
  if (!row.cells[kMobile].empty()) want.mobile = row.cells[kMobile];
  if (!row.cells[kState].empty()) want.active = row.cells[kState] == "1";
  const std::string state = want.active ? "active" : "disabled";
  if (found == by_login_.end()) {
    out_.report.push_back({row.line, "add user " + want.login + " (" + want.name + ", " +
                                         department_text(want.department) + ", " + state + ")"});
    ++out_.users_added;
    writes_.emplace_back(want, true);
    return;
  }
  std::string changes;
  const auto change = [&](const std::string& what, const std::string& from, const std::string& to) {
    if (from != to) changes += (changes.empty() ? "" : "; ") + what + " " + from + " → " + to;
  };
  change("name", had.name, want.name);
  change("department", department_text(had.department), department_text(want.department));
  change("mobile", had.mobile.empty() ? "none" : had.mobile, want.mobile.empty() ? "none" : want.mobile);
  change("state", had.active ? "active" : "disabled", state);
  if (changes.empty()) {
    out_.report.push_back({row.line, "leave user " + want.login});
    ++out_.users_left;
    return;
  }
  out_.report.push_back({row.line, "change user " + want.login + ": " + changes});
  ++out_.users_changed;
  writes_.emplace_back(want, false);
}

void Planner::plan_missing() {
  for (const Person& p : people_) {
    if (!p.active || named_.contains(ascii_lower(p.login))) continue;
    Person disabled = p;
    disabled.active = false;
    writes_.emplace_back(disabled, false);
    out_.report.push_back({0, "disable user " + p.login + " (not in the file)"});
    ++out_.users_deactivated;
  }
}

void Planner::check_nodes(DirectoryStore& store) {
  const Staffing before = DirectoryStore::staffing(people_, tree_);
  Staffing after = before;
  bool disables = false;
  for (const auto& [person, is_new] : writes_) {
    const std::string login = ascii_lower(person.login);
    if (person.active) {
      after.active_logins.insert(login);
    } else if (after.active_logins.erase(login) > 0) {
      disables = true;
    }
  }
  if (!disables) return;
  out_.nodes = store.nodes();
  out_.stranded = stranded_nodes(out_.nodes, before, after);
}

void Planner::apply(DirectoryStore& store) {
  std::map<int64_t, int64_t> written;  // the plan's number of a new department -> its id
  for (const NewDepartment& d : new_departments_) {
    written[d.id] = store.insert_department(d.name, d.parent < 0 ? written.at(d.parent) : d.parent);
  }
  std::vector<Person> added;
  for (auto [person, is_new] : writes_) {
    if (person.department && *person.department < 0) person.department = written.at(*person.department);
    if (is_new) {
      added.push_back(std::move(person));
    } else {
      store.update_person(person);
    }
  }
  store.insert_people(added);
}

}  // namespace

ImportOutcome import_directory(DirectoryStore& store, std::string_view bytes, const ImportOptions& options) {
  ImportOutcome out;
  const std::vector<Row> rows = read_rows(bytes, out);
  if (!out.errors.empty()) return out;
  // Planned on what the database holds now; a real run plans inside its
  // transaction, so that nothing changes between the plan and its writes.
  const auto plan = [&](bool write) {
    Planner planner(store, out);
    for (const Row& row : rows) planner.plan(row);
    if (options.deactivate_missing) planner.plan_missing();
    if (!out.errors.empty()) return;
    planner.check_nodes(store);
    if (!write || (!out.stranded.empty() && !options.force)) return;
    planner.apply(store);
    out.applied = true;
  };
  if (options.dry_run) {
    plan(false);
  } else {
    store.write([&] { plan(true); });
  }
  return out;
}

}  // namespace oapx1
