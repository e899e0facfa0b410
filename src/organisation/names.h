// The rules for the names the organisation directory holds: account logins,
// department names and the paths that name a department by the names from
// the top of the tree down ("总部/财务部").
#ifndef OAPX1_ORGANISATION_NAMES_H_
#define OAPX1_ORGANISATION_NAMES_H_

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace oapx1 {

// A change or a reference the directory refuses; the message names the cause
// in words an operator can act on.
struct OrganisationError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Departments nest at most this many levels deep (a top-level unit is level 1).
inline constexpr size_t kMaxDepartmentDepth = 16;
// A department name or an account's full name has at most this many characters.
inline constexpr size_t kMaxNameLength = 50;

// True when the login is a name an account may have: 1 to 50 characters,
// none of them a space, a control character or one of ; , * ' " < > & %
// (the separators of the lists that hold login names).
bool valid_login(std::string_view login);

// Why `name` cannot be a department's name, or "" when it can: UTF-8 of 1 to
// kMaxNameLength characters, no control character, no "/" (it separates the
// names of a path), no space at either end, and not a whole number alone (a
// number names a department by its id).
std::string department_name_fault(std::string_view name);

// Why `name` cannot be an account's full name, or "" when it can: UTF-8 of 1
// to kMaxNameLength characters, no control character. Text such as "=cmd" is
// a name like any other: stored and shown as it is, never evaluated.
std::string person_name_fault(std::string_view name);

// The names of a department path, top first: `path` split at "/", each name
// trimmed of spaces; one leading "/" is allowed ("/12" names a department
// called 12). Fails with OrganisationError for an empty path or name, more
// than kMaxDepartmentDepth names, or a name department_name_fault refuses.
std::vector<std::string> split_department_path(std::string_view path);

// The number of characters of UTF-8 text.
size_t character_count(std::string_view text);

}  // namespace oapx1

#endif  // OAPX1_ORGANISATION_NAMES_H_
