// The pickers the node settings page opens as modal dialogs: users
// (PowerSelect.asp) and departments (include/user/MulSeleDepart.asp). Each
// answers the dialog with one text, the chosen values and their display text
// joined by "$#@&!", and serves the pieces its tree and lists load on demand,
// so that a large organisation is never read at once.
#ifndef OAPX1_PAGES_PICKERS_PICKER_PAGES_H_
#define OAPX1_PAGES_PICKERS_PICKER_PAGES_H_

#include <optional>
#include <string>
#include <string_view>

#include "host/page.h"

namespace oapx1 {

// The largest number of users one list of the user picker shows; a longer
// department or search result ends with a note asking for a narrower search.
inline constexpr int kPickerListLimit = 200;

// PowerSelect.asp: chooses users by department tree or by a search on full
// name or login name. Request items: `cx` (the login names already chosen,
// separated by ";", as hexadecimal UTF-16 code units like `qx`, so that an
// account holding "-" survives), else `FieldValue` (login names separated by
// "-"): shown as already chosen, in that order; and for the pieces the page
// loads itself: `part` = "depts" with `parent` (the sub-departments of a
// department, 0 for the top) or `part` = "users" with `dept` (its users) or
// `qx` (a search text as hexadecimal UTF-16 code units, four digits each, so
// that the text reaches the page unchanged whatever the page's code page).
// Writes nothing but the login script to a session without a user.
class UserPickerPage : public Page {
 public:
  void I_init() override;

 private:
  // The whole picker page.
  void write_page();
  // One <option> per user of the department, or of the search, in display
  // order, at most kPickerListLimit and a note when there are more.
  void write_users(const std::string& condition);
};

// include/user/MulSeleDepart.asp: chooses departments from the tree. The
// result's value holds the department ids separated by ";", its display text
// their names separated by ";". `cx` (department ids separated by ";", as
// hexadecimal UTF-16 code units, empty pieces ignored) names the departments
// shown as already chosen, in that order; pieces that are not whole numbers
// are left out. `part` = "depts" with `parent` serves one level of the tree.
// Writes nothing but the login script to a session without a user.
class DepartmentPickerPage : public Page {
 public:
  void I_init() override;

 private:
  // The <option> of each department of `cx`, named from the directory.
  std::string chosen_departments();
};

// The search text of the user picker's `qx` item: hexadecimal UTF-16 code
// units, four digits each, as UTF-8. A lone surrogate becomes U+FFFD; nullopt
// when the text is not made of groups of four hexadecimal digits.
std::optional<std::string> decode_picker_search(std::string_view hex);

}  // namespace oapx1

#endif  // OAPX1_PAGES_PICKERS_PICKER_PAGES_H_
