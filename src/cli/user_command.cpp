#include <algorithm>
#include <iostream>
#include <optional>
#include <string>

#include "cli/accounts.h"
#include "cli/commands.h"
#include "cli/directory_reports.h"
#include "cli/options.h"
#include "organisation/names.h"
#include "platform/data/database_admin.h"
#include "platform/web/process.h"

namespace oapx1 {

std::string read_new_password(bool from_stdin) {
  std::string password;
  if (from_stdin) {
    if (!std::getline(std::cin, password)) throw UsageError{"--password-stdin: no password on stdin", false};
    if (!password.empty() && password.back() == '\r') password.pop_back();
  } else {
    const auto first = read_secret_from_terminal("Password: ");
    if (!first) throw UsageError{"no terminal to ask for the password on; pass it with --password-stdin"};
    const auto second = read_secret_from_terminal("Password again: ");
    if (!second || *first != *second) throw UsageError{"the two passwords differ", false};
    password = *first;
  }
  if (password.empty()) throw UsageError{"the password is empty", false};
  return password;
}

namespace {

struct UserOptions {
  std::string database;                // --db or --config, else empty
  std::string name;                    // --name
  std::optional<std::string> department; // --department: an id or a path
  bool force = false;                  // --force
  bool password_stdin = false;         // --password-stdin
  std::vector<std::string> rest;       // the words that are no option
};

void check_department(std::string_view, const std::string& text) {
  if (text.empty()) throw UsageError{"--department takes a department id or path"};
}

// The flags of the user subcommands besides the common ones.
constexpr Flag kUserFlags[] = {
    {"--name", "NAME", false, "add: the account's full name"},
    {"--department", "ID|PATH", false, "add: its department (KX_Department), by id or path", check_department},
    {"--password-stdin", "", false, "add, passwd: read the password from the first line of stdin"},
    {"--force", "", false, "disable: even when workflow nodes are left with no one to handle them"},
};

UserOptions parse_user_options(std::span<const std::string> args) {
  const CommandLine line(args, {kUserFlags}, Words::kNotDashed);
  UserOptions o;
  o.name = line.value("--name");
  if (line.has("--department")) o.department = line.value("--department");
  o.force = line.has("--force");
  o.password_stdin = line.has("--password-stdin");
  o.rest = line.words();
  o.database = line.database();
  return o;
}

// The one LOGIN (and as many more words as `words`) of a subcommand.
void expect_words(const UserOptions& o, size_t words, const std::string& shape) {
  if (o.rest.size() != words) throw UsageError{"usage: oapx1 user " + shape};
}

int list_accounts(Accounts& accounts) {
  std::cout << "LOGIN\tNAME\tDEPARTMENT\tSTATE\tPASSWORD\tGRANTS\tTHROUGH ROLES\n";
  const auto joined = [](const std::vector<std::string>& codes) {
    std::string text;
    for (const std::string& code : codes) text += (text.empty() ? "" : ",") + code;
    return text;
  };
  for (const AccountRow& a : accounts.list()) {
    std::cout << a.login << '\t' << a.name << '\t' << a.department << '\t' << (a.active ? "active" : "disabled")
              << '\t' << a.password << '\t' << joined(a.grants) << '\t' << joined(a.role_grants) << '\n';
  }
  return 0;
}

int rehash_check(Accounts& accounts) {
  const std::vector<std::string> plain = accounts.plain_text_passwords();
  for (const std::string& login : plain) std::cout << login << "\n";
  if (plain.empty()) {
    std::cerr << "user: every stored password is hashed\n";
    return 0;
  }
  std::cerr << "user: " << plain.size() << (plain.size() == 1 ? " account keeps its" : " accounts keep their")
            << " password in plain text until the next sign-in or oapx1 user passwd\n";
  return 1;
}

}  // namespace

std::string user_usage() {
  return "usage: oapx1 user add LOGIN --name NAME [--department ID|PATH] [--password-stdin]\n"
         "       oapx1 user passwd LOGIN [--password-stdin]\n"
         "       oapx1 user disable LOGIN [--force]\n"
         "       oapx1 user enable LOGIN\n"
         "       oapx1 user grant|revoke LOGIN FUNCTION-CODE\n"
         "       oapx1 user list\n"
         "       oapx1 user rehash-check\n"
         "       oapx1 user where LOGIN\n"
         "  (each also takes [--db URL] [--config FILE], as oapx1 db does)\n"
         "  add      adds an active account in a department (its id or path: 总部/财务部) or none\n"
         "  passwd   sets a new password\n"
         "  disable  refuses the account's sign-ins; enable admits them again. Disabling an\n"
         "           account that leaves workflow nodes with no active handler or recipient\n"
         "           lists them and is refused unless --force\n"
         "  grant    grants a function (OA_Functions.CodeNumber, e.g. FLOWSET, the editing\n"
         "           permission) to the account directly; revoke takes the grant away\n"
         "  list     prints the accounts, one a line, tab-separated: the functions granted\n"
         "           directly, then those held through roles as CODE (role name)\n"
         "  rehash-check  prints the accounts whose password is still stored in plain text\n"
         "           (replaced by its hash at the next sign-in); exit status 1 when any\n"
         "  where    prints the workflow nodes whose lists name the login\n"
         "Passwords are stored as salted argon2id hashes. Without --password-stdin the\n"
         "password is asked twice on the terminal, without echo; with it, the first line of\n"
         "stdin is the password. An unknown account, department or function, or a login\n"
         "taken, exits with status 1.\n"
         "options:\n" +
         flag_lines(common_flags()) + flag_lines(kUserFlags);
}

int user_command(const std::vector<std::string>& args) {
  const std::string sub = args.empty() ? std::string() : args[0];
  static const char* const kSubs[] = {"add", "passwd", "disable", "enable", "grant", "revoke", "list", "rehash-check", "where"};
  if (std::find(std::begin(kSubs), std::end(kSubs), sub) == std::end(kSubs)) {
    throw UsageError{"user takes the subcommand add, passwd, disable, enable, grant, revoke, list, rehash-check or where"};
  }
  const UserOptions o = parse_user_options(std::span(args).subspan(1));
  if (sub != "add" && (!o.name.empty() || o.department)) throw UsageError{"--name and --department go with user add"};
  if (o.password_stdin && sub != "add" && sub != "passwd") throw UsageError{"--password-stdin goes with user add or passwd"};
  if (o.force && sub != "disable") throw UsageError{"--force goes with user disable"};
  if (sub == "add") {
    expect_words(o, 1, "add LOGIN --name NAME [--department ID|PATH] [--password-stdin]");
    if (o.name.empty()) throw UsageError{"user add needs --name NAME"};
  } else if (sub == "grant" || sub == "revoke") {
    expect_words(o, 2, sub + " LOGIN FUNCTION-CODE");
  } else if (sub == "list" || sub == "rehash-check") {
    expect_words(o, 0, sub);
  } else {
    expect_words(o, 1, sub + " LOGIN");
  }
  const std::string url = resolve_database(o.database);
  refuse_missing_database(url, o.database);
  if (const auto problem = check_database(url)) {
    std::cerr << "user: " << problem->message << "\n";
    return 1;
  }
  try {
    Accounts accounts(url);
    if (sub == "list") return list_accounts(accounts);
    if (sub == "rehash-check") return rehash_check(accounts);
    const std::string& login = o.rest[0];
    if (sub == "where") return user_where(url, login);
    if (sub == "disable" && !may_disable(url, login, o.force)) return 1;
    if (sub == "add") {
      const std::optional<long long> department =
          o.department ? std::optional<long long>(department_named(url, *o.department)) : std::nullopt;
      accounts.add(login, o.name, department, read_new_password(o.password_stdin));
      std::cerr << "user: added " << login << "\n";
    } else if (sub == "passwd") {
      accounts.set_password(login, read_new_password(o.password_stdin));
      std::cerr << "user: the password of " << login << " is changed\n";
    } else if (sub == "disable" || sub == "enable") {
      accounts.set_active(login, sub == "enable");
      std::cerr << "user: " << login << " is " << sub << "d\n";
    } else if (sub == "grant") {
      const bool added = accounts.grant(login, o.rest[1]);
      std::cerr << "user: " << login << (added ? " now holds " : " held already ") << o.rest[1] << "\n";
    } else {
      const bool held = accounts.revoke(login, o.rest[1]);
      std::cerr << "user: " << login << (held ? " no longer holds " : " held no direct grant of ") << o.rest[1]
                << "\n";
      if (accounts.granted_by_role(login, o.rest[1])) {
        std::cerr << "user: " << login << " still holds " << o.rest[1] << " through a role (OA_Roles)\n";
      }
    }
  } catch (const AccountError& e) {
    std::cerr << "user: " << e.what() << "\n";
    return 1;
  } catch (const OrganisationError& e) {
    std::cerr << "user: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace oapx1
