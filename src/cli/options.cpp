#include "cli/options.h"

#include <algorithm>
#include <stdexcept>

#include "platform/data/database_admin.h"
#include "platform/web/process.h"
#include "server/serve.h"

namespace oapx1 {
namespace {

constexpr Flag kCommonFlags[] = {
    {"--db", "URL", false,
     "database (sqlite:PATH or postgresql://...); default $OAPX1_DB,\nelse sqlite:var/oa.db"},
    {"--config", "FILE", false, "the serve configuration file, whose db setting applies\nunless --db is given"},
    {"--help", "", false, "print the usage of the command"},
    {"--version", "", false, "print the version of the program"},
};

// What stands before a flag's help on its lines: the help starts at column 26.
constexpr size_t kHelpColumn = 25;

const Flag* find_flag(std::span<const Flag> flags, std::string_view name) {
  for (const Flag& flag : flags) {
    if (flag.name == name) return &flag;
  }
  return nullptr;
}

bool is_word(const std::string& arg, Words words) {
  switch (words) {
    case Words::kNone: return false;
    case Words::kNotDashed: return !arg.starts_with("-");
    case Words::kNotDoubleDashed: return !arg.starts_with("--");
  }
  return false;
}

}  // namespace

std::span<const Flag> common_flags() { return kCommonFlags; }

std::string flag_lines(std::span<const Flag> flags) {
  std::string out;
  for (const Flag& flag : flags) {
    std::string head = "  " + std::string(flag.name);
    if (!flag.value.empty()) head += " " + std::string(flag.value);
    out += head + std::string(std::max<size_t>(2, kHelpColumn - std::min(head.size(), kHelpColumn)), ' ');
    for (const char c : flag.help) {
      out += c;
      if (c == '\n') out += std::string(kHelpColumn, ' ');
    }
    out += '\n';
  }
  return out;
}

bool asks_for_help(std::span<const std::string> args) {
  return std::any_of(args.begin(), args.end(), [](const std::string& a) { return a == "--help" || a == "-h"; });
}

bool asks_for_version(std::span<const std::string> args) {
  return std::find(args.begin(), args.end(), "--version") != args.end();
}

void refuse_missing_database(const std::string& url, const std::string& configured) {
  if (!url.starts_with("sqlite:")) return;
  const auto problem = check_database(url);
  if (problem && problem->kind == DatabaseProblem::Kind::kMissing) {
    throw std::runtime_error(problem->message + "; " + database_advice(*problem, url, configured));
  }
}

CommandLine::CommandLine(std::span<const std::string> args, std::initializer_list<std::span<const Flag>> flags,
                         Words words) {
  auto declared = [&](const std::string& arg) -> const Flag* {
    if (const Flag* flag = find_flag(common_flags(), arg)) return flag;
    for (std::span<const Flag> list : flags) {
      if (const Flag* flag = find_flag(list, arg)) return flag;
    }
    return nullptr;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const Flag* flag = declared(arg);
    if (!flag) {
      if (!is_word(arg, words)) throw UsageError{"unknown option " + arg};
      words_.push_back(arg);
      continue;
    }
    std::vector<std::string>& values = given_[arg];
    if (!flag->repeatable) values.clear();
    if (flag->value.empty()) {
      values.emplace_back();
      continue;
    }
    if (i + 1 >= args.size()) throw UsageError{arg + " needs a value"};
    const std::string& value = args[++i];
    if (flag->check) flag->check(arg, value);
    values.push_back(value);
  }
}

bool CommandLine::has(std::string_view name) const { return given_.find(name) != given_.end(); }

const std::string& CommandLine::value(std::string_view name) const {
  static const std::string kEmpty;
  const std::vector<std::string>& all = values(name);
  return all.empty() ? kEmpty : all.back();
}

const std::vector<std::string>& CommandLine::values(std::string_view name) const {
  static const std::vector<std::string> kEmpty;
  const auto it = given_.find(name);
  return it == given_.end() ? kEmpty : it->second;
}

std::string CommandLine::database() const {
  if (const std::string& flag = value("--db"); !flag.empty()) return flag;
  const std::string& config = value("--config");
  if (config.empty()) return {};
  try {
    return parse_serve_args({"--config", config}).database;
  } catch (const std::invalid_argument& e) {
    throw UsageError{e.what(), false};
  }
}

std::string CommandLine::existing_database() const {
  const std::string configured = database();
  const std::string url = resolve_database(configured);
  refuse_missing_database(url, configured);
  return url;
}

}  // namespace oapx1
