// What a node save posts, checked before anything is written: its user and
// department lists name entries of the directory (its other values are
// checked by posted_values.h).
#ifndef OAPX1_EDITING_POSTED_LISTS_H_
#define OAPX1_EDITING_POSTED_LISTS_H_

#include <string>

#include "platform/script/variant.h"
#include "platform/web/intrinsics.h"

namespace oapx1 {

// The first thing wrong with the user and department lists of a posted save,
// as the message that refuses it (naming the bad entries), or "" when every
// posted list names existing accounts and departments: the handler list
// (CurrentJieDianYongHu) and the distribution users (FenFaUser) must name
// accounts of kx_userinfor; the distribution departments (FenFaBuMen) must be
// ';'-separated whole numbers naming departments of KX_Department. Fails as
// the data layer does.
std::string check_posted_lists(const Variant& conn, const Request& posted);

}  // namespace oapx1

#endif  // OAPX1_EDITING_POSTED_LISTS_H_
