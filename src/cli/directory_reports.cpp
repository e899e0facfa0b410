#include "cli/directory_reports.h"

#include <iostream>

#include "organisation/directory_store.h"
#include "organisation/names.h"
#include "platform/text/ascii.h"

namespace oapx1 {

void print_mentions(std::ostream& out, const std::vector<NodeMention>& mentions) {
  out << "MODEL\tNODE\tNODE NAME\tLIST\n";
  for (const NodeMention& m : mentions) {
    out << m.node->model << (m.node->model_name.empty() ? "" : " " + m.node->model_name) << '\t' << m.node->id
        << '\t' << m.node->name << '\t' << m.list << '\n';
  }
}

void print_stranded(std::ostream& out, const std::string& prefix, const std::vector<StrandedNode>& stranded) {
  for (const StrandedNode& s : stranded) out << prefix << ":   " << node_label(*s.node) << ": " << s.reason << "\n";
}

int user_where(const std::string& url, const std::string& login) {
  DirectoryStore store(url);
  const std::vector<NodeLists> nodes = store.nodes();
  const std::vector<NodeMention> mentions = nodes_naming_login(nodes, login);
  print_mentions(std::cout, mentions);
  bool known = false;
  for (const Person& p : store.people()) known = known || ascii_iequals(p.login, login);
  std::cerr << "user: " << mentions.size() << (mentions.size() == 1 ? " node list names " : " node lists name ")
            << login << (known ? "" : " (no account has that login)") << "\n";
  return 0;
}

bool may_disable(const std::string& url, const std::string& login, bool force) {
  DirectoryStore store(url);
  const std::vector<Person> people = store.people();
  const Staffing before = DirectoryStore::staffing(people, store.departments());
  Staffing after = before;
  bool known = false;
  for (const Person& p : people) known = known || ascii_iequals(p.login, login);
  if (!known) throw OrganisationError("no account \"" + login + "\"");
  after.active_logins.erase(ascii_lower(login));
  const std::vector<NodeLists> nodes = store.nodes();
  const std::vector<StrandedNode> stranded = stranded_nodes(nodes, before, after);
  if (stranded.empty()) return true;
  std::cerr << "user: disabling " << login << " leaves " << stranded.size()
            << (stranded.size() == 1 ? " node" : " nodes") << " with no one to handle "
            << (stranded.size() == 1 ? "it" : "them") << ":\n";
  print_stranded(std::cerr, "user", stranded);
  if (force) return true;
  std::cerr << "user: nothing was changed; with --force " << login << " is disabled all the same\n";
  return false;
}

long long department_named(const std::string& url, const std::string& text) {
  DirectoryStore store(url);
  return store.departments().resolve(text);
}

}  // namespace oapx1
