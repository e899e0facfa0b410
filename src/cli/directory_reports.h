// What the account, department and directory commands print about the
// workflow nodes a directory change touches, and the checks they share.
#ifndef OAPX1_CLI_DIRECTORY_REPORTS_H_
#define OAPX1_CLI_DIRECTORY_REPORTS_H_

#include <ostream>
#include <string>
#include <vector>

#include "organisation/node_references.h"

namespace oapx1 {

// Prints the node lists of `mentions`, one a line, tab-separated, under the
// header MODEL, NODE, NODE NAME, LIST (the column that names it): the model
// as "ID NAME". Nothing but the header for none.
void print_mentions(std::ostream& out, const std::vector<NodeMention>& mentions);

// Prints, as "PREFIX: " lines, the nodes of `stranded` and why each is left
// with no one to handle it.
void print_stranded(std::ostream& out, const std::string& prefix, const std::vector<StrandedNode>& stranded);

// `oapx1 user where LOGIN` on the database `url`: prints the nodes that name
// the login; exit status 0 (1 when the database cannot be read).
int user_where(const std::string& url, const std::string& login);

// Whether the account `login` may be disabled: true when no node would be
// left with no active handler or recipient, or with `force` (the nodes are
// then listed as a warning); else the nodes are listed on stderr with the
// refusal. Fails with OrganisationError for an unknown account.
bool may_disable(const std::string& url, const std::string& login, bool force);

// The department id `text` names on the database `url`: an id or a path.
// Fails with OrganisationError for an unknown one.
long long department_named(const std::string& url, const std::string& text);

}  // namespace oapx1

#endif  // OAPX1_CLI_DIRECTORY_REPORTS_H_
