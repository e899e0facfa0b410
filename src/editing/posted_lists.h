// What a node save posts, checked before anything is written: its text
// values hold no control characters, and its user and department lists name
// entries of the directory.
#ifndef OAPX1_EDITING_POSTED_LISTS_H_
#define OAPX1_EDITING_POSTED_LISTS_H_

#include <string>
#include <string_view>

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

// The message that refuses a posted save whose text items (the ones the node
// page stores) hold a control character, naming each such field, or "" when
// none does. Every engine then stores a value as it was posted: a NUL would
// end it on one and not on another. Refused are the bytes below 0x20 and
// 0x7F; a tab only where the field is free text (the node's name). Line ends
// are refused everywhere: every field is a single line. Reads no database;
// never fails.
std::string check_posted_values(const Request& posted);

// True when `value` holds a byte no stored text may hold: below 0x20 (but a
// tab where `tab` allows it) or 0x7F. Never fails.
bool has_control_character(std::string_view value, bool tab);

}  // namespace oapx1

#endif  // OAPX1_EDITING_POSTED_LISTS_H_
